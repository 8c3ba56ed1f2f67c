// The operating system on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

void (*stop_callback)(const char*) = nullptr;
sigset_t held_mask;

extern "C" void on_stop_signal(int sig) {
    const char* how = sig == SIGINT    ? "interrupted (SIGINT)"
                      : sig == SIGTERM ? "terminated (SIGTERM)"
                      : sig == SIGQUIT ? "quit (SIGQUIT)"
                                       : "hung up (SIGHUP)";
    if (stop_callback) stop_callback(how);
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
bool standard_error_is_seen() { return ::isatty(STDIN_FILENO) == 1 || ::isatty(STDERR_FILENO) == 1; }

bool write_standard(Stream stream, std::string_view text, std::string* why) {
    int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
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
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop.sa_mask, sig);  // one stop at a time
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction was {};
        if (::sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;  // as nohup wants
        ::sigaction(sig, &stop, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

void hold_stops() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stops, sig);
    ::sigprocmask(SIG_BLOCK, &stops, &held_mask);
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
// the same file: where the exact name is missing, the one file whose name differs from it only
// in case is read instead. Between two or more there is no telling which was meant.
File open_input(const std::string& name) {
    std::string what = escaped(name);  // the file opened, as reports name it
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
            what = escaped(others[0]) + " (for " + escaped(name) + ")";
            fd = ::open(others[0].c_str(), O_RDONLY | O_CLOEXEC);
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

}  // namespace

ResultPlace resolve_result(const std::string& name) {
    const std::string shown = escaped(name);
    Walk walk;
    std::vector<std::string> todo;  // components still to walk, the next one last
    push_front(todo, name);
    int links = 0;
    while (!todo.empty()) {
        std::string part = todo.back();
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            walk.up();
            continue;
        }
        std::string path = walk.with(part);
        bool last = todo.empty();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            int err = errno;
            if (err == ENOENT && last) {  // a new result, here or where the links lead
                ResultPlace place;
                place.path = path;
                return place;
            }
            std::string where = links ? shown + " leads to " + escaped(path) : shown;
            raise(error_for_errno(err, PathFileAccess), system_error("opening " + where, err));
        }
        if (S_ISLNK(st.st_mode)) {
            // A link planted by someone else in a shared, sticky directory (/tmp) is not followed,
            // lest it have our run replace a file of its choosing: the system's own guard
            // (protected_symlinks) for every link on the way, applied here where the system has it off.
            struct stat dir {};
            if (::stat(walk.path().c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) &&
                st.st_uid != ::geteuid() && st.st_uid != dir.st_uid)
                raise(PermissionDenied, (links ? shown + " leads to " + escaped(path) + ", which" : shown) +
                                            " is a link of another user in a shared directory; not followed");
            if (++links > max_links)
                raise(PathFileAccess, shown + " leads through more than " + std::to_string(max_links) + " links");
            std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
            ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
                raise(PathFileAccess, system_error("reading the link " + escaped(path), n < 0 ? errno : EIO));
            std::string text(target.data(), static_cast<std::size_t>(n));
            if (text[0] == '/') walk = Walk{true, {}};
            push_front(todo, text);
            continue;
        }
        if (!last && !S_ISDIR(st.st_mode))
            raise(PathFileAccess, system_error("opening " + shown + " leads to " + escaped(path), ENOTDIR));
        if (!last) {
            walk.parts.push_back(part);
            continue;
        }
        std::string what = links ? shown + " leads to " + escaped(path) + ", which" : shown;
        if (S_ISDIR(st.st_mode)) raise(PathFileAccess, what + " is a directory");
        // A FIFO, a socket or a device is no place for a result, and is left as it is.
        if (!S_ISREG(st.st_mode)) raise(PathFileAccess, what + " is not a regular file");
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) raise(PermissionDenied, what + " is not writable");
        ResultPlace place;
        place.path = path;
        place.mode = st.st_mode & 0777;  // its permissions, not its set-id bits
        place.owner = ResultPlace::Owner{st.st_uid, st.st_gid};
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

}  // namespace

File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name) {
    std::string dir = place.path.substr(0, place.path.rfind('/') + 1);  // with its slash; empty for "here"
    std::string base = place.path.substr(dir.size());
    for (int attempt = 0;; ++attempt) {
        std::string temp = dir + "." + base + ".tmp" + unforeseeable();
        if (temp.size() >= room) raise(PathFileAccess, escaped(name) + ": name too long");
        std::memcpy(temp_path, temp.c_str(), temp.size() + 1);
        // Readable by no one else while it is written: it gets the result's owner and mode once complete.
        int fd = ::open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        int err = errno;
        temp_path[0] = '\0';
        if (err != EEXIST || attempt >= 100)
            raise(error_for_errno(err, PathFileAccess),
                  system_error("creating " + escaped(name) + " (as " + escaped(temp) + ")", err));
    }
}

// As sed -i does: the earlier result's owner and group where this run may give them (root may;
// a user may give a group of theirs), then its permission bits, or those a new file would have.
void settle(File file, const ResultPlace& place) {
    int fd = static_cast<int>(file);
    if (place.owner && ::fchown(fd, place.owner->uid, place.owner->gid) != 0)
        ::fchown(fd, static_cast<uid_t>(-1), place.owner->gid);
    unsigned mode = 0;
    if (place.mode) {
        mode = *place.mode;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, static_cast<mode_t>(mode));
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

void replace(const char* temp, const std::string& path, const std::string& name) {
    if (::rename(temp, path.c_str()) != 0)
        raise(error_for_errno(errno, PathFileAccess), system_error("replacing " + escaped(name), errno));
}

bool sync_directory(const std::string& path, std::string& why) {
    // A directory that cannot be opened (no read permission) or synced (a file system that has
    // no such thing) is left as it is.
    int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 && (errno == EACCES || errno == EPERM)) return true;
    if (dir < 0) {
        why = std::strerror(errno);
        return false;
    }
    int failed = ::fsync(dir) != 0 ? errno : 0;
    ::close(dir);
    if (!failed || failed == EINVAL || failed == EROFS || failed == EOPNOTSUPP || failed == ENOSYS) return true;
    why = std::strerror(failed);
    return false;
}

void remove_now(const char* path) noexcept { ::unlink(path); }

const DisplayModule* open_display(std::string& why, void (*lost)(int)) {
    // A Wayland desktop's display, or an X server's.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) name = std::getenv("DISPLAY");
    if (!name || !*name) {
        why = "no display (DISPLAY is not set)";
        return nullptr;
    }
    if (!TRIO_DISPLAY_MODULE) {
        why = "built without the window libraries (GTK and X11)";
        return nullptr;
    }
    // Code is loaded from absolute, installed places only, never from the data folder: beside the
    // program (the build tree) or in the library directory beside it, where the system tells where
    // the program is; and in the directory it was installed for.
    std::string dir = program_directory();
    std::vector<std::string> places = {TRIO_MODULE_FULL_DIR};
    if (!dir.empty()) places.insert(places.begin(), {dir, dir + "/" + TRIO_MODULE_DIR});
    void* lib = nullptr;
    for (const std::string& place : places) {
        if (place[0] != '/') continue;
        lib = ::dlopen((place + "/" + display_module_file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib) break;
    }
    auto entry = lib ? reinterpret_cast<const DisplayModule* (*)()>(::dlsym(lib, display_module_entry)) : nullptr;
    if (!entry) {
        why = std::string("the display module ") + display_module_file + " cannot be loaded";
        return nullptr;
    }
    if (!entry()->open_display(lost)) {
        why = "no display can be opened at " + escaped(name);
        return nullptr;
    }
    return entry();
}

}  // namespace rt::os
