// What the Windows files share: text in UTF-16, the system's words and error codes, paths of any
// length, and the table of results being written.
#include "windows.hpp"

namespace rt::os {

std::wstring wide(std::string_view text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// In the catalog's language where Windows has its words in it; else language 0, which has
// Windows look in the thread's, the user's and the system's languages, then English. Only where
// it has no words at all is the number given instead.
std::string system_text(DWORD err) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD n = ::FormatMessageW(flags, nullptr, err, words_language(), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (!n) n = ::FormatMessageW(flags, nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (!n || !text) {
        if (text) ::LocalFree(text);
        return words({Msg::SystemErrorCode, {numeral(err)}});
    }
    std::wstring w(text, n);
    ::LocalFree(text);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' ' || w.back() == L'.')) w.pop_back();
    return narrow(w);
}

int error_for_code(DWORD err, int otherwise) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return FileNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: return PermissionDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return DiskFull;
        case ERROR_DIRECTORY:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_CANT_RESOLVE_FILENAME: return PathFileAccess;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return OutOfMemory;
        default: return otherwise;
    }
}

std::wstring full_path(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return {};
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);  // the room it needs, its NUL included
    }
}

bool extended(const std::wstring& path) { return path.rfind(L"\\\\?\\", 0) == 0; }

// As it is where it is short; past MAX_PATH, which the system's path functions refuse unless long
// paths are enabled for the whole machine, in full in its \\?\ form, which every Windows takes up
// to 32,767 characters.
std::wstring system_path(const std::wstring& path) {
    if (extended(path) || path.rfind(L"\\\\.\\", 0) == 0) return path;
    std::wstring full = full_path(path);
    if (full.size() < MAX_PATH || full.rfind(L"\\\\.\\", 0) == 0) return path;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    return L"\\\\?\\" + full;
}

std::wstring final_path(HANDLE h, DWORD& err) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (n == 0) {
            err = ::GetLastError();
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n);  // the room it needs, its NUL included
    }
}

// Any file, input or result, closes the same way.
void close(File& file) noexcept {
    Open* open = file.open();
    file = File();
    if (!open) return;
    if (open->handle != INVALID_HANDLE_VALUE) ::CloseHandle(open->handle);
    delete open;
}

const std::string& File::name() const {
    static const std::string none;
    return open_ ? open_->name : none;
}

}  // namespace rt::os
