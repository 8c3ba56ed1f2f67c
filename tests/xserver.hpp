// A private X server (Xvfb) for the window tests, and the few things the tests do on it.
#pragma once

#include <string>
#include <vector>

struct _XDisplay;

namespace test {

class XServer {
  public:
    // Starts Xvfb with a 24-bit screen of 1600 by 1200 (room for Form1 at scale 2) on a display number no other server
    // on the machine has; display() is empty if it cannot. A refusing one takes only clients that show a cookie of its
    // own, which no one has; a resetting one starts afresh each time its last client leaves, as a
    // server started for one program does (xvfb-run, a kiosk's xinit).
    explicit XServer(bool refusing = false, bool resetting = false);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& display() const { return display_; }

    // Runs a shell command with DISPLAY set to this server; returns its standard output.
    std::string shell(const std::string& command) const;
    // The id of the first visible window whose name matches the regular expression, waiting up
    // to timeout_ms for it to appear; 0 if none does.
    unsigned long wait_for_window(const std::string& name_regex, int timeout_ms = 10000) const;
    // Sends WM_DELETE_WINDOW to the window, as a window manager's close button does.
    void request_close(unsigned long window) const;
    // Stops the server (SIGSTOP): it keeps taking connections and answers none.
    void stop() const;
    // Sets its resource database (the root window's RESOURCE_MANAGER) to mib MiB of resources, as
    // any client of the server may.
    void set_resources(int mib) const;
    // The pixels of a w by h area of the window at x, y, once drawn (not all one colour, and the
    // same twice in a row); empty if they are not within timeout_ms.
    std::vector<unsigned long> pixels(unsigned long window, int x, int y, int w, int h, int timeout_ms = 5000) const;

  private:
    void start(int number, bool resetting);
    int pid_ = -1;
    int number_pipe_ = -1;
    std::string display_;
    std::string cookies_;  // the refusing server's authorization file
};

// A go-between in front of an X server that sends its clients an X error of a request never made
// (tests/x_meddler.py): what a hostile server could send. Its own display() is empty if it cannot
// start.
class Meddler {
  public:
    // With a round trip, it holds everything back half of it each way, as a slow link does; how
    // "first-only", it answers the first connection alone and holds later ones unanswered; how
    // "trickle", it hands on the server's answers a byte every 2 s.
    explicit Meddler(const XServer& to, int round_trip_ms = 0, const char* how = "all");
    ~Meddler();
    Meddler(const Meddler&) = delete;
    Meddler& operator=(const Meddler&) = delete;
    const std::string& display() const { return display_; }
    // Sends the error to every client connected now.
    void meddle() const;

  private:
    int pid_ = -1, tell_ = -1;
    std::string display_;
};

// A client that takes the X server's settings (XSETTINGS), as a desktop's settings daemon does, and
// publishes a list of toolkit modules: what any client of a shared server can do. owns() is false
// if it cannot.
class SettingsOwner {
  public:
    SettingsOwner(const XServer& on, const std::string& modules);
    ~SettingsOwner();
    SettingsOwner(const SettingsOwner&) = delete;
    SettingsOwner& operator=(const SettingsOwner&) = delete;
    bool owns() const { return owns_; }

  private:
    ::_XDisplay* display_ = nullptr;
    bool owns_ = false;
};

// A session bus with the accessibility bus and its registry on it (at-spi2-core), for reading the
// programs' windows as a screen reader does; the programs given environment() register there.
class AccessibilityBus {
  public:
    explicit AccessibilityBus(const XServer& on);
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;
    // Whether the registry answered; the settings for a program that is to register.
    bool ready() const { return ready_; }
    std::vector<std::string> environment() const { return {"DBUS_SESSION_BUS_ADDRESS=" + address_}; }
    // The tree of the application named app, one line per object ("depth role|name|text|focused"),
    // waiting a few seconds for it to show a window; with press, its first push button is then
    // pressed through the accessibility action. Bounded: a client can wait for ever on a bus.
    std::string read(const std::string& app, bool press = false) const;

  private:
    const XServer& x_;
    std::vector<int> pids_;
    std::string address_;
    bool ready_ = false;
};

// A headless Wayland compositor (weston) with a socket of its own, in a runtime directory of its
// own; socket() is empty if it cannot start. The programs given environment() use it.
class Compositor {
  public:
    Compositor();
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;
    const std::string& socket() const { return socket_; }
    std::vector<std::string> environment() const {
        return {"WAYLAND_DISPLAY=" + socket_, "XDG_RUNTIME_DIR=" + directory_};
    }

  private:
    int pid_ = -1;
    std::string directory_, socket_;
};

}  // namespace test
