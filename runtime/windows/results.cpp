// Result files on Windows: where a result goes (a link followed to its file), its hidden temporary
// beside it, the move over the earlier result through the temporary's own handle, with the earlier
// result's attributes and protection, and the flushes that put it on the disk. Windows has no
// shared folders where another user may plant a link (a link takes a privilege to make), so it has
// no trust rules of the kind POSIX keeps in trust.cpp.
#define _CRT_RAND_S  // rand_s: the system's randomness, for temporary names
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "windows.hpp"

namespace rt::os {

namespace {

// A symbolic link: the result goes to the file it leads to, which is opened first as it is (a
// directory too) to learn what it is. A link that leads nowhere yet has its file made only to
// learn its path, and gone again as the handle closes: the result's move makes it for good.
ResultPlace resolve_link(const std::wstring& w, const Message& shown) {
    Handle h(::CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    bool made = false;
    if (!h.valid() && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        h.h = ::CreateFileW(w.c_str(), GENERIC_WRITE | DELETE, share_all, nullptr, CREATE_NEW,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        made = true;
    }
    DWORD err = ::GetLastError();
    if (!h.valid()) raise_system(error_for_code(err, PathFileAccess), Msg::Opening, {shown}, err);
    std::wstring target = final_path(h.h, err);
    if (target.empty()) raise_system(PathFileAccess, Msg::FindingTarget, {shown}, err);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.h, &info)) info.dwFileAttributes = 0;
    ResultPlace place{narrow(target), {}};
    std::vector<Message> leads{shown, rt::name(place.path)};
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) raise(PathFileAccess, {Msg::LeadsToDirectory, leads});
    if (::GetFileType(h.h) != FILE_TYPE_DISK) raise(PathFileAccess, {Msg::LeadsToNotRegular, leads});
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) raise(PermissionDenied, {Msg::LeadsToNotWritable, leads});
    if (!made) {  // what the user's own open for writing would meet there
        Handle check(::CreateFileW(target.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, 0, nullptr));
        err = ::GetLastError();
        if (!check.valid()) raise_system(error_for_code(err, PathFileAccess), Msg::Opening, {shown}, err);
    }
    return place;
}

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

// The hidden name of a temporary beside path: no longer than a folder takes, whatever the result's
// name, which is cut short in it where need be.
std::wstring temporary_beside(const std::wstring& path) {
    std::size_t cut = path.find_last_of(L"\\/");
    std::wstring dir = cut == std::wstring::npos ? L"" : path.substr(0, cut + 1);
    std::wstring base = path.substr(dir.size());
    constexpr std::size_t added = 1 + 4 + 16;  // ".", ".tmp" and the unforeseeable part
    if (base.size() + added > longest_name) {
        std::size_t keep = longest_name - added;
        if (IS_HIGH_SURROGATE(base[keep - 1])) --keep;  // a character whole
        base.resize(keep);
    }
    return dir + L"." + base + L".tmp" + unforeseeable();
}

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

// The earlier result's attributes (hidden, system and the like), creation time, access
// list and owner carried over, as Windows carries them when it replaces a file; a new result is
// an ordinary file, not hidden as its temporary was, with the access list the folder gives it.
// All as far as the system allows, as on POSIX.
void settle(File file, const ResultPlace& place) {
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

// The result's file opened for one write or flush where it has its name already: no handle on it
// is held in between, while the box or the window waits.
struct InPlace {
    Handle h;
    InPlace(const File& file, DWORD access)
        : h(handle(file) == INVALID_HANDLE_VALUE
                ? ::CreateFileW(file.open()->named.c_str(), access, share_all, nullptr, OPEN_EXISTING, 0, nullptr)
                : INVALID_HANDLE_VALUE) {
        if (handle(file) == INVALID_HANDLE_VALUE && !h.valid()) {
            DWORD err = ::GetLastError();
            raise_system(error_for_code(err, DeviceIO), Msg::OpeningAgain, {rt::name(file.name())}, err);
        }
    }
    HANDLE of(const File& file) const { return h.valid() ? h.h : handle(file); }
};

// A failed write or sync: a full disk is error 61, anything else 57.
[[noreturn]] void raise_write_error(Msg doing, const std::string& name, DWORD err) {
    raise_system(err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? DiskFull : DeviceIO, doing, {rt::name(name)},
                 err);
}

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

// One move of a temporary over a result, tried again while another program holds either file.
class Move {
  public:
    Move(Open* open, std::wstring target)
        : open_(open), target_(std::move(target)), full_(extended(target_) ? target_ : full_path(target_)) {
        by_handle_ = open_->handle != INVALID_HANDLE_VALUE && !full_.empty();
    }
    const std::wstring& target() const { return target_; }
    bool by_handle() const { return by_handle_; }

    void run(const std::string& path, const TempPath& temp, const std::string& name) {
        const ULONGLONG deadline = ::GetTickCount64() + busy_wait_ms;
        for (DWORD pause = 10;; pause = std::min<DWORD>(pause * 2, 200)) {
            DWORD err = 0;
            if (once(err)) return;
            // Unless the system itself refuses the program the result, the move is tried again:
            // whoever held either file may have let go of it since.
            bool refused = err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_LOCK_VIOLATION;
            Holder holder = refused ? holder_of(target_) : Holder::system;
            if (holder == Holder::system || ::GetTickCount64() + pause > deadline) fail(err, holder, path, temp, name);
            ::Sleep(pause);
        }
    }

  private:
    // One try: by the handle as POSIX moves names, or by name; false with the system's reason.
    bool once(DWORD& err) {
        bool moved = by_handle_ && rename_by_handle(open_->handle, full_, err);
        if (!moved && by_handle_ && unsupported(err)) by_handle_ = false;
        if (!moved && !by_handle_) {
            moved = ::MoveFileExW(open_->temp_system.c_str(), target_.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (!moved) err = ::GetLastError();
        }
        return moved;
    }

    // The failure names which file was busy, if either: the result held by another program, or
    // else the temporary.
    [[noreturn]] static void fail(DWORD err, Holder holder, const std::string& path, const TempPath& temp,
                                  const std::string& name) {
        Message busy;
        if (holder == Holder::another) {
            busy = rt::name(path);
        } else if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION) {
            busy = {Msg::ItsTemporary, {rt::name(temp.c_str())}};
        }
        if (busy.empty()) raise_system(error_for_code(err, PathFileAccess), Msg::Replacing, {rt::name(name)}, err);
        raise(PermissionDenied, {Msg::HeldOpen, {rt::name(name), busy, system_text(ERROR_SHARING_VIOLATION)}});
    }

    Open* open_;
    std::wstring target_, full_;
    bool by_handle_ = false;
};

// The results being written, where a stop (in a thread of its own) finds their temporaries; the
// lock keeps it from one that is being noted, moved or closed meanwhile.
Result results[max_results];
std::mutex results_lock;
using ResultsLocked = std::lock_guard<std::mutex>;

// Where a result named `name` goes: that name, or the file a link of that name leads to.
ResultPlace resolve_result(const std::string& name) {
    std::wstring w = system_path(wide(name));
    const Message shown = rt::name(name);
    DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND) return {name, {}};
        raise_system(error_for_code(err, PathFileAccess), Msg::Opening, {shown}, err);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) raise(PathFileAccess, {Msg::IsDirectory, {shown}});
    if (attributes & FILE_ATTRIBUTE_READONLY) raise(PermissionDenied, {Msg::NotWritable, {shown}});
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {name, {}};
    return resolve_link(w, shown);
}

// The temporary is made hidden, as its leading dot makes it elsewhere, and with DELETE access: no
// other program (an indexer, a virus scanner, a sync client reading each new file) can then open
// it without sharing its deletion, so none can keep it from its name or from going.
File create_beside(const ResultPlace& place, TempPath& temp, std::string name) {
    std::wstring path = wide(place.path);
    for (int attempt = 0;; ++attempt) {
        std::wstring temp_wide = temporary_beside(path);
        auto open = std::make_unique<Open>();  // all made ready before the file: nothing after it may throw
        open->temp_system = system_path(temp_wide);
        if (!temp.assign(narrow(temp_wide))) raise(PathFileAccess, {Msg::TemporaryPathTooLong, {rt::name(name)}});
        open->name = name;
        // With the access to give it the earlier result's access list and owner, where the folder
        // allows it; else without.
        DWORD err = 0;
        for (DWORD access : {GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER, GENERIC_WRITE | DELETE}) {
            open->handle = ::CreateFileW(open->temp_system.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
            err = open->handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
            if (err != ERROR_ACCESS_DENIED) break;
        }
        if (open->handle != INVALID_HANDLE_VALUE) return File(open.release());
        std::string tried = temp.c_str();
        temp.clear();
        if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt >= 100)
            raise_system(error_for_code(err, PathFileAccess), Msg::CreatingAs, {rt::name(name), rt::name(tried)}, err);
    }
}

// Through the temporary's own handle where it is still open: marked for deletion, it goes once
// the last handle on it closes, even while another program holds it; by its name where not.
void remove_temporary(const Result& result) noexcept {
    if (result.temp.empty()) return;
    Open* open = result.file.open();
    FILE_DISPOSITION_INFO dispose{TRUE};
    if (open && open->handle != INVALID_HANDLE_VALUE &&
        ::SetFileInformationByHandle(open->handle, FileDispositionInfo, &dispose, sizeof dispose))
        return;
    try {
        ::DeleteFileW(system_path(wide(result.temp.c_str())).c_str());
    } catch (...) {  // no memory for the path: nothing more can be done
    }
}

}  // namespace

Result& open_result(const std::string& name) {
    Result* result = std::find_if(std::begin(results), std::end(results), [](const Result& r) { return !r.in_use; });
    if (result == std::end(results)) raise(InvalidCall);  // no more than the program has file numbers
    std::string named = name;
    result->place = resolve_result(name);
    StopsHeld held;  // no file is made without being noted
    File file = create_beside(result->place, result->temp, std::move(named));
    ResultsLocked lock(results_lock);
    result->file = file;
    result->in_use = true;
    return *result;
}

void write(Result& result, std::string_view data) {
    InPlace in_place(result.file, FILE_APPEND_DATA);
    while (!data.empty()) {
        DWORD done = 0;
        DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        if (!::WriteFile(in_place.of(result.file), data.data(), chunk, &done, nullptr) || done == 0)
            raise_write_error(Msg::Writing, result.file.name(), ::GetLastError());
        data.remove_prefix(done);
    }
}

void sync(Result& result) {
    InPlace in_place(result.file, GENERIC_WRITE);
    if (!::FlushFileBuffers(in_place.of(result.file)))
        raise_write_error(Msg::Syncing, result.file.name(), ::GetLastError());
}

// The move over the result, by the temporary's own handle where the system can (by name where it
// cannot); while another program holds either file, tried again for a little while. Once the
// result has its name, it is flushed (so that the move is on the disk as well) and no handle is
// held on it any more. The earlier result's attributes and protection are taken as it stands now,
// just before the move.
void replace(Result& result) {
    settle(result.file, result.place);
    Open* open = result.file.open();
    StopsHeld held;  // the temporary noted until it has gone by its move
    Move move(open, system_path(wide(result.place.path)));
    move.run(result.place.path, result.temp, result.file.name());
    ResultsLocked lock(results_lock);
    result.temp.clear();
    open->moved = true;
    try {
        open->named = move.target();
    } catch (...) {  // no memory: the name is known by the path alone, and later writes fail
    }
    if (open->handle != INVALID_HANDLE_VALUE) {
        if (move.by_handle() && !::FlushFileBuffers(open->handle)) open->flush_error = ::GetLastError();
        ::CloseHandle(open->handle);
        open->handle = INVALID_HANDLE_VALUE;
    }
}

// MOVEFILE_WRITE_THROUGH has the move on the disk when it returns; a move by handle, the flush
// that follows it, whose failure is told here.
void sync_directory(Result& result) {
    if (DWORD failed = result.file.open()->flush_error)
        raise_system(DeviceIO, Msg::NotConfirmed, {rt::name(result.file.name())}, failed);
}

void close(Result& result) noexcept {
    ResultsLocked lock(results_lock);
    remove_temporary(result);
    result.temp.clear();
    close(result.file);
    result.in_use = false;
}

// Runs in the stop's own thread, where allocating is allowed.
void remove_temporaries_now() noexcept {
    ResultsLocked lock(results_lock);
    for (const Result& result : results) remove_temporary(result);
}

}  // namespace rt::os
