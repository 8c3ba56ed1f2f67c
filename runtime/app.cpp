#include "app.hpp"

#include <new>
#include <string>

#include "display.hpp"
#include "errors.hpp"
#include "files.hpp"
#include "messages.hpp"
#include "os.hpp"

namespace rt {

namespace {

const char* program_name = "program";

// Form1's caption, and its client area in twips, whatever the display's pixels: 4680 by 3090, placed at 4335, 4680
// on the screen (312 by 206 pixels at 289, 312 on a display of 96 dots per inch).
constexpr const char* form_caption = "Form1";
constexpr int form_left = 4335, form_top = 4680, form_width = 4680, form_height = 3090;

// A notice of the program's own on standard error, one line: one that cannot be written has
// nowhere to be reported.
void say(const Message& message) {
    os::write_standard(os::Stream::Error, words({Msg::Line, {program_name, message}}) + std::string(os::line_end));
}

// A stop (SIGINT, SIGTERM, SIGHUP, or the like) ends the program: temporary files go, earlier
// results stay, and it says so in one line. Runs where the stop arrives: no allocation here.
void on_stop(const os::Stop& stop) {
    remove_temporaries_now();
    char how[256], line[512];
    std::size_t n = words_now(how, sizeof how - 1, stop.how, {{"signal", stop.signal}, {"n", stop.n}});
    how[n] = '\0';
    n = words_now(line, sizeof line, Msg::Line, {{"program", program_name}, {"message", how}});
    for (char c : os::line_end)
        if (n < sizeof line) line[n++] = c;
    os::write_standard(os::Stream::Error, std::string_view(line, n));
}

// A run-time error's report goes to standard error; a program started from the desktop has nobody
// reading that, so the report is shown in a box as well. From the desktop means: the user does not
// see standard error (on Linux, neither standard input nor standard error is a terminal), and a
// display can be reached.
bool started_from_desktop() { return !os::standard_error_is_seen() && display() != nullptr; }

// What the user is waiting on, for the line that says it went with the display; and the status
// the program ends with should the display go away before the box is up to say its own.
Message showing(Msg::WindowLost, {form_caption});
int ending_status = 0;

// The display went away while the box or the window waited: the results are complete by then, so
// the program ends as if the user had dismissed it, with the status it would have had then.
void on_display_lost(int status) {
    say(showing);
    os::exit_now(status != 0 ? status : ending_status);
}

// What the user would miss should the display be given up before it shows it: the box (whose
// prompt is then written as without a display) or the window.
Msg missing = Msg::WindowNotShown;
const std::string* prompt_shown = nullptr;

// The display did not finish answering in time: the run goes on as it does without one, saying so.
[[noreturn]] void give_up_display(const char* display) {
    Message why(Msg::DisplayTooSlow, {name(display)});
    say(missing == Msg::BoxNotShown ? Message(Msg::BoxNotShown, {why})
                                    : Message(Msg::WindowNotShown, {why, form_caption}));
    std::string failed;
    if (prompt_shown && !os::write_standard(os::Stream::Output, *prompt_shown + std::string(os::line_end), &failed)) {
        RuntimeError error(DeviceIO, {Msg::WritingPrompt, {failed}});
        say(words({Msg::Report, {numeral(DeviceIO), error.error()}}));
        os::exit_now(DeviceIO);
    }
    os::exit_now(ending_status);
}

// Something the user asked for and will miss while the display is open: one line says so.
void on_display_notice(DisplayNotice what, const char* detail) {
    if (what == DisplayNotice::AccessibilityBusSilent) say({Msg::AccessibilityBusSilent, {name(detail)}});
    if (what == DisplayNotice::TooSlow) give_up_display(detail);
}

}  // namespace

const DisplayModule* display(Message* why) {
    static bool probed = false;
    static const DisplayModule* module = nullptr;
    static Message reason;
    if (!probed) {
        probed = true;
        module = os::open_display(reason, on_display_lost, on_display_notice);
    }
    if (why) *why = reason;
    return module;
}

void end() {
    close_all();
    os::exit_now(0);
}

void message_box(std::string_view prompt) {
    commit_results();
    std::string text(prompt);
    showing = Msg::BoxLost;
    missing = Msg::BoxNotShown;
    prompt_shown = &text;
    Message why;
    const DisplayModule* d = display(&why);
    // Asked for and not to be had, the box is missed: one line says why, as for the window.
    if (!d && os::display_wanted()) say({Msg::BoxNotShown, {why}});
    bool shown = d && d->message_box(program_name, text.c_str(), BoxLook::information, 0);
    prompt_shown = nullptr;  // the box is done with, or its stand-in is written here
    if (!shown) {
        // The prompt is the box's stand-in: losing it is a failed write like any other.
        std::string failed;
        if (!os::write_standard(os::Stream::Output, text + std::string(os::line_end), &failed))
            raise(DeviceIO, {Msg::WritingPrompt, {failed}});
    }
}

namespace detail {

void begin(const char* program) {
    program_name = program;
    os::restrict_library_loading();
    // A closed standard descriptor would be taken by the next file opened (a locale's, a
    // catalog's), and a prompt or a report written to it would land in that file.
    os::prepare_standard_streams();
    os::choose_language();
    set_translation(os::translation);
    prepare_stop_words();
    os::catch_stops(on_stop);
}

// The module's drawing operations, as the form's Paint has them.
class ModuleCanvas : public Canvas {
  public:
    explicit ModuleCanvas(const DrawingOps& ops) : ops_(ops) {}
    void scale(double left, double top, double right, double bottom) override {
        ops_.scale(ops_.window, left, top, right, bottom);
    }
    void line(double x1, double y1, double x2, double y2) override { ops_.line(ops_.window, x1, y1, x2, y2); }
    void dot(double x, double y, bool apart) override { ops_.dot(ops_.window, x, y, apart); }
    void label(double x, double y, std::string_view text) override {
        ops_.label(ops_.window, x, y, std::string(text).c_str());
    }
    void note(std::string_view text) override { ops_.note(ops_.window, std::string(text).c_str()); }

  private:
    const DrawingOps& ops_;
};

// A drawing that cannot be made (no memory for a label) is left as far as it got: the result is
// complete, and the window is the user's to close.
void paint_form(void* form, const DrawingOps* ops) {
    try {
        ModuleCanvas canvas(*ops);
        static_cast<Form*>(form)->Paint(canvas);
    } catch (...) {
    }
}

void finish_after_load(Form& form) {
    commit_results();
    showing = Message(Msg::WindowLost, {form_caption});
    missing = Msg::WindowNotShown;
    Message why;
    const DisplayModule* d = display(&why);
    std::string description = form.Description();
    bool shown = d && d->show_window(form_caption, form_left, form_top, form_width, form_height, description.c_str(),
                                     paint_form, &form);
    if (!shown) say({Msg::WindowNotShown, {d ? Message(Msg::NoWindowHere) : why, form_caption}});
    end();
}

// The report of the error being handled, and its number; where even that cannot be had (no memory
// for it), the number alone.
void report_current_exception(Message& error, int& number) {
    try {
        throw;
    } catch (const RuntimeError& e) {
        number = e.number();
        error = e.error();
    } catch (const std::bad_alloc&) {
        number = OutOfMemory;
        error = error_name(number);
    } catch (const std::exception& e) {
        error = Message(Msg::ErrorWithDetail, {error_name(number), e.what()});
    } catch (...) {
        error = error_name(number);
    }
}

void fail_from_current_exception() noexcept {
    int number = InvalidCall;
    try {
        Message error;
        report_current_exception(error, number);
        abandon_all();
        // Where even this line cannot be written, the exit status still tells.
        std::string report = words({Msg::Report, {numeral(number), error}});
        say(report);
        // The box waits for the user with the results already dealt with; should the display go
        // away meanwhile, the program still ends with the error's number.
        showing = Msg::ReportBoxLost;
        missing = Msg::BoxNotShown;
        prompt_shown = nullptr;  // the report is said already
        ending_status = number;
        if (started_from_desktop()) display()->message_box(program_name, report.c_str(), BoxLook::error, number);
    } catch (...) {
        abandon_all();
    }
    os::exit_now(number);
}

}  // namespace detail

}  // namespace rt
