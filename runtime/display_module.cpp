// The window and the message box, with FLTK; built as a module that the runtime loads only
// when a display is wanted. Kept apart from the rest: Xlib's macros leak into whatever includes it.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <unistd.h>

#include "display.hpp"

namespace {

// Probes the display before FLTK touches it: FLTK ends the process when it cannot open one.
int open_display() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 0;
    fl_open_display(d);
    return 1;
}

int status_if_lost = 0;

// The X library ends the process once this returns; it must not return into it.
int on_display_lost(Display*) { _exit(status_if_lost); }

int message_box(const char* title, const char* prompt, int status_if_lost_) {
    if (status_if_lost_) {
        status_if_lost = status_if_lost_;
        XSetIOErrorHandler(on_display_lost);
    }
    fl_close = "OK";  // the one button; Return, Escape, a click and the window manager's close dismiss it
    fl_message_hotspot(0);
    fl_message_title(title);
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
    Fl_Window window(rt::twips_to_pixels(x, dpi), rt::twips_to_pixels(y, dpi), rt::twips_to_pixels(w, dpi),
                     rt::twips_to_pixels(h, dpi), caption);
    window.callback(on_close);
    window.resizable(&window);
    window.end();
    window.show();
    Fl::run();
    return 1;
}

const rt::DisplayModule module{open_display, message_box, show_window};

}  // namespace

extern "C" __attribute__((visibility("default"))) const rt::DisplayModule* trio_display_module() { return &module; }
