// The window and the message box, with FLTK; built as a module that the runtime loads only
// when a display is wanted. Kept apart from the rest: Xlib's macros leak into whatever includes it.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

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

// What the X library prints while it connects (why the server refused, in the server's words,
// any bytes it likes) is the runtime's to report, on one line and escaped: standard error goes to
// a pipe meanwhile, which takes what fits and drops the rest rather than hold the library.
class Captured {
  public:
    Captured() {
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
        saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (saved_ < 0 || ::dup2(pipe_[1], STDERR_FILENO) < 0) return;
        capturing_ = true;
    }
    bool capturing() const { return capturing_; }
    // Standard error back as it was, and what was written to it meanwhile.
    void end(char* said, int room) {
        std::fflush(stderr);
        if (capturing_) ::dup2(saved_, STDERR_FILENO);
        capturing_ = false;
        ssize_t n = room > 0 && pipe_[0] >= 0 ? ::read(pipe_[0], said, static_cast<std::size_t>(room - 1)) : -1;
        if (room > 0) said[n > 0 ? n : 0] = '\0';
    }
    ~Captured() {
        if (capturing_) ::dup2(saved_, STDERR_FILENO);
        for (int fd : {pipe_[0], pipe_[1], saved_})
            if (fd >= 0) ::close(fd);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

  private:
    int pipe_[2] = {-1, -1};
    int saved_ = -1;
    bool capturing_ = false;
};

// Probes the display before FLTK touches it: FLTK ends the process when it cannot open one, and
// says so in its own words when the display goes away later.
int open_display(void (*on_lost)(int), char* said, int room) {
    Display* d = nullptr;
    if (room > 0) said[0] = '\0';
    {
        Captured captured;
        // With no descriptor to spare for that, the library would speak to the terminal itself.
        if (!captured.capturing()) return 0;
        for (int fd = 0; fd < max_fds; ++fd) socket_before[fd] = is_socket(fd);
        {
            Deadline deadline;
            d = XOpenDisplay(nullptr);
        }
        captured.end(said, room);
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
