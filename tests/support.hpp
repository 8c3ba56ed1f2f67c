// Helpers for end-to-end tests: scratch directories and running the built programs in them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utf16.hpp"

namespace test {

// Whether the programs and tests are built with the sanitizers (slower, and more memory).
inline constexpr bool sanitized = TRIO_TEST_SANITIZED;

// The program under test: the one built here; or, where TRIO_TEST_BIN names a directory, the one
// there (another build, say for another architecture); or, where TRIO_TEST_WINDOWS_BIN names one,
// the Windows program (.exe) there. TRIO_TEST_WRAPPER then runs it (under qemu, through Wine).
std::string bin(const std::string& program);
// Whether the programs under test are the Windows ones: what only POSIX has is skipped then.
bool windows();
// Whether the programs under test are built for this machine, so that a library built here can be
// preloaded into them (not so for Windows or cross builds).
bool native();
// A result's text, written with LF line ends, as the programs under test end their lines: with
// CR LF for the Windows ones.
std::string lines(const std::string& lf_text);

class TempDir {
  public:
    // A scratch directory; `depth` folders deep in one, each of 55 characters, so that a path in it
    // passes MAX_PATH on Windows from depth 4 on.
    explicit TempDir(int depth = 0);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const { return read_file(*this / name); }
    static std::string read_file(const std::string& path);
    bool exists(const std::string& name) const;
    // Every entry of the directory, hidden ones included, sorted.
    std::vector<std::string> entries() const;

  private:
    std::string root_, path_;
};

struct RunOptions {
    std::string display;                  // DISPLAY for the program; empty: unset
    std::optional<long> file_size_limit;  // RLIMIT_FSIZE in bytes (SIGXFSZ, as every signal, at its default)
    std::optional<uid_t> uid;             // run as this user
    int timeout_ms = 20000;
    // Sends these signals, 100 ms apart, once the program has run for signal_after_ms and
    // signal_when (if given) holds.
    std::vector<int> signals;
    int signal_after_ms = 0;
    std::function<bool()> signal_when;
    std::vector<int> ignored_signals;  // set to be ignored when the program starts
    std::vector<int> closed_fds;       // standard descriptors closed when the program starts
    std::string stdout_file;           // standard output to this file instead of a pipe
    bool stdout_unread = false;        // standard output a pipe whose reading end is closed
    bool terminal = false;             // standard input a terminal (a pseudo-terminal) instead of /dev/null
    // "file" or "directory": fsync and fdatasync fail with EIO on a descriptor of that kind (a
    // shim preloaded into the program; POSIX only).
    std::string failing_fsync;
    // The program's file system taken to have no unnamed files (O_TMPFILE): it falls back on a
    // named temporary (the same shim; POSIX only).
    bool no_unnamed_files = false;
    std::optional<long> open_files_limit;  // RLIMIT_NOFILE
    std::vector<std::string> args;
    std::vector<std::string> environment;  // NAME=value, set for the program; NAME alone, unset
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal if killed by one
    bool timed_out = false;
    bool signalled = false;  // every signal asked for was sent
    long peak_kib = 0;       // peak resident memory
    std::string out, err;
};

// Runs the program in dir, no standard input. Where the environment variable TRIO_TEST_WRAPPER is
// set (say, to "valgrind -q --error-exitcode=99"), the program runs under that command.
RunResult run(const std::string& program, const std::string& dir, const RunOptions& options = {});

// Every entry of a directory, hidden ones included, sorted.
std::vector<std::string> entries(const std::string& path);

// Whether the file system of the directory has unnamed files (O_TMPFILE), which the programs
// write their results to, so that no temporary name shows while they write.
bool unnamed_files(const std::string& dir);
// Whether some process has an unnamed file of that directory open (a program writing its result).
bool unnamed_file_open_in(const std::string& dir);

// Whether the user uid can open the file for reading (tried in a process of that user).
bool opens_as(uid_t uid, const std::string& path);

// The settings that give a program the locale `name` ("fr_FR.UTF-8"): LANG and LC_ALL, and LOCPATH,
// a folder of the tests' own where the locale is made (by localedef, from the locales package's
// sources) the first time it is asked for, whatever locales the system has; C and C.UTF-8 are the
// C library's own.
std::vector<std::string> locale(const std::string& name);

// The number of lines of text.
std::size_t count_lines(const std::string& text);

// How the programs under test end each line they write to standard output or error: as their
// results' lines end (CR LF for the Windows ones).
std::string line_end();

// Whether text is exactly one line, ended by `end`, the one `pattern` spells out, where each *
// stands for any run of characters within the line (the system's own words, a name made up at random).
bool is_line(const std::string& text, const std::string& pattern, const std::string& end = "\n");

// Another program at work in a folder beside the one under test, as an indexer or an editor
// (tests/bystander.cpp, for the Windows programs): started in dir with args, and waited for until
// it is ready (it holds the file, or watches for it); finish() waits for its end.
class Bystander {
  public:
    // A holder given `until_released` holds its file until release(), within its time.
    Bystander(const std::string& dir, std::vector<std::string> args, bool until_released = false);
    RunResult finish() { return result_.get(); }
    void release() { marks_.write("released", ""); }
    // The file a snatcher creates once it has had its go at the file it watched for, as Windows
    // names it.
    std::string done() const { return marker_ + ".done"; }

  private:
    TempDir marks_;
    std::string marker_;
    std::future<RunResult> result_;
};

}  // namespace test
