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
