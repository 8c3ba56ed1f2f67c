// The operating system behind one interface: the few operations that differ between platforms.
// One implementation per platform, a folder each (posix/, windows/; CMake builds one), a file per
// concern, twins by name where both platforms have it: streams.cpp (the standard streams and the
// process), language.cpp, stops.cpp, input.cpp, results.cpp, display.cpp (the window and the
// box); on POSIX also trust.cpp, the rules for links and for the display module's folders, and
// access_lists.cpp, which reads the lists those rules weigh. Nothing else in the
// runtime, and nothing in the programs, calls the system itself.
//
// How calls fail. Every call raises the run-time error of its failure (errors.hpp): its number,
// and a Message of what was being done, the names involved and the system's own words; the
// catalog (messages.cpp) words it. But:
//   - write_standard and open_display, whose failure is not the run's own (a notice that cannot
//     be written, a display that cannot be had), return what went wrong instead;
//   - close and remove_temporaries_now clean up, and never fail;
//   - write_standard (without a reason asked for) and remove_temporaries_now are safe where a
//     stop's handler runs (on POSIX a signal handler: no allocation, no lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "messages.hpp"
#include "os_file.hpp"  // File: a file open for reading or writing, as each platform has it

namespace rt {
struct DisplayModule;
enum class DisplayNotice : int;
}  // namespace rt

namespace rt::os {

// ---- The standard streams and the process (streams.cpp)

// Standard input, output and error made safe to use: one that is closed is opened on the null
// device, so that no file opened later takes its place.
void prepare_standard_streams();
// Libraries loaded at run time come from the system's own, absolute places only, never from the
// directory the program was started in.
void restrict_library_loading();
// Whether the user sees what the program writes to standard error (it was started from a terminal
// or a console), rather than having started it from the desktop.
bool standard_error_is_seen();
enum class Stream { Output, Error };
// Writes all of text to standard output or error; false, with the system's words in why where
// asked for, if it cannot.
bool write_standard(Stream stream, std::string_view text, std::string* why = nullptr);
// Ends the process at once with this status: no destructors run, nothing is flushed.
[[noreturn]] void exit_now(int status);
// How a line of a text file ends on this system: LF on Linux, CR LF on Windows.
extern const std::string_view line_end;

// ---- The user's language (language.cpp)

// Takes the language of the messages from the user's settings, and theirs alone: on POSIX as
// gettext reads it (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), on Windows the user's UI language.
// Numbers, results and fields keep their fixed rules, whatever the language.
void choose_language();
// A sentence of the catalog in that language; the English one given, where there is none.
const char* translation(const char* english);

// ---- Stops (stops.cpp): on POSIX SIGINT, SIGTERM, SIGHUP and every other signal that would end
// the process; on Windows Ctrl+C, Ctrl+Break and the console's closing

// What stopped the program: the sentence for it and its parts (the signal's name, its number).
struct Stop {
    Msg how = Msg::OtherSignal;
    const char* signal = "";
    const char* n = "";
};
// on_stop(stop) runs where the stop arrives (in a signal handler: async-signal-safe work only).
// The process then ends with the status a stopped program has. A stop that was ignored when the
// program started stays ignored. Also makes a file size limit and a closed pipe failed writes
// rather than silent ends.
void catch_stops(void (*on_stop)(const Stop& stop));
// Holds stops back until released, so that a file is never created without being noted.
void hold_stops();
void release_stops();
// Stops held back for the life of a scope.
struct StopsHeld {
    StopsHeld() { hold_stops(); }
    ~StopsHeld() { release_stops(); }
    StopsHeld(const StopsHeld&) = delete;
    StopsHeld& operator=(const StopsHeld&) = delete;
};

// ---- Input files (input.cpp)

// The file to read for `name`, named in reports by its own name: `name`, or the one file whose
// name differs from it only in case where the system tells such names apart and there is none of
// that very name.
File open_input(const std::string& name);
// Up to size bytes into buffer; 0 at the end of the file.
std::size_t read(const File& file, char* buffer, std::size_t size);
// Any file closed, an input or a result's (posix.cpp, windows.cpp).
void close(File& file) noexcept;

// ---- Result files (results.cpp)

// A temporary result's path, kept where a stop can find it and remove it: room of its own, filled
// without allocating; empty where the temporary has no name (an unnamed file) or none is left.
class TempPath {
  public:
    bool empty() const { return path_[0] == '\0'; }
    const char* c_str() const { return path_; }
    // False, and left empty, where the path does not fit.
    bool assign(std::string_view path) {
        clear();
        if (path.size() >= sizeof path_) return false;
        path.copy(path_, path.size());
        path_[path.size()] = '\0';
        return true;
    }
    void clear() { path_[0] = '\0'; }

  private:
    char path_[4096] = {};
};

// Where a result goes: the name it was given, or the file that a chain of symbolic links of that
// name leads to, every link on the way held to the rule against links planted by others.
struct ResultPlace {
    std::string path;  // the file to replace, or to create
    File directory;    // its directory, held open from here on where the system has such a thing
};

// A result being written, kept in the platform's own table of results, where a stop finds its
// temporary; its reports name it as the program did.
struct Result {
    ResultPlace place;
    File file;      // the new file, written beside place.path until it replaces it
    TempPath temp;  // its hidden name beside the result, while it has one
    bool in_use = false;
};
constexpr int max_results = 16;  // results open at once, at most

// A new result for `name`: its place found, and a new file beside it, readable by no one else, for
// writing: a file with no name at all where the system has such files, else one under a hidden
// name no other file has and no one can foresee, noted before the file exists.
Result& open_result(const std::string& name);
void write(Result& result, std::string_view data);
// The new file's data on the disk.
void sync(Result& result);
// The complete file moved over its place whole: first given a name beside it should it have none
// (noted before the name exists), and the owner and mode of the result it replaces as that result
// stands now, where the run may keep them. Writes after it go on in place.
void replace(Result& result);
// The move on the disk, with the result's directory. A file system that cannot sync a directory
// is no failure; one that could not confirm it is the error.
void sync_directory(Result& result);
// The result closed and its place in the table freed; its temporary, should it still be one,
// removed, so that the earlier result stays as it was.
void close(Result& result) noexcept;
// Every temporary still there removed, from a stop's handler.
void remove_temporaries_now() noexcept;

// ---- The display (display.cpp)

// Whether the user asked for the window and the box to be shown (on Linux, a display is named).
bool display_wanted();
// The window and the box, opened by their module's own open, or null where nothing can be shown,
// with why; lost(status) ends the program should the display go away while something is shown,
// and notice says what the user asked for and will miss (a silent accessibility bus).
const DisplayModule* open_display(Message& why, void (*lost)(int status),
                                  void (*notice)(DisplayNotice what, const char* detail));

}  // namespace rt::os
