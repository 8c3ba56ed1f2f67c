// Another program at work in the same folder, as Windows users have them: an indexer, a virus
// scanner or a sync client that opens files to read them as soon as they appear, or an editor
// that has a result open; and a look at a file's attributes and access list as the system keeps
// them. Under Wine, for the Windows rows of the tests. Usage:
//   bystander hold <file> <share> <ms> [<until>] <marker>
//                                                 open <file> for reading, sharing what <share> says
//                                                 (r, w, d: reading, writing, deletion), create
//                                                 <marker>, hold it <ms> milliseconds (or until
//                                                 the file <until> is there)
//   bystander snatch <dir> <prefix> <share> <ms> <marker>
//                                                 create <marker>, then open the first file of <dir>
//                                                 whose name starts with <prefix> the moment it
//                                                 appears; says "opened" or "refused <error>", and
//                                                 creates <marker>.done
//   bystander open <file>                         open <file> for reading, sharing reading alone:
//                                                 says the system's error, 0 if none
//   bystander attributes <file> [<hex>]           says (or sets) its attributes, in hex
//   bystander access <file> [<sddl>]              says (or sets) its access list, as SDDL
//   bystander console <program> <code page>       run <program> in a console of its own, of that
//                                                 code page, as from a command prompt; say what
//                                                 the console shows, line by line, and end with
//                                                 the program's status
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
// windows.h first, as the others need it
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <cstdio>
#include <string>

namespace {

std::wstring wide(const char* text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

void say(const std::string& text) {
    DWORD done = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

DWORD share_of(const std::string& letters) {
    DWORD share = 0;
    for (char c : letters)
        share |= c == 'r' ? FILE_SHARE_READ : c == 'w' ? FILE_SHARE_WRITE : c == 'd' ? FILE_SHARE_DELETE : 0;
    return share;
}

void mark(const char* marker) {
    ::CloseHandle(::CreateFileW(wide(marker).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

int hold(HANDLE h, int ms, const std::wstring& until = L"") {
    for (ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(ms); ::GetTickCount64() < end;) {
        if (!until.empty() && ::GetFileAttributesW(until.c_str()) != INVALID_FILE_ATTRIBUTES) break;
        ::Sleep(5);
    }
    ::CloseHandle(h);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "hold" && (argc == 6 || argc == 7)) {
        HANDLE h =
            ::CreateFileW(wide(argv[2]).c_str(), GENERIC_READ, share_of(argv[3]), nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 1;
        mark(argv[argc - 1]);
        return hold(h, std::stoi(argv[4]), argc == 7 ? wide(argv[5]) : L"");
    }
    if (what == "snatch" && argc == 7) {
        std::wstring dir = wide(argv[2]) + L"\\", pattern = dir + wide(argv[3]) + L"*";
        mark(argv[6]);
        for (ULONGLONG end = ::GetTickCount64() + 20000; ::GetTickCount64() < end;) {
            WIN32_FIND_DATAW found;
            HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) continue;
            ::FindClose(search);
            HANDLE h = ::CreateFileW((dir + found.cFileName).c_str(), GENERIC_READ, share_of(argv[4]), nullptr,
                                     OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                DWORD err = ::GetLastError();
                if (err == ERROR_FILE_NOT_FOUND) continue;  // gone again before it could be opened
                say("refused " + std::to_string(err) + "\n");
                mark((std::string(argv[6]) + ".done").c_str());
                return 0;
            }
            say("opened\n");
            mark((std::string(argv[6]) + ".done").c_str());
            return hold(h, std::stoi(argv[5]));
        }
        return 1;
    }
    if (what == "open" && argc == 3) {
        HANDLE h =
            ::CreateFileW(wide(argv[2]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        say(std::to_string(h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0) + "\n");
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        return 0;
    }
    if (what == "attributes" && (argc == 3 || argc == 4)) {
        std::wstring file = wide(argv[2]);
        if (argc == 4 && !::SetFileAttributesW(file.c_str(), std::stoul(argv[3], nullptr, 16))) return 1;
        char text[16];
        std::snprintf(text, sizeof text, "%lx\n", ::GetFileAttributesW(file.c_str()));
        say(text);
        return 0;
    }
    if (what == "console" && argc == 4) {
        HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);  // the test's pipe, not the console's
        ::FreeConsole();
        if (!::AllocConsole() || !::SetConsoleOutputCP(static_cast<UINT>(std::stoul(argv[3])))) return 125;
        HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        std::wstring program = wide(argv[2]);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process))
            return 126;
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 1;
        ::GetExitCodeProcess(process.hProcess, &status);
        // Rows as full as the console is wide go on in the next one.
        CONSOLE_SCREEN_BUFFER_INFO info{};
        ::GetConsoleScreenBufferInfo(screen, &info);
        std::wstring shown;
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
            DWORD got = 0;
            ::ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &got);
            row.resize(got);
            bool full = row.find_last_not_of(L' ') + 1 == row.size() && !row.empty();
            row.erase(row.find_last_not_of(L' ') + 1);
            shown += row;
            if (!full && !row.empty()) shown += L"\n";
        }
        int n = ::WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()), nullptr, 0, nullptr,
                                      nullptr);
        std::string text(static_cast<std::size_t>(n), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()), text.data(), n, nullptr,
                              nullptr);
        DWORD done = 0;
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        return static_cast<int>(status);
    }
    if (what == "access" && (argc == 3 || argc == 4)) {
        std::wstring file = wide(argv[2]);
        SECURITY_INFORMATION part = DACL_SECURITY_INFORMATION;
        if (argc == 4) {
            PSECURITY_DESCRIPTOR given = nullptr;
            if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(argv[3]).c_str(), SDDL_REVISION_1, &given,
                                                                        nullptr) ||
                !::SetFileSecurityW(file.c_str(), part, given))
                return 1;
            ::LocalFree(given);
        }
        char room[4096];
        DWORD needed = 0;
        wchar_t* text = nullptr;
        if (!::GetFileSecurityW(file.c_str(), part, room, sizeof room, &needed) ||
            !::ConvertSecurityDescriptorToStringSecurityDescriptorW(room, SDDL_REVISION_1, part, &text, nullptr))
            return 1;
        int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<std::size_t>(n), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
        out.resize(out.size() - 1);
        ::LocalFree(text);
        say(out + "\n");
        return 0;
    }
    return 2;
}
