// computer: the fast listing against the counted loop written the literal way, on hand-picked
// and seeded random inputs; then the program end to end without a display.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "errors.hpp"
#include "listing.hpp"
#include "literal_loop.hpp"
#include "support.hpp"

using namespace rt;

namespace {

struct Outcome {
    std::string lines;
    int error = 0;
};

// The loop as written: for i = K to M, step 1; both remainder operands rounded first; a counter
// that rounds to 0 divides nothing and is skipped.
Outcome literal_loop(const Value& K, const Value& M) {
    Outcome o;
    try {
        Value i;
        for (CountedLoop loop(i, K, M); loop.running(); loop.next()) {
            to_32bit(M);
            if (to_32bit(i) == 0) continue;
            if (equal(remainder(M, i), Integer(0))) o.lines += to_text(i) + "\n";
        }
    } catch (const RuntimeError& e) {
        o.error = e.number();
    }
    return o;
}

struct StringSink : computer::LineSink {
    std::string text;
    void write(std::string_view t) override { text += t; }
};

Outcome fast_listing(const Value& K, const Value& M) {
    Outcome o;
    StringSink sink;
    try {
        computer::list_divisor_counters(K, M, sink);
    } catch (const RuntimeError& e) {
        o.error = e.number();
    }
    o.lines = sink.text;
    return o;
}

Value field(const std::string& text) { return text.empty() ? Value() : parse_field(text); }

void expect_same(const std::string& k, const std::string& m) {
    Value K = field(k), M = field(m);
    Outcome slow = literal_loop(K, M), fast = fast_listing(K, M);
    EXPECT_EQ(fast.error, slow.error) << "K=" << k << " M=" << m;
    EXPECT_EQ(fast.lines, slow.lines) << "K=" << k << " M=" << m;
}

TEST(Listing, HandPickedCases) {
    struct {
        const char *k, *m, *lines;
        int error;
        bool short_loop = true;  // short enough to run the literal loop too
    } cases[] = {
        {"2", "12", "2\n3\n4\n6\n12\n", 0},
        {"1", "12", "1\n2\n3\n4\n6\n12\n", 0},
        {"13", "12", "", 0},                                       // K above M: no pass
        {"1", "12.5", "1\n2\n3\n4\n6\n12\n", 0},                   // M rounds to 12 (halves to even)
        {"1.5", "12", "1.5\n2.5\n3.5\n4.5\n5.5\n6.5\n11.5\n", 0},  // counters rounded, written as they are
        {"-3", "12", "-3\n-2\n-1\n1\n2\n3\n4\n6\n12\n", 0},        // 0 skipped
        {"0.5", "4", "1.5\n2.5\n3.5\n", 0},                        // 0.5 rounds to 0: skipped
        {"-0.5", "2", "1.5\n", 0},                                 // -0.5 and 0.5 skipped, not raised
        {"1", "2147483647", "1\n2147483647\n", 0, false},
        {"2147483647", "2147483647", "2147483647\n", 0},
        {"-2147483648", "-2147483647", "-2147483647\n", 0},
        {"-2147483648", "-1073741824", "-1073741824\n", 0, false},  // -2^31 does not divide -2^30
        {"-2.7", "0", "-2.7\n-1.7\n-0.7\n", 0},                     // M of 0: every counter but those near 0
        {"-2", "0.4", "-2\n-1\n", 0},
        {"1", "2147483647.5", "", Overflow},  // M rounds past the 32-bit range
        {"-2147483649", "12", "", Overflow},  // the first counter does
        {"1", "1e300", "", Overflow},
        {"1e300", "1", "", 0},   // no pass, no error
        {"", "3", "1\n3\n", 0},  // Empty counts as 0, then 1
        {"1", "", "", 0},
        {"-1", "", "-1\n", 0},                              // M Empty: 0, which -1 divides
        {"1.5000000000000002", "6", "1.5\n2.5\n5.5\n", 0},  // 3.5000000000000004 crosses 4 onto 5.5
    };
    for (auto& c : cases) {
        Outcome fast = fast_listing(field(c.k), field(c.m));
        EXPECT_EQ(fast.lines, c.lines) << "K=" << c.k << " M=" << c.m;
        EXPECT_EQ(fast.error, c.error) << "K=" << c.k << " M=" << c.m;
        if (c.short_loop) expect_same(c.k, c.m);
    }
}

// A sink that fails on its n-th write, as a full disk or a size limit would.
struct FailingSink : StringSink {
    int fail_at, writes = 0;
    explicit FailingSink(int n) : fail_at(n) {}
    void write(std::string_view t) override {
        if (++writes == fail_at) raise(DeviceIO, "writing");
        StringSink::write(t);
    }
};

// A failed write, the first, one in the middle or the last, leaves the listing as an error.
TEST(Listing, AFailedWriteIsAnErrorWhereverItFalls) {
    for (const char* m : {"12", "0.3"}) {  // one piece; about 1 MB in many
        FailingSink counting(0);
        computer::list_divisor_counters(field("-146400"), field(m), counting);
        for (int n : {1, (counting.writes + 1) / 2, counting.writes}) {
            FailingSink sink(n);
            EXPECT_THROW(computer::list_divisor_counters(field("-146400"), field(m), sink), RuntimeError)
                << m << " write " << n << " of " << counting.writes;
        }
    }
}

TEST(Listing, CountersCrossingPowersOfTwo) {
    // Fractional counters whose sums round where they cross a power of two, or zero.
    const char* starts[] = {"0.1",
                            "0.7",
                            "-0.3",
                            "-5.1",
                            "1023.3",
                            "1048575.9",
                            "1e-9",
                            "-1e-9",
                            "0.49999999999999994",
                            "4095.5",
                            "-4096.5",
                            "65535.999999999",
                            "-1.9999999999999998"};  // its fraction shows as a whole: -2, then -1
    for (const char* k : starts) {
        expect_same(k, "131072");
        expect_same(k, "131071.5");
        expect_same(k, "0.3");
    }
}

TEST(Listing, AgreesWithTheLiteralLoopOnSeededInputs) {
    std::mt19937_64 rng(20261208);
    auto pick = [&](std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
    };
    const char* fractions[] = {".1", ".7", ".5", ".25", ".3", ".9", ".49", ".51", ".0", ".125"};
    auto number = [&](std::int64_t whole, bool fractional) {
        std::string s = std::to_string(whole);
        if (fractional) {
            if (whole == 0 && pick(0, 1)) s = "-0";
            s += fractions[pick(0, 9)];
        }
        return s;
    };
    for (int n = 0; n < 3000; ++n) {
        std::int64_t span = pick(0, 9) == 0 ? pick(0, 300000) : pick(0, 3000);
        std::int64_t m_whole = 0;
        switch (pick(0, 5)) {
            case 0: m_whole = pick(-200000, 200000); break;
            case 1: m_whole = 2147483647 - pick(0, 5); break;  // near the top of the 32-bit range
            case 2: m_whole = -2147483647 + pick(0, 400000); break;
            case 3: m_whole = pick(-1, 1); break;  // M rounding to 0 or about it
            case 4: m_whole = pick(1, 720720); break;
            default: m_whole = pick(-2147483647, 2147483647); break;
        }
        std::string m = number(m_whole, pick(0, 3) == 0);
        std::string k = number(m_whole - span + pick(-3, 3), pick(0, 1) == 0);
        if (pick(0, 30) == 0) {  // an Empty K starts at 0
            k = "";
            m = number(pick(-3000, 3000), pick(0, 1) == 0);
        } else if (pick(0, 30) == 0) {  // an Empty M is 0
            m = "";
            k = number(-span, pick(0, 1) == 0);
        }
        expect_same(k, m);
        if (HasFailure()) break;
    }
}

const std::string computer = test::bin("computer");

struct ComputerRun {
    int status;
    std::string sol, out, err;
};

ComputerRun run_computer(const std::string& input, bool earlier = true) {
    test::TempDir dir;
    dir.write("computer.dat", input);
    if (earlier) dir.write("computer.sol", "earlier\n");
    test::RunResult r = test::run(computer, dir.path());
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"computer.dat", "computer.sol"})) << input;
    return {r.status, dir.read("computer.sol"), r.out, r.err};
}

TEST(Computer, ListsAndSaysOkWithoutADisplay) {
    struct {
        const char *input, *sol;
    } cases[] = {
        {"12,18,2", "2\n3\n4\n6\n12\n"},
        {"18,12,1", "1\n2\n3\n4\n6\n12\n"},      // the smaller one, whichever comes first
        {"12\n18\n0\n", "1\n2\n3\n4\n6\n12\n"},  // K = 0 is K = 1
        {"12,18,", "1\n2\n3\n4\n6\n12\n"},       // so is an Empty K
        {"12,12,5", "6\n12\n"},                  // P on equality
        {"12,18,13", ""},                        // K above M: an empty listing, still "OK"
        {"12.5,20,1", "1\n2\n3\n4\n6\n12\n"},
        {"12,20,1.5", "1.5\n2.5\n3.5\n4.5\n5.5\n6.5\n11.5\n"},
        {"12,20,-3", "-3\n-2\n-1\n1\n2\n3\n4\n6\n12\n"},
        {"2147483647,2147483647,1", "1\n2147483647\n"},
    };
    for (auto& c : cases) {
        ComputerRun r = run_computer(c.input);
        EXPECT_EQ(r.status, 0) << c.input << r.err;
        EXPECT_EQ(r.sol, test::lines(c.sol)) << c.input;
        EXPECT_EQ(r.out, test::lines("OK\n"));  // the prompt's line ends as a result's
        EXPECT_EQ(r.err, "");
    }
}

// The prompt stands in for the box: a failed write of it is error 57, to a full device or to a
// pipe nobody reads (not the end of the program by SIGPIPE); the result stays complete.
TEST(Computer, APromptThatCannotBeWrittenIsAnError) {
    for (bool unread : {false, true}) {
        SCOPED_TRACE(unread ? "a pipe nobody reads" : "/dev/full");
        test::TempDir dir;
        dir.write("computer.dat", "12,18,2");
        test::RunOptions options;
        options.stdout_file = unread ? "" : "/dev/full";
        options.stdout_unread = unread;
        test::RunResult r = test::run(computer, dir.path(), options);
        EXPECT_EQ(r.status, 57) << r.err;
        EXPECT_TRUE(test::is_line(r.err,
                                  "computer: run-time error 57: Device I/O error: writing the prompt to "
                                  "standard output: *",
                                  test::line_end()))
            << r.err;  // then the system's own words
        EXPECT_EQ(dir.read("computer.sol"), test::lines("2\n3\n4\n6\n12\n"));
    }
}

}  // namespace
