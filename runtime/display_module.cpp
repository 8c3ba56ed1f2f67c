// The window and the message box, with FLTK; built as a module that the runtime loads only
// when a display is wanted. Kept apart from the rest: Xlib's macros leak into whatever includes it.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "display.hpp"

namespace {

// How long the X server may take to answer at the start of a connection, a box or a window.
constexpr unsigned answer_seconds = 5;

// The connection to the X server once open; before that, the sockets the process had already
// (a standard stream may be one), which are not the connection being made.
int x_connection = -1;
constexpr int max_fds = 1024;
bool socket_before[max_fds];

bool is_socket(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Past the deadline, the connection to the X server is shut down, so that the call waiting on it
// returns with the connection broken.
extern "C" void on_deadline(int) {
    if (x_connection >= 0) {
        ::shutdown(x_connection, SHUT_RDWR);
        return;
    }
    for (int fd = 0; fd < max_fds; ++fd)
        if (!socket_before[fd] && is_socket(fd)) ::shutdown(fd, SHUT_RDWR);
}

// A server that takes the connection and never answers (a stopped one) must not hold the
// program for ever: what is asked of it within this scope is given answer_seconds.
class Deadline {
  public:
    Deadline() {
        struct sigaction act {};
        act.sa_handler = on_deadline;
        sigemptyset(&act.sa_mask);
        ::sigaction(SIGALRM, &act, &was_);
        ::alarm(answer_seconds);
    }
    ~Deadline() {
        ::alarm(0);
        ::sigaction(SIGALRM, &was_, nullptr);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    struct sigaction was_ {};
};

void (*lost)(int) = nullptr;
int status_if_lost = 0;

// The X library ends the process once this returns; the runtime's lost() never returns into it.
int on_display_lost(Display*) {
    lost(status_if_lost);
    _exit(status_if_lost);
}

// Probes the display before FLTK touches it: FLTK ends the process when it cannot open one, and
// says so in its own words when the display goes away later.
int open_display(void (*on_lost)(int)) {
    Display* d = nullptr;
    for (int fd = 0; fd < max_fds; ++fd) socket_before[fd] = is_socket(fd);
    {
        Deadline deadline;
        d = XOpenDisplay(nullptr);
    }
    if (!d) return 0;
    x_connection = ConnectionNumber(d);
    lost = on_lost;
    fl_open_display(d);
    XSetIOErrorHandler(on_display_lost);
    return 1;
}

// Whether the server still answers, within the deadline; where it does not, the connection is
// shut down and on_display_lost ends the program.
void check_server() {
    Deadline deadline;
    XSync(fl_display, False);
}

int message_box(const char* title, const char* prompt, rt::BoxLook look, int status_if_lost_) {
    status_if_lost = status_if_lost_;
    check_server();
    fl_close = "OK";  // the one button; Return, Escape, a click and the window manager's close dismiss it
    fl_message_hotspot(0);
    fl_message_title(title);
    if (look == rt::BoxLook::error)
        fl_alert("%s", prompt);  // the alert's "!" rather than the message's "i"
    else
        fl_message("%s", prompt);
    return 1;
}

// An ordinary window: Escape does not close it, the window manager's close does.
void on_close(Fl_Widget* window, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    window->hide();
}

// The X screen is taken at 96 dots per inch, as X desktops lay themselves out by default.
constexpr int dpi = 96;

int show_window(const char* caption, int x, int y, int w, int h) {
    status_if_lost = 0;
    Fl_Window window(rt::twips_to_pixels(x, dpi), rt::twips_to_pixels(y, dpi), rt::twips_to_pixels(w, dpi),
                     rt::twips_to_pixels(h, dpi), caption);
    window.callback(on_close);
    window.resizable(&window);
    window.end();
    window.show();
    check_server();
    Fl::run();
    return 1;
}

const rt::DisplayModule module{open_display, message_box, show_window};

}  // namespace

extern "C" __attribute__((visibility("default"))) const rt::DisplayModule* trio_display_module() { return &module; }
