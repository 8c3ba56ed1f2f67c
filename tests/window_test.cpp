// The window and the message box in a real X server (Xvfb, no window manager), driven by real
// input events; and the same programs without a display, or with one that cannot be reached.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "support.hpp"
#include "xserver.hpp"

namespace {

test::XServer* x = nullptr;
test::AccessibilityBus* bus = nullptr;  // where the tests read the programs as a screen reader does

class XEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        x = new test::XServer;
        if (!test::windows()) bus = new test::AccessibilityBus(*x);
    }
    void TearDown() override {
        delete bus;
        delete x;
    }
};
const auto* registered = ::testing::AddGlobalTestEnvironment(new XEnvironment);

// A program running in the background on the X server.
class Running {
  public:
    Running(const std::string& program, const test::TempDir& dir, std::vector<std::string> args = {},
            const std::string& display = x->display(), std::vector<std::string> environment = {}) {
        test::RunOptions options;
        options.display = display;
        options.args = std::move(args);
        options.environment = std::move(environment);
        options.timeout_ms = 45000;  // Wine's first window on a display is slow, and so is a slow link
        result_ = std::async(std::launch::async, [=, path = dir.path()] { return test::run(program, path, options); });
    }
    // Waits for the program to end; status -2 if it does not within the time given.
    test::RunResult finish(int timeout_ms = 5000) {
        if (result_.wait_for(std::chrono::milliseconds(timeout_ms)) != std::future_status::ready) {
            test::RunResult late = result_.get();  // the run's own time limit kills it
            late.status = -2;
            return late;
        }
        return result_.get();
    }

  private:
    std::future<test::RunResult> result_;
};

int number_after(const std::string& text, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(label + R"(:\s+(-?\d+))"))) return -1;
    return std::stoi(m[1]);
}

// The desktop's scale on Linux, as GNOME sets it at 2: GDK_SCALE for the program, Xft.dpi for the
// X server's resources (read by the programs started after).
std::vector<std::string> scaled(int dpi) {
    x->shell(dpi == 96 ? "xrdb -remove" : "echo 'Xft.dpi: " + std::to_string(dpi) + "' | xrdb -merge");
    return {"GDK_SCALE=" + std::to_string(dpi / 96)};
}

// The accessibility bus's tree of an application, as atspi_client.py prints it.
bool has(const std::string& tree, const std::string& line) { return tree.find(line + "\n") != std::string::npos; }

// The display's dots per inch, under Wine (its LogPixels setting), for the programs started after.
// Newer Wine reads it once, as its server starts: the server is started anew, kept as the Makefile
// keeps it.
struct Dpi {
    explicit Dpi(int dpi) { set(dpi); }
    ~Dpi() { set(96); }
    static void set(int dpi) {
        x->shell(std::string(std::getenv("TRIO_TEST_WRAPPER")) +
                 " reg add 'HKCU\\Control Panel\\Desktop' /v LogPixels /t REG_DWORD /d " + std::to_string(dpi) +
                 " /f </dev/null; wineserver -k; wineserver -w; wineserver -p30 </dev/null >/dev/null 2>&1");
    }
};

// The window as drawn (not one colour, and the same twice in a row), to read colours from: an
// unpainted window reads black, and one only cleared reads all in its background.
struct Picture {
    Picture(unsigned long window, int width, int height)
        : width(width), pixels(::x->pixels(window, 0, 0, width, height)) {}
    // The colour at a point: 0xRRGGBB; none of the three kinds for a point outside the window.
    unsigned long at(double x, double y) const {
        std::size_t i = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
        return x < 0 || y < 0 || x >= width || i >= pixels.size() ? 0xffffffffUL : pixels[i];
    }
    int width;
    std::vector<unsigned long> pixels;
};
bool reddish(unsigned long c) { return (c >> 16 & 255) > 0xa0 && (c >> 8 & 255) < 0x60 && (c & 255) < 0x60; }
bool bluish(unsigned long c) { return (c & 255) > 0xa0 && (c >> 16 & 255) < 0x60; }
bool greyish(unsigned long c) {
    int r = c >> 16 & 255, g = c >> 8 & 255, b = c & 255;
    return r < 0xb0 && std::abs(r - g) < 0x20 && std::abs(g - b) < 0x20;
}

// Form1 keeps its size in twips, 4680 by 3090 at 4335, 4680: in the display's pixels, halves up; on
// Linux, in the desktop's logical pixels (96 to the inch), at its scale (192: GDK_SCALE=2). It shows
// what tallage computed, drawn at that scale too: here point 0 at 0, 0 and point 1 at 30, 40 fill
// the client area within its margins (at 96 dpi the first at 104, 182, the second at 208, 44),
// the line between them through 156, 113.
TEST(Window, ShowsForm1AtItsPlaceAndClosesOnTheWindowManagersRequest) {
    ASSERT_FALSE(x->display().empty()) << "Xvfb did not start";
    struct {
        int dpi, left, top, width, height;
    } geometries[] = {{96, 289, 312, 312, 206}, {144, 434, 468, 468, 309}, {192, 578, 624, 624, 412}};
    for (auto& g : geometries) {
        if (g.dpi % 96 != 0 && !test::windows()) continue;  // whole scales alone on Linux
        if (g.dpi == 192 && test::windows()) continue;
        SCOPED_TRACE(std::to_string(g.dpi) + " dpi");
        std::optional<Dpi> dpi;
        if (test::windows()) dpi.emplace(g.dpi);
        std::vector<std::string> scale = test::windows() ? std::vector<std::string>{} : scaled(g.dpi);
        test::TempDir dir;
        dir.write("tallage.dat", "1,0,0,30,40");
        Running probe(test::bin("tallage"), dir, {}, x->display(), scale);
        unsigned long w = x->wait_for_window("^Form1$");
        ASSERT_NE(w, 0u) << x->display();
        std::string info = x->shell("xwininfo -id " + std::to_string(w));
        EXPECT_EQ(number_after(info, "Absolute upper-left X"), g.left) << info;
        EXPECT_EQ(number_after(info, "Absolute upper-left Y"), g.top);
        EXPECT_EQ(number_after(info, "Width"), g.width);
        EXPECT_EQ(number_after(info, "Height"), g.height);
        double at = g.dpi / 96.0;
        Picture drawn(w, number_after(info, "Width"), number_after(info, "Height"));
        ASSERT_FALSE(drawn.pixels.empty()) << "Form1 is not drawn";
        EXPECT_TRUE(reddish(drawn.at(104.25 * at, 182 * at))) << std::hex << drawn.at(104.25 * at, 182 * at);
        EXPECT_TRUE(bluish(drawn.at(207.75 * at, 44 * at))) << std::hex << drawn.at(207.75 * at, 44 * at);
        EXPECT_TRUE(greyish(drawn.at(156 * at, 113 * at))) << std::hex << drawn.at(156 * at, 113 * at);
        // The result is complete under its own name while the window waits.
        EXPECT_EQ(test::count_lines(dir.read("tallage.sol")), 9999u);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"tallage.dat", "tallage.sol"}));
        // Escape does not close an ordinary window.
        x->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Escape");
        EXPECT_EQ(x->wait_for_window("^Form1$", 300), w);
        x->request_close(w);
        test::RunResult r = probe.finish();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    if (!test::windows()) scaled(96);
}

// The box's text and button follow the desktop's scale: at 2, the box is about twice as wide and
// as high (its text's metrics round apart a little), never four times (the scale taken twice).
TEST(Box, FollowsTheDesktopsScale) {
    if (test::windows()) GTEST_SKIP() << "Windows' own box";
    int sizes[2][2] = {};
    for (int scale : {1, 2}) {
        std::vector<std::string> env = scaled(96 * scale);
        test::TempDir dir;
        Running probe(test::bin("form_probe"), dir, {"box"}, x->display(), env);
        unsigned long w = x->wait_for_window("^form_probe$");
        ASSERT_NE(w, 0u);
        std::string info = x->shell("xwininfo -id " + std::to_string(w));
        sizes[scale - 1][0] = number_after(info, "Width");
        sizes[scale - 1][1] = number_after(info, "Height");
        x->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Return");
        EXPECT_EQ(probe.finish().status, 0);
    }
    scaled(96);
    for (int i : {0, 1}) {
        EXPECT_GE(sizes[1][i], sizes[0][i] * 19 / 10) << i << ": " << sizes[0][i] << " then " << sizes[1][i];
        EXPECT_LE(sizes[1][i], sizes[0][i] * 25 / 10) << i << ": " << sizes[0][i] << " then " << sizes[1][i];
    }
}

TEST(Window, CanBeResized) {
    test::TempDir dir;
    Running probe(test::bin("form_probe"), dir, {"window"});
    unsigned long w = x->wait_for_window("^Form1$");
    ASSERT_NE(w, 0u) << x->display();
    std::string hints = x->shell("xprop -id " + std::to_string(w) + " WM_NORMAL_HINTS");
    EXPECT_EQ(hints.find("program specified maximum size"), std::string::npos) << hints;
    x->shell("xdotool windowsize --sync " + std::to_string(w) + " 400 300");
    std::string info = x->shell("xwininfo -id " + std::to_string(w));
    EXPECT_EQ(number_after(info, "Width"), 400) << info;
    x->request_close(w);
    EXPECT_EQ(probe.finish().status, 0);
}

// Each way of dismissing the box returns to the program, which then ends: Tab keeps the focus on
// the one button, which space presses.
TEST(Box, IsDismissedByEnterEscapeClickAndClose) {
    const char* ways[] = {"Return", "Escape", "click", "close", "Tab space"};
    for (std::string way : ways) {
        if (way == "Tab space" && test::windows()) continue;
        test::TempDir dir;
        Running probe(test::bin("form_probe"), dir, {"box"});
        unsigned long w = x->wait_for_window("^form_probe$");  // titled with the program's name
        ASSERT_NE(w, 0u) << way;
        EXPECT_EQ(dir.read("probe.sol"), test::lines("written before the wait\n"));
        std::string id = std::to_string(w);
        if (way == "click") {
            std::string info = x->shell("xwininfo -id " + id);
            int width = number_after(info, "Width"), height = number_after(info, "Height");
            // The one button sits at the lower right of the box; on Windows, at the bottom centre.
            int bx = test::windows() ? width / 2 : width - 40, by = test::windows() ? height - 20 : height - 24;
            x->shell("xdotool mousemove --sync --window " + id + " " + std::to_string(bx) + " " + std::to_string(by) +
                     " click 1");
        } else if (way == "close") {
            x->request_close(w);
        } else {
            x->shell("xdotool windowfocus --sync " + id + " key " + way);
        }
        test::RunResult r = probe.finish();
        EXPECT_EQ(r.status, 0) << way << r.err;
        if (test::windows())
            r.out.erase(std::remove(r.out.begin(), r.out.end(), '\r'), r.out.end());  // the probe's C runtime
        EXPECT_EQ(r.out, "after the box\n") << way;
    }
}

// Whether another program may open a result while the box or the window waits, sharing its
// reading alone: so on Windows where the program holds no handle on it by then (POSIX has no such
// sharing to refuse).
bool opens_alone(const test::TempDir& dir, const std::string& result) {
    if (!test::windows()) return true;
    test::RunOptions options;
    options.args = {"open", result};
    return test::run(test::bin("bystander"), dir.path(), options).out == "0\n";
}

// A listening socket that never answers, as a bus that hangs.
struct SilentSocket {
    explicit SilentSocket(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) fd = -1;
    }
    ~SilentSocket() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

// The programs still running with `mark` in their environment: what a run started and left.
std::vector<std::string> left_running(const std::string& mark) {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string environment = test::TempDir::read_file(entry.path().string() + "/environ");
        if (environment.find(mark) != std::string::npos)
            left.push_back(test::TempDir::read_file(entry.path().string() + "/comm"));
    }
    return left;
}

// Dismissed by a key, or read and pressed as a screen reader's user does: an alert titled with the
// program's name, its text "OK", its one button "OK", which has the focus. The box is shown
// whatever surrounds the program: a server whose only client it is (which starts afresh as its
// last client leaves); a slow link (each answer is awaited, not the whole start); a session bus or
// an accessibility bus that never answers (done without, and said where it was asked for); no
// session bus (none is started, nothing outlives the run); a server whose settings name a module
// (which is not loaded: no code comes from the display).
TEST(Box, ComputerWaitsForOkWithItsResultComplete) {
    enum class Around {
        nothing,
        screen_reader,
        lone_client,
        slow_link,
        silent_bus,
        silent_reader_bus,
        no_bus,
        module,
        root_window_bus
    };
    struct {
        const char* name;
        Around around;
    } rows[] = {{"Return", Around::nothing},
                {"pressed through the accessibility bus", Around::screen_reader},
                {"the server's only client", Around::lone_client},
                {"a link of 100 ms round trip", Around::slow_link},
                {"a session bus that never answers", Around::silent_bus},
                {"an accessibility bus asked for that never answers", Around::silent_reader_bus},
                {"no session bus", Around::no_bus},
                {"a server's settings naming a module", Around::module},
                {"a server's root window naming a program for the accessibility bus", Around::root_window_bus}};
    for (const auto& row : rows) {
        if (row.around == Around::screen_reader ? test::windows() : test::windows() && row.around != Around::nothing)
            continue;
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        dir.write("computer.dat", "12,18,2");
        const test::XServer* server = x;
        std::unique_ptr<test::XServer> own;
        std::unique_ptr<test::Meddler> link;
        std::unique_ptr<test::SettingsOwner> settings;
        std::string display = x->display(), says;
        std::vector<std::string> environment{"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE"};
        SilentSocket silent(dir / "bus");
        const std::string mark = "TRIO_TEST_RUN=" + dir.path();
        if (row.around == Around::screen_reader) {
            ASSERT_TRUE(bus->ready()) << "the accessibility registry did not start";
            environment = bus->environment();
        } else if (row.around == Around::lone_client || row.around == Around::no_bus ||
                   row.around == Around::silent_bus || row.around == Around::root_window_bus) {
            // A server of its own: the tests' names the accessibility bus of theirs on its root window.
            own = std::make_unique<test::XServer>(false, row.around == Around::lone_client);
            server = own.get();
            display = own->display();
        } else if (row.around == Around::slow_link) {
            link = std::make_unique<test::Meddler>(*x, 100);
            display = link->display();
        }
        if (row.around == Around::silent_bus || row.around == Around::silent_reader_bus) {
            ASSERT_GE(silent.fd, 0);
            bool reader = row.around == Around::silent_reader_bus;
            environment.push_back(std::string(reader ? "AT_SPI_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS") +
                                  "=unix:path=" + (dir / "bus"));
            if (reader)
                says = "computer: the accessibility bus at unix:path=" + (dir / "bus") +
                       " does not answer; screen readers will not read the box or the window\n";
        }
        test::TempDir elsewhere;  // what a stranger would have run
        if (row.around == Around::root_window_bus) {
            elsewhere.write("run", "#!/bin/sh\ntouch '" + (elsewhere / "ran") + "'\n");
            ::chmod((elsewhere / "run").c_str(), 0755);
            server->shell("xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS 'unixexec:path=" + (elsewhere / "run") +
                          ";unix:path=" + (dir / "bus") + "'");
        }
        if (row.around == Around::no_bus || row.around == Around::root_window_bus) {
            environment = {"DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "XDG_RUNTIME_DIR", mark};
        } else if (row.around == Around::module) {
            settings = std::make_unique<test::SettingsOwner>(*x, TRIO_PLANTED_MODULE);
            ASSERT_TRUE(settings->owns());
            environment.push_back("TRIO_PLANTED_MARK=" + (dir / "planted-module-ran"));
        }
        Running computer(test::bin("computer"), dir, {}, display, environment);
        unsigned long w = server->wait_for_window("^computer$", row.around == Around::slow_link ? 30000 : 10000);
        if (w == 0) {
            ADD_FAILURE() << "no box on " << display << "; computer said: " << computer.finish(0).err;
            continue;
        }
        EXPECT_EQ(dir.read("computer.sol"), test::lines("2\n3\n4\n6\n12\n"));
        EXPECT_TRUE(opens_alone(dir, "computer.sol"));
        if (row.around == Around::screen_reader) {
            std::string tree = bus->read("computer", true);
            EXPECT_TRUE(has(tree, "1 alert|computer||")) << tree;  // named by its title, as any dialog
            EXPECT_TRUE(has(tree, "label|OK|OK|")) << tree;
            EXPECT_TRUE(has(tree, "push button|OK||focused")) << tree;
            EXPECT_TRUE(has(tree, "pressed")) << tree;
        } else {
            server->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Return");
        }
        test::RunResult r = computer.finish(row.around == Around::slow_link ? 30000 : 5000);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, says);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bus", "computer.dat", "computer.sol"}));
        if (row.around == Around::no_bus) {
            EXPECT_EQ(left_running(mark), std::vector<std::string>{});
        }
        EXPECT_FALSE(elsewhere.exists("ran"));
    }
}

// The display going away while the box or the window waits ends the program as if it had been
// dismissed: one line, the result complete, status 0. A server that sends what the X library
// cannot take (an error of a request never made) has it abort in words of its own, never seen:
// the one line is the program's.
TEST(Box, DisplayLostWhileWaiting) {
    if (test::windows()) GTEST_SKIP() << "nothing takes the desktop from a Windows program";
    struct {
        const char *program, *input, *content, *window;
        bool meddled;
    } cases[] = {{"computer", "computer.dat", "12,18,2", "^computer$", false},
                 {"tallage", "tallage.dat", "1,0,0,3,4", "^Form1$", false},
                 {"computer", "computer.dat", "12,18,2", "^computer$", true}};
    for (auto& c : cases) {
        auto own = std::make_unique<test::XServer>();
        auto meddler = c.meddled ? std::make_unique<test::Meddler>(*own) : nullptr;
        ASSERT_TRUE(!meddler || !meddler->display().empty()) << "the go-between did not start";
        test::TempDir dir;
        dir.write(c.input, c.content);
        Running program(test::bin(c.program), dir, {}, meddler ? meddler->display() : own->display());
        unsigned long w = own->wait_for_window(c.window);
        ASSERT_NE(w, 0u) << c.program;
        if (meddler) {
            ASSERT_FALSE(own->pixels(w, 10, 10, 50, 50).empty()) << "the box is not drawn";
            meddler->meddle();  // now that the program waits on its box
        } else {
            own.reset();  // the X server killed
        }
        test::RunResult r = program.finish();
        EXPECT_EQ(r.status, meddler ? 128 + SIGABRT : 0) << c.program << r.err;
        EXPECT_EQ(r.err, std::string(c.program) +
                             (meddler ? std::string(": aborted (SIGABRT)")
                                      : std::string(": the display went away; ") +
                                            (c.program[0] == 'c' ? "the box" : "the window Form1") + " is closed") +
                             "\n");
        EXPECT_EQ(dir.entries().size(), 2u);
        EXPECT_EQ(dir.read(std::string(c.program) + ".sol").substr(0, 2), c.program[0] == 'c' ? "2\n" : "10");
    }
}

// A screen reader finds it as a frame named Form1.
TEST(Window, TallageShowsItsWindowUntilClosed) {
    test::TempDir dir;
    dir.write("tallage.dat", "1,0,0,3,4");
    Running tallage(test::bin("tallage"), dir, {}, x->display(), bus ? bus->environment() : std::vector<std::string>{});
    unsigned long w = x->wait_for_window("^Form1$");
    ASSERT_NE(w, 0u) << x->display();
    if (bus) {
        ASSERT_TRUE(bus->ready()) << "the accessibility registry did not start";
        std::string tree = bus->read("tallage");
        EXPECT_NE(tree.find("\n1 frame|Form1|"), std::string::npos) << tree;
        // And what it shows, after the caption.
        EXPECT_NE(tree.find("|points read: 2; distances from point 0: 5; sum 10; tallage.sol written\n"),
                  std::string::npos)
            << tree;
    }
    std::string sol = dir.read("tallage.sol");
    EXPECT_EQ(test::count_lines(sol), 9999u);
    std::string head = test::lines("10\n0 5\n0 5\n");
    EXPECT_EQ(sol.substr(0, head.size()), head);
    EXPECT_TRUE(opens_alone(dir, "tallage.sol"));
    x->request_close(w);
    test::RunResult r = tallage.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// A run-time error of a program started from the desktop (no terminal, a display at hand) is shown
// in a box titled with the program's name too, once the results are dealt with; dismissed, the
// program ends with the error's number. On Windows the program is started as Explorer starts it,
// by the launcher, which says what the box showed, and what the program's manifest declares.
struct Failing {
    const char *program, *input, *result;
    std::string content;  // empty: no input file
    int status;
    std::string report;  // what the box says; a * for the system's own words
};
void PrintTo(const Failing& f, std::ostream* os) { *os << f.program; }

class ErrorBox : public ::testing::TestWithParam<Failing> {};

// The icon at the left of a box (GTK draws it about 25 to 75 pixels across, 5 to 55 down).
std::vector<unsigned long> icon(unsigned long box) { return x->pixels(box, 10, 10, 50, 50); }

// The icon of an "OK" box, the information look, taken once.
const std::vector<unsigned long>& information_icon() {
    static const std::vector<unsigned long> taken = [] {
        test::TempDir dir;
        Running probe(test::bin("form_probe"), dir, {"box"});
        unsigned long w = x->wait_for_window("^form_probe$");
        std::vector<unsigned long> pixels = w ? icon(w) : std::vector<unsigned long>{};
        if (w) x->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Return");
        probe.finish();
        return pixels;
    }();
    return taken;
}

TEST_P(ErrorBox, ShowsTheReportFromTheDesktop) {
    const Failing& f = GetParam();
    const std::vector<unsigned long>& information = information_icon();
    ASSERT_FALSE(information.empty());
    test::TempDir dir;
    if (!f.content.empty()) dir.write(f.input, f.content);
    dir.write(f.result, "earlier\n");
    auto before = dir.entries();
    Running program(test::bin(test::windows() ? "launcher" : f.program), dir,
                    test::windows() ? std::vector<std::string>{test::bin(f.program)} : std::vector<std::string>{},
                    x->display(), bus ? bus->environment() : std::vector<std::string>{});
    unsigned long w = x->wait_for_window(std::string("^") + f.program + "$");
    ASSERT_NE(w, 0u) << x->display();
    EXPECT_EQ(dir.entries(), before);  // no temporary file while the box waits
    EXPECT_EQ(dir.read(f.result), "earlier\n");
    // The error's icon, not the information one of an "OK" box.
    std::vector<unsigned long> error = icon(w);
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error, information);
    // On Linux, read and pressed as a screen reader's user does: an alert whose text is the report.
    std::string tree;
    if (bus) {
        ASSERT_TRUE(bus->ready()) << "the accessibility registry did not start";
        tree = bus->read(f.program, true);
        EXPECT_TRUE(has(tree, "1 alert|" + std::string(f.program) + "||")) << tree;
        EXPECT_TRUE(has(tree, "pressed")) << tree;
    } else {
        x->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Return");
    }
    test::RunResult r = program.finish();
    EXPECT_EQ(r.status, f.status) << r.err;
    std::string report = r.err;  // the box's text is the report
    if (test::windows()) {
        EXPECT_EQ(r.err, "");  // started with no standard error
        // The launcher's lines: what the manifest declares, as the system reads it, then the box.
        std::vector<std::string> declared;
        report.clear();
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("manifest: ", 0) == 0) {
                declared.push_back(line + "\n");
            } else {
                report += line + "\n";
            }
        }
        const char* manifest[] = {
            "manifest: run level: asInvoker",
            "manifest: supported OS: {8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}",  // 10 and 11
            "manifest: supported OS: {1F676C76-80E1-4239-95BB-83D0F6D0DA78}",  // 8.1
            "manifest: supported OS: {4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}",  // 8
            "manifest: supported OS: {35138B9A-5D96-4FBD-8E2D-A2440225F93A}",  // 7
            "manifest: dpiAware: true/pm",
            "manifest: dpiAwareness: PerMonitorV2, PerMonitor",
            "manifest: longPathAware: true",
            "manifest: depends on: *.Windows.Common-Controls,*version=\"6.0.*",  // the boxes' controls
        };
        ASSERT_EQ(declared.size(), std::size(manifest)) << r.out;
        for (std::size_t i = 0; i < declared.size(); ++i) EXPECT_TRUE(test::is_line(declared[i], manifest[i])) << r.out;
    }
    EXPECT_TRUE(test::is_line(report, f.report)) << report;
    if (bus) {  // the report but for the program's name, which titles the box
        std::string text = report.substr(std::strlen(f.program) + 2, report.size() - std::strlen(f.program) - 3);
        EXPECT_TRUE(has(tree, "label|" + text + "|" + text + "|")) << tree;
    }
}

const Failing failing[] = {
    {"photo", "PHOTO.DAT", "photo.sol", "", 53, "photo: run-time error 53: File not found: opening PHOTO.DAT: *"},
    {"computer", "computer.dat", "computer.sol", "3000000000,4000000000,1", 6,
     "computer: run-time error 6: Overflow: field 1 of computer.dat: 3000000000 is beyond the 32-bit range"},
    {"tallage", "tallage.dat", "tallage.sol", "", 53,
     "tallage: run-time error 53: File not found: opening tallage.dat: *"},
};
INSTANTIATE_TEST_SUITE_P(Programs, ErrorBox, ::testing::ValuesIn(failing),
                         [](const auto& info) { return std::string(info.param.program); });

// Started from a console, the report is on the console, in the user's language whatever the
// console's code page (850 here, where UTF-8 bytes would show as other characters). Windows
// only: under Wine a console needs a display.
TEST(ErrorBox, NotFromAConsoleInAnyLanguage) {
    if (!test::windows()) GTEST_SKIP() << "a Windows console";
    test::TempDir dir;
    test::RunOptions options;
    options.display = x->display();
    options.environment = test::locale("pt_BR.UTF-8");
    options.args = {"console", test::bin("photo"), "850"};
    test::RunResult r = test::run(test::bin("bystander"), dir.path(), options);
    EXPECT_EQ(r.status, 53) << r.err;
    EXPECT_EQ(r.out,
              "photo: erro em tempo de execução 53: Arquivo não encontrado: erro ao abrir PHOTO.DAT: Arquivo não "
              "encontrado\n");
}

// From a terminal the line is enough: no box, no wait, even with a display at hand.
TEST(ErrorBox, NotFromATerminal) {
    if (test::windows()) GTEST_SKIP() << "a POSIX terminal";
    for (const Failing& f : failing) {
        test::TempDir dir;
        if (!f.content.empty()) dir.write(f.input, f.content);
        test::RunOptions options;
        options.display = x->display();
        options.terminal = true;
        options.timeout_ms = 5000;
        test::RunResult r = test::run(test::bin(f.program), dir.path(), options);
        EXPECT_EQ(r.status, f.status) << f.program << r.err;
        EXPECT_TRUE(test::is_line(r.err, f.report)) << r.err;
    }
}

// On a Wayland desktop (WAYLAND_DISPLAY, no X server) the box and the window are shown there, as a
// screen reader finds them: the box pressed; Form1 until the compositor goes away, which ends it as
// the display going away does.
TEST(Wayland, BoxAndWindowWithoutAnXServer) {
    if (test::windows()) GTEST_SKIP() << "no Wayland there";
    ASSERT_TRUE(bus->ready()) << "the accessibility registry did not start";
    struct {
        const char *program, *input, *content, *shown, *err;
    } cases[] = {{"computer", "computer.dat", "12,18,2", "label|OK|OK|", ""},
                 {"tallage", "tallage.dat", "1,0,0,3,4", "1 frame|Form1|",
                  "tallage: the display went away; the window Form1 is closed\n"}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.program);
        auto wayland = std::make_unique<test::Compositor>();
        ASSERT_FALSE(wayland->socket().empty()) << "weston did not start";
        test::TempDir dir;
        dir.write(c.input, c.content);
        test::RunOptions options;  // no DISPLAY
        options.environment = wayland->environment();
        for (const std::string& setting : bus->environment()) options.environment.push_back(setting);
        options.timeout_ms = 15000;
        auto run = std::async(std::launch::async, [&] { return test::run(test::bin(c.program), dir.path(), options); });
        bool box = c.program[0] == 'c';
        std::string tree = bus->read(c.program, box);
        EXPECT_NE(tree.find(c.shown), std::string::npos) << tree;
        if (!box) wayland.reset();  // the compositor killed
        test::RunResult r = run.get();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(dir.read(std::string(c.program) + ".sol").substr(0, 2), box ? "2\n" : "10");
    }
}

// A display that refuses every connection with a text of its own choosing (lines, a terminal
// escape, a forged notice), as a stranger's fake server on the machine could: what the X library
// would print of it never reaches standard error.
class RefusingServer {
  public:
    RefusingServer() {
        for (int n = 90; n < 100 && fd_ < 0; ++n) {
            std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
            if (::access(path.c_str(), F_OK) == 0) continue;
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd, 8) == 0) {
                fd_ = fd;
                path_ = path;
                display_ = ":" + std::to_string(n);
            } else {
                ::close(fd);
            }
        }
        if (fd_ >= 0) serving_ = std::thread([this] { serve(); });
    }
    ~RefusingServer() {
        if (fd_ < 0) return;
        ::shutdown(fd_, SHUT_RDWR);
        serving_.join();
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    RefusingServer(const RefusingServer&) = delete;
    RefusingServer& operator=(const RefusingServer&) = delete;
    const std::string& display() const { return display_; }

  private:
    void serve() const {
        const std::string reason = "\nall results written\n\x1b[2J";
        for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0; ::close(client)) {
            char request[12];
            if (::recv(client, request, sizeof request, MSG_WAITALL) != 12) continue;
            // Failed, the reason's length, protocol 11.0, then the reason in 4-byte units.
            std::string reply = {0, static_cast<char>(reason.size()),           11, 0, 0,
                                 0, static_cast<char>((reason.size() + 3) / 4), 0};
            reply += reason + std::string((4 - reason.size() % 4) % 4, '\0');
            if (::send(client, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) continue;
        }
    }
    int fd_ = -1;
    std::string path_, display_;
    std::thread serving_;
};

// Without a display, with one that cannot be reached, with one that never answers (a stopped
// server: given a few seconds), or with one that refuses the program, nothing crashes or waits for
// ever, and one line of the program's own says why, whatever the X library had to say.
TEST(NoDisplay, BoxPrintsItsPromptAndWindowIsNotShown) {
    if (test::windows()) GTEST_SKIP() << "Windows always has a desktop";
    test::XServer stopped;
    stopped.stop();
    test::XServer refusing(true);
    ASSERT_FALSE(refusing.display().empty()) << "Xvfb did not start";
    RefusingServer forging;
    ASSERT_FALSE(forging.display().empty());
    test::Meddler first_only(*x, 0, "first-only");  // the toolkit's connection, after the first, never answered
    ASSERT_FALSE(first_only.display().empty());
    for (std::string display : {std::string(), std::string(":4321"), stopped.display(), refusing.display(),
                                forging.display(), first_only.display()}) {
        test::RunOptions options;
        options.display = display;
        options.timeout_ms = 15000;
        options.environment = {"XAUTHORITY=/nonexistent"};  // no cookie of the refusing server's
        std::string why = display.empty()
                              ? "no display (neither WAYLAND_DISPLAY nor DISPLAY is set)"
                              : "no display can be opened at " + display;  // nothing of the X library's words
        {
            test::TempDir dir;
            test::RunOptions box = options;
            box.args = {"box"};
            test::RunResult r = test::run(test::bin("form_probe"), dir.path(), box);
            EXPECT_EQ(r.status, 0) << display << r.err;
            EXPECT_EQ(r.out, "Hello, box\nafter the box\n");
            EXPECT_EQ(r.err, display.empty() ? "" : "form_probe: " + why + "; the box is not shown\n");
        }
        {
            test::TempDir dir;
            test::RunResult r = test::run(test::bin("form_probe"), dir.path(), options);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "form_probe: " + why + "; the window Form1 is not shown\n");
            EXPECT_EQ(dir.read("probe.sol"), test::lines("written before the wait\n"));
        }
    }
    // A signal while it connects is taken as anywhere else, its line seen; a SIGALRM that someone
    // sent is not the connection's timeout.
    for (auto [sig, how] : {std::pair{SIGALRM, "alarm clock (SIGALRM)"}, {SIGSEGV, "segmentation fault (SIGSEGV)"}}) {
        test::TempDir dir;
        test::RunOptions options;
        options.display = stopped.display();
        options.args = {"box"};
        options.signals = {sig};
        options.signal_after_ms = 1000;
        options.timeout_ms = 15000;
        test::RunResult r = test::run(test::bin("form_probe"), dir.path(), options);
        bool sanitized = r.err.find("AddressSanitizer") != std::string::npos;  // its report after the line, status 1
        EXPECT_EQ(r.status, sanitized ? 1 : 128 + sig) << r.err;
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), std::string("form_probe: ") + how + "\n");
    }
}

// A display that answers but never finishes is given up within a minute, its start and the box's
// or the window's showing bounded as a whole: one that hands on its answers a byte every 2 s, and
// one whose resource database any client made too large to read in a minute. The run ends as
// without a display, saying why. (Both at once: each takes the bound.)
TEST(NoDisplay, GivenUpWhereItNeverFinishes) {
    if (test::windows()) GTEST_SKIP() << "Windows always has a desktop";
    test::XServer oversized;
    ASSERT_FALSE(oversized.display().empty()) << "Xvfb did not start";
    if (!test::sanitized) oversized.set_resources(30);
    test::Meddler trickling(*x, 0, "trickle");
    ASSERT_FALSE(trickling.display().empty());
    auto given_up = [](const char* program, const std::string& display) {
        test::TempDir dir;
        dir.write(program[0] == 'c' ? "computer.dat" : "tallage.dat", program[0] == 'c' ? "12,18,2" : "1,0,0,3,4");
        test::RunOptions options;
        options.display = display;
        options.timeout_ms = 90000;
        test::RunResult r = test::run(test::bin(program), dir.path(), options);
        EXPECT_EQ(r.status, 0) << program << r.err;
        EXPECT_EQ(r.out, program[0] == 'c' ? "OK\n" : "");
        EXPECT_EQ(r.err, std::string(program) + ": the display " + display +
                             " did not finish answering within a minute; " +
                             (program[0] == 'c' ? "the box" : "the window Form1") + " is not shown\n");
        EXPECT_EQ(dir.entries().size(), 2u) << program;
    };
    auto trickled = std::async(std::launch::async, given_up, "computer", trickling.display());
    // The X library's reading of such a database reads past one of its own buffers (libX11 1.8),
    // which the address sanitizer stops the program on: there the row is left to the plain build.
    if (test::sanitized) {
        std::cout << "the oversized resource database is not read under the sanitizers\n";
    } else {
        given_up("tallage", oversized.display());
    }
    trickled.get();
}

}  // namespace

namespace {

// The display module, and the window libraries with it, are loaded only when something is shown:
// never by photo, nor by a run without a display; by tallage, whose window is (the control). The
// dynamic loader says what it loads (LD_DEBUG).
TEST(NoDisplay, ModuleLoadedOnlyToShowSomething) {
    if (test::windows()) GTEST_SKIP() << "the POSIX loader";
    struct {
        const char *program, *input, *content;
        bool display, loaded;
    } cases[] = {{"photo", "PHOTO.DAT", "7,2.54,2.54,1000", true, false},
                 {"computer", "computer.dat", "12,18,2", false, false},
                 {"tallage", "tallage.dat", "1,0,0,3,4", true, true}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.program);
        test::TempDir dir, log;
        dir.write(c.input, c.content);
        test::RunOptions options;
        options.display = c.display ? x->display() : "";
        options.environment = {"LD_DEBUG=files", "LD_DEBUG_OUTPUT=" + log / "ld"};
        auto run = std::async(std::launch::async, [&] { return test::run(test::bin(c.program), dir.path(), options); });
        if (c.loaded) {
            unsigned long w = x->wait_for_window("^Form1$");
            ASSERT_NE(w, 0u);
            x->request_close(w);
        }
        test::RunResult r = run.get();
        EXPECT_EQ(r.status, 0) << r.err;
        std::string loaded;
        for (const std::string& name : log.entries()) loaded += log.read(name);
        EXPECT_FALSE(loaded.empty()) << "the loader said nothing";
        EXPECT_EQ(loaded.find("trio-display.so") != std::string::npos, c.loaded);
        EXPECT_EQ(loaded.find("libgtk-3.so") != std::string::npos, c.loaded);
    }
}

// Code is never loaded from the data folder: with /proc hidden (the program cannot learn where it
// is), a module planted beside computer.dat is not loaded, and the run goes on as without a display.
TEST(NoDisplay, NoModuleFromTheDataFolder) {
    if (test::windows()) GTEST_SKIP() << "a POSIX module";
    test::TempDir dir;
    const std::string hide_proc = "mount -t tmpfs none /proc && exec \"$0\"";
    test::RunOptions options;
    options.args = {"-m", "sh", "-c", "mount -t tmpfs none /proc"};
    if (test::run("/usr/bin/unshare", dir.path(), options).status != 0) GTEST_SKIP() << "no mount namespace here";
    dir.write("trio-display.so", test::TempDir::read_file(TRIO_PLANTED_MODULE));
    dir.write("computer.dat", "12,18,2");
    options.display = x->display();
    options.args = {"-m", "sh", "-c", hide_proc, test::bin("computer")};
    test::RunResult r = test::run("/usr/bin/unshare", dir.path(), options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists("planted-module-ran"));
    EXPECT_EQ(r.out, "OK\n");
    EXPECT_EQ(dir.read("computer.sol"), "2\n3\n4\n6\n12\n");
}

}  // namespace

namespace {

// Nor from where someone else could have put it: a module is loaded only where it, its folder and
// every folder above are root's or the runner's and writable by no one else, but for a folder
// above that is sticky (as /tmp is). Else it is passed over, and the run goes on as without a
// display, saying why. The planted module leaves a mark where it runs (and has no entry point).
TEST(NoDisplay, NoModuleWhereAnotherUserCouldPutIt) {
    if (test::windows() || !test::native()) GTEST_SKIP() << "a POSIX module, built for this machine";
    struct {
        const char* name;
        const char* place;   // the module's folder, beside the program's copy in bin
        const char* folder;  // the folder given folder_mode
        mode_t folder_mode, file_mode;
        bool nobodys;         // the module file (or link) is nobody's
        std::string refused;  // why it is passed over, after its folder's path; empty: loaded
        bool linked;          // the module is a link of nobody's to the build's own planted one
        bool listed = false;  // the folder's access list lets nobody write it too
    } cases[] = {
        {"beside the program", "bin", "bin", 0755, 0755, false, "", false},
        {"under a sticky folder", "lib/trio", "lib", 01777, 0644, false, "", false},
        {"in a folder others can write", "bin", "bin", 0777, 0755, false, "/bin can be written by others", false},
        {"in a group's folder", "bin", "bin", 02775, 0755, false, "/bin can be written by others", false},
        {"in a folder of the runner's own group", "bin", "bin", 0775, 0755, false, "", false},
        {"in a folder an access list shares", "bin", "bin", 0775, 0755, false, "/bin can be written by others", false,
         true},
        {"a file others can write", "bin", "bin", 0755, 0666, false, "/bin/trio-display.so can be written by others",
         false},
        {"another user's file", "bin", "bin", 0755, 0755, true, "/bin/trio-display.so is another user's", false},
        {"under a folder others can write", "lib/trio", "lib", 0777, 0644, false, "/lib can be written by others",
         false},
        {"in a sticky folder others can write", "lib/trio", "trio", 01777, 0644, false,
         "/lib/trio can be written by others", false},
        {"a link in a group's folder", "bin", "bin", 02775, 0755, true,
         "/bin/trio-display.so is a link of another user in a directory others can write; not followed", true},
    };
    // "lib/trio" stands for the module's folder as the build has it beside bin (a package's is
    // lib/<multiarch>/trio), "lib" for the one above it.
    const std::string lib_trio = std::filesystem::path("bin/" TRIO_MODULE_DIR).lexically_normal().string();
    const std::string lib = std::filesystem::path(lib_trio).parent_path().string();
    auto as_built = [&](std::string s) {
        if (s.rfind("/lib/trio", 0) == 0) return "/" + lib_trio + s.substr(9);
        if (s.rfind("/lib", 0) == 0) return "/" + lib + s.substr(4);
        return s;
    };
    for (auto& c : cases) {
        // Only root can give things away, to nobody or to a team's group.
        if ((c.nobodys || (c.folder_mode & S_ISGID)) && ::geteuid() != 0) continue;
        SCOPED_TRACE(c.name);
        test::TempDir copy, data;
        ::chmod(copy.path().c_str(), 0755);
        ASSERT_EQ(::mkdir((copy / "bin").c_str(), 0755), 0);
        std::filesystem::create_directories(copy / lib_trio);
        for (auto f = std::filesystem::path(lib_trio); !f.empty(); f = f.parent_path())
            ::chmod((copy / f.string()).c_str(), 0755);
        copy.write("bin/computer", test::TempDir::read_file(test::bin("computer")));
        ::chmod((copy / "bin/computer").c_str(), 0755);
        std::string place = std::strcmp(c.place, "bin") == 0 ? "bin" : lib_trio;
        std::string module = copy / place + "/trio-display.so";
        char planted[PATH_MAX];
        ASSERT_NE(::realpath(TRIO_PLANTED_MODULE, planted), nullptr);
        if (c.linked) {
            ASSERT_EQ(::symlink(planted, module.c_str()), 0);
        } else {
            copy.write(place + "/trio-display.so", test::TempDir::read_file(TRIO_PLANTED_MODULE));
            ::chmod(module.c_str(), c.file_mode);
        }
        if (c.nobodys) {
            ASSERT_EQ(::lchown(module.c_str(), 65534, 65534), 0);
        }
        std::string folder = std::strcmp(c.folder, "trio") == 0  ? lib_trio
                             : std::strcmp(c.folder, "lib") == 0 ? lib
                                                                 : c.folder;
        ::chmod((copy / folder).c_str(), c.folder_mode);
        // A group's folder (set-group-id) is a team's; one merely group-writable, the runner's own group's.
        if ((c.folder_mode & S_ISGID) && ::geteuid() == 0) {
            ASSERT_EQ(::chown((copy / folder).c_str(), -1, 65534), 0);
        }
        if (c.listed && std::system(("setfacl -m u:65534:rwx '" + copy / folder + "' 2>/dev/null").c_str()) != 0) {
            std::cout << "no access lists here: " << c.name << " skipped\n";
            continue;
        }
        data.write("computer.dat", "12,18,2");
        test::RunOptions options;
        options.display = ":4321";  // never reached: the planted module has no entry point
        test::RunResult r = test::run(copy / "bin/computer", data.path(), options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "OK\n");
        EXPECT_EQ(data.exists("planted-module-ran"), c.refused.empty());
        std::string why = c.refused.empty() ? "the display module trio-display.so cannot be loaded"
                                            : "the display module " + (c.linked ? planted : module) +
                                                  " is not used: " + copy.path() + as_built(c.refused);
        EXPECT_EQ(r.err, "computer: " + why + "; the box is not shown\n");
        EXPECT_EQ(data.read("computer.sol"), "2\n3\n4\n6\n12\n");
    }
}

// Nor does the toolkit load one that someone else planted beside the data, where a search path of
// the runner's has an empty or relative entry (the current directory, to the toolkit): through a
// settings file naming it, or as a module of its own path.
TEST(NoDisplay, ToolkitLoadsNothingFromTheDataFolder) {
    if (test::windows()) GTEST_SKIP() << "GTK's search paths";
    for (bool settings : {true, false}) {
        test::TempDir data;
        data.write("computer.dat", "12,18,2");
        for (const char* folder : {"gtk-3.0", "rel/3.0.0/modules"}) std::filesystem::create_directories(data / folder);
        data.write(settings ? "planted.so" : "rel/3.0.0/modules/libplanted.so",
                   test::TempDir::read_file(TRIO_PLANTED_MODULE));
        data.write("gtk-3.0/settings.ini", "[Settings]\ngtk-modules=" + data / "planted.so" + "\n");
        Running computer(test::bin("computer"), data, {}, x->display(),
                         settings ? std::vector<std::string>{"XDG_CONFIG_DIRS=/etc/xdg:"}
                                  : std::vector<std::string>{"GTK_PATH=rel", "GTK_MODULES=planted"});
        unsigned long w = x->wait_for_window("^computer$");
        ASSERT_NE(w, 0u);
        x->shell("xdotool windowfocus --sync " + std::to_string(w) + " key Return");
        EXPECT_EQ(computer.finish().status, 0);
        EXPECT_FALSE(data.exists("planted-module-ran")) << settings;
    }
}

}  // namespace
