// The session's buses, checked before the toolkit meets them (display_buses.cpp). Part of the
// display module, beside display_module.cpp.
#pragma once

namespace display {

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
