// A small program on the runtime for the window and box tests. It writes probe.sol, then, as its
// first argument says, shows the box with the prompt "Hello, box" and ends ("box"), or returns from
// Load so that the window is shown ("window"). After the box it prints "after the box".
#include <unistd.h>

#include <cstring>

#include "runtime.hpp"

using namespace rt;

namespace {
bool box_mode = false;
}

class Form1 : public Form {
  public:
    void Load() override {
        open_output(2, "probe.sol");
        print_line(2, String("written before the wait"));
        if (box_mode) {
            message_box("Hello, box");
            if (::write(STDOUT_FILENO, "after the box\n", 14) < 0) raise(DeviceIO);
            end();
        }
    }
};

int main(int argc, char** argv) {
    box_mode = argc > 1 && std::strcmp(argv[1], "box") == 0;
    return start<Form1>("form_probe");
}
