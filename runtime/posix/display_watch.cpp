// The display's answers, watched from a thread of their own; and what the toolkit would otherwise
// take from the display: its handlers for the X library's errors, and the modules a server's
// settings name. The functions here that bear the X library's and GDK's names stand in for theirs
// within this module and the toolkit it loads (which looks them up here first), and call theirs.
#include "display_watch.hpp"

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <gdk/gdk.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <thread>

#define TRIO_STANDS_IN extern "C" __attribute__((visibility("default")))

namespace display {

namespace {

// How long the display may leave the program waiting for one answer; and for the whole of its
// start and the showing of a box or a window, which a desktop's dialog on an honest link across
// an ocean (about 107 round trips of 400 ms) is well within.
constexpr auto answer_bound = std::chrono::seconds(5);
constexpr auto shown_bound = std::chrono::seconds(55);

using Clock = std::chrono::steady_clock;
std::atomic<Clock::time_point> shown_by{};  // the time until_shown() set; none where none runs
std::atomic<Clock::time_point> waiting_since{};

std::atomic<int> waiting{0};           // Waiting scopes the program is in
std::atomic<int> connection{-1};       // the display's connection, once known
std::atomic<Display*> x{nullptr};      // the X connection the toolkit made, once made
pthread_t program_thread;              // the thread that waits on the display
void (*display_lost)() = nullptr;      // the module's, once watched
void (*display_given_up)() = nullptr;  // the module's, once watched

// Before the connection is known: the sockets the process had already (a standard stream may be
// one), which are not it.
constexpr int max_fds = 1024;
bool socket_before[max_fds];

bool is_socket(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// The connection shut down, so that the wait on it ends with the connection broken: the known
// one, or else every socket made since the wait began.
void shut_down() {
    if (int fd = connection; fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        return;
    }
    for (int fd = 0; fd < max_fds; ++fd)
        if (!socket_before[fd] && is_socket(fd)) ::shutdown(fd, SHUT_RDWR);
}

std::chrono::nanoseconds program_cpu_time(clockid_t clock) {
    struct timespec t {};
    ::clock_gettime(clock, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

// While the program waits, the display is silent where for answer_bound none of these happens:
// the program's thread runs (it is busy, not waiting); the X server answers a request (the last
// one it is known to have dealt with moves on); or an answer lies unread on the connection.
[[noreturn]] void watch_answers() {
    clockid_t clock{};
    bool has_clock = ::pthread_getcpuclockid(program_thread, &clock) == 0;
    auto last_sign = Clock::now();
    std::chrono::nanoseconds ran{};
    unsigned long dealt_with = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto now = Clock::now();
        bool sign = waiting == 0;
        if (has_clock) {
            auto cpu = program_cpu_time(clock);
            sign |= cpu != ran;
            ran = cpu;
        }
        if (Display* d = x) {
            unsigned long known =
                __atomic_load_n(&reinterpret_cast<_XPrivDisplay>(d)->last_request_read, __ATOMIC_RELAXED);
            sign |= known != dealt_with;
            dealt_with = known;
        }
        int unread = 0;
        if (int fd = connection; fd >= 0 && ::ioctl(fd, FIONREAD, &unread) == 0) sign |= unread > 0;
        if (Clock::time_point by = shown_by; by != Clock::time_point{} && now >= by) display_given_up();
        bool too_long = waiting > 0 && now - waiting_since.load() >= shown_bound;
        if (sign && !too_long) {
            last_sign = now;
        } else if (too_long || now - last_sign >= answer_bound) {
            shut_down();
            last_sign = now;
        }
    }
}

thread_local bool in_x_error = false;
XErrorHandler toolkit_x_error = nullptr;

// An X error goes to the toolkit's handler, which warns and ends the process where no request of
// its own asked for it; the warning is known for that by when it comes (handling_x_error).
int on_x_error(Display* d, XErrorEvent* e) {
    in_x_error = true;
    int r = toolkit_x_error ? toolkit_x_error(d, e) : 0;
    in_x_error = false;
    return r;
}

// The X library ends the process once this returns; lost() never returns into it. It takes the
// place of the toolkit's own handler, which says so in its own words and exits 1.
int on_x_lost(Display*) {
    display_lost();
    _exit(1);  // not reached: lost() ends the program
}

// The next definition of a function this file stands in for: the library's own.
template <class F>
F* next(const char* name) {
    return reinterpret_cast<F*>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

void watch(void (*lost)(), void (*given_up)()) {
    static bool started = false;
    if (started) return;
    started = true;
    display_lost = lost;
    display_given_up = given_up;
    program_thread = ::pthread_self();
    std::thread(watch_answers).detach();
}

void until_shown() {
    Clock::time_point none{};
    shown_by.compare_exchange_strong(none, Clock::now() + shown_bound);
}

void bound_met() { shown_by = Clock::time_point{}; }

Waiting::Waiting() {
    if (connection < 0)
        for (int fd = 0; fd < max_fds; ++fd) socket_before[fd] = is_socket(fd);
    if (waiting == 0) waiting_since = Clock::now();
    ++waiting;
}

Waiting::~Waiting() { --waiting; }

void connected(int fd) { connection = fd; }

bool handling_x_error() { return in_x_error; }

}  // namespace display

// The X connection, made within a Waiting scope (the server's answer to it is awaited like any
// other), then watched. While it is made, no earlier connection is the one waited on: a silence
// shuts the new socket.
TRIO_STANDS_IN Display* XOpenDisplay(const char* name) {
    static auto* open = display::next<Display*(const char*)>("XOpenDisplay");
    display::x = nullptr;
    display::connected(-1);
    display::Waiting waiting;
    Display* d = open ? open(name) : nullptr;
    if (d) {
        display::x = d;
        display::connected(ConnectionNumber(d));
    }
    return d;
}

// A connection closed is watched no more.
TRIO_STANDS_IN int XCloseDisplay(Display* d) {
    static auto* close = display::next<int(Display*)>("XCloseDisplay");
    if (d == display::x) {
        display::x = nullptr;
        display::connected(-1);
    }
    return close ? close(d) : 0;
}

// The toolkit's handler of X errors is called through this module's; the previous one it asks
// for back is its own.
TRIO_STANDS_IN XErrorHandler XSetErrorHandler(XErrorHandler handler) {
    static auto* set = display::next<XErrorHandler(XErrorHandler)>("XSetErrorHandler");
    XErrorHandler previous = display::toolkit_x_error;
    display::toolkit_x_error = handler;
    if (set) set(display::on_x_error);
    return previous;
}

// A lost X connection is this module's to report, whoever asks to handle it.
TRIO_STANDS_IN XIOErrorHandler XSetIOErrorHandler(XIOErrorHandler) {
    static auto* set = display::next<XIOErrorHandler(XIOErrorHandler)>("XSetIOErrorHandler");
    if (set) set(display::on_x_lost);
    return nullptr;
}

// Wayland's connection, watched once made.
TRIO_STANDS_IN wl_display* wl_display_connect(const char* name) {
    static auto* connect = display::next<wl_display*(const char*)>("wl_display_connect");
    display::Waiting waiting;
    wl_display* d = connect ? connect(name) : nullptr;
    if (d) display::connected(wl_display_get_fd(d));
    return d;
}

namespace display {
namespace {

bool named(const gchar* name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name && std::strcmp(name, n) == 0) return true;
    return false;
}

// A theme's name, not a path: no folder of someone else's is read as a theme.
bool plain_name(const GValue* value) {
    const gchar* text = G_VALUE_HOLDS_STRING(value) ? g_value_get_string(value) : nullptr;
    return !text || (!std::strchr(text, '/') && text[0] != '.');
}

}  // namespace
}  // namespace display

// No code is loaded because a display says so, nor files of someone else's: the modules and the
// input method that a server's settings name (any client of the server may publish them) are not
// the toolkit's to take, nor a theme named by a path. Its modules come from the user's own
// GTK_MODULES alone.
TRIO_STANDS_IN gboolean gdk_screen_get_setting(GdkScreen* screen, const gchar* name, GValue* value) {
    static auto* get = display::next<gboolean(GdkScreen*, const gchar*, GValue*)>("gdk_screen_get_setting");
    if (display::named(name, {"gtk-modules", "gtk-im-module"})) return FALSE;
    if (!get || !get(screen, name, value)) return FALSE;
    if (display::named(name, {"gtk-theme-name", "gtk-key-theme-name", "gtk-icon-theme-name", "gtk-cursor-theme-name",
                              "gtk-sound-theme-name"}) &&
        !display::plain_name(value)) {
        g_value_reset(value);
        return FALSE;
    }
    return TRUE;
}
