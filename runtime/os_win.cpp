// The operating system on Windows, with the wide-character API throughout.
#define _CRT_RAND_S  // rand_s: the system's randomness, for temporary names
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdlib>
#include <string>

#include "display.hpp"
#include "errors.hpp"
#include "os.hpp"

namespace rt {
const DisplayModule& win32_display();  // display_win.cpp
}

namespace rt::os {

namespace {

std::wstring wide(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The system's own words for an error, on one line, in the user's language: language 0 has
// Windows look for them in the thread's, the user's and the system's languages, then English.
// Only where it has no words at all is the number given instead.
std::string system_text(DWORD err) {
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring w = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(err);
    if (text) ::LocalFree(text);
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' ' || w.back() == L'.')) w.pop_back();
    return narrow(w);
}

std::string system_error(const std::string& doing, DWORD err) { return doing + ": " + system_text(err); }

// The run-time error for a failed open, create or move, by the system's error code.
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

// A failed write or sync: a full disk is error 61, anything else 57.
[[noreturn]] void raise_write_error(const std::string& doing, DWORD err) {
    raise(err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? DiskFull : DeviceIO, system_error(doing, err));
}

HANDLE handle(File file) { return reinterpret_cast<HANDLE>(file); }

HANDLE standard(DWORD which) {
    HANDLE h = ::GetStdHandle(which);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// A stop runs in a thread of its own: held back stops wait for this lock.
SRWLOCK stop_lock = SRWLOCK_INIT;
void (*stop_callback)(const char*) = nullptr;

// Windows ends a program stopped by Ctrl+C, Ctrl+Break or the console's closing with this status.
constexpr UINT stopped_status = 0xC000013AU;  // STATUS_CONTROL_C_EXIT

BOOL WINAPI on_console_event(DWORD event) {
    const char* how = event == CTRL_C_EVENT       ? "interrupted (Ctrl+C)"
                      : event == CTRL_BREAK_EVENT ? "interrupted (Ctrl+Break)"
                      : event == CTRL_CLOSE_EVENT ? "stopped (the console was closed)"
                                                  : nullptr;
    if (!how) return FALSE;
    ::AcquireSRWLockExclusive(&stop_lock);
    if (stop_callback) stop_callback(how);
    ::ExitProcess(stopped_status);
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
    auto set_default = kernel ? reinterpret_cast<SetDefault>(reinterpret_cast<void*>(
                                    ::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                              : nullptr;
    if (set_default) set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The report is seen where the program has a standard error at all: started from a console, or
// with it redirected. Started from the desktop, it has none.
bool standard_error_is_seen() {
    HANDLE err = standard(STD_ERROR_HANDLE);
    return err && ::GetFileType(err) != FILE_TYPE_UNKNOWN;
}

bool write_standard(Stream stream, std::string_view text, std::string* why) {
    HANDLE h = standard(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (!h) return true;  // nowhere to write: started from the desktop
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

void catch_stops(void (*on_stop)(const char*)) {
    stop_callback = on_stop;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);  // Ctrl+C ignored by the parent stays ignored
}

void hold_stops() { ::AcquireSRWLockExclusive(&stop_lock); }
void release_stops() { ::ReleaseSRWLockExclusive(&stop_lock); }

// The system itself finds a name whatever the case of its letters: the name given is the file's.
File open_input(const std::string& name, std::string& read_as) {
    read_as = name;
    std::wstring w = wide(name);
    DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        raise(PathFileAccess, escaped(name) + " is a directory");
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = ::GetLastError();
        raise(error_for_code(err, PathFileAccess), system_error("opening " + escaped(name), err));
    }
    return reinterpret_cast<File>(h);
}

std::size_t read(File file, char* buffer, std::size_t size, const std::string& name) {
    DWORD got = 0;
    if (!::ReadFile(handle(file), buffer, static_cast<DWORD>(size), &got, nullptr)) {
        DWORD err = ::GetLastError();
        if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
        raise(DeviceIO, system_error("reading " + escaped(name), err));
    }
    return got;
}

void close(File file) noexcept {
    if (file != no_file) ::CloseHandle(handle(file));
}

ResultPlace resolve_result(const std::string& name) {
    std::wstring w = wide(name);
    const std::string shown = escaped(name);
    DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND) return {name};
        raise(error_for_code(err, PathFileAccess), system_error("opening " + shown, err));
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) raise(PathFileAccess, shown + " is a directory");
    if (attributes & FILE_ATTRIBUTE_READONLY) raise(PermissionDenied, shown + " is not writable");
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {name};

    // A symbolic link: opened as the user's own open would open it, and the result goes to the
    // file that was opened. A link that leads nowhere yet has its file made only to learn its
    // path, and gone again as the handle closes: the result's move makes it for good.
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND)
        h = ::CreateFileW(w.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = ::GetLastError();
        raise(error_for_code(err, PathFileAccess), system_error("opening " + shown, err));
    }
    wchar_t path[MAX_PATH * 4];
    DWORD n = ::GetFinalPathNameByHandleW(h, path, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    DWORD err = ::GetLastError();
    DWORD type = ::GetFileType(h);
    ::CloseHandle(h);
    if (n == 0 || n >= MAX_PATH * 4) raise(PathFileAccess, system_error("finding the file " + shown + " leads to", err));
    ResultPlace place;
    place.path = narrow(std::wstring(path, n));
    if (type != FILE_TYPE_DISK) raise(PathFileAccess, shown + " leads to " + escaped(place.path) + ", which is not a regular file");
    return place;
}

namespace {

// A part of a temporary name that no one can foresee (as they could a process number), from the
// system's own randomness (rand_s, in the C runtime every Windows has).
std::string unforeseeable() {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 2; ++i) {
        unsigned int r = 0;
        if (::rand_s(&r) != 0) r = static_cast<unsigned>(::GetTickCount64() * 2654435761u) ^ ::GetCurrentProcessId();
        for (int k = 0; k < 8; ++k) text += hex[(r >> (4 * k)) & 15];
    }
    return text;
}

}  // namespace

File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name) {
    std::size_t cut = place.path.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? "" : place.path.substr(0, cut + 1);
    std::string base = place.path.substr(dir.size());
    for (int attempt = 0;; ++attempt) {
        std::string temp = dir + "." + base + ".tmp" + unforeseeable();
        if (temp.size() >= room) raise(PathFileAccess, escaped(name) + ": name too long");
        temp.copy(temp_path, temp.size());
        temp_path[temp.size()] = '\0';
        // Shared for deletion, so that it can be moved over the name while still open.
        HANDLE h = ::CreateFileW(wide(temp).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<File>(h);
        DWORD err = ::GetLastError();
        temp_path[0] = '\0';
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt >= 100)
            raise(error_for_code(err, PathFileAccess),
                  system_error("creating " + escaped(name) + " (as " + escaped(temp) + ")", err));
    }
}

void write(File file, std::string_view data, const std::string& name) {
    while (!data.empty()) {
        DWORD done = 0;
        DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        if (!::WriteFile(handle(file), data.data(), chunk, &done, nullptr) || done == 0)
            raise_write_error("writing " + escaped(name), ::GetLastError());
        data.remove_prefix(done);
    }
}

void sync(File file, const std::string& name) {
    if (!::FlushFileBuffers(handle(file))) raise_write_error("syncing " + escaped(name), ::GetLastError());
}

// The temporary always has a name here; Windows files have no owner or permission bits to carry over.
void replace(File, char* temp_path, std::size_t, const ResultPlace& place, const std::string& name) {
    if (!::MoveFileExW(wide(temp_path).c_str(), wide(place.path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD err = ::GetLastError();
        raise(error_for_code(err, PathFileAccess), system_error("replacing " + escaped(name), err));
    }
}

// MOVEFILE_WRITE_THROUGH has the move on the disk when it returns.
bool sync_directory(const ResultPlace&, std::string&) { return true; }

// Runs in the stop's own thread, where allocating is allowed.
void remove_now(const char* path) noexcept {
    try {
        ::DeleteFileW(wide(path).c_str());
    } catch (...) {
    }
}

bool display_wanted() { return true; }

// Nothing takes the desktop away while the box or the window waits.
const DisplayModule* open_display(std::string&, void (*)(int)) { return &win32_display(); }

}  // namespace rt::os
