// Start-up and ending: the runtime creates the program's window Form1, raises its Load
// event, and shows the window until the user closes it if Load returns. Any run-time error
// ends the program with a one-line report and the error's number as exit status.
#pragma once

#include <string_view>

namespace rt {

class Form {
  public:
    virtual ~Form() = default;
    virtual void Load() = 0;
};

// Ends the program at once: every file closed, exit status 0.
[[noreturn]] void end();

// A modal box with the prompt and one OK button, titled with the program's name; returns once
// dismissed. Without a display the prompt goes to standard output as one line.
void message_box(std::string_view prompt);

namespace detail {
void begin(const char* program);
[[noreturn]] void finish_after_load();
[[noreturn]] void fail_from_current_exception() noexcept;
}  // namespace detail

// The program's entry: creates F (the program's Form1), raises its Load, then shows it.
template <class F>
int start(const char* program) {
    detail::begin(program);
    try {
        F form;
        form.Load();
        detail::finish_after_load();
    } catch (...) {
        detail::fail_from_current_exception();
    }
}

}  // namespace rt
