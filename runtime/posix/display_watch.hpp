// The display's answers, watched from a thread of their own (display_watch.cpp), and what the
// toolkit would otherwise take from the display: its handlers for the X library's errors, and the
// modules a server's settings name. Part of the display module, beside display_module.cpp.
#pragma once

namespace display {

// Starts the thread that watches the display's answers, once: should the display go away, lost()
// is called; should it not finish its start and the showing in time (until_shown), given_up().
// Neither returns.
void watch(void (*lost)(), void (*given_up)());
// The display's start and the showing of a box or a window are bounded as a whole, however the
// display answers meanwhile (a byte at a time, or a resource database that takes the toolkit
// minutes to read): from until_shown() on, where no bound runs yet, until bound_met() (the box or
// the window is on the screen, or nothing will be), past which the run is given up.
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

}  // namespace display
