// A module that someone else planted in a data folder: should it ever be loaded, it leaves a mark.
#include <fcntl.h>
#include <unistd.h>

[[gnu::constructor]] static void planted() {
    int fd = ::open("planted-module-ran", O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) ::close(fd);
}
