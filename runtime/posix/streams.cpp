// The standard streams and the process, on POSIX: descriptors 0 to 2 made safe, standard error
// kept from the window libraries while a display is open, writing and ending.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "os.hpp"
#include "posix.hpp"

namespace rt::os {

namespace {

// Standard error as the program has it. While a display is open, descriptor 2 is not the
// program's: the window libraries and the X library write there directly, in words of their own
// and in bytes a server chose (an assertion ending the process, a refusal), so it is /dev/null
// then, and the program's own lines go to the copy kept here.
int error_stream = STDERR_FILENO;

}  // namespace

int error_descriptor() { return error_stream; }

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

void prepare_standard_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) _exit(DeviceIO);
    }
}

// The one library loaded at run time, the display module, is opened by absolute path only
// (display.cpp), so there is nothing more to restrict.
void restrict_library_loading() {}

// At a terminal when standard input or standard error is one; from the desktop, neither is.
bool standard_error_is_seen() { return ::isatty(STDIN_FILENO) == 1 || ::isatty(error_stream) == 1; }

bool write_standard(Stream stream, std::string_view text, std::string* why) {
    int fd = stream == Stream::Output ? STDOUT_FILENO : error_stream;
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (why) *why = system_words(n < 0 ? errno : EIO);
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void exit_now(int status) { _exit(status); }

const std::string_view line_end = "\n";

}  // namespace rt::os
