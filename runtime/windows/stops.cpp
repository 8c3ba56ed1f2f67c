// Stops on Windows: Ctrl+C, Ctrl+Break and the console's closing, each handled in a thread of its
// own, which waits for stops held back.
#include "windows.hpp"

namespace rt::os {

namespace {

SRWLOCK stop_lock = SRWLOCK_INIT;
void (*stop_callback)(const Stop&) = nullptr;

// Windows ends a program stopped by Ctrl+C, Ctrl+Break or the console's closing with this status.
constexpr UINT stopped_status = 0xC000013AU;  // STATUS_CONTROL_C_EXIT

BOOL WINAPI on_console_event(DWORD event) {
    Stop stop;
    switch (event) {
        case CTRL_C_EVENT: stop = {Msg::Interrupted, "Ctrl+C"}; break;
        case CTRL_BREAK_EVENT: stop = {Msg::Interrupted, "Ctrl+Break"}; break;
        case CTRL_CLOSE_EVENT: stop = {Msg::ConsoleClosed}; break;
        default: return FALSE;
    }
    ::AcquireSRWLockExclusive(&stop_lock);
    if (stop_callback) stop_callback(stop);
    ::ExitProcess(stopped_status);
}

}  // namespace

void catch_stops(void (*on_stop)(const Stop&)) {
    stop_callback = on_stop;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);  // Ctrl+C ignored by the parent stays ignored
}

void hold_stops() { ::AcquireSRWLockExclusive(&stop_lock); }
void release_stops() { ::ReleaseSRWLockExclusive(&stop_lock); }

}  // namespace rt::os
