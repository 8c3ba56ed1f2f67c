#include "xserver.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "support.hpp"

namespace test {

namespace {

// Whether no X server on the machine has display number n: neither its lock file in /tmp nor its
// abstract socket is taken. The abstract socket is the whole machine's (a chroot's /tmp is its
// own), and clients try it first: a server elsewhere that has it would shadow ours.
bool display_number_free(int n) {
    if (::access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) return false;
    std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // sun_path[0] stays 0: abstract
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool free = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address),
                                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) == 0;
    if (s >= 0) ::close(s);
    return free;
}

}  // namespace

XServer::XServer(bool refusing, bool resetting) {
    if (refusing) {  // one MIT-MAGIC-COOKIE-1 for any address and display (FamilyWild), made up here
        char name[] = "/tmp/trio-cookies-XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) return;
        std::string entry("\xff\xff\0\0\0\0\0\x12MIT-MAGIC-COOKIE-1\0\x10", 28);
        for (int i = 0; i < 16; ++i) entry += static_cast<char>(std::rand());
        bool written = ::write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
        ::close(fd);
        cookies_ = name;
        if (!written) return;
    }
    // From a number of its own on, so that tests run side by side seldom try the same; a number
    // another server takes meanwhile fails that server's start, and the next is tried.
    for (int n = 200 + ::getpid() % 500, tries = 0; display_.empty() && tries < 100; ++n, ++tries) {
        if (display_number_free(n)) start(n, resetting);
    }
}

// Starts Xvfb on display n; display_ is set once it is ready.
void XServer::start(int n, bool resetting) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the tests, even when they are killed
        ::close(fds[0]);
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        std::string display = ":" + std::to_string(n), fd = std::to_string(fds[1]);
        std::vector<const char*> argv = {"Xvfb", display.c_str(), "-displayfd", fd.c_str(), "-screen",
                                         "0",    "1600x1200x24",  "-nolisten",  "tcp"};
        if (!resetting) argv.push_back("-noreset");
        if (!cookies_.empty()) argv.insert(argv.end(), {"-auth", cookies_.c_str()});
        argv.push_back(nullptr);
        execvp("Xvfb", const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    // Xvfb writes the display number once it is ready. The pipe stays open while it runs: it may
    // write the number again, and a write to a closed pipe is fatal to it.
    ssize_t n_read = ::read(fds[0], buf, sizeof buf - 1);
    if (n_read <= 0) {  // it did not start: the number was taken meanwhile
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
        return;
    }
    pid_ = pid;
    number_pipe_ = fds[0];
    display_ = ":" + std::to_string(n);
}

XServer::~XServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);  // a stopped server too
        ::waitpid(pid_, nullptr, 0);
    }
    if (number_pipe_ >= 0) ::close(number_pipe_);
    if (!cookies_.empty()) ::unlink(cookies_.c_str());
}

std::string XServer::shell(const std::string& command) const {
    std::string full = "DISPLAY=" + display_ + " " + command + " 2>/dev/null";
    std::string out;
    if (FILE* p = ::popen(full.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

unsigned long XServer::wait_for_window(const std::string& name_regex, int timeout_ms) const {
    if (windows()) timeout_ms *= 3;  // Wine's first window on a display takes seconds
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until) {
        std::string ids = shell("xdotool search --onlyvisible --name '" + name_regex + "'");
        if (!ids.empty()) {
            // Under Wine a window is mapped a little before it takes input.
            if (windows()) std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return std::stoul(ids);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "no window matches %s on %s; windows there: %s\n", name_regex.c_str(), display_.c_str(),
                 shell("xdotool search --name '.*' getwindowname %@").c_str());
    return 0;
}

void XServer::stop() const {
    if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void XServer::set_resources(int mib) const {
    Display* d = XOpenDisplay(display_.c_str());
    if (!d) return;
    Atom resources = XInternAtom(d, "RESOURCE_MANAGER", False);
    XChangeProperty(d, DefaultRootWindow(d), resources, XA_STRING, 8, PropModeReplace, nullptr, 0);
    // A MiB at a time, as no one request takes it all; each line a name of its own, which the X
    // library takes the longer to read the more there are (10 MiB half a minute, 30 five).
    for (int i = 0; i < mib; ++i) {
        std::string piece;
        for (int n = 0; piece.size() < (1 << 20) - 64; ++n)
            piece += "*r" + std::to_string(i) + "_" + std::to_string(n) + ": a value\n";
        XChangeProperty(d, DefaultRootWindow(d), resources, XA_STRING, 8, PropModeAppend,
                        reinterpret_cast<const unsigned char*>(piece.data()), static_cast<int>(piece.size()));
    }
    XSync(d, False);
    XCloseDisplay(d);
}

void XServer::request_close(unsigned long window) const {
    Display* d = XOpenDisplay(display_.c_str());
    if (!d) return;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &e);
    XFlush(d);
    XCloseDisplay(d);
}

std::vector<unsigned long> XServer::pixels(unsigned long window, int x, int y, int w, int h, int timeout_ms) const {
    Display* d = XOpenDisplay(display_.c_str());
    if (!d) return {};
    // A window that goes away meanwhile is an empty answer, not the end of the tests.
    auto previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<unsigned long> last, found;
    while (found.empty() && std::chrono::steady_clock::now() < until) {
        std::vector<unsigned long> now;
        if (XImage* image =
                XGetImage(d, window, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap)) {
            for (int row = 0; row < h; ++row)
                for (int column = 0; column < w; ++column) now.push_back(XGetPixel(image, column, row));
            XDestroyImage(image);
        }
        bool drawn = std::adjacent_find(now.begin(), now.end(), std::not_equal_to<>()) != now.end();
        if (drawn && now == last) found = now;
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XSetErrorHandler(previous);
    XCloseDisplay(d);
    return found;
}

namespace {

// Starts a helper that ends with the tests, its output to out_fd (or nowhere) and its input from
// in_fd (or nothing), in the environment given on top of the tests' own.
int start(const std::vector<std::string>& argv, const std::vector<std::string>& environment, int out_fd = -1,
          int in_fd = -1) {
    pid_t pid = fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = ::open("/dev/null", O_RDWR);
        dup2(in_fd >= 0 ? in_fd : null, 0), dup2(null, 2);
        dup2(out_fd >= 0 ? out_fd : null, 1);
        for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

Meddler::Meddler(const XServer& to, int round_trip_ms, const char* how) {
    int fds[2], told[2];
    if (pipe(fds) != 0) return;
    if (pipe2(told, O_CLOEXEC) != 0) {
        ::close(fds[0]), ::close(fds[1]);
        return;
    }
    pid_ = start({"/usr/bin/python3", TRIO_X_MEDDLER, to.display().substr(1), std::to_string(round_trip_ms), how}, {},
                 fds[1], told[0]);
    ::close(fds[1]);
    ::close(told[0]);
    tell_ = told[1];
    char buf[32] = {};
    ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    ::close(fds[0]);
    if (n > 0) display_ = ":" + std::string(buf, static_cast<std::size_t>(n - (buf[n - 1] == '\n')));
}

Meddler::~Meddler() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    if (tell_ >= 0) ::close(tell_);
}

void Meddler::meddle() const {
    if (tell_ >= 0 && ::write(tell_, "\n", 1) != 1) {
    }
}

SettingsOwner::SettingsOwner(const XServer& on, const std::string& modules) {
    display_ = XOpenDisplay(on.display().c_str());
    if (!display_) return;
    Window owner = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    Atom selection = XInternAtom(display_, "_XSETTINGS_S0", False);
    Atom settings = XInternAtom(display_, "_XSETTINGS_SETTINGS", False);
    // The settings as the XSETTINGS format has them: byte order, serial, count; then each
    // setting's type (1: a string), name, last change and value, each padded to 4 bytes.
    std::string data;
    auto card32 = [&](std::uint32_t v) { data.append(reinterpret_cast<const char*>(&v), 4); };
    auto padded = [&](const std::string& s) { data += s + std::string((4 - s.size() % 4) % 4, '\0'); };
    const std::string name = "Gtk/Modules";
    data += std::string{static_cast<char>(LSBFirst), 0, 0, 0};
    card32(0);
    card32(1);
    auto length = static_cast<std::uint16_t>(name.size());
    data += std::string{1, 0} + std::string(reinterpret_cast<const char*>(&length), 2);
    padded(name);
    card32(0);
    card32(static_cast<std::uint32_t>(modules.size()));
    padded(modules);
    XChangeProperty(display_, owner, settings, settings, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    XSetSelectionOwner(display_, selection, owner, CurrentTime);
    XSync(display_, False);
    owns_ = XGetSelectionOwner(display_, selection) == owner;
}

SettingsOwner::~SettingsOwner() {
    if (display_) XCloseDisplay(display_);
}

AccessibilityBus::AccessibilityBus(const XServer& on) : x_(on) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pids_.push_back(start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, fds[1]));
    ::close(fds[1]);
    char buf[512] = {};
    ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    ::close(fds[0]);
    if (n <= 0) return;
    address_.assign(buf, static_cast<std::size_t>(n));
    address_.erase(address_.find_last_not_of('\n') + 1);
    std::vector<std::string> env = environment();
    env.push_back("DISPLAY=" + x_.display());
    pids_.push_back(start({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, env));
    pids_.push_back(start({"/usr/libexec/at-spi2-registryd"}, env));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!ready_ && std::chrono::steady_clock::now() < until) {
        ready_ = x_.shell("DBUS_SESSION_BUS_ADDRESS='" + address_ + "' timeout 5 /usr/bin/python3 " +
                          TRIO_ATSPI_CLIENT + " ready && echo ready") == "ready\n";
        if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

AccessibilityBus::~AccessibilityBus() {
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        ::kill(*pid, SIGTERM);
        ::waitpid(*pid, nullptr, 0);
    }
}

Compositor::Compositor() {
    char name[] = "/tmp/trio-wayland-XXXXXX";
    if (!::mkdtemp(name)) return;
    directory_ = name;
    // Newer weston names its backends short; Debian 12's (weston 10) by their module's file.
    for (const char* backend : {"--backend=headless", "--backend=headless-backend.so"}) {
        pid_ = start({"/usr/bin/weston", backend, "--socket=trio", "--idle-time=0"}, {"XDG_RUNTIME_DIR=" + directory_});
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            if (::access((directory_ + "/trio").c_str(), F_OK) == 0) {
                socket_ = "trio";
                return;
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;  // a backend it does not know
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

Compositor::~Compositor() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (directory_.empty()) return;
    for (const char* file : {"/trio", "/trio.lock"}) ::unlink((directory_ + file).c_str());
    ::rmdir(directory_.c_str());
}

std::string AccessibilityBus::read(const std::string& app, bool press) const {
    return x_.shell("DBUS_SESSION_BUS_ADDRESS='" + address_ + "' timeout 20 /usr/bin/python3 " + TRIO_ATSPI_CLIENT +
                    " '" + app + "'" + (press ? " press" : ""));
}

}  // namespace test
