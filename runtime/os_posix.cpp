// The operating system on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "display.hpp"
#include "errors.hpp"
#include "os.hpp"

#ifndef TRIO_MODULE_DIR
#define TRIO_MODULE_DIR "../lib/trio"  // from the installed programs' directory
#endif
#ifndef TRIO_MODULE_FULL_DIR
#define TRIO_MODULE_FULL_DIR "/usr/local/lib/trio"  // where it is installed
#endif
#ifndef TRIO_DISPLAY_MODULE  // 0 in a build without the window and the box (-DTRIO_DISPLAY=OFF)
#define TRIO_DISPLAY_MODULE 1
#endif

namespace rt::os {

namespace {

std::string system_error(const std::string& doing, int err) { return doing + ": " + std::strerror(err); }

// The run-time error for a failed open, create or rename, by errno.
int error_for_errno(int err, int otherwise) {
    switch (err) {
        case ENOENT: return FileNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return PermissionDenied;
        case ENOSPC:
        case EDQUOT: return DiskFull;
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG: return PathFileAccess;
        case ENOMEM: return OutOfMemory;
        default: return otherwise;
    }
}

// A failed write or sync: a full disk (or quota) is error 61, anything else 57.
[[noreturn]] void raise_write_error(const std::string& doing, int err) {
    raise(err == ENOSPC || err == EDQUOT ? DiskFull : DeviceIO, system_error(doing, err));
}

std::string directory_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Standard error as the program has it. While a display is open, descriptor 2 is not the
// program's: the window libraries and the X library write there directly, in words of their own
// and in bytes a server chose (an assertion ending the process, a refusal), so it is /dev/null
// then, and the program's own lines go to the copy kept here.
int error_stream = STDERR_FILENO;

// Descriptor 2 to /dev/null, the program's standard error kept as error_stream; false where
// that cannot be done, and nothing is changed.
bool keep_standard_error() {
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    int copy = null < 0 ? -1 : ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    bool kept = copy >= 0 && ::dup2(null, STDERR_FILENO) == STDERR_FILENO;
    if (kept) error_stream = copy;
    if (!kept && copy >= 0) ::close(copy);
    if (null >= 0) ::close(null);
    return kept;
}

void give_back_standard_error() {
    if (error_stream == STDERR_FILENO) return;
    ::dup2(error_stream, STDERR_FILENO);
    ::close(error_stream);
    error_stream = STDERR_FILENO;
}

void (*stop_callback)(const char*) = nullptr;
sigset_t held_mask;

// Every signal whose default is to end the process is a stop, but the two made failed writes
// (SIGPIPE, SIGXFSZ) and SIGKILL, which cannot be caught; each removes the temporaries and says so
// as SIGTERM does. A fault of the program's own (or one sent as if it were) then goes on to the
// action it had before, a core dump or the sanitizers' report.
struct Stop {
    int sig;
    const char* how;
    bool fault = false;
};
const Stop stops[] = {
    {SIGINT, "interrupted (SIGINT)"},
    {SIGTERM, "terminated (SIGTERM)"},
    {SIGHUP, "hung up (SIGHUP)"},
    {SIGQUIT, "quit (SIGQUIT)"},
    {SIGALRM, "alarm clock (SIGALRM)"},
    {SIGUSR1, "user signal 1 (SIGUSR1)"},
    {SIGUSR2, "user signal 2 (SIGUSR2)"},
    {SIGVTALRM, "virtual timer expired (SIGVTALRM)"},
    {SIGPROF, "profiling timer expired (SIGPROF)"},
    {SIGXCPU, "CPU time limit exceeded (SIGXCPU)"},
#ifdef SIGPOLL
    {SIGPOLL, "I/O possible (SIGPOLL)"},
#endif
#ifdef SIGPWR
    {SIGPWR, "power failure (SIGPWR)"},
#endif
#ifdef SIGSTKFLT
    {SIGSTKFLT, "stack fault (SIGSTKFLT)"},
#endif
    {SIGABRT, "aborted (SIGABRT)", true},
    {SIGBUS, "bus error (SIGBUS)", true},
    {SIGFPE, "arithmetic exception (SIGFPE)", true},
    {SIGILL, "illegal instruction (SIGILL)", true},
    {SIGSEGV, "segmentation fault (SIGSEGV)", true},
    {SIGSYS, "bad system call (SIGSYS)", true},
    {SIGTRAP, "trace trap (SIGTRAP)", true},
};

// The real-time signals end the process too; their words are made once, before any can arrive.
constexpr int max_realtime = 64;
char realtime_how[max_realtime][56];  // room for any int twice, so that no compiler sees a cut

struct sigaction before_faults[NSIG];

// The stops that are held back and taken one at a time: all but the faults.
sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const Stop& stop : stops)
        if (!stop.fault) sigaddset(&set, stop.sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX && sig - SIGRTMIN < max_realtime; ++sig) sigaddset(&set, sig);
    return set;
}

extern "C" void on_stop_signal(int sig) {
    const char* how = "stopped by a signal";
    bool fault = false;
    for (const Stop& stop : stops)
        if (stop.sig == sig) how = stop.how, fault = stop.fault;
    if (sig >= SIGRTMIN && sig <= SIGRTMAX && sig - SIGRTMIN < max_realtime) how = realtime_how[sig - SIGRTMIN];
    if (stop_callback) stop_callback(how);
    if (fault) {  // delivered again once this returns, to what it had before, with standard error back
        give_back_standard_error();  // for a sanitizer's report
        ::sigaction(sig, &before_faults[sig], nullptr);
        ::raise(sig);
        return;
    }
    _exit(128 + sig);
}

// The directory the program itself was started from, as the system tells it (an absolute path);
// empty where the system does not say (no /proc, as in some chroots and containers).
std::string program_directory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0 || path[0] != '/') return "";
    return directory_of(std::string(path, static_cast<std::size_t>(n)));
}

}  // namespace

void prepare_standard_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) _exit(DeviceIO);
    }
}

// The one library loaded at run time, the display module, is opened by absolute path only
// (open_display), so there is nothing more to restrict.
void restrict_library_loading() {}

// At a terminal when standard input or standard error is one; from the desktop, neither is.
bool standard_error_is_seen() { return ::isatty(STDIN_FILENO) == 1 || ::isatty(error_stream) == 1; }

bool write_standard(Stream stream, std::string_view text, std::string* why) {
    int fd = stream == Stream::Output ? STDOUT_FILENO : error_stream;
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (why) *why = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void exit_now(int status) { _exit(status); }

const std::string_view line_end = "\n";

void catch_stops(void (*on_stop)(const char*)) {
    stop_callback = on_stop;
    for (int n = 0; n < max_realtime; ++n)
        std::snprintf(realtime_how[n], sizeof realtime_how[n], "real-time signal %d (SIGRTMIN+%d)", n, n);
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    stop.sa_mask = stop_set();  // one stop at a time
    stop.sa_flags = SA_ONSTACK;  // a fault of a stack that has run out, where there is another to run on
    auto take = [&](int sig, bool fault) {
        struct sigaction was {};
        if (::sigaction(sig, nullptr, &was) != 0 || was.sa_handler == SIG_IGN) return;  // as nohup wants
        if (fault) before_faults[sig] = was;
        ::sigaction(sig, &stop, nullptr);
    };
    for (const Stop& s : stops) take(s.sig, s.fault);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX && sig - SIGRTMIN < max_realtime; ++sig) take(sig, false);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

void hold_stops() {
    sigset_t set = stop_set();
    ::sigprocmask(SIG_BLOCK, &set, &held_mask);
}

void release_stops() { ::sigprocmask(SIG_SETMASK, &held_mask, nullptr); }

namespace {

bool same_but_case(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// The entries beside `name` whose names differ from its own only in the case of their letters
// (A to Z), sorted, each with the name's directory before it.
std::vector<std::string> names_differing_in_case(const std::string& name) {
    std::size_t slash = name.rfind('/');
    std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    std::string base = name.substr(dir.size());
    std::vector<std::string> found;
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name != base && same_but_case(e->d_name, base)) found.push_back(dir + e->d_name);
        ::closedir(d);
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

// A file copied from Windows keeps the case it had there, where PHOTO.DAT and photo.dat name
// the same file: where the exact name is missing (or is a link that leads nowhere), the one file
// whose name differs from it only in case is read instead. Between two or more there is no
// telling which was meant. Only a regular file is taken for the one meant: a FIFO or a device
// that merely has a similar name is not opened at all, lest the open wait for a writer or set a
// device going.
File open_input(const std::string& name, std::string& read_as) {
    std::string what = escaped(name);  // the file opened, as reports name it
    read_as = name;
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        std::vector<std::string> others = names_differing_in_case(name);
        if (others.size() > 1) {
            std::string list;
            for (const std::string& other : others) list += (list.empty() ? "" : ", ") + escaped(other);
            raise(FileNotFound, escaped(name) + " is missing, and " + std::to_string(others.size()) +
                                    " files differ from it only in case: " + list);
        }
        if (others.size() == 1) {
            read_as = others[0];
            what = escaped(others[0]) + " (for " + escaped(name) + ")";
            auto refuse_unless_regular = [&](const struct stat& st) {
                if (S_ISDIR(st.st_mode)) raise(PathFileAccess, what + " is a directory");
                if (!S_ISREG(st.st_mode)) raise(PathFileAccess, what + " is not a regular file");
            };
            struct stat st {};
            if (::stat(others[0].c_str(), &st) == 0) refuse_unless_regular(st);
            // Should it have been swapped for something else since, the open still does not wait.
            fd = ::open(others[0].c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
                ::close(fd);
                refuse_unless_regular(st);
                raise(PathFileAccess, what + " is not a regular file");
            }
            if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        } else {
            errno = ENOENT;
        }
    }
    if (fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening " + what, errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        raise(PathFileAccess, what + " is a directory");
    }
    return fd;
}

std::size_t read(File file, char* buffer, std::size_t size, const std::string& name) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(file), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) raise(DeviceIO, system_error("reading " + escaped(name), errno));
    }
}

void close(File file) noexcept {
    if (file != no_file) ::close(static_cast<int>(file));
}

namespace {

// A path as it is resolved, one directory at a time: every component so far is a real directory,
// no link, so ".." takes the last one off as the system would.
struct Walk {
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

// A path's components, in order, ahead of those still to be walked (todo holds the next one last).
void push_front(std::vector<std::string>& todo, const std::string& path) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at) parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

#ifdef SYMLOOP_MAX
constexpr int max_links = SYMLOOP_MAX;
#else
constexpr int max_links = 40;  // as Linux itself follows at most
#endif

// A descriptor closed at the end of its scope, unless it is handed on.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int fd_) : fd(fd_) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int other = -1) {
        if (fd >= 0) ::close(fd);
        fd = other;
    }
    int release() { return std::exchange(fd, -1); }
};

// Whether the runner's own group is theirs alone: named after them, with no members listed, as
// the group each user gets of their own is (where users' files are then made group-writable, as
// Debian 13 makes them, such a bit lets no one else write).
bool own_private_group(gid_t gid) {
    static const bool is_private = [] {
        const struct passwd* me = ::getpwuid(::geteuid());
        const struct group* group = me ? ::getgrgid(::getegid()) : nullptr;
        return group && std::strcmp(group->gr_name, me->pw_name) == 0 &&
               (!group->gr_mem[0] || (std::strcmp(group->gr_mem[0], me->pw_name) == 0 && !group->gr_mem[1]));
    }();
    return gid == ::getegid() && is_private;
}

// Whether anyone but the owner could write the file or folder: others, or a group not the runner's alone.
bool others_can_write(const struct stat& st) {
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && !own_private_group(st.st_gid));
}

// Whether no one but the runner (and root) could have planted the link or changed it: it is
// theirs, or it stands in a directory of theirs that no one else can write. A group's directory,
// sticky or not, and another user's own are others'. (The system's own guard, protected_symlinks,
// never sees the links followed here, and is off on some systems.)
bool link_is_trusted(const struct stat& link, const struct stat& dir) {
    uid_t me = ::geteuid();
    if (link.st_uid == me || link.st_uid == 0) return true;
    return (dir.st_uid == me || dir.st_uid == 0) && !others_can_write(dir);
}

// The directory `at` (a path-only descriptor), open for its sync; still path-only where it
// cannot be read, as there is then nothing to sync it with.
int open_for_sync(Descriptor& at, const std::string& shown) {
    int dir = ::openat(at.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) return dir;
    int err = errno;
    if (err == EACCES || err == EPERM) return at.release();
    raise(error_for_errno(err, PathFileAccess), system_error("opening the directory of " + shown, err));
}

std::string base_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

// Each directory on the way is held open as it is walked, and the next entry looked up in it, so
// that what was checked is what is used: a directory renamed or swapped for a link meanwhile
// changes nothing, and the result's directory stays the one found, to its sync.
ResultPlace resolve_result(const std::string& name) {
    const std::string shown = escaped(name);
    Walk walk;
    std::vector<std::string> todo;  // components still to walk, the next one last
    push_front(todo, name);
    Descriptor at(::open(name[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening " + shown, errno));
    walk.absolute = name[0] == '/';
    int links = 0;
    while (!todo.empty()) {
        std::string part = todo.back();
        todo.pop_back();
        if (part == ".") continue;
        std::string path = walk.with(part);
        std::string where = links ? shown + " leads to " + escaped(path) : shown;
        if (part == "..") {
            walk.up();
            at.reset(::openat(at.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (at.fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening " + where, errno));
            continue;
        }
        bool last = todo.empty();
        // The entry itself, link or not, without opening what it is (a FIFO would wait). One in /
        // by its absolute path, as an emulator that gives a program a root of its own for its
        // libraries (qemu-user's -L) still finds the system's own there.
        const int flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
        Descriptor entry(walk.absolute && walk.parts.empty() ? ::open(("/" + part).c_str(), flags)
                                                             : ::openat(at.fd, part.c_str(), flags));
        struct stat st {};
        if (entry.fd < 0 || ::fstat(entry.fd, &st) != 0) {
            int err = errno;
            if (err == ENOENT && last) {  // a new result, here or where the links lead
                ResultPlace place;
                place.path = path;
                place.directory = open_for_sync(at, shown);
                return place;
            }
            raise(error_for_errno(err, PathFileAccess), system_error("opening " + where, err));
        }
        if (S_ISLNK(st.st_mode)) {
            // A link that someone else could have planted would have the run replace a file of
            // their choosing, with the run's rights.
            struct stat dir {};
            if (::fstat(at.fd, &dir) != 0 || !link_is_trusted(st, dir))
                raise(PermissionDenied, (links ? where + ", which" : shown) +
                                            " is a link of another user in a directory others can write; not followed");
            if (++links > max_links)
                raise(PathFileAccess, shown + " leads through more than " + std::to_string(max_links) + " links");
            std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
            ssize_t n = ::readlinkat(entry.fd, "", target.data(), target.size());  // the very link checked
            if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
                raise(PathFileAccess, system_error("reading the link " + escaped(path), n < 0 ? errno : EIO));
            std::string text(target.data(), static_cast<std::size_t>(n));
            if (text[0] == '/') {
                walk = Walk{true, {}};
                at.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (at.fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening /", errno));
            }
            push_front(todo, text);
            continue;
        }
        if (!last && !S_ISDIR(st.st_mode)) raise(PathFileAccess, system_error("opening " + where, ENOTDIR));
        if (!last) {
            walk.parts.push_back(part);
            at.reset(entry.release());
            continue;
        }
        std::string what = links ? where + ", which" : shown;
        if (S_ISDIR(st.st_mode)) raise(PathFileAccess, what + " is a directory");
        // A FIFO, a socket or a device is no place for a result, and is left as it is.
        if (!S_ISREG(st.st_mode)) raise(PathFileAccess, what + " is not a regular file");
        if (::faccessat(at.fd, part.c_str(), W_OK, AT_EACCESS) != 0) raise(PermissionDenied, what + " is not writable");
        ResultPlace place;
        place.path = path;
        place.directory = open_for_sync(at, shown);
        return place;
    }
    raise(PathFileAccess, shown + " is a directory");  // the name was only dots and slashes
}

namespace {

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

// A hidden name beside the result for its temporary, into temp_path; false where it is too long.
bool temporary_name(const ResultPlace& place, char* temp_path, std::size_t room) {
    std::string dir = place.path.substr(0, place.path.rfind('/') + 1);  // with its slash; empty for "here"
    std::string temp = dir + "." + base_of(place.path) + ".tmp" + unforeseeable();
    if (temp.size() >= room) return false;
    std::memcpy(temp_path, temp.c_str(), temp.size() + 1);
    return true;
}

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// An unnamed file is given its name by linkat: from the descriptor itself where the run may
// (AT_EMPTY_PATH takes a privilege), else through /proc.
int link_unnamed(int fd, int dir, const char* temp) {
    if (::linkat(fd, "", dir, temp, AT_EMPTY_PATH) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
    return ::linkat(AT_FDCWD, fd_path(fd).c_str(), dir, temp, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// As sed -i does, where the result it replaces is the runner's own, or the run is root's: that
// result's owner and group where this run may give them (root may; a user may give a group of
// theirs), then its permission bits. A result of someone else's (planted where the run would
// write) lends nothing: the file gets the bits a new one has, as the umask allows. Taken as the
// result stands now, just before it is replaced.
void settle(int fd, int dir, const std::string& base) {
    struct stat st {};
    uid_t me = ::geteuid();
    if (::fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        (me == 0 || st.st_uid == me)) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) ::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        ::fchmod(fd, st.st_mode & 0777);  // its permissions, not its set-id bits
        return;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
}

}  // namespace

File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name) {
    int dir = static_cast<int>(place.directory);
    temp_path[0] = '\0';
    // Unnamed first: a run killed outright (SIGKILL, a power loss) then leaves nothing behind. It
    // gets a name only once complete, through /proc; a file system without such files, or a
    // system without /proc, has a named temporary instead. Readable by no one else while it is
    // written: it gets the result's owner and mode once complete.
    int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (::access(fd_path(fd).c_str(), F_OK) == 0) return fd;
        ::close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        int err = errno;
        raise(error_for_errno(err, PathFileAccess),
              system_error("creating " + escaped(name) + " (in " + escaped(directory_of(place.path)) + ")", err));
    }
    for (int attempt = 0;; ++attempt) {
        if (!temporary_name(place, temp_path, room)) raise(PathFileAccess, escaped(name) + ": name too long");
        fd = ::openat(dir, base_of(temp_path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        int err = errno;
        std::string temp = temp_path;
        temp_path[0] = '\0';
        if (err != EEXIST || attempt >= 100)
            raise(error_for_errno(err, PathFileAccess),
                  system_error("creating " + escaped(name) + " (as " + escaped(temp) + ")", err));
    }
}

void write(File file, std::string_view data, const std::string& name) {
    while (!data.empty()) {
        ssize_t n = ::write(static_cast<int>(file), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) raise_write_error("writing " + escaped(name), n < 0 ? errno : EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void sync(File file, const std::string& name) {
    if (::fsync(static_cast<int>(file)) != 0 && errno != EINVAL) raise_write_error("syncing " + escaped(name), errno);
}

// The owner and mode are given after the data's sync, so that a change made to the earlier result
// meanwhile is seen; they are journaled ahead of the rename, which the directory's sync then
// carries to the disk with them.
void replace(File file, char* temp_path, std::size_t room, const ResultPlace& place, const std::string& name) {
    int fd = static_cast<int>(file), dir = static_cast<int>(place.directory);
    for (int attempt = 0; !temp_path[0]; ++attempt) {
        if (!temporary_name(place, temp_path, room)) raise(PathFileAccess, escaped(name) + ": name too long");
        int err = link_unnamed(fd, dir, base_of(temp_path).c_str());
        if (!err) break;
        std::string temp = temp_path;
        temp_path[0] = '\0';
        if (err != EEXIST || attempt >= 100)
            raise(error_for_errno(err, PathFileAccess),
                  system_error("naming " + escaped(name) + " (as " + escaped(temp) + ")", err));
    }
    std::string base = base_of(place.path);
    settle(fd, dir, base);
    if (::renameat(dir, base_of(temp_path).c_str(), dir, base.c_str()) != 0)
        raise(error_for_errno(errno, PathFileAccess), system_error("replacing " + escaped(name), errno));
}

bool sync_directory(const ResultPlace& place, std::string& why) {
    // A directory that could not be opened for reading (no read permission) or cannot be synced
    // (a file system that has no such thing) is left as it is.
    int dir = static_cast<int>(place.directory);
    int flags = ::fcntl(dir, F_GETFL);
    if (flags == -1 || (flags & O_PATH)) return true;
    int failed = ::fsync(dir) != 0 ? errno : 0;
    if (!failed || failed == EINVAL || failed == EROFS || failed == EOPNOTSUPP || failed == ENOSYS) return true;
    why = std::strerror(failed);
    return false;
}

void remove_now(const char* path) noexcept { ::unlink(path); }

namespace {

// Why the module file at its real path (links resolved) is not to be run, or empty where it may
// be: it is root's or the runner's and no one else can write it; so is the folder it is in; and
// so is every folder above, up to /, but that one others can write may be sticky (as /tmp is),
// as no one can rename or remove what is not theirs there. Anyone else could put code of theirs
// in its place and have it run as the runner (as OpenSSH holds the files it trusts).
std::string distrusted(const std::string& real) {
    uid_t me = ::geteuid();
    struct stat st {};
    auto whose = [&](const std::string& path, bool own_folder) -> std::string {
        if (st.st_uid != 0 && st.st_uid != me) return escaped(path) + " is another user's";
        if (others_can_write(st) && (own_folder || !(st.st_mode & S_ISVTX)))
            return escaped(path) + " can be written by others";
        return "";
    };
    if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return escaped(real) + " is not a regular file";
    std::string why = whose(real, true);
    for (std::string dir = real; why.empty() && dir != "/";) {
        bool own_folder = dir == real;
        dir = directory_of(dir);
        if (::stat(dir.c_str(), &st) != 0) return system_error("examining " + escaped(dir), errno);
        why = whose(dir, own_folder);
    }
    return why;
}

// Why a link on the way to path (an absolute one, walked as the system would) is not to be
// followed, or empty: each link met is held to the rule for results' links, lest someone else
// choose which file of root's is run.
std::string untrusted_link(const std::string& path) {
    std::vector<std::string> todo;
    push_front(todo, path);
    std::string at = "/";  // the folder reached, with no link in its path
    int links = 0;
    while (!todo.empty()) {
        std::string part = todo.back();
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            at = directory_of(at);
            continue;
        }
        std::string entry = (at == "/" ? "" : at) + "/" + part;
        struct stat st {};
        struct stat dir {};
        if (::lstat(entry.c_str(), &st) != 0) return "";  // what is missing is not loaded anyway
        if (!S_ISLNK(st.st_mode)) {
            at = entry;
            continue;
        }
        if (::stat(at.c_str(), &dir) != 0 || !link_is_trusted(st, dir))
            return escaped(entry) + " is a link of another user in a folder others can write";
        char target[PATH_MAX];
        ssize_t n = ::readlink(entry.c_str(), target, sizeof target);
        if (++links > max_links || n <= 0 || n >= static_cast<ssize_t>(sizeof target))
            return escaped(entry) + " cannot be followed";
        if (target[0] == '/') at = "/";
        push_front(todo, std::string(target, static_cast<std::size_t>(n)));
    }
    return "";
}

}  // namespace

bool display_wanted() {
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* name = std::getenv(variable);
        if (name && *name) return true;
    }
    return false;
}

const DisplayModule* open_display(std::string& why, void (*lost)(int)) {
    // A Wayland desktop's display, or an X server's: the one asked for, or both, by name.
    std::string name;
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value) name += (name.empty() ? "" : " or ") + escaped(value);
    }
    if (name.empty()) {
        why = "no display (DISPLAY is not set)";
        return nullptr;
    }
    if (!TRIO_DISPLAY_MODULE) {
        why = "built without the window libraries (GTK and X11)";
        return nullptr;
    }
    // Code is loaded from absolute, installed places only, never from the data folder: beside the
    // program (the build tree) or in the library directory beside it, where the system tells where
    // the program is; and in the directory it was installed for. A place where someone else could
    // have put the module is passed over.
    std::string dir = program_directory();
    std::vector<std::string> places = {TRIO_MODULE_FULL_DIR};
    if (!dir.empty()) places.insert(places.begin(), {dir, dir + "/" + TRIO_MODULE_DIR});
    void* lib = nullptr;
    std::string refused;
    for (const std::string& place : places) {
        char real[PATH_MAX];
        if (place[0] != '/' || !::realpath((place + "/" + display_module_file).c_str(), real)) continue;
        std::string why_not = untrusted_link(place + "/" + display_module_file);
        if (why_not.empty()) why_not = distrusted(real);
        if (why_not.empty()) lib = ::dlopen(real, RTLD_NOW | RTLD_LOCAL);
        if (lib) break;
        if (!why_not.empty() && refused.empty())
            refused = "the display module " + escaped(real) + " is not used: " + why_not;
    }
    auto entry = lib ? reinterpret_cast<const DisplayModule* (*)()>(::dlsym(lib, display_module_entry)) : nullptr;
    if (!entry) {
        why = !lib && !refused.empty() ? refused
                                       : std::string("the display module ") + display_module_file + " cannot be loaded";
        return nullptr;
    }
    // From here on, what the libraries write to standard error never reaches the user.
    if (!keep_standard_error()) {
        why = "no display: standard error cannot be kept from the window libraries (no /dev/null)";
        return nullptr;
    }
    if (!entry()->open_display(lost)) {
        give_back_standard_error();
        why = "no display can be opened at " + name;
        return nullptr;
    }
    return entry();
}

}  // namespace rt::os
