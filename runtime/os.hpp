// The operating system behind one interface: the few operations that differ between platforms.
// One implementation per platform (os_posix.cpp), picked by CMake; nothing else in the runtime,
// and nothing in the programs, calls the system itself. Failures are raised as the runtime's
// errors, worded with the file's name as the user gave it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rt {
struct DisplayModule;
}

namespace rt::os {

// A file open for reading or writing: a descriptor or a handle.
using File = std::intptr_t;
inline constexpr File no_file = -1;

// ---- The process

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
// Writes all of text to standard output or error; false, with the system's reason in why, if it cannot.
bool write_standard(Stream stream, std::string_view text, std::string* why = nullptr);
// Ends the process at once with this status: no destructors run, nothing is flushed.
[[noreturn]] void exit_now(int status);

// ---- Stopping (SIGINT, SIGTERM, SIGHUP, SIGQUIT and every other signal that would end the process)

// on_stop(how) runs where the stop arrives (in a signal handler: async-signal-safe work only);
// how is "interrupted (SIGINT)" or the like. The process then ends with the status a stopped
// program has. A stop that was ignored when the program started stays ignored. Also makes a
// file size limit and a closed pipe failed writes rather than silent ends.
void catch_stops(void (*on_stop)(const char* how));
// Holds stops back until released, so that a file is never created without being noted.
void hold_stops();
void release_stops();

// ---- Text files

// How a line of a text file ends on this system: LF on Linux, CR LF on Windows.
extern const std::string_view line_end;

// ---- Input files

// read_as gets the name of the file opened: `name`, or the one file whose name differs from it
// only in case where the system tells such names apart and there is none of that very name.
File open_input(const std::string& name, std::string& read_as);
// Up to size bytes into buffer; 0 at the end of the file.
std::size_t read(File file, char* buffer, std::size_t size, const std::string& name);
void close(File file) noexcept;

// ---- Result files

// Where a result named `name` goes: that name, or the file that a chain of symbolic links of
// that name leads to, every link on the way held to the rule against links planted by others.
struct ResultPlace {
    std::string path;          // the file to replace, or to create
    File directory = no_file;  // its directory, held open from here on where the system has such a thing
};
ResultPlace resolve_result(const std::string& name);
// A new file beside place.path, readable by no one else, for writing: a file with no name at all
// where the system has such files, else one under a hidden name no other file has and no one can
// foresee, whose path goes to temp_path before the file exists (empty for a file of no name). Call
// with stops held.
File create_beside(const ResultPlace& place, char* temp_path, std::size_t room, const std::string& name);
void write(File file, std::string_view data, const std::string& name);
// The file's data on the disk.
void sync(File file, const std::string& name);
// The complete file moved over place.path whole: first given a name beside it should it have none
// (its path to temp_path before the name exists), and the owner and mode of the result it replaces
// as that result stands now, where the run may keep them. Call with stops held.
void replace(File file, char* temp_path, std::size_t room, const ResultPlace& place, const std::string& name);
// The move on the disk, with the directory of place.path; false, with the system's reason in why,
// where the system could not confirm it. A file system that cannot sync a directory is no failure.
bool sync_directory(const ResultPlace& place, std::string& why);
// Removes a file; safe where on_stop runs.
void remove_now(const char* path) noexcept;

// ---- The display

// Whether the user asked for the window and the box to be shown (on Linux, DISPLAY is set).
bool display_wanted();
// The window and the box, or null where nothing can be shown (with a one-line reason in why);
// lost(status) ends the program should the display go away while something is shown.
const DisplayModule* open_display(std::string& why, void (*lost)(int status));

}  // namespace rt::os
