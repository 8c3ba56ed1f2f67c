// Result files on POSIX: where a result goes (its name walked, links held to the trust rules), its
// temporary beside it (unnamed where the file system has such files), the move over the earlier
// result, and the syncs that put it on the disk.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <optional>

#include "os.hpp"
#include "posix.hpp"

namespace rt::os {

namespace {

// A path as it is resolved, one directory at a time: every component so far is a real directory,
// no link, so ".." takes the last one off as the system would.
struct Walked {
    bool absolute = false;
    std::vector<std::string> parts;

    std::string path() const {
        std::string p = absolute ? "/" : "";
        for (const std::string& part : parts) p += (p.empty() || p == "/" ? "" : "/") + part;
        return p.empty() ? "." : p;
    }
    std::string with(const std::string& part) const {
        std::string p = path();
        return p == "." ? part : p == "/" ? "/" + part : p + "/" + part;
    }
    void up() {
        if (!parts.empty() && parts.back() != "..") {
            parts.pop_back();
        } else if (!absolute) {
            parts.push_back("..");
        }
    }
};

// The directory `at` (a path-only descriptor), open for its sync; still path-only where it
// cannot be read, as there is then nothing to sync it with.
File open_for_sync(Descriptor& at, const Message& shown) {
    int dir = ::openat(at.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) return File(dir);
    int err = errno;
    if (err == EACCES || err == EPERM) return File(at.release());
    raise_system(error_for_errno(err, PathFileAccess), Msg::OpeningDirectoryOf, {shown}, err);
}

// A directory that lets no file in it be renamed or removed (append-only, or immutable) would keep
// the temporary under its hidden name, past removing, and the earlier result beside it: the run
// stops before anything is made there. A system that cannot tell lets the run find out.
void refuse_unless_renames_allowed(int dir, const Message& shown) {
    struct statx st {};
    constexpr std::uint64_t fixed = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    if (::statx(dir, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &st) == 0 && (st.stx_attributes_mask & fixed) &&
        (st.stx_attributes & fixed))
        raise(PermissionDenied, {Msg::AppendOnlyDirectory, {shown}});
}

// The walk of a result's name to the place it goes. Each directory on the way is held open as it
// is walked, and the next entry looked up in it, so that what was checked is what is used: a
// directory renamed or swapped for a link meanwhile changes nothing, and the result's directory
// stays the one found, to its sync.
class ResultWalk {
  public:
    explicit ResultWalk(const std::string& name) : shown_(rt::name(name)) {
        walked_.absolute = name[0] == '/';
        push_front(todo_, name);
        at_.reset(::open(walked_.absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (at_.fd < 0) fail(Msg::Opening, shown_, errno);
    }

    ResultPlace run() {
        while (!todo_.empty()) {
            std::string part = todo_.back();
            todo_.pop_back();
            if (part == ".") continue;
            if (part == "..") {
                up();
            } else if (std::optional<ResultPlace> place = step(part, todo_.empty())) {
                return std::move(*place);
            }
        }
        raise(PathFileAccess, {Msg::IsDirectory, {shown_}});  // the name was only dots and slashes
    }

  private:
    [[noreturn]] void fail(Msg doing, const Message& what, int err) {
        raise_system(error_for_errno(err, PathFileAccess), doing, {what}, err);
    }

    // The name as a report gives it: where links were followed, the path they led to as well.
    Message where(const std::string& path) const {
        return links_ ? Message(Msg::LeadsTo, {shown_, rt::name(path)}) : shown_;
    }
    // A fact about the entry reached: of the name itself, or of where its links led.
    Message about(const std::string& path, Msg of_name, Msg of_target) const {
        return links_ ? Message(of_target, {shown_, rt::name(path)}) : Message(of_name, {shown_});
    }

    void up() {
        std::string path = walked_.with("..");
        walked_.up();
        at_.reset(::openat(at_.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (at_.fd < 0) fail(Msg::Opening, where(path), errno);
    }

    // One component: a directory to go into, a link to follow, or the result's own place.
    std::optional<ResultPlace> step(const std::string& part, bool last) {
        std::string path = walked_.with(part);
        // The entry itself, link or not, without opening what it is (a FIFO would wait). One in /
        // by its absolute path, as an emulator that gives a program a root of its own for its
        // libraries (qemu-user's -L) still finds the system's own there.
        const int flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
        Descriptor entry(walked_.absolute && walked_.parts.empty() ? ::open(("/" + part).c_str(), flags)
                                                                   : ::openat(at_.fd, part.c_str(), flags));
        struct stat st {};
        if (entry.fd < 0 || ::fstat(entry.fd, &st) != 0) {
            int err = errno;
            if (err == ENOENT && last) return place(path);  // a new result
            fail(Msg::Opening, where(path), err);
        }
        if (S_ISLNK(st.st_mode)) {
            follow(entry, st, path);
            return std::nullopt;
        }
        if (!last) {
            if (!S_ISDIR(st.st_mode)) fail(Msg::Opening, where(path), ENOTDIR);
            walked_.parts.push_back(part);
            at_.reset(entry.release());
            return std::nullopt;
        }
        if (S_ISDIR(st.st_mode)) raise(PathFileAccess, about(path, Msg::IsDirectory, Msg::LeadsToDirectory));
        // A FIFO, a socket or a device is no place for a result, and is left as it is.
        if (!S_ISREG(st.st_mode)) raise(PathFileAccess, about(path, Msg::NotRegular, Msg::LeadsToNotRegular));
        if (::faccessat(at_.fd, part.c_str(), W_OK, AT_EACCESS) != 0)
            raise(PermissionDenied, about(path, Msg::NotWritable, Msg::LeadsToNotWritable));
        return place(path);
    }

    // The result's place: the directory reached, where its files may be renamed and removed.
    ResultPlace place(const std::string& path) {
        refuse_unless_renames_allowed(at_.fd, shown_);
        return ResultPlace{path, open_for_sync(at_, shown_)};
    }

    // A link that someone else could have planted would have the run replace a file of their
    // choosing, with the run's rights: it is followed only where the trust rules allow.
    void follow(const Descriptor& link, const struct stat& st, const std::string& path) {
        struct stat dir {};
        if (::fstat(at_.fd, &dir) != 0 || !link_is_trusted(st, dir, fd_path(at_.fd)))
            raise(PermissionDenied, about(path, Msg::StrangersLink, Msg::LeadsToStrangersLink));
        if (++links_ > max_links) raise(PathFileAccess, {Msg::TooManyLinks, {shown_, numeral(max_links)}});
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        ssize_t n = ::readlinkat(link.fd, "", target.data(), target.size());  // the very link checked
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            fail(Msg::ReadingLink, rt::name(path), n < 0 ? errno : EIO);
        std::string text(target.data(), static_cast<std::size_t>(n));
        if (text[0] == '/') {
            walked_ = Walked{true, {}};
            at_.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (at_.fd < 0) fail(Msg::Opening, rt::name("/"), errno);
        }
        push_front(todo_, text);
    }

    Message shown_;
    Walked walked_;
    std::vector<std::string> todo_;  // components still to walk, the next one last
    Descriptor at_{-1};
    int links_ = 0;
};

// A part of a temporary name that no one can foresee (as they could a process number), so that
// names planted beforehand cannot stop a run.
std::string unforeseeable() {
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Without the system's randomness, the time and the process still differ from run to run.
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) * 0x9e3779b97f4a7c15u ^
                            static_cast<std::uint64_t>(now.tv_sec) ^ static_cast<std::uint64_t>(::getpid()) << 40;
        std::memcpy(bytes, &mix, sizeof bytes);
    }
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) text += {hex[b >> 4], hex[b & 15]};
    return text;
}

// A hidden name beside the result for its temporary, into temp; one too long for it is the error.
void name_temporary(const ResultPlace& place, TempPath& temp, const std::string& name) {
    std::string dir = place.path.substr(0, place.path.rfind('/') + 1);  // with its slash; empty for "here"
    if (!temp.assign(dir + "." + base_of(place.path) + ".tmp" + unforeseeable()))
        raise(PathFileAccess, {Msg::TemporaryPathTooLong, {rt::name(name)}});
}

// An unnamed file is given its name by linkat: from the descriptor itself where the run may
// (AT_EMPTY_PATH takes a privilege), else through /proc.
int link_unnamed(int fd, int dir, const char* temp) {
    if (::linkat(fd, "", dir, temp, AT_EMPTY_PATH) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    return ::linkat(AT_FDCWD, fd_path(fd).c_str(), dir, temp, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// As sed -i does, where the result it replaces is the runner's own, or the run is root's: that
// result's owner and group where this run may give them (root may; a user may give a group of
// theirs), then its access list (so that no one it shut out, nor anyone the folder's default list
// names, reads the new one) or, without one, its permission bits. A result of someone else's
// (planted where the run would write) lends nothing: the file gets the bits a new one has, as the
// umask allows. Taken as the result stands now, just before it is replaced.
void settle(int fd, int dir, const std::string& base) {
    struct stat st {};
    uid_t me = ::geteuid();
    if (::fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        (me == 0 || st.st_uid == me)) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        if (!copy_access_list(fd_path(dir) + "/" + base, fd))
            ::fchmod(fd, st.st_mode & 0777);  // its permissions, not its set-id bits
        return;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
}

// A failed write or sync: a full disk (or quota) is error 61, anything else 57.
[[noreturn]] void raise_write_error(Msg doing, const std::string& name, int err) {
    raise_system(err == ENOSPC || err == EDQUOT ? DiskFull : DeviceIO, doing, {rt::name(name)}, err);
}

// Unnamed first: a run killed outright (SIGKILL, a power loss) then leaves nothing behind, unless
// in the moment between its naming and its move. It gets a name only once complete, through
// /proc; a file system without such files, or a system without /proc, has a named temporary
// instead. Readable by no one else while it is written: it gets the result's owner and mode once
// complete.
File create_beside(const ResultPlace& place, TempPath& temp, std::string name) {
    int dir = place.directory.descriptor();
    temp.clear();
    int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (::access(fd_path(fd).c_str(), F_OK) == 0) return File(fd, std::move(name));
        ::close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        int err = errno;
        raise_system(error_for_errno(err, PathFileAccess), Msg::CreatingIn,
                     {rt::name(name), rt::name(directory_of(place.path))}, err);
    }
    for (int attempt = 0;; ++attempt) {
        name_temporary(place, temp, name);
        fd = ::openat(dir, base_of(temp.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return File(fd, std::move(name));
        int err = errno;
        std::string tried = temp.c_str();
        temp.clear();
        if (err != EEXIST || attempt >= 100)
            raise_system(error_for_errno(err, PathFileAccess), Msg::CreatingAs, {rt::name(name), rt::name(tried)}, err);
    }
}

// The results being written, where a stop finds their temporaries.
Result results[max_results];

}  // namespace

Result& open_result(const std::string& name) {
    Result* result = std::find_if(std::begin(results), std::end(results), [](const Result& r) { return !r.in_use; });
    if (result == std::end(results)) raise(InvalidCall);  // no more than the program has file numbers
    std::string named = name;                             // made before the file, which nothing after may fail to note
    result->place = ResultWalk(name).run();
    try {
        StopsHeld held;  // no file is made without being noted
        result->file = create_beside(result->place, result->temp, std::move(named));
    } catch (...) {
        close(result->place.directory);
        throw;
    }
    result->in_use = true;
    return *result;
}

void write(Result& result, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(result.file.descriptor(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) raise_write_error(Msg::Writing, result.file.name(), n < 0 ? errno : EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void sync(Result& result) {
    if (::fsync(result.file.descriptor()) != 0 && errno != EINVAL)
        raise_write_error(Msg::Syncing, result.file.name(), errno);
}

// The owner and mode are given after the data's sync, so that a change made to the earlier result
// meanwhile is seen; they are journaled ahead of the rename, which the directory's sync then
// carries to the disk with them.
void replace(Result& result) {
    int fd = result.file.descriptor(), dir = result.place.directory.descriptor();
    const std::string& name = result.file.name();
    StopsHeld held;  // the temporary noted until it has gone by its move
    for (int attempt = 0; result.temp.empty(); ++attempt) {
        name_temporary(result.place, result.temp, name);
        int err = link_unnamed(fd, dir, base_of(result.temp.c_str()).c_str());
        if (!err) break;
        std::string tried = result.temp.c_str();
        result.temp.clear();
        if (err != EEXIST || attempt >= 100)
            raise_system(error_for_errno(err, PathFileAccess), Msg::NamingAs, {rt::name(name), rt::name(tried)}, err);
    }
    std::string base = base_of(result.place.path);
    settle(fd, dir, base);
    if (::renameat(dir, base_of(result.temp.c_str()).c_str(), dir, base.c_str()) != 0) {
        int err = errno;
        raise_system(error_for_errno(err, PathFileAccess), Msg::Replacing, {rt::name(name)}, err);
    }
    result.temp.clear();
}

// A directory that could not be opened for reading (no read permission) or cannot be synced (a
// file system that has no such thing) is left as it is. Past the move there is no going back to
// the earlier result: a failure says what is true.
void sync_directory(Result& result) {
    int dir = result.place.directory.descriptor();
    int flags = ::fcntl(dir, F_GETFL);
    if (flags == -1 || (flags & O_PATH)) return;
    int failed = ::fsync(dir) != 0 ? errno : 0;
    if (!failed || failed == EINVAL || failed == EROFS || failed == EOPNOTSUPP || failed == ENOSYS) return;
    raise_system(DeviceIO, Msg::NotConfirmed, {rt::name(result.file.name())}, failed);
}

void close(Result& result) noexcept {
    if (!result.temp.empty()) ::unlink(result.temp.c_str());
    result.temp.clear();
    close(result.file);
    close(result.place.directory);
    result.in_use = false;
}

void remove_temporaries_now() noexcept {
    for (const Result& result : results)
        if (!result.temp.empty()) ::unlink(result.temp.c_str());
}

}  // namespace rt::os
