// The standard streams and the process, on Windows: a console's handles taken where the program
// was started from one, libraries from the system's folder alone, writing (to a console as
// characters) and ending.
#include "windows.hpp"

namespace rt::os {

namespace {

HANDLE standard(DWORD which) {
    HANDLE h = ::GetStdHandle(which);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// A console shows characters in its own code page, whatever bytes it is given: given UTF-16, it
// shows any language right on any code page.
bool write_console(HANDLE h, std::string_view text, std::string* why) {
    std::wstring w = wide(text);
    std::wstring_view rest(w);
    while (!rest.empty()) {
        DWORD chunk = rest.size() > 4096 ? 4096 : static_cast<DWORD>(rest.size());
        if (chunk < rest.size() && IS_HIGH_SURROGATE(rest[chunk - 1])) --chunk;  // a character whole
        DWORD done = 0;
        if (!::WriteConsoleW(h, rest.data(), chunk, &done, nullptr) || done == 0) {
            if (why) *why = system_text(::GetLastError());
            return false;
        }
        rest.remove_prefix(done);
    }
    return true;
}

}  // namespace

// A program of the GUI subsystem started from a console is not given the console's handles:
// it takes them from the console it was started in, if any, so that its report reaches the user.
void prepare_standard_streams() {
    if (standard(STD_ERROR_HANDLE) || !::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    if (!standard(STD_OUTPUT_HANDLE)) ::SetStdHandle(STD_OUTPUT_HANDLE, out);
    ::SetStdHandle(STD_ERROR_HANDLE, out);
}

// Every library loaded from now on comes from the system directory, never from the folder the
// program was started in (where anyone who can write there could plant one). Looked up rather than
// called, as a Windows 7 without its loader update has no such function.
void restrict_library_loading() {
    using SetDefault = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto set_default = kernel ? reinterpret_cast<SetDefault>(
                                    reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                              : nullptr;
    if (set_default) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The report is seen where the program has a standard error at all: started from a console, or
// with it redirected. Started from the desktop, it has none.
bool standard_error_is_seen() {
    HANDLE err = standard(STD_ERROR_HANDLE);
    return err && ::GetFileType(err) != FILE_TYPE_UNKNOWN;
}

// A stop runs in a thread of its own here, where allocating is allowed.
bool write_standard(Stream stream, std::string_view text, std::string* why) {
    HANDLE h = standard(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (!h) return true;  // nowhere to write: started from the desktop
    DWORD mode = 0;
    if (::GetConsoleMode(h, &mode)) return write_console(h, text, why);
    while (!text.empty()) {
        DWORD done = 0;
        if (!::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) || done == 0) {
            if (why) *why = system_text(::GetLastError());
            return false;
        }
        text.remove_prefix(done);
    }
    return true;
}

void exit_now(int status) { ::ExitProcess(static_cast<UINT>(status)); }

const std::string_view line_end = "\r\n";  // as Windows' own tools write and read text

}  // namespace rt::os
