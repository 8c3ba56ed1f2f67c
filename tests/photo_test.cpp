// photo end to end: the worked examples, a seeded comparison with a plain-arithmetic
// reference, and bad inputs, each leaving an earlier photo.sol exactly as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "support.hpp"

namespace {

const std::string photo = test::bin("photo");

std::string run_photo(const std::string& input) {
    test::TempDir dir;
    dir.write("PHOTO.DAT", input);
    test::RunResult r = test::run(photo, dir.path());
    EXPECT_EQ(r.status, 0) << input << "\n" << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"PHOTO.DAT", "photo.sol"}));
    return dir.read("photo.sol");
}

TEST(Photo, WorkedExamples) {
    struct {
        const char* input;
        const char* result;
    } cases[] = {
        {"7,2.54,2.54,1000", "1000\n"},             // W = H = 1000, X = 8
        {"7\n2.54\n2.54\n1000\n", "1000\n"},        // line ends as separators
        {"7 , 2.54\r\n2.54,1000", "1000\n"},         // mixed, CRLF
        {"8,2.54,2.54,1000", "2000\n"},             // A = 8 gives X = 16
        {"0,2.54,2.54,1000", "125\n"},              // X = 1
        {"-3,2.54,2.54,1000", "125\n"},             // below 1: X = 1
        {"1,2.54,2.54,1000", "250\n"},              // A = 1 gives 2
        {"24,2.54,2.54,100", "40\n"},               // X = 32
        {"256,2.54,2.54,100", "640\n"},             // X = 512
        {"24,10,15,0", "0\n"},                      // D = 0 gives 0
        {"24,10,15,300", "8370.01674003348\n"},     // 1181.1... * 1771.6... * 32 / 8000, 15 digits
        {"24,,15,300", "0\n"},                      // an Empty B counts as 0
        {"1e9,2.54,2.54,1", "134217.728\n"},        // X = 2^30, a Long
        {"7,2.54,2.54,1000,junk,more", "1000\n"},   // what follows the fourth field is not read
    };
    for (auto& c : cases) EXPECT_EQ(run_photo(c.input), c.result) << c.input;
}

// The same computation in plain double arithmetic, printed by printf.
std::string reference(double a, double b, double c, double d) {
    double w = b / 2.54 * d, h = c / 2.54 * d, x = 1;
    while (!(a < x)) x *= 2;
    double r = w * h * x / 8 / 1000;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g\n", r == 0 ? 0.0 : r);
    return buf;
}

TEST(Photo, AgreesWithPlainArithmetic) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* separators[] = {",", "\n", " , ", "\r\n", "\t"};
    for (int n = 0; n < 200; ++n) {
        double a = pick(0, 3) == 0 ? pick(-5, 5) + pick(0, 99) / 100.0 : pick(-2, 70000);
        double b = pick(0, 100000) / 1000.0, c = pick(0, 100000) / 100.0, d = pick(0, 4800);
        char text[200];
        std::snprintf(text, sizeof text, "%.17g%s%.17g%s%.17g%s%.17g\n", a, separators[pick(0, 4)], b,
                      separators[pick(0, 4)], c, separators[pick(0, 4)], d);
        EXPECT_EQ(run_photo(text), reference(a, b, c, d)) << text;
    }
}

struct BadCase {
    const char* name;
    std::string input;  // PHOTO.DAT's content; "<none>" for no file, "<dir>" for a directory
    int error;
    const char* says;   // a part of the one-line report
    bool result_is_dir = false;
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.name; }

class PhotoBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(PhotoBadInput, ReportsAndLeavesTheEarlierResult) {
    const BadCase& c = GetParam();
    test::TempDir dir;
    if (c.input == "<dir>") {
        ASSERT_EQ(::mkdir((dir / "PHOTO.DAT").c_str(), 0755), 0);
    } else if (c.input != "<none>") {
        dir.write("PHOTO.DAT", c.input);
    }
    if (c.result_is_dir) {
        ASSERT_EQ(::mkdir((dir / "photo.sol").c_str(), 0755), 0);
    } else {
        dir.write("photo.sol", "earlier result\n");
    }
    auto before = dir.entries();
    test::RunResult r = test::run(photo, dir.path());
    EXPECT_EQ(r.status, c.error) << r.err;
    EXPECT_EQ(test::count_lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("photo: run-time error " + std::to_string(c.error) + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.entries(), before);
    if (!c.result_is_dir) {
        EXPECT_EQ(dir.read("photo.sol"), "earlier result\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Photo, PhotoBadInput,
    ::testing::Values(
        BadCase{"MissingInput", "<none>", 53, "File not found: opening PHOTO.DAT"},
        BadCase{"InputIsDirectory", "<dir>", 75, "PHOTO.DAT is a directory"},
        BadCase{"EmptyInput", "", 62, "PHOTO.DAT ends before field 1"},
        BadCase{"TooFewFields", "7,2.54,2.54", 62, "PHOTO.DAT ends before field 4"},
        BadCase{"TooFewFieldsTrailingLine", "7\n2.54\n\n", 62, "ends before field 3"},
        BadCase{"NotANumber", "7,abc,2.54,1000", 13, "field 2 of PHOTO.DAT is \"abc\", not a number"},
        BadCase{"QuotedNumber", "\"7\",1,1,1", 13, "field 1 of PHOTO.DAT"},
        BadCase{"Infinity", "inf,1,1,1", 13, "\"inf\""},
        BadCase{"Hex", "7,0x10,1,1", 13, "\"0x10\""},
        BadCase{"BeyondDouble", "7,1e400,1,1", 6, "field 2 of PHOTO.DAT is beyond the largest Double"},
        BadCase{"ProductBeyondDouble", "7,1e300,1e300,1", 6, "Overflow"},
        BadCase{"PowerBeyondDouble", "1e308,1,1,1", 6, "Overflow"},
        BadCase{"NulBytes", std::string("7,\0\0\x01,1,1", 10), 13, "\\x00\\x00\\x01"},
        BadCase{"ResultIsDirectory", "7,2.54,2.54,1000", 75, "photo.sol is a directory", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Photo, WriteLimitIsReportedAndLeavesTheEarlierResult) {
    test::TempDir dir;
    dir.write("PHOTO.DAT", "7,2.54,2.54,1000");
    dir.write("photo.sol", "earlier\n");
    test::RunOptions limited;
    limited.file_size_limit = 0;
    test::RunResult r = test::run(photo, dir.path(), limited);
    EXPECT_EQ(r.status, 57) << r.err;
    EXPECT_NE(r.err.find("writing photo.sol: File too large"), std::string::npos) << r.err;
    EXPECT_EQ(dir.read("photo.sol"), "earlier\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"PHOTO.DAT", "photo.sol"}));
}

TEST(Photo, UnwritableResultIsPermissionDenied) {
    struct {
        mode_t dir_mode, result_mode;
        const char* says;
    } cases[] = {
        {0555, 0666, "Permission denied: creating photo.sol"},  // a read-only directory
        {0777, 0444, "Permission denied: photo.sol is not writable"},
    };
    for (auto& c : cases) {
        test::TempDir dir;
        dir.write("PHOTO.DAT", "7,2.54,2.54,1000");
        dir.write("photo.sol", "earlier\n");
        ::chmod((dir / "photo.sol").c_str(), c.result_mode);
        ::chmod(dir.path().c_str(), c.dir_mode);
        test::RunOptions options;
        if (::geteuid() == 0) options.uid = 65534;  // root passes every permission check: run as nobody
        test::RunResult r = test::run(photo, dir.path(), options);
        ::chmod(dir.path().c_str(), 0755);
        if (r.status == 127) GTEST_SKIP() << "the user nobody cannot run the built programs from here";
        EXPECT_EQ(r.status, 70) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(dir.read("photo.sol"), "earlier\n");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"PHOTO.DAT", "photo.sol"}));
    }
}

TEST(Photo, KeepsTheModeOfAnEarlierResult) {
    test::TempDir dir;
    dir.write("PHOTO.DAT", "7,2.54,2.54,1000");
    dir.write("photo.sol", "earlier\n");
    ::chmod((dir / "photo.sol").c_str(), 0640);
    EXPECT_EQ(test::run(photo, dir.path()).status, 0);
    struct stat st {};
    ::stat((dir / "photo.sol").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.read("photo.sol"), "1000\n");
}

}  // namespace
