// The operating system on Linux and other POSIX systems.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display.hpp"
#include "errors.hpp"
#include "os.hpp"

#ifndef TRIO_MODULE_DIR
#define TRIO_MODULE_DIR "../lib/trio"
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
    const char* how = sig == SIGINT ? "interrupted (SIGINT)" : sig == SIGTERM ? "terminated (SIGTERM)" : "hung up (SIGHUP)";
    if (stop_callback) stop_callback(how);
    _exit(128 + sig);
}

std::string program_directory() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    return directory_of(std::string(path, static_cast<std::size_t>(n)));
}

}  // namespace

void prepare_standard_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) _exit(DeviceIO);
    }
}

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
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
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
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
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
// (A to Z), sorted, each with the name's directory before it. They differ from it in letters
// alone, so a report shows them as plainly as it shows the name.
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
    std::string what = name;  // the file opened, as reports name it
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        std::vector<std::string> others = names_differing_in_case(name);
        if (others.size() > 1) {
            std::string list;
            for (const std::string& other : others) list += (list.empty() ? "" : ", ") + other;
            raise(FileNotFound, name + " is missing, and " + std::to_string(others.size()) +
                                    " files differ from it only in case: " + list);
        }
        if (others.size() == 1) {
            what = others[0] + " (for " + name + ")";
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
        if (errno != EINTR) raise(DeviceIO, system_error("reading " + name, errno));
    }
}

void close(File file) noexcept {
    if (file != no_file) ::close(static_cast<int>(file));
}

ResultPlace resolve_result(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) {
        if (errno == ENOENT) return {name, false, std::nullopt};
        raise(error_for_errno(errno, PathFileAccess), system_error("opening " + name, errno));
    }
    if (!S_ISLNK(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) raise(PathFileAccess, name + " is a directory");
        if (::access(name.c_str(), W_OK) != 0) raise(PermissionDenied, name + " is not writable");
        if (S_ISREG(st.st_mode)) return {name, false, st.st_mode & 0777};  // its permissions, not set-id bits
        return {name, false, std::nullopt};
    }

    // A link planted by someone else in a shared, sticky directory (/tmp) is not followed, lest
    // it have our run replace a file of its choosing: the system's own guard (protected_symlinks),
    // applied here too where the system has it off.
    struct stat dir {};
    if (::stat(directory_of(name).c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) &&
        st.st_uid != ::geteuid() && st.st_uid != dir.st_uid)
        raise(PermissionDenied, name + " is a link of another user in a shared directory; not followed");

    // The link is followed as the user's own open would follow it, system guards included; the
    // result goes to the file that was opened. A link that leads nowhere yet creates its file.
    ResultPlace place;
    int fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        place.created = fd >= 0;
    }
    if (fd < 0) raise(error_for_errno(errno, PathFileAccess), system_error("opening " + name, errno));
    char opened[PATH_MAX];
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = ::readlink(self.c_str(), opened, sizeof opened - 1);
    int err = errno;
    struct stat target {};
    ::fstat(fd, &target);
    ::close(fd);
    if (n > 0) place.path.assign(opened, static_cast<std::size_t>(n));
    if (n <= 0 || !S_ISREG(target.st_mode)) {
        if (place.created && n > 0) ::unlink(place.path.c_str());
        if (n <= 0) raise(PathFileAccess, system_error("finding the file " + name + " leads to", err));
        raise(PathFileAccess, name + " leads to " + place.path + ", which is not a regular file");
    }
    if (!place.created) place.mode = target.st_mode & 0777;
    return place;
}

File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name) {
    std::string dir = place.path.substr(0, place.path.rfind('/') + 1);  // with its slash; empty for "here"
    std::string base = place.path.substr(dir.size());
    for (int attempt = 0;; ++attempt) {
        std::string temp = dir + "." + base + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (temp.size() >= room) raise(PathFileAccess, name + ": name too long");
        std::memcpy(temp_path, temp.c_str(), temp.size() + 1);
        int fd = ::open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (place.mode) ::fchmod(fd, *place.mode);
            return fd;
        }
        int err = errno;
        temp_path[0] = '\0';
        if (err != EEXIST || attempt > 100)
            raise(error_for_errno(err, PathFileAccess), system_error("creating " + name + " (as " + temp + ")", err));
    }
}

void write(File file, std::string_view data, const std::string& name) {
    while (!data.empty()) {
        ssize_t n = ::write(static_cast<int>(file), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) raise_write_error("writing " + name, n < 0 ? errno : EIO);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

void sync(File file, const std::string& name) {
    if (::fsync(static_cast<int>(file)) != 0 && errno != EINVAL) raise_write_error("syncing " + name, errno);
}

void replace(const char* temp, const std::string& path, const std::string& name) {
    if (::rename(temp, path.c_str()) != 0)
        raise(error_for_errno(errno, PathFileAccess), system_error("replacing " + name, errno));
}

void sync_directory(const std::string& path, const std::string& name) {
    // A directory that cannot be opened (no read permission) or synced (a file system that has
    // no such thing) is left as it is.
    int dir = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    int failed = ::fsync(dir) != 0 ? errno : 0;
    ::close(dir);
    if (failed && failed != EINVAL && failed != EROFS) raise_write_error("syncing the directory of " + name, failed);
}

void remove_now(const char* path) noexcept { ::unlink(path); }

const DisplayModule* open_display(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        why = "no display (DISPLAY is not set)";
        return nullptr;
    }
    // Beside the program in the build tree; in the library directory once installed.
    std::string dir = program_directory();
    void* lib = nullptr;
    for (std::string place : {dir, dir + "/" + TRIO_MODULE_DIR}) {
        lib = ::dlopen((place + "/" + display_module_file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib) break;
    }
    auto entry = lib ? reinterpret_cast<const DisplayModule* (*)()>(::dlsym(lib, display_module_entry)) : nullptr;
    if (!entry) {
        why = std::string("the display module ") + display_module_file + " cannot be loaded";
        return nullptr;
    }
    if (!entry()->open_display()) {
        why = std::string("no display can be opened at ") + name;
        return nullptr;
    }
    return entry();
}

}  // namespace rt::os
