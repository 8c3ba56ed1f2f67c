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

// Past the deadline, the connection to the X server is shut down (the program has no other
// socket), so that the call waiting on it returns with the connection broken.
extern "C" void on_deadline(int) {
    struct stat st;
    for (int fd = 0; fd < 1024; ++fd)
        if (::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) ::shutdown(fd, SHUT_RDWR);
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
    {
        Deadline deadline;
        d = XOpenDisplay(nullptr);
    }
    if (!d) return 0;
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
