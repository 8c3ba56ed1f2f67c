// The window and the box live in a module of their own, loaded only when something is to be
// shown, so that a program that never shows anything never pays for the window libraries.
#pragma once

#include "messages.hpp"

namespace rt {

// How a box looks: an information message (computer's "OK"), or a run-time error's report.
enum class BoxLook : int { information, error };

// The drawing operations the module lends a form's Paint (plain C, across the dlopen boundary),
// bound to the window being drawn: the Canvas operations of app.hpp.
struct DrawingOps {
    void* window;
    void (*scale)(void* window, double left, double top, double right, double bottom);
    void (*line)(void* window, double x1, double y1, double x2, double y2);
    void (*dot)(void* window, double x, double y, int apart);
    void (*label)(void* window, double x, double y, const char* text);
    void (*note)(void* window, const char* text);
};

// The drawing's layout in logical pixels (96 to the inch), the same on every platform: the margin
// around it, and the line of the note above it.
constexpr double drawing_margin = 24, note_line = 20;

// How the drawing looks, the same on every platform, in logical pixels and colours as 0xRRGGBB:
// lines and text in greys, points in blue and point 0 apart, larger and in red, as stand apart to
// every eye; a label just right of and below its point; the note at the top left, half a margin in,
// no text passing the window's right edge by more than that.
struct DrawingStyle {
    static constexpr int line_colour = 0x77767b, text_colour = 0x241f31;
    static constexpr double line_width = 1.5;
    static constexpr int dot_colour(bool apart) { return apart ? 0xc01c28 : 0x1c71d8; }
    static constexpr double dot_radius(bool apart) { return apart ? 6 : 4; }
    static constexpr double label_right = 4, label_down = 2;
    static constexpr double note_left = drawing_margin / 2, note_top = 4;
    static constexpr double text_room_right = drawing_margin / 2;
};

// Where a drawing's coordinates land in an area of pixels: the rectangle the form chose (its
// scale) fills the area, the same scale both ways, centred; one of no width or height is centred
// where it is. A left beyond right, or a top beyond bottom, turns that way round.
struct DrawingScale {
    double left = 0, top = 0, right = 1, bottom = 1;                      // the form's scale
    double area_left = 0, area_top = 0, area_width = 0, area_height = 0;  // the pixels it fills
    // The area of a client area of width by height pixels: within the margin, below the note's
    // line; pixel is one logical pixel in the client area's own.
    void fill(double width, double height, double pixel) {
        area_left = drawing_margin * pixel;
        area_top = (drawing_margin + note_line) * pixel;
        area_width = width > 2 * drawing_margin * pixel ? width - 2 * drawing_margin * pixel : 0;
        area_height =
            height > (2 * drawing_margin + note_line) * pixel ? height - (2 * drawing_margin + note_line) * pixel : 0;
    }
    double unit() const {
        double across = right > left ? right - left : left - right, down = bottom > top ? bottom - top : top - bottom;
        double u = across > 0 ? area_width / across : -1;
        if (down > 0 && (u < 0 || area_height / down < u)) u = area_height / down;
        return u > 0 ? u : 0;
    }
    double x(double v) const {
        return area_left + area_width / 2 + (right < left ? -1 : 1) * (v - (left + right) / 2) * unit();
    }
    double y(double v) const {
        return area_top + area_height / 2 + (bottom < top ? -1 : 1) * (v - (top + bottom) / 2) * unit();
    }
};

// What the module has the runtime say, where something the user asked for is missing: the
// accessibility bus (the run goes on); or the display itself, which did not finish its start or
// show the box or the window within the bound (the runtime ends the run as it does without a
// display; the notice does not return).
enum class DisplayNotice : int { AccessibilityBusSilent, TooSlow };

// The module's entry points (plain C, as they cross a dlopen boundary).
struct DisplayModule {
    // Connects to the display (Wayland's, or an X server; on Windows, loads the window system),
    // giving up on one that does not answer within a few seconds; 0 if none can be reached.
    // Should the display go away later, while the box or the window waits, lost(status) is
    // called, where status is the box's status_if_lost (0 for the window); it does not return.
    // On POSIX standard error is /dev/null from before this call for as long as the display is
    // open (the runtime keeps the program's own): what the window system says there, in its
    // words or a server's, is never seen. notice(what, detail) has the runtime say what is missing.
    int (*connect)(void (*lost)(int status), void (*notice)(DisplayNotice what, const char* detail));
    // A modal box: title, prompt, one "OK" button, the icon of its look; returns once dismissed, 0
    // if it could not be shown at all. status_if_lost is the status should the display go away
    // meanwhile (for the report of a run-time error, the error's number).
    int (*message_box)(const char* title, const char* prompt, BoxLook look, int status_if_lost);
    // Shows the window until the user closes it, its client area at x, y, of w by h, in twips
    // (1440 to the inch: the display turns them into its pixels); 0 if it cannot be shown at all.
    // paint(form, ops) draws its client area whenever it is shown, resized or uncovered; a screen
    // reader says description after the caption.
    int (*show_window)(const char* caption, int x, int y, int w, int h, const char* description,
                       void (*paint)(void* form, const DrawingOps* ops), void* form);
};

// Twips as whole pixels at dpi dots per inch: twips x dpi / 1440, rounded to the nearest, halves up.
constexpr int twips_to_pixels(int twips, int dpi) {
    long long n = static_cast<long long>(twips) * dpi + 720;
    return static_cast<int>(n >= 0 ? n / 1440 : -((-n + 1439) / 1440));
}

// The module file, and the function in it that hands out its entry points.
inline constexpr const char* display_module_file = "trio-display.so";
inline constexpr const char* display_module_entry = "trio_display_module_2";  // the number of this interface

// The display, once probed: the module's entry points, or null where nothing can be shown (with
// the reason in why).
const DisplayModule* display(Message* why = nullptr);

}  // namespace rt
