// Bad input and faults, for each program: malformed and hostile input files, unusable result
// names, a file size limit hit mid-output, a stopping signal. Each must end with its error
// number, one line on standard error, no temporary file left, and the earlier result byte for
// byte as it was. A case names its report as the catalog has it (which sentence, with which file,
// field and parts); the sentences' words are checked once, in messages_test.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <list>
#include <optional>
#include <set>

#include "errors.hpp"
#include "messages.hpp"
#include "support.hpp"

namespace {

using rt::Message;
using rt::Msg;

struct Program {
    const char* name;
    const char* input;
    const char* result;
    std::string valid;  // a valid input, its fields on one line
};
const Program photo{"photo", "PHOTO.DAT", "photo.sol", "7,2.54,2.54,1000"};
const Program computer{"computer", "computer.dat", "computer.sol", "12,18,2"};
const Program tallage{"tallage", "tallage.dat", "tallage.sol", "1,0,0,3,4"};

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

// Whether the programs run under a wrapper (qemu, Wine, valgrind).
bool wrapped() { return std::getenv("TRIO_TEST_WRAPPER") != nullptr; }

// A program's run in a scratch folder, as a case sets it up.
struct Scene {
    Scene(const Program& of, std::string text, int depth = 0)
        : p(of), input(std::move(text)), dir(depth), program(test::bin(of.name)) {}
    const Program& p;
    std::string input;  // the input's text
    test::TempDir dir;
    std::string program;  // the built one, or a copy that another user can reach
    std::optional<test::TempDir> copy;
    test::RunOptions options;
    std::vector<std::string> before;  // the folder's entries, the input and the earlier result in place
    bool earlier_kept = true;         // the earlier result is there after the run, byte for byte
    bool read_by_another = false;     // another user could open the temporary while it was written
    std::optional<mode_t> mode;       // the result's permission bits after the run; none: the umask's
    uid_t owner = ::geteuid();        // the result's owner after the run
    std::list<test::Bystander> bystanders;
    std::vector<std::function<void(const test::RunResult&)>> after;  // once the run has ended, the last first
};

// One piece of a case's setting: false where the case is not for here, or could not be set up
// (which it reports).
using Step = std::function<bool(Scene&)>;

bool made(int status, const char* what) {
    EXPECT_EQ(status, 0) << what;
    return status == 0;
}

// The step where it can be taken; elsewhere the run goes on without it.
Step if_possible(Step step) {
    return [step](Scene& s) {
        step(s);
        return true;
    };
}

// The folder's entries as they stand before the run.
bool take_stock(Scene& s) {
    s.before = s.dir.entries();
    return true;
}

// Sets the scene step by step and runs the program there; nothing where a step says the case is
// not for here. What the steps left for the run's end is done then, the last first.
std::optional<test::RunResult> play(Scene& s, const std::vector<Step>& steps) {
    for (const Step& step : steps)
        if (!step(s)) return std::nullopt;
    test::RunResult r = test::run(s.program, s.dir.path(), s.options);
    for (auto then = s.after.rbegin(); then != s.after.rend(); ++then) (*then)(r);
    return r;
}

// The input, or what stands in its name. The input file holds the text `times` over (a huge
// file, not held here).
Step input_file(int times = 1) {
    return [times](Scene& s) {
        std::string content;
        for (int i = 0; i < times; ++i) content += s.input;
        s.dir.write(s.p.input, content);
        return true;
    };
}
bool no_input(Scene&) { return true; }
bool input_in_other_case(Scene& s) {
    s.dir.write(other_case(s.p.input), s.input);
    return true;
}
bool input_directory(Scene& s) { return made(::mkdir((s.dir / s.p.input).c_str(), 0755), "mkdir"); }
bool input_directory_in_other_case(Scene& s) {
    return made(::mkdir((s.dir / other_case(s.p.input)).c_str(), 0755), "mkdir");
}
// What only POSIX has: two names that differ only in case, a FIFO, a link.
bool input_in_two_other_cases(Scene& s) {
    if (test::windows()) return false;
    s.dir.write(other_case(s.p.input), s.input);
    s.dir.write(other_case(s.p.input, true), s.input);
    return true;
}
bool input_fifo_in_other_case(Scene& s) {
    return !test::windows() && made(::mkfifo((s.dir / other_case(s.p.input)).c_str(), 0644), "mkfifo");
}
bool dangling_input_then_other_case(Scene& s) {
    if (test::windows() || !made(::symlink("gone", (s.dir / s.p.input).c_str()), "symlink")) return false;
    s.dir.write(other_case(s.p.input), s.input);
    return true;
}

// Another user's input, a valid one to every program: root's to set up, on POSIX.
bool strangers_file(Scene& s) {
    s.dir.write(s.p.input, "1,1,1,1,1");
    return made(::chown((s.dir / s.p.input).c_str(), 65534, 65534), "chown");
}
// In a folder others can write, shared as /tmp is.
bool strangers_input(Scene& s) {
    if (test::windows() || ::geteuid() != 0) return false;
    ::chmod(s.dir.path().c_str(), 01777);
    return strangers_file(s);
}
// And the runner's own beside it, in another case.
bool strangers_input_beside_own(Scene& s) { return strangers_input(s) && input_in_other_case(s); }
// In the runner's own group's folder, theirs alone but for an access list that lets the stranger
// write; a build of another machine's reads no access lists (it takes group bits for others').
bool strangers_input_by_list(Scene& s) {
    if (test::windows() || ::geteuid() != 0 || !test::native()) return false;
    ::chmod(s.dir.path().c_str(), 0775);
    if (std::system(("setfacl -m u:65534:rwx '" + s.dir.path() + "' 2>/dev/null").c_str()) != 0) return false;
    return strangers_file(s);
}

// The earlier result, or what stands in its name.
bool earlier_result(Scene& s) {
    s.dir.write(s.p.result, earlier);
    return true;
}
bool result_directory(Scene& s) {
    s.earlier_kept = false;
    return made(::mkdir((s.dir / s.p.result).c_str(), 0755), "mkdir");
}
bool result_fifo(Scene& s) {
    s.earlier_kept = false;
    return !test::windows() && made(::mkfifo((s.dir / s.p.result).c_str(), 0644), "mkfifo");
}
// POSIX: an earlier result of this mode, whose permission bits the new one keeps (not its set-id bits).
Step earlier_of_mode(mode_t mode) {
    return [mode](Scene& s) {
        if (test::windows()) return false;
        earlier_result(s);
        ::chmod((s.dir / s.p.result).c_str(), mode);
        s.mode = mode & 0777;
        return true;
    };
}

// Root passes every permission check: the program is run as nobody where root runs the tests
// (Wine keeps its read-only attribute even for root), from a copy, as nobody may not reach the
// build tree (a checkout under /root, say); the result is then nobody's, and of the umask's mode.
bool as_nobody(Scene& s) {
    if (::geteuid() != 0 || test::windows()) return true;
    s.options.uid = s.owner = 65534;
    s.mode.reset();
    test::TempDir& copy = s.copy.emplace();
    copy.write(s.p.name, test::TempDir::read_file(s.program));
    ::chmod((copy / s.p.name).c_str(), 0755);
    s.program = copy / s.p.name;
    return true;
}
bool by_root(Scene&) { return ::geteuid() == 0; }
// The earlier result and its folder nobody's (root runs the program): the owner is kept.
bool nobodys(Scene& s) {
    if (test::windows() || ::geteuid() != 0) return false;
    s.owner = 65534;
    return made(::chown((s.dir / s.p.result).c_str(), 65534, 65534), "chown") &&
           made(::chown(s.dir.path().c_str(), 65534, 65534), "chown");
}
bool read_only_directory(Scene& s) {
    if (test::windows()) return false;
    ::chmod((s.dir / s.p.result).c_str(), 0666);
    ::chmod(s.dir.path().c_str(), 0555);
    s.after.push_back([&s](const test::RunResult&) { ::chmod(s.dir.path().c_str(), 0755); });
    return as_nobody(s);
}
bool read_only_result(Scene& s) {
    ::chmod((s.dir / s.p.result).c_str(), 0444);
    return as_nobody(s);
}
// Root's, on POSIX: a folder that lets no file in it be renamed or removed; not on a file system
// without such folders (tmpfs).
bool append_only_directory(Scene& s) {
    if (test::windows() || ::geteuid() != 0 ||
        std::system(("chattr +a '" + s.dir.path() + "' 2>/dev/null").c_str()) != 0)
        return false;
    s.after.push_back([&s](const test::RunResult&) {
        EXPECT_EQ(std::system(("chattr -a '" + s.dir.path() + "'").c_str()), 0) << "chattr -a";
    });
    return true;
}
// Temporary names of the run's likely process numbers, made beforehand.
bool planted_temporaries(Scene& s) {
    for (pid_t pid = ::getpid(); pid < ::getpid() + 100; ++pid)
        for (int attempt = 0; attempt <= 101; ++attempt)
            s.dir.write("." + std::string(s.p.result) + ".tmp" + std::to_string(pid) + "-" + std::to_string(attempt),
                        "");
    return true;
}

// POSIX: a file size limit (SIGXFSZ at its default, as every signal). The output is streamed,
// never held: a long listing stopped by the limit stays small.
Step size_limit(long bytes) {
    return [bytes](Scene& s) {
        if (test::windows()) return false;
        s.options.file_size_limit = bytes;
        if (!test::sanitized && !wrapped())
            s.after.push_back([](const test::RunResult& r) { EXPECT_LT(r.peak_kib, 64 * 1024); });
        return true;
    };
}
// POSIX: few descriptors; the sanitizers' runtime, qemu or a loader need descriptors of their own.
Step few_descriptors(long count) {
    return [count](Scene& s) {
        if (test::windows() || test::sanitized || wrapped()) return false;
        s.options.open_files_limit = count;
        return true;
    };
}
// POSIX: standard descriptors closed at start, so that the input or the result takes their numbers.
Step closed(std::vector<int> fds) {
    return [fds](Scene& s) {
        if (test::windows()) return false;
        s.options.closed_fds = fds;
        return true;
    };
}
// A shim preloaded into the program, which must be built for this machine: the file system taken
// to have no unnamed files (a named temporary), the disk failing the sync of the result (before
// it replaces the earlier one) or of its directory (after: the new result is in place, and the
// report says so).
bool named(Scene& s) {
    if (!test::native()) return false;
    s.options.no_unnamed_files = true;
    return true;
}
bool result_sync_fails(Scene& s) {
    if (!test::native()) return false;
    s.options.failing_fsync = "file";
    return true;
}
bool directory_sync_fails(Scene& s) {
    if (!test::native()) return false;
    s.options.failing_fsync = "directory";
    s.earlier_kept = false;
    s.after.push_back([&s](const test::RunResult&) {
        EXPECT_NE(s.dir.read(s.p.result), earlier);
        EXPECT_FALSE(s.dir.read(s.p.result).empty());
    });
    return true;
}

// POSIX: signals sent 100 ms apart, once the listing is under way. The earlier result is private:
// no other user may read the new one through its temporary file meanwhile.
bool signalled(Scene& s, std::vector<int> signals) {
    if (test::windows()) return false;
    // An unnamed file shows only among the program's descriptors while it is written; a named
    // temporary cannot be taken back after a SIGKILL.
    bool unnamed = !s.options.no_unnamed_files && test::unnamed_files(s.dir.path());
    if (signals.back() == SIGKILL && !unnamed) return false;
    s.options.signals = std::move(signals);
    s.options.signal_after_ms = 100;
    ::chmod((s.dir / s.p.result).c_str(), 0600);
    s.options.signal_when = [&s, unnamed] {
        if (unnamed) return test::unnamed_file_open_in(s.dir.path());
        std::vector<std::string> now = s.dir.entries();
        if (now.size() <= s.before.size()) return false;
        for (const std::string& e : now)
            if (e != s.p.result && e != s.p.input && ::geteuid() == 0)
                s.read_by_another |= test::opens_as(65534, s.dir / e);
        return true;
    };
    s.after.push_back([&s](const test::RunResult&) { EXPECT_FALSE(s.read_by_another); });
    return true;
}
// qemu has words of its own for a fault that ends the program, and keeps real-time signals of its
// own (it hands the program another one than sent).
Step sent(int sig) {
    return [sig](Scene& s) { return !((sig == SIGABRT || sig >= SIGRTMIN) && wrapped()) && signalled(s, {sig}); };
}
// One ignored from the start (as nohup has SIGHUP): the program runs on until the next.
Step ignored_then_sent(int ignored) {
    return [ignored](Scene& s) {
        s.options.ignored_signals = {ignored};
        s.after.push_back([](const test::RunResult& r) { EXPECT_TRUE(r.signalled); });
        return signalled(s, {ignored, ignored == SIGTERM ? SIGINT : SIGTERM});
    };
}

// Windows: another program at work in the folder. The earlier result held, not sharing its
// deletion: for half a second; or for longer than the move waits, until the program has ended
// however long a busy machine takes to start it.
test::Bystander& holder(Scene& s, std::vector<std::string> args, bool until_released = false) {
    args.insert(args.begin(), {"hold", s.p.result, "rw"});
    return s.bystanders.emplace_back(s.dir.path(), std::move(args), until_released);
}
// The temporary opened as it appears, sharing its deletion ("rwd") or not ("rw").
test::Bystander& snatcher(Scene& s, const char* sharing, const char* ms) {
    return s.bystanders.emplace_back(
        s.dir.path(), std::vector<std::string>{"snatch", ".", "." + std::string(s.p.result) + ".tmp", sharing, ms});
}
bool result_held_briefly(Scene& s) {
    if (!test::windows()) return false;
    earlier_result(s);
    test::Bystander& held = holder(s, {"500"});
    s.after.push_back([&held](const test::RunResult&) { held.finish(); });
    return true;
}
bool result_held(Scene& s) {
    if (!test::windows()) return false;
    test::Bystander& held = holder(s, {"30000"}, true);
    s.after.push_back([&held](const test::RunResult&) {
        held.release();
        held.finish();
    });
    return true;
}
// And read meanwhile, its deletion shared: it goes once its reader lets go.
bool temporary_read(Scene& s) {
    if (!test::windows()) return false;
    test::Bystander& reader = snatcher(s, "rwd", "3000");
    s.after.push_back([&reader](const test::RunResult&) { EXPECT_EQ(reader.finish().out, "opened\n"); });
    return true;
}
// An indexer gets its go at the temporary while the earlier result is held, and the temporary
// waits for the move: it is there long enough to be seen however busy the machine. It says how
// its open went.
Step indexer(const char* sharing, std::string says) {
    return [sharing, says](Scene& s) {
        if (!test::windows()) return false;
        earlier_result(s);
        test::Bystander& reader = snatcher(s, sharing, "300");
        test::Bystander& held = holder(s, {"10000", reader.done()});
        s.after.push_back([&reader, &held, says](const test::RunResult&) {
            EXPECT_EQ(reader.finish().out, says);
            held.finish();
        });
        return true;
    };
}

// How a run ends: its exit status, and its one line on standard error after "<program>: " (none:
// not a word).
struct End {
    int status = 0;
    Message says;
};
End report(int number, Message detail) {
    return {number, {Msg::Report, {rt::numeral(number), {Msg::ErrorWithDetail, {rt::error_name(number), detail}}}}};
}
End stopped(int sig, Message says) { return {128 + sig, std::move(says)}; }

// A field of a file; the reports of one that is no number (its text as shown), of a file that
// ends before it, and of a result that meets the file size limit.
Message field(int k, const std::string& file) { return {Msg::FieldOf, {rt::numeral(k), file}}; }
End mismatch(int k, const std::string& file, const std::string& shown) {
    return report(13, {Msg::FieldNotANumber, {field(k, file), shown}});
}
End past_end(const std::string& file, int k) { return report(62, {Msg::EndsBeforeField, {file, rt::numeral(k)}}); }
End too_large(const std::string& file) { return report(57, {Msg::Writing, {file, "File too large"}}); }

// A hostile case: the input's text, how the run ends, and its scene: the input (or what stands in
// its name), the earlier result (or what stands in its name), then whatever else.
struct Hostile {
    std::string name;
    std::optional<std::string> input = {};  // none: the program's valid input
    End end = {};
    Step in = input_file();
    Step out = earlier_result;
    std::vector<Step> also = {};
};

void check(const Program& p, const Hostile& c) {
    SCOPED_TRACE(std::string(p.name) + ": " + c.name);
    Scene s(p, c.input.value_or(p.valid));
    std::vector<Step> steps{c.in, c.out, take_stock};
    steps.insert(steps.end(), c.also.begin(), c.also.end());
    std::optional<test::RunResult> r = play(s, steps);
    if (!r) return;
    EXPECT_FALSE(r->timed_out);
    EXPECT_EQ(r->status, c.end.status) << r->err;
    if (c.end.says.empty()) {  // a SIGKILL: not a word
        EXPECT_EQ(r->err, "");
    } else {  // a * stands for words not the program's own
        std::string line = std::string(p.name) + ": " + rt::words(c.end.says);
        EXPECT_TRUE(test::is_line(r->err, line, test::line_end())) << r->err << "is not\n" << line;
    }
    EXPECT_EQ(r->out, "");                 // the box is never shown
    EXPECT_EQ(s.dir.entries(), s.before);  // no temporary file left
    if (s.earlier_kept) {
        EXPECT_EQ(s.dir.read(p.result), earlier);
    }
}

// Bytes of every value, commas and line ends among them.
std::string garbage() {
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919 + 13) % 256 | (i % 3 == 0 ? 0x80 : 0));
    return bytes;
}

// Cases every program meets alike: the input's and the result's names, and their folder.
std::vector<Hostile> name_cases(const Program& p) {
    const std::string in = p.input, out = p.result, seven = "seven" + p.valid.substr(p.valid.find(','));
    Message look_alike(Msg::ForName, {other_case(in), in});
    Message strangers(Msg::StrangersInput, {in, "nobody"});
    return {
        {.name = "missing input",
         .end = report(53, {Msg::Opening, {in, test::windows() ? "*" : "No such file or directory"}}),
         .in = no_input},
        // In a folder others can write, a stranger's input is not read, nor can it hide the runner's own.
        {.name = "a stranger's input in a shared folder", .end = report(70, strangers), .in = strangers_input},
        {.name = "a stranger's input in a folder an access list shares",
         .end = report(70, strangers),
         .in = strangers_input_by_list},
        {.name = "a stranger's input beside the runner's own in another case",
         .input = seven,
         .end = mismatch(1, other_case(in), "seven"),
         .in = strangers_input_beside_own},
        {.name = "a folder that lets nothing in it be renamed or removed",
         .end = report(70, {Msg::AppendOnlyDirectory, {out}}),
         .also = {append_only_directory}},
        {.name = "input name is a directory", .end = report(75, {Msg::IsDirectory, {in}}), .in = input_directory},
        {.name = "input missing, two in other cases",
         .end = report(53, {Msg::MissingWithLookAlikes,
                            {in,
                             "2",
                             {Msg::List,
                              {std::min(other_case(in), other_case(in, true)),
                               std::max(other_case(in), other_case(in, true))}}}}),
         .in = input_in_two_other_cases},
        {.name = "input name in another case is a directory",
         .end = report(75, {Msg::IsDirectory, {test::windows() ? Message(in) : look_alike}}),
         .in = input_directory_in_other_case},
        // Not opened at all: a FIFO would hold the run until someone wrote to it.
        {.name = "input name in another case is a FIFO",
         .end = report(75, {Msg::NotRegular, {look_alike}}),
         .in = input_fifo_in_other_case},
        {.name = "input a dangling link, one in another case read",
         .input = seven,
         .end = mismatch(1, other_case(in), "seven"),
         .in = dangling_input_then_other_case},
        {.name = "result name is a directory", .end = report(75, {Msg::IsDirectory, {out}}), .out = result_directory},
        {.name = "result name is a FIFO", .end = report(75, {Msg::NotRegular, {out}}), .out = result_fifo},
    };
}

// The input's fields.
std::vector<Hostile> field_cases(const Program& p) {
    const std::string in = p.input, rest = p.valid.substr(p.valid.find(','));
    auto not_a_number = [&](int k, const std::string& shown) { return mismatch(k, in, shown); };
    End too_long = report(13, {Msg::FieldTooLong, {field(1, in)}});
    End beyond_double = report(6, {Msg::FieldBeyondDouble, {field(1, in)}});
    return {
        {.name = "empty input", .input = "", .end = past_end(in, 1)},
        {.name = "only blank lines", .input = "\n \r\n\t\r\r\n", .end = past_end(in, 1)},
        {.name = "a word for the first number", .input = "seven" + rest, .end = not_a_number(1, "seven")},
        {.name = "a quoted number with a blank", .input = "\"7 \"" + rest, .end = not_a_number(1, "7 ")},
        {.name = "a backslash in a field", .input = "\\x41" + rest, .end = not_a_number(1, "\\\\x41")},
        {.name = "UTF-16 cut in half", .input = test::utf16(u"1,1") + "\x31", .end = report(13, {Msg::Utf16Cut, {in}})},
        {.name = "UTF-16 with an unpaired surrogate",
         .input = test::utf16(u"1,\xdc00,1,1"),
         .end = report(13, {Msg::Utf16Unpaired, {in}})},
        {.name = "the end-of-file mark cuts it short",
         .input = p.valid.substr(0, p.valid.find(',')) + "\x1a" + rest,
         .end = past_end(in, 2)},
        {.name = "beyond the Double range", .input = "1e400" + rest, .end = beyond_double},
        {.name = "below the Double range, negative", .input = "-1e99999" + rest, .end = beyond_double},
        {.name = "inf", .input = "inf" + rest, .end = not_a_number(1, "inf")},
        {.name = "nan", .input = "nan" + rest, .end = not_a_number(1, "nan")},
        {.name = "Infinity", .input = "-Infinity" + rest, .end = not_a_number(1, "-Infinity")},
        {.name = "hex", .input = "0x1A" + rest, .end = not_a_number(1, "0x1A")},
        {.name = "locale decimal comma with semicolons", .input = "1,5;2" + rest, .end = not_a_number(2, "5;2")},
        {.name = "digit grouping", .input = "1'000" + rest, .end = not_a_number(1, "1'000")},
        {.name = "a 100 MB line of digits", .input = std::string(1 << 20, '7'), .end = too_long, .in = input_file(100)},
        {.name = "a 2 MiB quoted field", .input = "\"" + std::string(2 << 20, 'a') + "\"", .end = too_long},
        {.name = "NUL bytes", .input = std::string("\0\0\0,1,1,1", 9), .end = not_a_number(1, "\\x00\\x00\\x00")},
        {.name = "a word of 40 characters, shown whole",
         .input = std::string(40, 'w') + rest,
         .end = not_a_number(1, std::string(40, 'w'))},
        {.name = "a word of 41 characters, shown cut",
         .input = std::string(41, 'w') + rest,
         .end = not_a_number(1, std::string(40, 'w') + "...")},
    };
}

// Writing the result.
std::vector<Hostile> result_cases(const Program& p) {
    const std::string out = p.result;
    End held = report(70, {Msg::HeldOpen, {out, out, "*"}});
    return {
        {.name = "read-only directory",
         .end = report(70, {Msg::CreatingIn, {out, ".", "Permission denied"}}),
         .also = {read_only_directory}},
        {.name = "read-only result", .end = report(70, {Msg::NotWritable, {out}}), .also = {read_only_result}},
        {.name = "earlier result held open by another program", .end = held, .also = {result_held}},
        {.name = "the temporary read by another program, the earlier result held",
         .end = held,
         .also = {result_held, temporary_read}},
        {.name = "no room for the first byte", .end = too_large(out), .also = {size_limit(0)}},
        // A temporary that has a name is removed when the run gives up.
        {.name = "no room for the first byte, a named temporary",
         .end = too_large(out),
         .also = {named, size_limit(0)}},
        {.name = "the disk fails the sync of the result",
         .end = report(57, {Msg::Syncing, {out, "Input/output error"}}),
         .also = {result_sync_fails}},
        {.name = "the disk fails the sync of the directory",
         .end = report(57, {Msg::NotConfirmed, {out, "Input/output error"}}),
         .also = {directory_sync_fails}},
        // Every descriptor the result needs is opened before anything is written.
        {.name = "too few descriptors for the result",
         .end = report(75, {Msg::Opening, {"*" + out + "*", "Too many open files"}}),
         .also = {few_descriptors(5)}},
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
            cases.push_back({.name = "a size limit of " + std::to_string(limit) + " of " + std::to_string(size),
                             .input = input,
                             .end = too_large(p.result),
                             .also = {size_limit(limit)}});
    }
    return cases;
}

// The common cases, the size limits met on `long_output` (or the valid input's), and the
// program's own; at least 25.
void check_all(const Program& p, const std::vector<Hostile>& own, const std::string& long_output = {}) {
    std::vector<Hostile> cases = name_cases(p);
    for (const auto& more :
         {field_cases(p), result_cases(p), size_limits(p, long_output.empty() ? p.valid : long_output), own})
        cases.insert(cases.end(), more.begin(), more.end());
    ASSERT_GE(cases.size(), 25u);
    for (const Hostile& c : cases) check(p, c);
}

TEST(BadInput, Photo) {
    End product = report(6, Msg::ProductBeyondDouble);
    check_all(photo,
              {
                  {.name = "too few fields", .input = "7,2.54,2.54", .end = past_end("PHOTO.DAT", 4)},
                  {.name = "too few fields, line ends", .input = "7\r\n2.54\r\n", .end = past_end("PHOTO.DAT", 3)},
                  {.name = "a word for D", .input = "7,2.54,2.54,dpi", .end = mismatch(4, "PHOTO.DAT", "dpi")},
                  {.name = "binary garbage", .input = garbage(), .end = mismatch(2, "PHOTO.DAT", "\\x8f*...")},
                  {.name = "X past the largest Double", .input = "1e308,1,1,1", .end = product},
                  {.name = "W times H past the largest Double", .input = "7,1e300,1e300,1", .end = product},
                  {.name = "a quotient past the largest Double", .input = "7,1.7e308,1,1", .end = product},
                  {.name = "the size of a huge A", .input = "1e300,1e10,1e10,1e10", .end = product},
              });
}

// Computer's long listing met by a size limit, and stopped by a signal once under way.
std::vector<Hostile> listing_cases() {
    End terminated = stopped(SIGTERM, {Msg::Terminated, {"SIGTERM"}});
    std::vector<Hostile> cases = {
        {.name = "a listing past a size limit", .end = too_large("computer.sol"), .also = {size_limit(3 << 20)}},
        {.name = "SIGTERM during a long listing", .end = terminated, .also = {sent(SIGTERM)}},
        {.name = "SIGINT ignored from the start", .end = terminated, .also = {ignored_then_sent(SIGINT)}},
        {.name = "SIGHUP ignored from the start (nohup)", .end = terminated, .also = {ignored_then_sent(SIGHUP)}},
        {.name = "SIGTERM ignored from the start",
         .end = stopped(SIGINT, {Msg::Interrupted, {"SIGINT"}}),
         .also = {ignored_then_sent(SIGTERM)}},
        {.name = "SIGQUIT during a long listing",
         .end = stopped(SIGQUIT, {Msg::Quit, {"SIGQUIT"}}),
         .also = {sent(SIGQUIT)}},
        // Whatever ends the process leaves nothing behind: an unnamed file vanishes with it.
        {.name = "SIGKILL during a long listing", .end = stopped(SIGKILL, {}), .also = {sent(SIGKILL)}},
        {.name = "SIGUSR1 during a long listing",
         .end = stopped(SIGUSR1, {Msg::UserSignal, {"1", "SIGUSR1"}}),
         .also = {sent(SIGUSR1)}},
        {.name = "SIGRTMIN+3 during a long listing",
         .end = stopped(SIGRTMIN + 3, {Msg::RealTimeSignal, {"3"}}),
         .also = {sent(SIGRTMIN + 3)}},
        {.name = "SIGXCPU during a long listing",
         .end = stopped(SIGXCPU, {Msg::CpuLimit, {"SIGXCPU"}}),
         .also = {sent(SIGXCPU)}},
        {.name = "SIGABRT during a long listing",
         .end = stopped(SIGABRT, {Msg::Aborted, {"SIGABRT"}}),
         .also = {sent(SIGABRT)}},
        {.name = "SIGTERM during a long listing, a named temporary", .end = terminated, .also = {named, sent(SIGTERM)}},
        {.name = "SIGQUIT ignored from the start", .end = terminated, .also = {ignored_then_sent(SIGQUIT)}},
    };
    for (Hostile& c : cases) c.input = "0,0,-2147483648";
    return cases;
}

TEST(BadInput, Computer) {
    auto beyond_32 = [](int k, const char* value) {
        return report(6, {Msg::FieldBeyond32, {field(k, "computer.dat"), value}});
    };
    std::vector<Hostile> own = {
        {.name = "too few fields", .input = "12,18", .end = past_end("computer.dat", 3)},
        {.name = "a word for Q", .input = "12,x,1", .end = mismatch(2, "computer.dat", "x")},
        {.name = "a word for K", .input = "12,18,k", .end = mismatch(3, "computer.dat", "k")},
        {.name = "binary garbage",
         .input = garbage(),
         .end = mismatch(3, "computer.dat", "\\xf8\\xe7\\xd6\xc5\xb4\\xa3\\x92\\x81p_\\xce=")},
        {.name = "M beyond 32 bits", .input = "3000000000,4000000000,1", .end = beyond_32(1, "3000000000")},
        {.name = "M rounds past 32 bits", .input = "2147483647.5,2147483648,1", .end = beyond_32(1, "2147483647.5")},
        {.name = "K beyond 32 bits", .input = "12,18,-2147483649", .end = beyond_32(3, "-2147483649")},
    };
    std::vector<Hostile> listing = listing_cases();
    own.insert(own.end(), listing.begin(), listing.end());
    check_all(computer, own, "0.3,0.4,-146400");
}

TEST(BadInput, Tallage) {
    std::string hundred = "100,0,0";
    for (int i = 1; i <= 100; ++i) hundred += "," + std::to_string(i) + "," + std::to_string(i);
    End past_y = report(9, {Msg::IndexOutside, {"101", "y", "100"}});
    auto beyond_16 = [](int k, const char* value) {
        return report(6, {Msg::FieldBeyond16, {field(k, "tallage.dat"), value}});
    };
    auto difference = [](const char* left, const char* right) {
        return report(6, {Msg::DifferenceBeyond16, {left, right}});
    };
    check_all(
        tallage,
        {
            {.name = "101 points after point 0", .input = "101" + hundred.substr(3) + ",1,1", .end = past_y},
            {.name = "a huge N", .input = "1e9" + hundred.substr(3), .end = past_y},
            {.name = "a coordinate of 40000", .input = "1,0,0,40000,0", .end = beyond_16(4, "40000")},
            {.name = "a coordinate of -40000", .input = "1,0,0,0,-40000", .end = beyond_16(5, "-40000")},
            {.name = "point 0's y past 16 bits", .input = "1,0,32767.5,3,4", .end = beyond_16(3, "32767.5")},
            {.name = "point 0 past 16 bits", .input = "0,32767.5,0", .end = beyond_16(2, "32767.5")},
            {.name = "a difference past 16 bits", .input = "1,-20000,0,20000,0", .end = difference("-20000", "20000")},
            {.name = "a difference past 16 bits, upward",
             .input = "1,32767,0,-32768,0",
             .end = difference("32767", "-32768")},
            {.name = "a difference of y past 16 bits",
             .input = "1,0,32767,0,-32768",
             .end = difference("32767", "-32768")},
            {.name = "a distance past 16 bits",
             .input = "1,0,0,30000,30000",
             .end = report(6, {Msg::Beyond16, {"42426.4068711928"}})},
            {.name = "a word for a coordinate", .input = "1,0,0,a,1", .end = mismatch(4, "tallage.dat", "a")},
            {.name = "binary garbage", .input = garbage(), .end = mismatch(2, "tallage.dat", "\\x8f*...")},
            {.name = "too few pairs", .input = "3,0,0,1,1", .end = past_end("tallage.dat", 6)},
            {.name = "a listing past a size limit",
             .input = "1,0,0,3,4",
             .end = too_large("tallage.sol"),
             .also = {size_limit(1000)}},
        });
}

// Where a good run is set: the input's line ends and its name, and whatever else.
struct Surroundings {
    std::string name;
    std::string ends = "\n";
    Step in = input_file();
    std::vector<Step> also = {};
    int depth = 0;  // run in a folder this deep in the scratch one (a path past MAX_PATH on Windows)
};

// The same result whatever the line ends, whichever standard descriptors are closed at start, and
// over an earlier result of mode 000 or 04755, whose permission bits it keeps (not its set-id
// bits), but where it is another user's.
std::vector<Surroundings> surroundings() {
    return {
        {.name = "LF"},
        {.name = "CR LF", .ends = "\r\n"},
        {.name = "CR", .ends = "\r"},
        {.name = "standard input closed", .also = {closed({0})}},
        {.name = "standard output closed", .also = {closed({1})}},
        {.name = "standard error closed", .also = {closed({2})}},
        {.name = "standard input and output closed", .also = {closed({0, 1})}},
        {.name = "standard input and error closed", .also = {closed({0, 2})}},
        {.name = "standard output and error closed", .also = {closed({1, 2})}},
        {.name = "every standard descriptor closed", .also = {closed({0, 1, 2})}},
        // Root's alone: another user could not read the new result, of mode 000 too.
        {.name = "over an earlier result of mode 000", .also = {by_root, earlier_of_mode(0)}},
        {.name = "over an earlier result of mode 04755", .also = {earlier_of_mode(04755)}},
        {.name = "over an earlier result of mode 0640, it and its folder nobody's",
         .also = {earlier_of_mode(0640), if_possible(nobodys)}},
        {.name = "temporary names of the run's likely process numbers taken", .also = {planted_temporaries}},
        // As copied from Windows: read all the same, the result keeps its name.
        {.name = "the input's name in another case, CR LF", .ends = "\r\n", .in = input_in_other_case},
        // Root's earlier result lends nobody no mode or owner.
        {.name = "run by nobody over root's earlier result of mode 0606", .also = {earlier_of_mode(0606), as_nobody}},
        {.name = "a named temporary, over an earlier result of mode 0640",
         .also = {earlier_of_mode(0640), if_possible(named)}},
        // Another program at work meanwhile, and in what words it says how that went.
        {.name = "the earlier result held for half a second", .also = {result_held_briefly}},
        {.name = "an indexer at the temporary", .also = {indexer("rw", "refused 32\n")}},
        {.name = "an indexer at the temporary, sharing its deletion", .also = {indexer("rwd", "opened\n")}},
        {.name = "a folder 4 deep", .depth = 4},
    };
}

TEST(BadInput, SameResultWhateverTheSurroundings) {
    mode_t mask = ::umask(0);
    ::umask(mask);
    for (const Program* p : {&photo, &computer, &tallage}) {
        std::string expected;
        for (const Surroundings& v : surroundings()) {
            SCOPED_TRACE(std::string(p->name) + ": " + v.name);
            std::string input;  // a field a line
            for (char c : p->valid + ",") input += c == ',' ? v.ends : std::string(1, c);
            Scene s(*p, input, v.depth);
            std::vector<Step> steps{v.in};
            steps.insert(steps.end(), v.also.begin(), v.also.end());
            steps.push_back(take_stock);
            std::optional<test::RunResult> r = play(s, steps);
            if (!r) continue;
            EXPECT_EQ(r->status, 0) << r->err;
            if (expected.empty()) expected = s.dir.read(p->result);
            EXPECT_EQ(s.dir.read(p->result), expected);
            std::set<std::string> entries(s.before.begin(), s.before.end());
            entries.insert(p->result);
            EXPECT_EQ(s.dir.entries(), std::vector<std::string>(entries.begin(), entries.end()));
            struct stat st {};
            ::stat((s.dir / p->result).c_str(), &st);
            if (!test::windows()) {
                EXPECT_EQ(st.st_mode & 07777, s.mode.value_or(0666u & ~mask));
                EXPECT_EQ(st.st_uid, s.owner);  // the owner kept
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
