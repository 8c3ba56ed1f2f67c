// The operating system on Windows, with the wide-character API throughout.
#define _CRT_RAND_S  // rand_s: the system's randomness, for temporary names
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "display.hpp"
#include "errors.hpp"
#include "os.hpp"

namespace rt {
const DisplayModule& win32_display();  // display_win.cpp
}

namespace rt::os {

namespace {

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

// What a File stands for here: a handle and, for a result, what it takes to give the file its
// name, or to remove it, through that handle, so that no other program can take it from under
// this one in between.
struct Open {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool result = false;
    std::string temp;          // a result's temporary, as create_beside gave its path out
    std::wstring temp_system;  // the same, as the system is given it
    bool moved = false;        // it has the result's name
    std::wstring named;        // and this is the result's path, as the system is given it
    DWORD flush_error = 0;     // a flush that failed once the result had its name
};

Open* open_of(File file) { return reinterpret_cast<Open*>(file); }
HANDLE handle(File file) { return open_of(file)->handle; }

// The results being written, where a stop (in a thread of its own) and the move find them by the
// temporary's path. A fixed table, so that noting one never allocates; one past its room is
// moved and removed by its name alone.
SRWLOCK noted_lock = SRWLOCK_INIT;
std::array<Open*, 64> noted{};

struct Noted {
    Noted() { ::AcquireSRWLockExclusive(&noted_lock); }
    ~Noted() { ::ReleaseSRWLockExclusive(&noted_lock); }
    Noted(const Noted&) = delete;
    Noted& operator=(const Noted&) = delete;
};

// The result whose temporary is at path and has no name yet, or null.
Open* noted_temporary(const char* path) {
    for (Open* o : noted)
        if (o && !o->moved && o->temp == path) return o;
    return nullptr;
}

// A path in full, however long, or empty where the system cannot make one of it.
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

// A path as the system is to be given it: as it is where it is short; past MAX_PATH, which the
// system's path functions refuse unless long paths are enabled for the whole machine, in full in
// its \\?\ form, which every Windows takes up to 32,767 characters.
std::wstring system_path(const std::wstring& path) {
    if (extended(path) || path.rfind(L"\\\\.\\", 0) == 0) return path;
    std::wstring full = full_path(path);
    if (full.size() < MAX_PATH || full.rfind(L"\\\\.\\", 0) == 0) return path;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    return L"\\\\?\\" + full;
}

// The path of the file a handle is open on, however long; empty, with the system's reason in err,
// where it has none.
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

// A handle closed with its scope.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return h != INVALID_HANDLE_VALUE; }
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
    DWORD mode = 0;
    if (::GetConsoleMode(h, &mode)) {
        // A console shows characters in its own code page, whatever bytes it is given: given
        // UTF-16, it shows any language right on any code page.
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
    std::wstring w = system_path(wide(name));
    DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        raise(PathFileAccess, escaped(name) + " is a directory");
    auto open = std::make_unique<Open>();
    open->handle = ::CreateFileW(w.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr);
    if (open->handle == INVALID_HANDLE_VALUE) {
        DWORD err = ::GetLastError();
        raise(error_for_code(err, PathFileAccess), system_error("opening " + escaped(name), err));
    }
    return reinterpret_cast<File>(open.release());
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
    if (file == no_file) return;
    Open* open = open_of(file);
    if (open->result) {
        Noted lock;
        std::replace(noted.begin(), noted.end(), open, static_cast<Open*>(nullptr));
    }
    if (open->handle != INVALID_HANDLE_VALUE) ::CloseHandle(open->handle);
    delete open;
}

ResultPlace resolve_result(const std::string& name) {
    std::wstring w = system_path(wide(name));
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

    // A symbolic link: the result goes to the file it leads to, which is opened first as it is (a
    // directory too) to learn what it is. A link that leads nowhere yet has its file made only to
    // learn its path, and gone again as the handle closes: the result's move makes it for good.
    Handle h(::CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    bool made = false;
    if (!h.valid() && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        h.h = ::CreateFileW(w.c_str(), GENERIC_WRITE | DELETE, share_all, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                            nullptr);
        made = true;
    }
    if (!h.valid()) {
        DWORD err = ::GetLastError();
        raise(error_for_code(err, PathFileAccess), system_error("opening " + shown, err));
    }
    DWORD err = 0;
    std::wstring target = final_path(h.h, err);
    if (target.empty()) raise(PathFileAccess, system_error("finding the file " + shown + " leads to", err));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.h, &info)) info.dwFileAttributes = 0;
    DWORD type = ::GetFileType(h.h);
    ResultPlace place;
    place.path = narrow(target);
    const std::string leads = shown + " leads to " + escaped(place.path);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) raise(PathFileAccess, leads + ", which is a directory");
    if (type != FILE_TYPE_DISK) raise(PathFileAccess, leads + ", which is not a regular file");
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) raise(PermissionDenied, leads + ", which is not writable");
    if (!made) {  // what the user's own open for writing would meet there
        Handle check(::CreateFileW(target.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!check.valid()) {
            err = ::GetLastError();
            raise(error_for_code(err, PathFileAccess), system_error("opening " + shown, err));
        }
    }
    return place;
}

namespace {

// A part of a temporary name that no one can foresee (as they could a process number), from the
// system's own randomness (rand_s, in the C runtime every Windows has).
std::wstring unforeseeable() {
    static const wchar_t hex[] = L"0123456789abcdef";
    std::wstring text;
    for (int i = 0; i < 2; ++i) {
        unsigned int r = 0;
        if (::rand_s(&r) != 0) r = static_cast<unsigned>(::GetTickCount64() * 2654435761u) ^ ::GetCurrentProcessId();
        for (int k = 0; k < 8; ++k) text += hex[(r >> (4 * k)) & 15];
    }
    return text;
}

// The longest name a folder takes (NTFS, FAT and the rest), in UTF-16 units.
constexpr std::size_t longest_name = 255;

}  // namespace

// The temporary is made hidden, as its leading dot makes it elsewhere, and with DELETE access: no
// other program (an indexer, a virus scanner, a sync client reading each new file) can then open
// it without sharing its deletion, so none can keep it from its name or from going. Its name is
// no longer than a folder takes, whatever the result's: the result's own name in it is cut short
// where need be.
File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name) {
    std::wstring path = wide(place.path);
    std::size_t cut = path.find_last_of(L"\\/");
    std::wstring dir = cut == std::wstring::npos ? L"" : path.substr(0, cut + 1);
    std::wstring base = path.substr(dir.size());
    constexpr std::size_t added = 1 + 4 + 16;  // ".", ".tmp" and the unforeseeable part
    if (base.size() + added > longest_name) {
        std::size_t keep = longest_name - added;
        if (IS_HIGH_SURROGATE(base[keep - 1])) --keep;  // a character whole
        base.resize(keep);
    }
    for (int attempt = 0;; ++attempt) {
        std::wstring temp = dir + L"." + base + L".tmp" + unforeseeable();
        auto open = std::make_unique<Open>();  // all made ready before the file: nothing after it may throw
        open->result = true;
        open->temp = narrow(temp);
        open->temp_system = system_path(temp);
        if (open->temp.size() >= room) raise(PathFileAccess, escaped(name) + ": name too long");
        open->temp.copy(temp_path, open->temp.size());
        temp_path[open->temp.size()] = '\0';
        // With the access to give it the earlier result's access list and owner, where the folder
        // allows it; else without.
        DWORD err = 0;
        for (DWORD access : {GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, GENERIC_WRITE | DELETE}) {
            open->handle = ::CreateFileW(open->temp_system.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
            err = open->handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
            if (err != ERROR_ACCESS_DENIED) break;
        }
        if (open->handle != INVALID_HANDLE_VALUE) {
            Noted lock;
            auto free = std::find(noted.begin(), noted.end(), nullptr);
            if (free != noted.end()) *free = open.get();  // else moved and removed by name alone
            return reinterpret_cast<File>(open.release());
        }
        temp_path[0] = '\0';
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt >= 100)
            raise(error_for_code(err, PathFileAccess),
                  system_error("creating " + escaped(name) + " (as " + escaped(open->temp) + ")", err));
    }
}

namespace {

// The earlier result's access list, owner and group onto the new one, as Windows carries them
// over when it replaces a file it keeps: the access list as it stands (what it inherits is the
// folder's, the same for both) and the owner and group where the run may give them.
void copy_security(HANDLE from, HANDLE to) {
    for (SECURITY_INFORMATION part :
         {DACL_SECURITY_INFORMATION, OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION}) {
        std::vector<char> descriptor(512);
        DWORD needed = 0;
        bool got = false;
        while (!(got = ::GetKernelObjectSecurity(from, part, descriptor.data(), static_cast<DWORD>(descriptor.size()),
                                                 &needed)) &&
               ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > descriptor.size())
            descriptor.resize(needed);
        if (got) ::SetKernelObjectSecurity(to, part, descriptor.data());
    }
}

}  // namespace

// The earlier result's attributes (hidden, system and the like), creation time, access
// list and owner carried over, as Windows carries them when it replaces a file; a new result is
// an ordinary file, not hidden as its temporary was, with the access list the folder gives it.
// All as far as the system allows, as on POSIX.
static void settle(File file, const ResultPlace& place) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;  // as a new file has
    try {
        Handle earlier(::CreateFileW(system_path(wide(place.path)).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                     share_all, nullptr, OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (earlier.valid() && ::GetFileInformationByHandle(earlier.h, &info)) {
            // Marked for the next backup (archive) whatever the earlier one was: its content is new.
            constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                                   FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
            basic.FileAttributes = (info.dwFileAttributes & kept) | FILE_ATTRIBUTE_ARCHIVE;
            basic.CreationTime.LowPart = info.ftCreationTime.dwLowDateTime;
            basic.CreationTime.HighPart = static_cast<LONG>(info.ftCreationTime.dwHighDateTime);
            copy_security(earlier.h, handle(file));
        }
    } catch (...) {  // no memory for the path: the result is given what it has
    }
    ::SetFileInformationByHandle(handle(file), FileBasicInfo, &basic, sizeof basic);
}

namespace {

// The result's file opened for one write or flush where it has its name already: no handle on it
// is held in between, while the box or the window waits.
struct InPlace {
    Handle h;
    InPlace(File file, DWORD access, const std::string& name)
        : h(handle(file) == INVALID_HANDLE_VALUE
                ? ::CreateFileW(open_of(file)->named.c_str(), access, share_all, nullptr, OPEN_EXISTING, 0, nullptr)
                : INVALID_HANDLE_VALUE) {
        if (handle(file) == INVALID_HANDLE_VALUE && !h.valid()) {
            DWORD err = ::GetLastError();
            raise(error_for_code(err, DeviceIO), system_error("opening " + escaped(name) + " again", err));
        }
    }
    HANDLE of(File file) const { return h.valid() ? h.h : handle(file); }
};

}  // namespace

void write(File file, std::string_view data, const std::string& name) {
    InPlace in_place(file, FILE_APPEND_DATA, name);
    while (!data.empty()) {
        DWORD done = 0;
        DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        if (!::WriteFile(in_place.of(file), data.data(), chunk, &done, nullptr) || done == 0)
            raise_write_error("writing " + escaped(name), ::GetLastError());
        data.remove_prefix(done);
    }
}

void sync(File file, const std::string& name) {
    InPlace in_place(file, GENERIC_WRITE, name);
    if (!::FlushFileBuffers(in_place.of(file))) raise_write_error("syncing " + escaped(name), ::GetLastError());
}

namespace {

// Who keeps the program from moving a file over this one: another program that holds it open (as
// indexers, virus scanners and sync clients open files to read them, and editors the files they
// show), which will let go of it; the system, which refuses the program that file; or no one,
// now. The program itself holds no handle on it.
enum class Holder { nobody, another, system };
Holder holder_of(const std::wstring& path) {
    Handle probe(::CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (probe.valid()) return Holder::nobody;
    DWORD err = ::GetLastError();
    return err == ERROR_SHARING_VIOLATION ? Holder::another
           : err == ERROR_FILE_NOT_FOUND  ? Holder::nobody
                                          : Holder::system;
}

// Whether a failed call failed for want of the call itself, in this system or file system.
bool unsupported(DWORD err) {
    return err == ERROR_INVALID_PARAMETER || err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_FUNCTION ||
           err == ERROR_CALL_NOT_IMPLEMENTED;
}

// FileRenameInfoEx, from Windows 10 1607 on (not in the headers for older targets), and its flags.
constexpr auto rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD replace_if_exists = 0x1, posix_semantics = 0x2;

// The temporary given the result's name through its own handle, over an earlier result: as POSIX
// moves names where the system can (an earlier result that another program reads, sharing its
// deletion, is then no obstacle: the reader keeps reading the earlier file), else as Windows
// always has. False, with the system's reason in err, where it cannot be.
bool rename_by_handle(HANDLE h, const std::wstring& to, DWORD& err) {
    static bool posix_unsupported = false;
    std::vector<char> room(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(room.data());
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::copy(to.begin(), to.end(), rename->FileName);
    if (!posix_unsupported) {
        // Flags share their place with ReplaceIfExists, a DWORD where the headers have a BOOLEAN.
        const DWORD flags = replace_if_exists | posix_semantics;
        std::copy_n(reinterpret_cast<const char*>(&flags), sizeof flags, room.data());
        if (::SetFileInformationByHandle(h, rename_info_ex, rename, static_cast<DWORD>(room.size()))) return true;
        err = ::GetLastError();
        if (!unsupported(err)) return false;
        posix_unsupported = true;
        std::fill_n(room.data(), sizeof flags, '\0');
    }
    rename->ReplaceIfExists = TRUE;
    if (::SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(room.size()))) return true;
    err = ::GetLastError();
    return false;
}

// How long a replace waits in all for a file that another program holds, as such programs let
// go of a new file within moments.
constexpr ULONGLONG busy_wait_ms = 2000;

}  // namespace

// The move over the result, by the temporary's own handle where the system can (by name where it
// cannot); while another program holds either file, tried again for a little while. Once the
// result has its name, it is flushed (so that the move is on the disk as well) and no handle is
// held on it any more.
// The temporary always has a name here, given it as it was made; the earlier result's attributes
// and protection are taken as it stands now, just before the move.
void replace(File file, char* temp, std::size_t, const ResultPlace& place, const std::string& name) {
    settle(file, place);
    const std::string& path = place.path;
    const std::wstring target = system_path(wide(path));
    const std::wstring target_full = extended(target) ? target : full_path(target);
    Open* open = nullptr;
    {
        Noted lock;
        open = noted_temporary(temp);
    }
    bool by_handle = open && open->handle != INVALID_HANDLE_VALUE && !target_full.empty();
    const std::wstring temp_system = open ? open->temp_system : system_path(wide(temp));
    const ULONGLONG deadline = ::GetTickCount64() + busy_wait_ms;
    for (DWORD pause = 10;; pause = std::min<DWORD>(pause * 2, 200)) {
        DWORD err = 0;
        bool moved = by_handle && rename_by_handle(open->handle, target_full, err);
        if (!moved && by_handle && unsupported(err)) by_handle = false;
        if (!moved && !by_handle) {
            moved = ::MoveFileExW(temp_system.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (!moved) err = ::GetLastError();
        }
        if (moved) break;
        // Which file is busy, if either: the result held by another program, or else the
        // temporary. Unless the system itself refuses the program the result, the move is tried
        // again: whoever held either file may have let go of it since.
        bool refused = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
        Holder holder = refused ? holder_of(target) : Holder::system;
        std::string busy;
        if (holder == Holder::another) {
            busy = path == name ? escaped(name) : escaped(path);
        } else if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
            busy = "its temporary " + escaped(temp);
        }
        if (holder == Holder::system || ::GetTickCount64() + pause > deadline) {
            if (busy.empty()) raise(error_for_code(err, PathFileAccess), system_error("replacing " + escaped(name), err));
            raise(PermissionDenied, "replacing " + escaped(name) + ": " + busy +
                                        " is held open by another program: " + system_text(ERROR_SHARING_VIOLATION));
        }
        ::Sleep(pause);
    }
    if (!open) return;
    Noted lock;
    open->moved = true;
    try {
        open->named = target;
    } catch (...) {  // no memory: the name is known by the path alone, and later writes fail
    }
    if (open->handle != INVALID_HANDLE_VALUE) {
        if (by_handle && !::FlushFileBuffers(open->handle)) open->flush_error = ::GetLastError();
        ::CloseHandle(open->handle);
        open->handle = INVALID_HANDLE_VALUE;
    }
}

// MOVEFILE_WRITE_THROUGH has the move on the disk when it returns; a move by handle, the flush
// that follows it, whose failure is told here.
bool sync_directory(const ResultPlace& place, std::string& why) {
    const std::wstring target = system_path(wide(place.path));
    Noted lock;
    for (Open* o : noted) {
        if (o && o->named == target && o->flush_error) {
            why = system_text(o->flush_error);
            return false;
        }
    }
    return true;
}

// Through the temporary's own handle where it is still open: marked for deletion, it goes once
// the last handle on it closes, even while another program holds it. Runs in the stop's own
// thread, where allocating is allowed.
void remove_now(const char* path) noexcept {
    try {
        bool gone = false;
        {
            Noted lock;
            Open* open = noted_temporary(path);
            if (open && open->handle != INVALID_HANDLE_VALUE) {
                FILE_DISPOSITION_INFO dispose{TRUE};
                gone = ::SetFileInformationByHandle(open->handle, FileDispositionInfo, &dispose, sizeof dispose);
            }
        }
        if (!gone) ::DeleteFileW(system_path(wide(path)).c_str());
    } catch (...) {
    }
}

bool display_wanted() { return true; }

// Nothing takes the desktop away while the box or the window waits.
const DisplayModule* open_display(std::string&, void (*)(int)) { return &win32_display(); }

}  // namespace rt::os
