// Start-up and ending: the runtime creates the program's window Form1, raises its Load
// event, and shows the window until the user closes it if Load returns. Any run-time error
// ends the program with a one-line report and the error's number as exit status.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// What a form's Paint draws on: its client area, in coordinates of the form's own choosing. The
// platform draws, at the display's scale, each time the window is shown, resized or uncovered.
class Canvas {
  public:
    virtual ~Canvas() = default;
    // The coordinates of the drawing: the rectangle from left, top to right, bottom fills the
    // client area, within a margin, the same scale both ways; down is where y grows.
    virtual void scale(double left, double top, double right, double bottom) = 0;
    virtual void line(double x1, double y1, double x2, double y2) = 0;
    // A small circle at x, y: filled where it stands apart from the others.
    virtual void dot(double x, double y, bool apart) = 0;
    // A short text beside x, y.
    virtual void label(double x, double y, std::string_view text) = 0;
    // One line of text along the top of the client area.
    virtual void note(std::string_view text) = 0;
};

class Form {
  public:
    virtual ~Form() = default;
    virtual void Load() = 0;
    // Draws the client area of the window, once Load has returned; nothing by default.
    virtual void Paint(Canvas&) {}
    // What a screen reader says of the window after its caption; nothing by default.
    virtual std::string Description() { return {}; }
};

// Ends the program at once: every file closed, exit status 0.
[[noreturn]] void end();

// A modal box with the prompt and one OK button, titled with the program's name; returns once
// dismissed. Without a display the prompt goes to standard output as one line.
void message_box(std::string_view prompt);

namespace detail {
void begin(const char* program);
[[noreturn]] void finish_after_load(Form& form);
[[noreturn]] void fail_from_current_exception() noexcept;
}  // namespace detail

// The program's entry: creates F (the program's Form1), raises its Load, then shows it.
template <class F>
int start(const char* program) {
    detail::begin(program);
    try {
        F form;
        form.Load();
        detail::finish_after_load(form);
    } catch (...) {
        detail::fail_from_current_exception();
    }
}

}  // namespace rt
