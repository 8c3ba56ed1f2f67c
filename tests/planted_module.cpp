// A module that someone else planted: should it ever be loaded, it leaves a mark, where
// TRIO_PLANTED_MARK says or in the current directory.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

[[gnu::constructor]] static void planted() {
    const char* mark = std::getenv("TRIO_PLANTED_MARK");
    int fd = ::open(mark ? mark : "planted-module-ran", O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) ::close(fd);
}
