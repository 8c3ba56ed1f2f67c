// The operating system behind one interface: the few operations that differ between platforms.
// One implementation per platform, a folder each (posix/, windows/; CMake builds one), a file per
// concern, twins by name where both platforms have it: streams.cpp (the standard streams and the
// process), language.cpp, stops.cpp, input.cpp, results.cpp, display.cpp (the window and the
// box); on POSIX also trust.cpp, the rules for links and for the display module's folders. Nothing else in the
// runtime, and nothing in the programs, calls the system itself.
//
// How calls fail. Every call raises the run-time error of its failure (errors.hpp): its number,
// and a Message of what was being done, the names involved and the system's own words; the
// catalog (messages.cpp) words it. But:
//   - write_standard and open_display, whose failure is not the run's own (a notice that cannot
//     be written, a display that cannot be had), return what went wrong instead;
//   - close and remove_now clean up, and never fail;
//   - write_standard (without a reason asked for) and remove_now are safe where a stop's handler
//     runs (on POSIX a signal handler: no allocation, no lock).
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

// ---- Input files (input.cpp)

// read_as gets the name of the file opened: `name`, or the one file whose name differs from it
// only in case where the system tells such names apart and there is none of that very name.
File open_input(const std::string& name, std::string& read_as);
// Up to size bytes into buffer; 0 at the end of the file.
std::size_t read(File file, char* buffer, std::size_t size, const std::string& name);
void close(File file) noexcept;

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

// Where a result named `name` goes: that name, or the file that a chain of symbolic links of
// that name leads to, every link on the way held to the rule against links planted by others.
struct ResultPlace {
    std::string path;  // the file to replace, or to create
    File directory;    // its directory, held open from here on where the system has such a thing
};
ResultPlace resolve_result(const std::string& name);
// A new file beside place.path, readable by no one else, for writing: a file with no name at all
// where the system has such files, else one under a hidden name no other file has and no one can
// foresee, noted in temp before the file exists. Call with stops held.
File create_beside(const ResultPlace& place, TempPath& temp, const std::string& name);
void write(File file, std::string_view data, const std::string& name);
// The file's data on the disk.
void sync(File file, const std::string& name);
// The complete file moved over place.path whole: first given a name beside it should it have none
// (noted in temp before the name exists), and the owner and mode of the result it replaces as that
// result stands now, where the run may keep them. Call with stops held.
void replace(File file, TempPath& temp, const ResultPlace& place, const std::string& name);
// The move on the disk, with the directory of place.path. A file system that cannot sync a
// directory is no failure; one that could not confirm it is the error.
void sync_directory(const ResultPlace& place, const std::string& name);
// Removes a temporary that is still there.
void remove_now(const TempPath& temp) noexcept;

// ---- The display (display.cpp)

// Whether the user asked for the window and the box to be shown (on Linux, a display is named).
bool display_wanted();
// The window and the box, opened by their module's own open, or null where nothing can be shown,
// with why; lost(status) ends the program should the display go away while something is shown,
// and notice says what the user asked for and will miss (a silent accessibility bus).
const DisplayModule* open_display(Message& why, void (*lost)(int status),
                                  void (*notice)(DisplayNotice what, const char* detail));

}  // namespace rt::os
