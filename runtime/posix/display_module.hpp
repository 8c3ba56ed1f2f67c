// What the display module's files share: display_module.cpp (the box and the window, on GTK),
// display_watch.cpp (the display's answers watched, and what the toolkit would take from it) and
// display_buses.cpp (the session's buses, checked before the toolkit meets them).
#pragma once

#include <X11/Xlib.h>

namespace display {

// The display went away: the runtime says so and ends the program; never returns.
[[noreturn]] void lost();

// The display did not finish its start, or showing the box or the window, within the bound: the
// runtime says so and ends the run as it does without a display; never returns.
[[noreturn]] void given_up();

// Starts the thread that watches the display's answers; once.
void watch();
// The display's start and the showing of a box or a window are bounded as a whole, however the
// display answers meanwhile (a byte at a time, or a resource database that takes the toolkit
// minutes to read): from until_shown() on, where no bound runs yet, until bound_met() (the box or
// the window is on the screen, or nothing will be), past which the run is given up (given_up).
void until_shown();
void bound_met();
// Within a Waiting scope the program waits on the display: should the display give no answer for
// a few seconds while the program waits (a stopped server, a link gone dead), or keep it waiting
// past the bound of a whole start however it answers, its connection is shut down, so that the
// wait ends. A slow display is no silent one: the few seconds are a bound on each answer.
class Waiting {
  public:
    Waiting();
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
};
// The display's connection, once known (the X library tells it as the toolkit connects; Wayland's
// after).
void connected(int fd);
// Whether an X error is being handled: what the toolkit says meanwhile comes just before it ends
// the process.
bool handling_x_error();

// Checks the session bus and the accessibility bus before the toolkit meets them, each answer
// within a moment: one that does not answer is done without (no screen reader reads the program
// this run), and where there is no session bus none is started. Returns false where the user asked
// for the accessibility bus (a screen reader listens, or AT_SPI_BUS_ADDRESS names it) and it does
// not answer; `address` then says which.
bool check_buses(const char*& address);

// Before a box or a window is shown: where a screen reader may listen (the accessibility bus is in
// use), until the accessibility registry lists the program (its bridge has registered it), within
// a moment; a window shown before then is one a screen reader may not announce.
void wait_until_heard();

}  // namespace display
