// Bad input and faults, for each program: malformed and hostile input files, unusable result
// names, a file size limit hit mid-output, a stopping signal. Each must end with its error
// number, one line on standard error, no temporary file left, and the earlier result byte for
// byte as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "support.hpp"

namespace {

enum class Setup {
    Input,
    NoInput,
    InputIsDirectory,
    InputInTwoOtherCases,
    InputIsDirectoryInOtherCase,
    InputIsFifoInOtherCase,
    DanglingInputThenOtherCase,
    ResultIsDirectory,
    ResultIsFifo,
    ReadOnlyDirectory,
    ReadOnlyResult,
    SizeLimit,
    FewDescriptors,
    Terminate,
    Quit,
    IgnoredThenTerminate,
    ResultSyncFails,
    DirectorySyncFails,
    ResultHeldOpen,
    TemporaryReadResultHeldOpen,
    StrangersInput,           // the input, in a folder others can write, is another user's
    StrangersInputBesideOwn,  // and the runner's own is there, in another case
    StrangersInputByList,     // the input is another user's, in a folder an access list lets them write
    AppendOnlyDirectory       // the folder lets no file in it be renamed or removed
};

struct Hostile {
    std::string name;
    std::string input;
    int status;
    std::string says;  // the one line on standard error, after "<program>: run-time error <status>: "
                       // (after "<program>: " alone for a stop); a * for words not the program's own
    Setup setup = Setup::Input;
    long limit = 0;        // the file size limit, for SizeLimit
    int ignored = 0;       // the signal ignored from the start, for IgnoredThenTerminate
    int repeat = 1;        // the input file holds `input` this many times (a huge file, not held here)
    int signal = SIGTERM;  // the stop, for Terminate
    bool named = false;    // the file system taken to have no unnamed files: a named temporary
};

struct Program {
    const char* name;
    const char* input;
    const char* result;
};

// Bytes of every kind, so that "as it was" means byte for byte.
const std::string earlier("earlier result\r\n\0\xff line 2\n", 26);

// The name with the case of its letters swapped (all of them, or the first only): the same
// name on Windows, another one on Linux.
std::string other_case(const std::string& name, bool first_only = false) {
    std::string out = name;
    for (char& c : out) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
            if (first_only) break;
        }
    }
    return out;
}

// Another program holding files open, as Windows has them: the earlier result opened without
// sharing its deletion for longer than the move waits, and the temporary too, by a reader that
// shares it.
bool windows_only(Setup setup) { return setup == Setup::ResultHeldOpen || setup == Setup::TemporaryReadResultHeldOpen; }

// What only POSIX has: a file size limit, signals, permission bits for another user, a preloaded
// library, two names that differ only in case.
bool planted(Setup setup);
bool posix_only(Setup setup) {
    return setup == Setup::ReadOnlyDirectory || setup == Setup::SizeLimit || setup == Setup::Terminate ||
           setup == Setup::Quit || setup == Setup::IgnoredThenTerminate || setup == Setup::ResultIsFifo ||
           setup == Setup::ResultSyncFails || setup == Setup::DirectorySyncFails ||
           setup == Setup::InputInTwoOtherCases || setup == Setup::InputIsFifoInOtherCase ||
           setup == Setup::DanglingInputThenOtherCase || setup == Setup::FewDescriptors || planted(setup);
}

// What takes root to set up here: another user's files, a folder's attributes.
bool planted(Setup setup) {
    return setup == Setup::StrangersInput || setup == Setup::StrangersInputBesideOwn ||
           setup == Setup::StrangersInputByList || setup == Setup::AppendOnlyDirectory;
}

void check(const Program& p, const Hostile& c) {
    if (test::windows() ? posix_only(c.setup) : windows_only(c.setup)) return;
    bool preloaded = c.setup == Setup::ResultSyncFails || c.setup == Setup::DirectorySyncFails || c.named;
    if (preloaded && !test::native()) return;  // the shim is built for this machine
    // The sanitizers' runtime, qemu or a loader need descriptors of their own; and qemu has words
    // of its own for a fault that ends the program.
    if (c.setup == Setup::FewDescriptors && (test::sanitized || std::getenv("TRIO_TEST_WRAPPER"))) return;
    if (c.signal == SIGABRT && std::getenv("TRIO_TEST_WRAPPER")) return;
    // qemu-user keeps real-time signals of its own, and hands the program another one than sent.
    if (c.signal >= SIGRTMIN && std::getenv("TRIO_TEST_WRAPPER")) return;
    if (planted(c.setup) && ::geteuid() != 0) return;
    // A build of another machine's reads no access lists (it takes group bits for others').
    if (c.setup == Setup::StrangersInputByList && !test::native()) return;
    SCOPED_TRACE(std::string(p.name) + ": " + c.name);
    test::TempDir dir;
    if (c.setup == Setup::InputIsDirectory || c.setup == Setup::InputIsDirectoryInOtherCase) {
        ASSERT_EQ(::mkdir((dir / (c.setup == Setup::InputIsDirectory ? p.input : other_case(p.input))).c_str(), 0755),
                  0);
    } else if (c.setup == Setup::InputInTwoOtherCases) {
        dir.write(other_case(p.input), c.input);
        dir.write(other_case(p.input, true), c.input);
    } else if (c.setup == Setup::InputIsFifoInOtherCase) {
        ASSERT_EQ(::mkfifo((dir / other_case(p.input)).c_str(), 0644), 0);
    } else if (c.setup == Setup::DanglingInputThenOtherCase) {
        ASSERT_EQ(::symlink("gone", (dir / p.input).c_str()), 0);
        dir.write(other_case(p.input), c.input);
    } else if (c.setup == Setup::StrangersInput || c.setup == Setup::StrangersInputBesideOwn) {
        // Shared as /tmp is; the stranger's input is a valid one to every program, the runner's own not.
        ::chmod(dir.path().c_str(), 01777);
        dir.write(p.input, "1,1,1,1,1");
        ASSERT_EQ(::chown((dir / p.input).c_str(), 65534, 65534), 0);
        if (c.setup == Setup::StrangersInputBesideOwn) dir.write(other_case(p.input), c.input);
    } else if (c.setup == Setup::StrangersInputByList) {
        // The runner's own group's folder, which is theirs alone but for the list.
        ::chmod(dir.path().c_str(), 0775);
        if (std::system(("setfacl -m u:65534:rwx '" + dir.path() + "' 2>/dev/null").c_str()) != 0) return;
        dir.write(p.input, "1,1,1,1,1");
        ASSERT_EQ(::chown((dir / p.input).c_str(), 65534, 65534), 0);
    } else if (c.setup != Setup::NoInput) {
        std::string content;
        for (int i = 0; i < c.repeat; ++i) content += c.input;
        dir.write(p.input, content);
    }
    if (c.setup == Setup::ResultIsDirectory) {
        ASSERT_EQ(::mkdir((dir / p.result).c_str(), 0755), 0);
    } else if (c.setup == Setup::ResultIsFifo) {
        ASSERT_EQ(::mkfifo((dir / p.result).c_str(), 0644), 0);
    } else {
        dir.write(p.result, earlier);
    }
    auto before = dir.entries();
    if (c.setup == Setup::AppendOnlyDirectory &&
        std::system(("chattr +a '" + dir.path() + "' 2>/dev/null").c_str()) != 0)
        return;  // a file system without such folders (tmpfs)

    test::RunOptions options;
    if (c.setup == Setup::ReadOnlyDirectory || c.setup == Setup::ReadOnlyResult) {
        if (c.setup == Setup::ReadOnlyDirectory) {
            ::chmod((dir / p.result).c_str(), 0666);
            ::chmod(dir.path().c_str(), 0555);
        } else {
            ::chmod((dir / p.result).c_str(), 0444);
        }
        // Root passes every permission check: run as nobody (Wine keeps its read-only attribute even for root).
        if (::geteuid() == 0 && !test::windows()) options.uid = 65534;
    }
    if (c.setup == Setup::SizeLimit) options.file_size_limit = c.limit;
    if (c.setup == Setup::FewDescriptors) options.open_files_limit = c.limit;
    options.no_unnamed_files = c.named;
    if (c.setup == Setup::ResultSyncFails)
        options.failing_fsync = "file";  // before the new result replaces the earlier
    if (c.setup == Setup::DirectorySyncFails) options.failing_fsync = "directory";  // after it has
    bool read_by_another = false;
    bool stopped = c.setup == Setup::Terminate || c.setup == Setup::Quit || c.setup == Setup::IgnoredThenTerminate;
    if (stopped) {  // once the listing is under way
        options.signals = {c.setup == Setup::Quit ? SIGQUIT : c.signal};
        if (c.ignored) {  // the ignored one first: the program runs on until the next one
            options.ignored_signals = {c.ignored};
            options.signals = {c.ignored, c.ignored == SIGTERM ? SIGINT : SIGTERM};
        }
        options.signal_after_ms = 100;
        // A private earlier result: no other user may read the new one through its temporary file.
        ::chmod((dir / p.result).c_str(), 0600);
        // An unnamed file shows only among the program's descriptors while it is written.
        bool unnamed = !c.named && test::unnamed_files(dir.path());
        if (c.signal == SIGKILL && !unnamed) return;  // a named temporary cannot be taken back then
        options.signal_when = [&, unnamed] {
            if (unnamed) return test::unnamed_file_open_in(dir.path());
            auto now = dir.entries();
            if (now.size() <= before.size()) return false;
            for (const std::string& e : now)
                if (e != p.result && e != p.input && ::geteuid() == 0)
                    read_by_another |= test::opens_as(65534, dir / e);
            return true;
        };
    }
    // Another user may not reach the build tree (a checkout under /root, say): run a copy from /tmp.
    test::TempDir copy;
    std::string program = test::bin(p.name);
    if (options.uid) {
        copy.write(p.name, test::TempDir::read_file(program));
        ::chmod((copy / p.name).c_str(), 0755);
        program = copy / p.name;
    }
    std::optional<test::Bystander> holder, reader;
    // The result is held until the program has ended, however long a busy machine takes to start it.
    if (windows_only(c.setup))
        holder.emplace(dir.path(), std::vector<std::string>{"hold", p.result, "rw", "30000"}, true);
    if (c.setup == Setup::TemporaryReadResultHeldOpen)
        reader.emplace(dir.path(),
                       std::vector<std::string>{"snatch", ".", "." + std::string(p.result) + ".tmp", "rwd", "3000"});
    test::RunResult r = test::run(program, dir.path(), options);
    ::chmod(dir.path().c_str(), 0755);
    if (c.setup == Setup::AppendOnlyDirectory && std::system(("chattr -a '" + dir.path() + "'").c_str()) != 0)
        ADD_FAILURE() << "chattr -a";
    if (reader) {  // the temporary goes once its reader lets go
        EXPECT_EQ(reader->finish().out, "opened\n");
    }
    if (holder) {
        holder->release();
        holder->finish();
    }

    EXPECT_FALSE(r.timed_out);
    EXPECT_FALSE(read_by_another);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.setup == Setup::IgnoredThenTerminate) {
        EXPECT_TRUE(r.signalled);
    }
    // The output is streamed, never held: a long listing stopped by a size limit stays small.
    if (c.setup == Setup::SizeLimit && !test::sanitized && !std::getenv("TRIO_TEST_WRAPPER")) {
        EXPECT_LT(r.peak_kib, 64 * 1024);
    }
    std::string report = std::string(p.name) + ": " +
                         (c.status < 128 ? "run-time error " + std::to_string(c.status) + ": " : "") + c.says;
    if (c.says.empty()) {  // a SIGKILL: not a word
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_TRUE(test::is_line(r.err, report, test::line_end())) << r.err << "is not\n" << report;
    }
    EXPECT_EQ(r.out, "");                        // the box is never shown
    EXPECT_EQ(dir.entries(), before);            // no temporary file left
    if (c.setup == Setup::DirectorySyncFails) {  // the new result is in place, and the report says so
        EXPECT_NE(dir.read(p.result), earlier);
        EXPECT_FALSE(dir.read(p.result).empty());
    } else if (c.setup != Setup::ResultIsDirectory && c.setup != Setup::ResultIsFifo) {
        EXPECT_EQ(dir.read(p.result), earlier);
    }
}

// Bytes of every value, commas and line ends among them.
std::string garbage() {
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919 + 13) % 256 | (i % 3 == 0 ? 0x80 : 0));
    return bytes;
}

// Cases every program meets alike; `fields` is a valid input for the program.
std::vector<Hostile> common_cases(const std::string& input_name, const std::string& result_name,
                                  const std::string& valid) {
    auto mismatch = [&](int field, const std::string& shown) {
        return "Type mismatch: field " + std::to_string(field) + " of " + input_name + " is \"" + shown +
               "\", not a number";
    };
    std::string rest = valid.substr(valid.find(','));
    return {
        {"missing input", "", 53,
         "File not found: opening " + input_name + ": " + (test::windows() ? "*" : "No such file or directory"),
         Setup::NoInput},
        // In a folder others can write, a stranger's input is not read, nor can it hide the runner's own.
        {"a stranger's input in a shared folder", "", 70,
         "Permission denied: " + input_name + " belongs to nobody, in a directory others can write; not read",
         Setup::StrangersInput},
        {"a stranger's input in a folder an access list shares", "", 70,
         "Permission denied: " + input_name + " belongs to nobody, in a directory others can write; not read",
         Setup::StrangersInputByList},
        {"a stranger's input beside the runner's own in another case", "seven" + rest, 13,
         "Type mismatch: field 1 of " + other_case(input_name) + " is \"seven\", not a number",
         Setup::StrangersInputBesideOwn},
        {"a folder that lets nothing in it be renamed or removed", valid, 70,
         "Permission denied: " + result_name +
             " cannot be written: its directory lets no file in it be renamed or removed (it is append-only or "
             "immutable)",
         Setup::AppendOnlyDirectory},
        {"input name is a directory", "", 75, "Path/File access error: " + input_name + " is a directory",
         Setup::InputIsDirectory},
        {"input missing, two in other cases", valid, 53,
         "File not found: " + input_name + " is missing, and 2 files differ from it only in case: " +
             std::min(other_case(input_name), other_case(input_name, true)) + ", " +
             std::max(other_case(input_name), other_case(input_name, true)),
         Setup::InputInTwoOtherCases},
        {"input name in another case is a directory", "", 75,
         "Path/File access error: " + (test::windows() ? "" : other_case(input_name) + " (for ") + input_name +
             (test::windows() ? "" : ")") + " is a directory",
         Setup::InputIsDirectoryInOtherCase},
        // Not opened at all: a FIFO would hold the run until someone wrote to it.
        {"input name in another case is a FIFO", "", 75,
         "Path/File access error: " + other_case(input_name) + " (for " + input_name + ") is not a regular file",
         Setup::InputIsFifoInOtherCase},
        {"input a dangling link, one in another case read", "seven" + rest, 13,
         "Type mismatch: field 1 of " + other_case(input_name) + " is \"seven\", not a number",
         Setup::DanglingInputThenOtherCase},
        {"empty input", "", 62, "Input past end of file: " + input_name + " ends before field 1"},
        {"only blank lines", "\n \r\n\t\r\r\n", 62, "Input past end of file: " + input_name + " ends before field 1"},
        {"a word for the first number", "seven" + rest, 13,
         "Type mismatch: field 1 of " + input_name + " is \"seven\", not a number"},
        {"a quoted number with a blank", "\"7 \"" + rest, 13,
         "Type mismatch: field 1 of " + input_name + " is \"7 \", not a number"},
        {"a backslash in a field", "\\x41" + rest, 13,
         "Type mismatch: field 1 of " + input_name + " is \"\\\\x41\", not a number"},
        {"UTF-16 cut in half", test::utf16(u"1,1") + "\x31", 13,
         "Type mismatch: " + input_name + " is UTF-16 that ends in the middle of a character"},
        {"UTF-16 with an unpaired surrogate", test::utf16(u"1,\xdc00,1,1"), 13,
         "Type mismatch: " + input_name + " is UTF-16 with an unpaired surrogate"},
        {"the end-of-file mark cuts it short", valid.substr(0, valid.find(',')) + "\x1a" + rest, 62,
         "Input past end of file: " + input_name + " ends before field 2"},
        {"beyond the Double range", "1e400" + rest, 6,
         "Overflow: field 1 of " + input_name + " is beyond the largest Double"},
        {"below the Double range, negative", "-1e99999" + rest, 6,
         "Overflow: field 1 of " + input_name + " is beyond the largest Double"},
        {"inf", "inf" + rest, 13, mismatch(1, "inf")},
        {"nan", "nan" + rest, 13, mismatch(1, "nan")},
        {"Infinity", "-Infinity" + rest, 13, mismatch(1, "-Infinity")},
        {"hex", "0x1A" + rest, 13, mismatch(1, "0x1A")},
        {"locale decimal comma with semicolons", "1,5;2" + rest, 13, mismatch(2, "5;2")},
        {"digit grouping", "1'000" + rest, 13, mismatch(1, "1'000")},
        {"a 100 MB line of digits", std::string(1 << 20, '7'), 13,
         "Type mismatch: field 1 of " + input_name + " is longer than 1 MiB", Setup::Input, 0, 0, 100},
        {"a 2 MiB quoted field", "\"" + std::string(2 << 20, 'a') + "\"", 13,
         "Type mismatch: field 1 of " + input_name + " is longer than 1 MiB"},
        {"NUL bytes", std::string("\0\0\0,1,1,1", 9), 13, mismatch(1, "\\x00\\x00\\x00")},
        {"a word of 40 characters, shown whole", std::string(40, 'w') + rest, 13, mismatch(1, std::string(40, 'w'))},
        {"a word of 41 characters, shown cut", std::string(41, 'w') + rest, 13,
         mismatch(1, std::string(40, 'w') + "...")},
        {"result name is a directory", valid, 75, "Path/File access error: " + result_name + " is a directory",
         Setup::ResultIsDirectory},
        {"result name is a FIFO", valid, 75, "Path/File access error: " + result_name + " is not a regular file",
         Setup::ResultIsFifo},
        {"read-only directory", valid, 70, "Permission denied: creating " + result_name + " (in .): Permission denied",
         Setup::ReadOnlyDirectory},
        {"read-only result", valid, 70, "Permission denied: " + result_name + " is not writable",
         Setup::ReadOnlyResult},
        {"earlier result held open by another program", valid, 70,
         "Permission denied: replacing " + result_name + ": " + result_name + " is held open by another program: *",
         Setup::ResultHeldOpen},
        {"the temporary read by another program, the earlier result held", valid, 70,
         "Permission denied: replacing " + result_name + ": " + result_name + " is held open by another program: *",
         Setup::TemporaryReadResultHeldOpen},
        {"no room for the first byte", valid, 57, "Device I/O error: writing " + result_name + ": File too large",
         Setup::SizeLimit, 0},
        {"the disk fails the sync of the result", valid, 57,
         "Device I/O error: syncing " + result_name + ": Input/output error", Setup::ResultSyncFails},
        {"the disk fails the sync of the directory", valid, 57,
         "Device I/O error: " + result_name +
             " is in place, but the system could not confirm it is on the disk (syncing its directory: Input/output "
             "error)",
         Setup::DirectorySyncFails},
        // Every descriptor the result needs is opened before anything is written.
        {"too few descriptors for the result", valid, 75,
         "Path/File access error: opening *" + result_name + "*: Too many open files", Setup::FewDescriptors, 5},
    };
}

// A file size limit met at the first byte, within and at the last piece of the output that
// `input` gives: just below its full size, and below each power of two under that.
std::vector<Hostile> size_limits(const Program& p, const std::string& input) {
    if (test::windows()) return {};
    test::TempDir dir;
    dir.write(p.input, input);
    test::run(test::bin(p.name), dir.path());
    long size = static_cast<long>(dir.read(p.result).size());
    std::vector<Hostile> cases;
    for (long limit : {1L, 4095L, 65535L, 65536L, 524288L, (1L << 20) - 1, size / 2, size - 1}) {
        if (limit > 0 && limit < size)
            cases.push_back({"a size limit of " + std::to_string(limit) + " of " + std::to_string(size), input, 57,
                             "Device I/O error: writing " + std::string(p.result) + ": File too large",
                             Setup::SizeLimit, limit});
    }
    return cases;
}

// The common cases, with `valid` the program's good input, the size limits met on `long_output`,
// and the program's own; at least 25.
void check_all(const Program& p, const std::string& valid, const std::vector<Hostile>& own,
               const std::string& long_output = {}) {
    std::vector<Hostile> cases = common_cases(p.input, p.result, valid);
    for (const Hostile& c : size_limits(p, long_output.empty() ? valid : long_output)) cases.push_back(c);
    cases.insert(cases.end(), own.begin(), own.end());
    ASSERT_GE(cases.size(), 25u);
    for (const Hostile& c : cases) check(p, c);
}

TEST(BadInput, Photo) {
    check_all(
        {"photo", "PHOTO.DAT", "photo.sol"}, "7,2.54,2.54,1000",
        {
            {"too few fields", "7,2.54,2.54", 62, "Input past end of file: PHOTO.DAT ends before field 4"},
            {"too few fields, line ends", "7\r\n2.54\r\n", 62, "Input past end of file: PHOTO.DAT ends before field 3"},
            {"a word for D", "7,2.54,2.54,dpi", 13, "Type mismatch: field 4 of PHOTO.DAT is \"dpi\", not a number"},
            {"binary garbage", garbage(), 13, "Type mismatch: field 2 of PHOTO.DAT is \"\\x8f*...\", not a number"},
            {"X past the largest Double", "1e308,1,1,1", 6, "Overflow: the product is beyond the largest Double"},
            {"W times H past the largest Double", "7,1e300,1e300,1", 6,
             "Overflow: the product is beyond the largest Double"},
            {"a quotient past the largest Double", "7,1.7e308,1,1", 6,
             "Overflow: the product is beyond the largest Double"},
            {"the size of a huge A", "1e300,1e10,1e10,1e10", 6, "Overflow: the product is beyond the largest Double"},
        });
}

TEST(BadInput, Computer) {
    check_all(
        {"computer", "computer.dat", "computer.sol"}, "12,18,2",
        {
            {"too few fields", "12,18", 62, "Input past end of file: computer.dat ends before field 3"},
            {"a word for Q", "12,x,1", 13, "Type mismatch: field 2 of computer.dat is \"x\", not a number"},
            {"a word for K", "12,18,k", 13, "Type mismatch: field 3 of computer.dat is \"k\", not a number"},
            {"binary garbage", garbage(), 13,
             "Type mismatch: field 3 of computer.dat is \"\\xf8\\xe7\\xd6\xc5\xb4\\xa3\\x92\\x81p_\\xce=\", not a "
             "number"},
            {"M beyond 32 bits", "3000000000,4000000000,1", 6,
             "Overflow: field 1 of computer.dat: 3000000000 is beyond the 32-bit range"},
            {"M rounds past 32 bits", "2147483647.5,2147483648,1", 6,
             "Overflow: field 1 of computer.dat: 2147483647.5 is beyond the 32-bit range"},
            {"K beyond 32 bits", "12,18,-2147483649", 6,
             "Overflow: field 3 of computer.dat: -2147483649 is beyond the 32-bit range"},
            {"a listing past a size limit", "0,0,-2147483648", 57,
             "Device I/O error: writing computer.sol: File too large", Setup::SizeLimit, 3 << 20},
            {"SIGTERM during a long listing", "0,0,-2147483648", 128 + SIGTERM, "terminated (SIGTERM)",
             Setup::Terminate},
            {"SIGINT ignored from the start", "0,0,-2147483648", 128 + SIGTERM, "terminated (SIGTERM)",
             Setup::IgnoredThenTerminate, 0, SIGINT},
            {"SIGHUP ignored from the start (nohup)", "0,0,-2147483648", 128 + SIGTERM, "terminated (SIGTERM)",
             Setup::IgnoredThenTerminate, 0, SIGHUP},
            {"SIGTERM ignored from the start", "0,0,-2147483648", 128 + SIGINT, "interrupted (SIGINT)",
             Setup::IgnoredThenTerminate, 0, SIGTERM},
            {"SIGQUIT during a long listing", "0,0,-2147483648", 128 + SIGQUIT, "quit (SIGQUIT)", Setup::Quit},
            // Whatever ends the process leaves nothing behind: an unnamed file vanishes with it.
            {"SIGKILL during a long listing", "0,0,-2147483648", 128 + SIGKILL, "", Setup::Terminate, 0, 0, 1, SIGKILL},
            {"SIGUSR1 during a long listing", "0,0,-2147483648", 128 + SIGUSR1, "user signal 1 (SIGUSR1)",
             Setup::Terminate, 0, 0, 1, SIGUSR1},
            {"SIGRTMIN+3 during a long listing", "0,0,-2147483648", 128 + SIGRTMIN + 3,
             "real-time signal 3 (SIGRTMIN+3)", Setup::Terminate, 0, 0, 1, SIGRTMIN + 3},
            {"SIGXCPU during a long listing", "0,0,-2147483648", 128 + SIGXCPU, "CPU time limit exceeded (SIGXCPU)",
             Setup::Terminate, 0, 0, 1, SIGXCPU},
            {"SIGABRT during a long listing", "0,0,-2147483648", 128 + SIGABRT, "aborted (SIGABRT)", Setup::Terminate,
             0, 0, 1, SIGABRT},
            {"SIGTERM during a long listing, a named temporary", "0,0,-2147483648", 128 + SIGTERM,
             "terminated (SIGTERM)", Setup::Terminate, 0, 0, 1, SIGTERM, true},
            {"SIGQUIT ignored from the start", "0,0,-2147483648", 128 + SIGTERM, "terminated (SIGTERM)",
             Setup::IgnoredThenTerminate, 0, SIGQUIT},
        },
        "0.3,0.4,-146400");
}

TEST(BadInput, Tallage) {
    std::string hundred = "100,0,0";
    for (int i = 1; i <= 100; ++i) hundred += "," + std::to_string(i) + "," + std::to_string(i);
    check_all(
        {"tallage", "tallage.dat", "tallage.sol"}, "1,0,0,3,4",
        {
            {"101 points after point 0", "101" + hundred.substr(3) + ",1,1", 9,
             "Subscript out of range: index 101 of y is outside 0 to 100"},
            {"a huge N", "1e9" + hundred.substr(3), 9, "Subscript out of range: index 101 of y is outside 0 to 100"},
            {"a coordinate of 40000", "1,0,0,40000,0", 6,
             "Overflow: field 4 of tallage.dat: 40000 is beyond the 16-bit range"},
            {"a coordinate of -40000", "1,0,0,0,-40000", 6,
             "Overflow: field 5 of tallage.dat: -40000 is beyond the 16-bit range"},
            {"point 0's y past 16 bits", "1,0,32767.5,3,4", 6,
             "Overflow: field 3 of tallage.dat: 32767.5 is beyond the 16-bit range"},
            {"point 0 past 16 bits", "0,32767.5,0", 6,
             "Overflow: field 2 of tallage.dat: 32767.5 is beyond the 16-bit range"},
            {"a difference past 16 bits", "1,-20000,0,20000,0", 6,
             "Overflow: -20000 - 20000 is beyond the 16-bit range"},
            {"a difference past 16 bits, upward", "1,32767,0,-32768,0", 6,
             "Overflow: 32767 - -32768 is beyond the 16-bit range"},
            {"a difference of y past 16 bits", "1,0,32767,0,-32768", 6,
             "Overflow: 32767 - -32768 is beyond the 16-bit range"},
            {"a distance past 16 bits", "1,0,0,30000,30000", 6,
             "Overflow: 42426.4068711928 is beyond the 16-bit range"},
            {"a word for a coordinate", "1,0,0,a,1", 13,
             "Type mismatch: field 4 of tallage.dat is \"a\", not a number"},
            {"binary garbage", garbage(), 13, "Type mismatch: field 2 of tallage.dat is \"\\x8f*...\", not a number"},
            {"too few pairs", "3,0,0,1,1", 62, "Input past end of file: tallage.dat ends before field 6"},
            {"a listing past a size limit", "1,0,0,3,4", 57, "Device I/O error: writing tallage.sol: File too large",
             Setup::SizeLimit, 1000},
        });
}

// The same result whatever the line ends, whichever standard descriptors are closed at start (so
// that the input or the result takes their numbers), and over an earlier result of mode 000 or
// 04755, whose permission bits it keeps (not its set-id bits), but where it is another user's.
TEST(BadInput, SameResultWhateverTheSurroundings) {
    struct {
        Program p;
        std::string lf;
    } programs[] = {{{"photo", "PHOTO.DAT", "photo.sol"}, "7\n2.54\n2.54\n1000\n"},
                    {{"computer", "computer.dat", "computer.sol"}, "12\n18\n2\n"},
                    {{"tallage", "tallage.dat", "tallage.sol"}, "1\n0\n0\n3\n4\n"}};
    struct Variant {
        std::string ends = "\n";
        std::vector<int> closed;
        int mode = -1;                     // of an earlier result; -1: none
        bool nobodys = false;              // the earlier result and its directory are nobody's; root runs the program
        bool planted = false;              // temporary names of the run's likely process numbers made beforehand
        bool input_in_other_case = false;  // as copied from Windows: read all the same, the result keeps its name
        bool by_nobody = false;            // run as nobody over root's earlier result, which lends no mode or owner
        bool named = false;                // the file system taken to have no unnamed files: a named temporary
        // Windows: another program at work meanwhile ("result": holding the earlier result for
        // half a second, not sharing its deletion; "indexer": opening the temporary as it appears, not
        // sharing its deletion, which is refused, or sharing it, which is not), and in what
        // words it says how that went.
        std::string bystander = "";
        std::string bystander_says = "";
        int depth = 0;  // run in a folder this deep in the scratch one (a path past MAX_PATH on Windows)
    } variants[] = {{},
                    {"\r\n", {}},
                    {"\r", {}},
                    {"\n", {0}},
                    {"\n", {1}},
                    {"\n", {2}},
                    {"\n", {0, 1}},
                    {"\n", {0, 2}},
                    {"\n", {1, 2}},
                    {"\n", {0, 1, 2}},
                    {"\n", {}, ::geteuid() == 0 ? 0 : -1},
                    {"\n", {}, 04755},
                    {"\n", {}, 0640, ::geteuid() == 0},
                    {"\n", {}, -1, false, true},
                    {"\r\n", {}, -1, false, false, true},
                    {"\n", {}, 0606, false, false, false, ::geteuid() == 0},
                    {"\n", {}, 0640, false, false, false, false, test::native()},
                    {"\n", {}, -1, false, false, false, false, false, "result"},
                    {"\n", {}, -1, false, false, false, false, false, "indexer", "refused 32\n"},
                    {"\n", {}, -1, false, false, false, false, false, "indexer sharing deletion", "opened\n"},
                    {"\n", {}, -1, false, false, false, false, false, "", "", 4}};
    mode_t mask = ::umask(0);
    ::umask(mask);
    for (auto& [p, lf] : programs) {
        std::string expected;
        for (const Variant& v : variants) {
            if (test::windows() && (!v.closed.empty() || v.mode >= 0)) continue;  // POSIX descriptors and modes
            if (!test::windows() && !v.bystander.empty()) continue;               // a program of Windows
            std::string input;
            for (char c : lf) input += c == '\n' ? v.ends : std::string(1, c);
            test::TempDir dir(v.depth);
            std::string input_name = v.input_in_other_case ? other_case(p.input) : p.input;
            dir.write(input_name, input);
            if (v.mode >= 0) {
                dir.write(p.result, earlier);
                ::chmod((dir / p.result).c_str(), static_cast<mode_t>(v.mode));
            }
            if (v.nobodys) {
                ASSERT_EQ(::chown((dir / p.result).c_str(), 65534, 65534), 0);
                ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
            }
            std::vector<std::string> planted;
            for (pid_t pid = ::getpid(); v.planted && pid < ::getpid() + 100; ++pid)
                for (int attempt = 0; attempt <= 101; ++attempt)
                    planted.push_back("." + std::string(p.result) + ".tmp" + std::to_string(pid) + "-" +
                                      std::to_string(attempt));
            for (const std::string& name : planted) dir.write(name, "");
            test::RunOptions options;
            options.closed_fds = v.closed;
            // An indexer gets its go at the temporary while the earlier result is held, and the
            // temporary waits for the move: it is there long enough to be seen however busy the machine.
            std::optional<test::Bystander> bystander, holder;
            if (!v.bystander.empty()) dir.write(p.result, earlier);
            if (v.bystander == "result") {
                holder.emplace(dir.path(), std::vector<std::string>{"hold", p.result, "rw", "500"});
            } else if (!v.bystander.empty()) {
                bystander.emplace(dir.path(),
                                  std::vector<std::string>{"snatch", ".", "." + std::string(p.result) + ".tmp",
                                                           v.bystander == "indexer" ? "rw" : "rwd", "300"});
                holder.emplace(dir.path(),
                               std::vector<std::string>{"hold", p.result, "rw", "10000", bystander->done()});
            }
            options.no_unnamed_files = v.named;
            test::TempDir copy;  // another user may not reach the build tree
            std::string program = test::bin(p.name);
            if (v.by_nobody) {
                options.uid = 65534;
                copy.write(p.name, test::TempDir::read_file(program));
                ::chmod((copy / p.name).c_str(), 0755);
                program = copy / p.name;
            }
            test::RunResult r = test::run(program, dir.path(), options);
            SCOPED_TRACE(std::string(p.name) + " ends " + std::to_string(v.ends.size()) + " closed " +
                         std::to_string(v.closed.size()) +
                         (v.closed.empty() ? "" : " from " + std::to_string(v.closed[0])) +
                         (v.input_in_other_case ? " as " + input_name : "") +
                         (v.bystander.empty() ? "" : ", " + v.bystander + " busy") +
                         (v.depth ? ", " + std::to_string(dir.path().size()) + " characters deep" : ""));
            if (bystander) {
                EXPECT_EQ(bystander->finish().out, v.bystander_says);
            }
            if (holder) holder->finish();
            EXPECT_EQ(r.status, 0) << r.err;
            if (expected.empty()) expected = dir.read(p.result);
            EXPECT_EQ(dir.read(p.result), expected);
            planted.insert(planted.end(), {input_name, p.result});
            std::sort(planted.begin(), planted.end());
            EXPECT_EQ(dir.entries(), planted);
            struct stat st {};
            ::stat((dir / p.result).c_str(), &st);
            if (!test::windows()) {
                EXPECT_EQ(st.st_mode & 07777, v.mode >= 0 && !v.by_nobody ? v.mode & 0777u : 0666u & ~mask);
                EXPECT_EQ(st.st_uid, v.nobodys || v.by_nobody ? 65534u : ::geteuid());  // the owner kept
            }
        }
        EXPECT_FALSE(expected.empty());
    }
}

// The earlier result's mode is taken as it stands when the new result replaces it: changed while
// a long listing is written, the change holds.
TEST(BadInput, ModeChangedDuringTheRunHolds) {
    if (test::windows() || !test::native()) GTEST_SKIP() << "POSIX modes, and a shim built for this machine";
    test::TempDir dir;
    dir.write("computer.dat", "0,0,-5000000");
    dir.write("computer.sol", earlier);
    ::chmod((dir / "computer.sol").c_str(), 0644);
    test::RunOptions options;
    options.no_unnamed_files = true;  // so that the temporary shows once the listing is under way
    options.signals = {SIGCONT};      // which ends nothing: only the moment of the change matters
    options.signal_when = [&] {
        if (dir.entries().size() < 3) return false;
        ::chmod((dir / "computer.sol").c_str(), 0600);
        return true;
    };
    test::RunResult r = test::run(test::bin("computer"), dir.path(), options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.signalled);
    struct stat st {};
    ::stat((dir / "computer.sol").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"computer.dat", "computer.sol"}));
}

}  // namespace
