#include "app.hpp"

#include <new>
#include <string>

#include "display.hpp"
#include "errors.hpp"
#include "files.hpp"
#include "os.hpp"

namespace rt {

namespace {

const char* program_name = "program";

// Form1's client area in twips, whatever the display's pixels: 4680 by 3090, placed at 4335, 4680
// on the screen (312 by 206 pixels at 289, 312 on a display of 96 dots per inch).
constexpr int form_left = 4335, form_top = 4680, form_width = 4680, form_height = 3090;

// A stop (SIGINT, SIGTERM, SIGHUP, or the like) ends the program: temporary files go, earlier
// results stay, and it says so in one line. Runs where the stop arrives: no allocation here. Each
// line written to standard output or error ends as a result's lines do on this system.
void on_stop(const char* how) {
    remove_temporaries_now();
    char line[128];
    std::size_t n = 0;
    using std::string_view;
    for (string_view part : {string_view(program_name), string_view(": "), string_view(how), os::line_end})
        for (char c : part)
            if (n < sizeof line) line[n++] = c;
    os::write_standard(os::Stream::Error, std::string_view(line, n));
}

// A run-time error's report goes to standard error; a program started from the desktop has nobody
// reading that, so the report is shown in a box as well. From the desktop means: the user does not
// see standard error (on Linux, neither standard input nor standard error is a terminal), and a
// display can be reached.
bool started_from_desktop() { return !os::standard_error_is_seen() && display(nullptr) != nullptr; }

// What the user is waiting on, for the line that says it went with the display; and the status
// the program ends with should the display go away before the box is up to say its own.
const char* showing = "the window";
int ending_status = 0;

// The display went away while the box or the window waited: the results are complete by then, so
// the program ends as if the user had dismissed it, with the status it would have had then.
void on_display_lost(int status) {
    os::write_standard(os::Stream::Error, std::string(program_name) + ": the display went away; " + showing +
                                              " is closed" + std::string(os::line_end));
    os::exit_now(status != 0 ? status : ending_status);
}

}  // namespace

const DisplayModule* display(const char** why) {
    static bool probed = false;
    static const DisplayModule* module = nullptr;
    static std::string reason;
    if (!probed) {
        probed = true;
        module = os::open_display(reason, on_display_lost);
    }
    if (why) *why = reason.c_str();
    return module;
}

void end() {
    close_all();
    os::exit_now(0);
}

void message_box(std::string_view prompt) {
    commit_results();
    std::string text(prompt);
    showing = "the box";
    const char* why = nullptr;
    const DisplayModule* d = display(&why);
    // Asked for and not to be had, the box is missed: one line says why, as for the window.
    if (!d && os::display_wanted())
        os::write_standard(os::Stream::Error, std::string(program_name) + ": " + why + "; the box is not shown\n");
    if (!d || !d->message_box(program_name, text.c_str(), BoxLook::information, 0)) {
        // The prompt is the box's stand-in: losing it is a failed write like any other.
        std::string why;
        if (!os::write_standard(os::Stream::Output, text + std::string(os::line_end), &why))
            raise(DeviceIO, "writing the prompt to standard output: " + why);
    }
}

namespace detail {

void begin(const char* program) {
    program_name = program;
    os::restrict_library_loading();
    // A closed standard descriptor would be taken by the next file opened, and a prompt or a
    // report written to it would land in that file.
    os::prepare_standard_streams();
    os::catch_stops(on_stop);
}

void finish_after_load() {
    commit_results();
    const char* why = nullptr;
    const DisplayModule* d = display(&why);
    showing = "the window Form1";
    bool shown = d && d->show_window("Form1", form_left, form_top, form_width, form_height);
    if (!shown) {
        // A notice that cannot be written has nowhere to be reported: the result is complete.
        os::write_standard(os::Stream::Error, std::string(program_name) + ": " +
                                                  (d ? "no window can be made here" : why) +
                                                  "; the window Form1 is not shown" + std::string(os::line_end));
    }
    end();
}

void fail_from_current_exception() noexcept {
    int number = InvalidCall;
    std::string text;
    try {
        throw;
    } catch (const RuntimeError& e) {
        number = e.number();
        text = e.what();
    } catch (const std::bad_alloc&) {
        number = OutOfMemory;
        text = error_message(number);
    } catch (const std::exception& e) {
        text = std::string(error_message(number)) + ": " + e.what();
    } catch (...) {
        text = error_message(number);
    }
    abandon_all();
    // Where even this line cannot be written, the exit status still tells.
    std::string report = "run-time error " + std::to_string(number) + ": " + text;
    os::write_standard(os::Stream::Error, std::string(program_name) + ": " + report + std::string(os::line_end));
    // The box waits for the user with the results already dealt with; should the display go away
    // meanwhile, the program still ends with the error's number.
    try {
        showing = "the box with the report";
        ending_status = number;
        if (started_from_desktop()) display(nullptr)->message_box(program_name, report.c_str(), BoxLook::error, number);
    } catch (...) {
    }
    os::exit_now(number);
}

}  // namespace detail

}  // namespace rt
