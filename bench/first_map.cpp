// first_map COMMAND [ARG...]: starts the command on the X display and prints, in milliseconds, the
// time from its start to the mapping of its first top-level window; then ends it. For comparing the
// first map of the box with a plain toolkit dialog's (scripts/bench.sh).
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "first_map: usage: first_map COMMAND [ARG...]\n");
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "first_map: no X display can be opened\n");
        return 1;
    }
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    auto until = start + std::chrono::seconds(10);
    double ms = -1;
    while (ms < 0 && std::chrono::steady_clock::now() < until) {
        if (!XPending(d)) {
            pollfd p{ConnectionNumber(d), POLLIN, 0};
            poll(&p, 1, 100);
            continue;
        }
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify)
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XCloseDisplay(d);
    if (ms < 0) {
        std::fprintf(stderr, "first_map: %s mapped no window within 10 s\n", argv[1]);
        return 1;
    }
    std::printf("%.1f\n", ms);
    return 0;
}
