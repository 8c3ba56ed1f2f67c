#include "app.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "display.hpp"
#include "errors.hpp"
#include "files.hpp"

#ifndef TRIO_MODULE_DIR
#define TRIO_MODULE_DIR "../lib/trio"
#endif

namespace rt {

namespace {

const char* program_name = "program";

// Form1's client area in twips, 15 to a pixel: 4680 by 3090, placed at 4335, 4680 on the screen.
constexpr int twips_per_pixel = 15;
constexpr int form_left = 4335, form_top = 4680, form_width = 4680, form_height = 3090;

// Writes all of text; false (with errno set) if a write fails.
bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// SIGINT and SIGTERM (and a hang-up) stop the program: temporary files go, earlier results stay.
// Only async-signal-safe calls here.
extern "C" void on_stop_signal(int sig) {
    remove_temporaries_now();
    const char* how = sig == SIGINT ? ": interrupted (SIGINT)\n"
                      : sig == SIGTERM ? ": terminated (SIGTERM)\n"
                                       : ": hung up (SIGHUP)\n";
    if (::write(STDERR_FILENO, program_name, std::strlen(program_name)) >= 0 &&
        ::write(STDERR_FILENO, how, std::strlen(how)) >= 0) {
    }
    _exit(128 + sig);
}

std::string directory_of_program() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string p(path, static_cast<std::size_t>(n));
    return p.substr(0, p.rfind('/'));
}

// A run-time error's report goes to standard error; a program started from the desktop has nobody
// reading that, so the report is shown in a box as well. From the desktop means: neither standard
// input nor standard error is a terminal (the user is not at one), and a display can be reached.
bool started_from_desktop() {
    return !::isatty(STDIN_FILENO) && !::isatty(STDERR_FILENO) && display(nullptr) != nullptr;
}

}  // namespace

const DisplayModule* display(const char** why) {
    static bool probed = false;
    static const DisplayModule* module = nullptr;
    static std::string reason;
    if (!probed) {
        probed = true;
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) {
            reason = "no display (DISPLAY is not set)";
        } else {
            // Beside the program in the build tree; in the library directory once installed.
            std::string dir = directory_of_program();
            void* lib = nullptr;
            for (std::string place : {dir, dir + "/" + TRIO_MODULE_DIR}) {
                lib = ::dlopen((place + "/" + display_module_file).c_str(), RTLD_NOW | RTLD_LOCAL);
                if (lib) break;
            }
            auto entry = lib ? reinterpret_cast<const DisplayModule* (*)()>(::dlsym(lib, display_module_entry))
                             : nullptr;
            if (!entry) {
                reason = std::string("the display module ") + display_module_file + " cannot be loaded";
            } else if (!entry()->open_display()) {
                reason = std::string("no display can be opened at ") + name;
            } else {
                module = entry();
            }
        }
    }
    if (why) *why = reason.c_str();
    return module;
}

void end() {
    close_all();
    std::_Exit(0);
}

void message_box(std::string_view prompt) {
    commit_results();
    std::string text(prompt);
    if (const DisplayModule* d = display(nullptr)) {
        d->message_box(program_name, text.c_str(), 0);
    } else {
        // The prompt is the box's stand-in: losing it is a failed write like any other.
        if (!write_all(STDOUT_FILENO, text + "\n"))
            raise(DeviceIO, std::string("writing the prompt to standard output: ") + std::strerror(errno));
    }
}

namespace detail {

void begin(const char* program) {
    program_name = program;
    // A closed standard descriptor would be taken by the next file opened, and a prompt or a
    // report written to it would land in that file: each one closed is opened on /dev/null.
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) std::_Exit(DeviceIO);
    }
    // A stopping signal that was ignored at start stays ignored, as nohup and background jobs expect.
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        sigaction(sig, &stop, nullptr);
    }
    // A file size limit or a closed pipe is reported as a failed write, not a silent kill.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

void finish_after_load() {
    commit_results();
    const char* why = nullptr;
    if (const DisplayModule* d = display(&why)) {
        d->show_window("Form1", form_left / twips_per_pixel, form_top / twips_per_pixel,
                       form_width / twips_per_pixel, form_height / twips_per_pixel);
    } else {
        // A notice that cannot be written has nowhere to be reported: the result is complete.
        write_all(STDERR_FILENO, std::string(program_name) + ": " + why + "; the window Form1 is not shown\n");
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
    write_all(STDERR_FILENO, std::string(program_name) + ": " + report + "\n");
    // The box waits for the user with the results already dealt with; should the display go away
    // meanwhile, the program still ends with the error's number.
    try {
        if (started_from_desktop()) display(nullptr)->message_box(program_name, report.c_str(), number);
    } catch (...) {
    }
    std::_Exit(number);
}

}  // namespace detail

}  // namespace rt
