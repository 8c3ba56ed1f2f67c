// tallage end to end: hand-picked point files and seeded random ones against a reference written
// with plain integer and double arithmetic; errors leave an earlier tallage.sol as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "support.hpp"

namespace {

const std::string tallage = test::bin("tallage");

struct Expected {
    int error = 0;
    std::string sol;
};

// The file a run writes for point 0 and points 1..N (whole coordinates, already in range),
// or the overflow error if any pair's difference or rounded distance leaves 16 bits.
Expected reference(const std::vector<std::pair<int, int>>& points) {
    std::vector<int> row(5000, 0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        for (std::size_t j = 0; j < points.size(); ++j) {
            int dx = points[i].first - points[j].first, dy = points[i].second - points[j].second;
            if (dx < -32768 || dx > 32767 || dy < -32768 || dy > 32767) return {6, ""};
            double r = std::nearbyint(std::sqrt(double(dx) * dx + double(dy) * dy));
            if (r > 32767) return {6, ""};
            if (i == 0) row[j] = static_cast<int>(r);
        }
    }
    long sum = 0;
    for (int v : row) sum += 2 * v;  // d(0, p) = d(p, 0)
    std::ostringstream out;
    out << sum << "\n";
    for (int i = 1; i < 5000; ++i) out << "0 " << row[i] << "\n0 " << row[i] << "\n";
    return {0, out.str()};
}

std::string point_file(const std::vector<std::pair<int, int>>& points) {
    std::ostringstream in;
    in << points.size() - 1 << "\n";
    for (auto [x, y] : points) in << x << "," << y << "\n";
    return in.str();
}

struct TallageRun {
    int status;
    std::string sol, out, err;
};

TallageRun run_tallage(const std::string& input) {
    test::TempDir dir;
    dir.write("tallage.dat", input);
    dir.write("tallage.sol", "earlier\n");
    test::RunResult r = test::run(tallage, dir.path());
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tallage.dat", "tallage.sol"}));
    return {r.status, dir.read("tallage.sol"), r.out, r.err};
}

TEST(Tallage, HandPickedPointFiles) {
    struct {
        const char* name;
        const char* input;
        long sum;           // the sum line
        int first, second;  // d(0, 1) and d(0, 2) as listed
    } cases[] = {
        {"a 3-4-5 triangle", "1,0,0,3,4", 10, 5, 0},
        {"a root of 1.414 rounds to 1", "1\n0,0\n1,1\n", 2, 1, 0},
        {"N = 0 reads point 0 only", "0,7,7", 0, 0, 0},
        {"an Empty N is 0", ",7,7", 0, 0, 0},
        {"a negative N reads no pairs", "-3,7,7,1,1", 0, 0, 0},
        {"a fractional N reads pairs up to it", "2.5,0,0,3,4,6,8,100,100", 30, 5, 10},
        {"coordinates round halves to even", "1,0.5,-0.5,3.5,4.5", 12, 6, 0},  // (0, 0) to (4, 4)
        {"blank-separated fields", "2 0 0 3 4 -3 -4", 20, 5, 5},
        {"the largest distances in range", "1,-16384,-16384,16383,16383", 2 * 46339, 46339, 0},
    };
    for (auto& c : cases) {
        TallageRun r = run_tallage(c.input);
        if (c.sum > 32767 * 2) {  // 46339 is past 16 bits: that pair is the overflow error
            EXPECT_EQ(r.status, 6) << c.name;
            EXPECT_EQ(r.err, test::lines(
                                 "tallage: run-time error 6: Overflow: 46339.5357982792 is beyond the 16-bit range\n"));
            continue;
        }
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(test::count_lines(r.sol), 9999u) << c.name;
        std::string head = test::lines(std::to_string(c.sum) + "\n0 " + std::to_string(c.first) + "\n0 " +
                                       std::to_string(c.first) + "\n0 " + std::to_string(c.second) + "\n");
        EXPECT_EQ(r.sol.substr(0, head.size()), head) << c.name;
        EXPECT_EQ(
            r.err,
            test::windows()
                ? "tallage: no window can be made here; the window Form1 is not shown\r\n"
                : "tallage: no display (neither WAYLAND_DISPLAY nor DISPLAY is set); the window Form1 is not shown\n");
    }
}

TEST(Tallage, OneHundredPointsIsTheMost) {
    std::vector<std::pair<int, int>> points{{0, 0}};
    for (int i = 1; i <= 100; ++i) points.emplace_back(i, i);
    TallageRun ok = run_tallage(point_file(points));
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.sol, test::lines(reference(points).sol));
}

TEST(Tallage, AgreesWithTheReferenceOnSeededPointFiles) {
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int n = 0; n < 40; ++n) {
        int spread = std::vector<int>{10, 1000, 16000, 23000, 32767}[pick(0, 4)];
        std::vector<std::pair<int, int>> points(static_cast<std::size_t>(pick(1, 101)));
        for (auto& p : points) p = {pick(-spread, spread), pick(-spread, spread)};
        Expected want = reference(points);
        TallageRun got = run_tallage(point_file(points));
        EXPECT_EQ(got.status, want.error) << got.err;
        EXPECT_EQ(got.sol, want.error ? "earlier\n" : test::lines(want.sol));
    }
}

}  // namespace
