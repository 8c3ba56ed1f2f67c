// A private X server (Xvfb) for the window tests, and the few things the tests do on it.
#pragma once

#include <string>
#include <vector>

namespace test {

class XServer {
  public:
    // Starts Xvfb on a free display with a 24-bit screen; display() is empty if it cannot. A
    // refusing one takes only clients that show a cookie of its own, which no one has.
    explicit XServer(bool refusing = false);
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
    // The pixels of a w by h area of the window at x, y, once drawn (not all one colour, and the
    // same twice in a row); empty if they are not within timeout_ms.
    std::vector<unsigned long> pixels(unsigned long window, int x, int y, int w, int h, int timeout_ms = 5000) const;

  private:
    int pid_ = -1;
    int number_pipe_ = -1;
    std::string display_;
    std::string cookies_;  // the refusing server's authorization file
};

}  // namespace test
