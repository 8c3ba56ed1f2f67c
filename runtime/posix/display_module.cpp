// The window and the message box, with GTK 3, which desktops' screen readers read and which follows
// the desktop's scale; on X11, or natively on Wayland. Built as a module that the runtime loads only
// when a display is wanted, with display_watch.cpp (the display's answers watched) and
// display_buses.cpp (the session's buses checked), which this file uses and which use nothing of it.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "display.hpp"
#include "display_buses.hpp"
#include "display_watch.hpp"
#include "errors.hpp"

namespace {

void (*runtime_lost)(int) = nullptr;
void (*runtime_notice)(rt::DisplayNotice, const char*) = nullptr;
int status_if_lost = 0;
const char* display_name = "";  // the display being connected to, or connected

// The display went away: the runtime says so and ends the program.
[[noreturn]] void lost() {
    runtime_lost(status_if_lost);
    _exit(status_if_lost);
}

// The display did not finish its start, or showing the box or the window, within the bound: the
// runtime says so and ends the run as it does without a display.
[[noreturn]] void given_up() {
    runtime_notice(rt::DisplayNotice::TooSlow, display_name);
    _exit(status_if_lost);
}

}  // namespace

namespace {

// The toolkit's messages and warnings are not the program's: they are dropped. The ones it gives
// just before it ends the process itself, with status 1, are taken for the display going away,
// by what they are and when they come, never by their words (which the user's language may
// translate): a message of GDK's, which it gives where it loses the display (the compositor); a
// warning of GDK's while it handles an X error that no request of its own asked for (a server that
// is not the one it was, or a hostile one).
void on_message(const gchar* domain, GLogLevelFlags level) {
    if (!domain || std::strcmp(domain, "Gdk") != 0) return;
    bool warned = level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_ERROR);
    if ((level & G_LOG_LEVEL_MESSAGE) || (warned && display::handling_x_error())) lost();
}

void on_log(const gchar* domain, GLogLevelFlags level, const gchar*, gpointer) { on_message(domain, level); }

GLogWriterOutput on_structured_log(GLogLevelFlags level, const GLogField* fields, gsize n, gpointer) {
    const gchar* domain = nullptr;
    for (gsize i = 0; i < n; ++i)
        if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = static_cast<const gchar*>(fields[i].value);
    on_message(domain, level);
    return G_LOG_WRITER_HANDLED;
}

void drop_text(const gchar*) {}

void keep_toolkit_quiet() {
    g_log_set_default_handler(on_log, nullptr);
    g_log_set_writer_func(on_structured_log, nullptr, nullptr);
    g_set_printerr_handler(drop_text);
    g_set_print_handler(drop_text);
}

// A connection of the kind, where the display can be reached and answers; the toolkit is then
// given that kind alone, so that it never waits on one that does not answer. The X server's is
// kept until the toolkit has its own: a server whose last client leaves starts afresh, and would
// drop the toolkit's connection made just after. For the same reason a connection refused at once
// is tried again a moment later, twice: another client may have just left such a server, which
// drops the connections it took while starting afresh. One that went silent is not tried again.
Display* x_answers() {
    for (int tries = 1;; ++tries) {
        auto began = std::chrono::steady_clock::now();
        Display* x = nullptr;
        {
            display::Waiting waiting;
            x = XOpenDisplay(nullptr);
        }
        if (x || tries == 3 || std::chrono::steady_clock::now() - began > std::chrono::seconds(1)) return x;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool wayland_answers() {
    display::Waiting waiting;
    wl_display* d = wl_display_connect(nullptr);
    if (!d) return false;
    bool answers = wl_display_roundtrip(d) >= 0;
    wl_display_disconnect(d);
    return answers;
}

// While the toolkit runs, the current directory is /, not the data's folder the program was
// started in: the toolkit takes a relative or empty entry of a search path (XDG_CONFIG_DIRS=/etc/xdg:,
// GTK_PATH, GTK_MODULES=./x) for a place in the current directory, where a gtk-3.0/settings.ini
// planted beside the data would name a module for it to load. The program is back in its own
// directory whenever the toolkit returns to it.
class AwayFromData {
  public:
    AwayFromData() : here(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {
        if (here >= 0 && ::chdir("/") != 0) {
            ::close(here);
            here = -1;
        }
    }
    ~AwayFromData() {
        if (here < 0) return;
        bool back = ::fchdir(here) == 0;  // a descriptor of a directory, held: it is still there
        ::close(here);
        if (!back) _exit(rt::DeviceIO);
    }
    AwayFromData(const AwayFromData&) = delete;
    AwayFromData& operator=(const AwayFromData&) = delete;

  private:
    int here;
};

// The X library reads a relative XAUTHORITY from the current directory: it is made absolute
// while that is still the one the user meant.
void keep_authority_file() {
    const char* file = std::getenv("XAUTHORITY");
    if (!file || !*file || file[0] == '/') return;
    if (char* real = ::realpath(file, nullptr)) {
        ::setenv("XAUTHORITY", real, 1);
        std::free(real);
    }
}

bool set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// The toolkit would end the process when it cannot open a display: it is only started on one that
// answered, and never asked to set the locale, which the runtime keeps as the C library's. Where
// the user asked for the accessibility bus and it does not answer, notice(address) says so.
int connect_to_display(void (*on_lost)(int), void (*notice)(rt::DisplayNotice, const char*)) {
    runtime_lost = on_lost;
    runtime_notice = notice;
    keep_toolkit_quiet();
    display::until_shown();
    display::watch(lost, given_up);
    Display* x = nullptr;
    const char* backend = nullptr;
    if (set("WAYLAND_DISPLAY") && (display_name = std::getenv("WAYLAND_DISPLAY"), wayland_answers()))
        backend = "wayland";
    else if (set("DISPLAY") && (display_name = std::getenv("DISPLAY"), x = x_answers()))
        backend = "x11";
    if (!backend) {
        display::bound_met();  // nothing will be shown: the run goes on without the display
        return 0;
    }
    const char* silent = nullptr;
    if (!display::check_buses(silent)) notice(rt::DisplayNotice::AccessibilityBusSilent, silent);
    keep_authority_file();
    AwayFromData away;
    gdk_set_allowed_backends(backend);
    gtk_disable_setlocale();
    bool started = false;
    {
        display::Waiting waiting;
        started = gtk_init_check(nullptr, nullptr);
    }
    if (x) XCloseDisplay(x);  // the toolkit's own is made by now, or none will be
    if (!started) {
        display::bound_met();
        return 0;
    }
    GdkDisplay* display = gdk_display_get_default();
    if (GDK_IS_X11_DISPLAY(display)) {
        display::connected(ConnectionNumber(gdk_x11_display_get_xdisplay(display)));
    } else if (GDK_IS_WAYLAND_DISPLAY(display)) {
        display::connected(wl_display_get_fd(gdk_wayland_display_get_wl_display(display)));
    }
    return 1;
}

// Whether the display still answers; where it gives no answer for a few seconds, the connection
// is shut down and the program ends as the display going away ends it.
void check_display() {
    display::Waiting waiting;
    gdk_display_sync(gdk_display_get_default());
}

// Text for the toolkit, which takes UTF-8 alone: anything else in it is shown as U+FFFD.
struct Utf8 {
    explicit Utf8(const char* text) : text(g_utf8_make_valid(text, -1)) {}
    ~Utf8() { g_free(text); }
    Utf8(const Utf8&) = delete;
    Utf8& operator=(const Utf8&) = delete;
    gchar* text;
};

// The box or the window is on the screen: the bound on its showing is met.
gboolean on_shown(GtkWidget*, GdkEvent*, gpointer) {
    display::bound_met();
    return FALSE;
}

int message_box(const char* title, const char* prompt, rt::BoxLook look, int status) {
    status_if_lost = status;
    display::until_shown();
    AwayFromData away;
    check_display();
    Utf8 title_text(title), prompt_text(prompt);
    bool error = look == rt::BoxLook::error;
    // One "OK" button, which takes the focus and is the default: Return and a click on it, Escape
    // and the window manager's close all end the box.
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                            GTK_BUTTONS_OK, "%s", prompt_text.text);
    gtk_window_set_title(GTK_WINDOW(box), title_text.text);
    // A screen reader names the box by its title, the program's, as it names any dialog: not by
    // its look ("Information", "Error"), which the toolkit gives it otherwise.
    atk_object_set_name(gtk_widget_get_accessible(box), title_text.text);
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    // The look's icon: the message dialog shows none of its own any more.
    GtkWidget* icon = gtk_image_new_from_icon_name(error ? "dialog-error" : "dialog-information", GTK_ICON_SIZE_DIALOG);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), icon);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_signal_connect(box, "map-event", G_CALLBACK(on_shown), nullptr);
    display::wait_until_heard();
    gtk_widget_show_all(box);
    if (GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK)) gtk_widget_grab_focus(ok);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    check_display();  // the box is gone from the screen before the program goes on
    return 1;
}

// An ordinary window: Escape does not close it, the window manager's close does.
gboolean on_close(GtkWidget*, GdkEvent*, gpointer) {
    gtk_main_quit();
    return TRUE;
}

// The window's drawing, in the desktop's logical pixels (the toolkit draws them at its scale):
// within a margin, below the line of the note; points and lines in colours that stand apart.
struct Drawing {
    GtkWidget* window;
    cairo_t* cr;
    rt::DrawingScale scale;
};

void set_colour(cairo_t* cr, int rgb) {
    cairo_set_source_rgb(cr, (rgb >> 16 & 255) / 255.0, (rgb >> 8 & 255) / 255.0, (rgb & 255) / 255.0);
}

void draw_scale(void* w, double left, double top, double right, double bottom) {
    auto& d = *static_cast<Drawing*>(w);
    d.scale.left = left, d.scale.top = top, d.scale.right = right, d.scale.bottom = bottom;
}

void draw_line(void* w, double x1, double y1, double x2, double y2) {
    auto& d = *static_cast<Drawing*>(w);
    set_colour(d.cr, rt::DrawingStyle::line_colour);
    cairo_set_line_width(d.cr, rt::DrawingStyle::line_width);
    cairo_move_to(d.cr, d.scale.x(x1), d.scale.y(y1));
    cairo_line_to(d.cr, d.scale.x(x2), d.scale.y(y2));
    cairo_stroke(d.cr);
}

void draw_dot(void* w, double x, double y, int apart) {
    auto& d = *static_cast<Drawing*>(w);
    set_colour(d.cr, rt::DrawingStyle::dot_colour(apart));
    cairo_arc(d.cr, d.scale.x(x), d.scale.y(y), rt::DrawingStyle::dot_radius(apart), 0, 2 * G_PI);
    cairo_fill(d.cr);
}

// Text at x, y, made smaller where it would pass the window's right edge (large text, a long
// translation), so that all of it shows.
void show_text(Drawing& d, double x, double y, const char* text) {
    Utf8 shown(text);
    PangoLayout* layout = gtk_widget_create_pango_layout(d.window, shown.text);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    double room = gtk_widget_get_allocated_width(d.window) - x - rt::DrawingStyle::text_room_right;
    cairo_save(d.cr);
    set_colour(d.cr, rt::DrawingStyle::text_colour);
    cairo_translate(d.cr, x, y);
    if (width > room && room > 0) cairo_scale(d.cr, room / width, room / width);
    cairo_move_to(d.cr, 0, 0);
    pango_cairo_show_layout(d.cr, layout);
    cairo_restore(d.cr);
    g_object_unref(layout);
}

void draw_label(void* w, double x, double y, const char* text) {
    auto& d = *static_cast<Drawing*>(w);
    show_text(d, d.scale.x(x) + rt::DrawingStyle::label_right, d.scale.y(y) + rt::DrawingStyle::label_down, text);
}

void draw_note(void* w, const char* text) {
    show_text(*static_cast<Drawing*>(w), rt::DrawingStyle::note_left, rt::DrawingStyle::note_top, text);
}

// The form's Paint, on the window's own drawing (its background drawn first): no widget is added,
// Form1 holds no controls.
struct Painter {
    void (*paint)(void* form, const rt::DrawingOps* ops);
    void* form;
};

gboolean on_draw(GtkWidget* window, cairo_t* cr, gpointer painter) {
    Drawing d{window, cr, {}};
    d.scale.fill(gtk_widget_get_allocated_width(window), gtk_widget_get_allocated_height(window), 1);
    rt::DrawingOps ops{&d, draw_scale, draw_line, draw_dot, draw_label, draw_note};
    auto* p = static_cast<const Painter*>(painter);
    p->paint(p->form, &ops);
    return FALSE;
}

// Twips in the desktop's logical pixels, 96 to the inch: the toolkit turns them into the
// display's own at the desktop's scale (GDK_SCALE).
constexpr int logical_dpi = 96;

int show_window(const char* caption, int x, int y, int w, int h, const char* description,
                void (*paint)(void*, const rt::DrawingOps*), void* form) {
    status_if_lost = 0;
    display::until_shown();
    AwayFromData away;
    check_display();
    Utf8 caption_text(caption), description_text(description);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), caption_text.text);
    static Painter painter;  // for as long as the window is, which outlives this call
    painter = {paint, form};
    g_signal_connect_after(window, "draw", G_CALLBACK(on_draw), &painter);
    // A screen reader says what the window shows after its caption.
    atk_object_set_description(gtk_widget_get_accessible(window), description_text.text);
    // The place is the client area's, not the frame's a window manager adds around it.
    gtk_window_set_gravity(GTK_WINDOW(window), GDK_GRAVITY_STATIC);
    gtk_window_move(GTK_WINDOW(window), rt::twips_to_pixels(x, logical_dpi), rt::twips_to_pixels(y, logical_dpi));
    gtk_window_set_default_size(GTK_WINDOW(window), rt::twips_to_pixels(w, logical_dpi),
                                rt::twips_to_pixels(h, logical_dpi));
    g_signal_connect(window, "delete-event", G_CALLBACK(on_close), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(on_shown), nullptr);
    display::wait_until_heard();
    gtk_widget_show(window);
    gtk_main();
    return 1;
}

const rt::DisplayModule module{connect_to_display, message_box, show_window};

}  // namespace

extern "C" __attribute__((visibility("default"))) const rt::DisplayModule* trio_display_module_2() { return &module; }
