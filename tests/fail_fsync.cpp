// Preloaded into a program under test (LD_PRELOAD), makes fsync and fdatasync fail with EIO, as a
// failing disk would, on the descriptors that TRIO_FAIL_FSYNC names: "file" (a regular file: a
// result before it is moved into place) or "directory" (the directory synced after the move).
// Every other sync goes to the system. Where TRIO_NO_TMPFILE is set, an open for an unnamed file
// (O_TMPFILE) fails as on a file system that has none (EOPNOTSUPP).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool fails(int fd) {
    const char* which = std::getenv("TRIO_FAIL_FSYNC");
    struct stat st {};
    if (!which || ::fstat(fd, &st) != 0) return false;
    return (std::strcmp(which, "file") == 0 && S_ISREG(st.st_mode)) ||
           (std::strcmp(which, "directory") == 0 && S_ISDIR(st.st_mode));
}

int sync_or_fail(long call, int fd) {
    if (fails(fd)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(call, fd));
}

bool refused(int flags) {
    if ((flags & O_TMPFILE) != O_TMPFILE || !std::getenv("TRIO_NO_TMPFILE")) return false;
    errno = EOPNOTSUPP;
    return true;
}

}  // namespace

extern "C" {
int openat(int dir, const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    return refused(flags) ? -1 : static_cast<int>(::syscall(SYS_openat, dir, path, flags, mode));
}
int openat64(int dir, const char* path, int flags, ...) __attribute__((alias("openat")));  // the same call
int fsync(int fd) { return sync_or_fail(SYS_fsync, fd); }
int fdatasync(int fd) { return sync_or_fail(SYS_fdatasync, fd); }
}
