// Stops on POSIX: every signal whose default would end the process, caught so that the program
// removes its temporaries and says what stopped it.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "os.hpp"
#include "posix.hpp"

namespace rt::os {

namespace {

void (*stop_callback)(const Stop&) = nullptr;
sigset_t held_mask;

// Every signal whose default is to end the process is a stop, but the two made failed writes
// (SIGPIPE, SIGXFSZ) and SIGKILL, which cannot be caught; each removes the temporaries and says so
// as SIGTERM does. A fault of the program's own (or one sent as if it were) then goes on to the
// action it had before, a core dump or the sanitizers' report.
struct Caught {
    int sig;
    Stop stop;
    bool fault = false;
};
const Caught stops[] = {
    {SIGINT, {Msg::Interrupted, "SIGINT"}},
    {SIGTERM, {Msg::Terminated, "SIGTERM"}},
    {SIGHUP, {Msg::HungUp, "SIGHUP"}},
    {SIGQUIT, {Msg::Quit, "SIGQUIT"}},
    {SIGALRM, {Msg::AlarmClock, "SIGALRM"}},
    {SIGUSR1, {Msg::UserSignal, "SIGUSR1", "1"}},
    {SIGUSR2, {Msg::UserSignal, "SIGUSR2", "2"}},
    {SIGVTALRM, {Msg::VirtualTimer, "SIGVTALRM"}},
    {SIGPROF, {Msg::ProfilingTimer, "SIGPROF"}},
    {SIGXCPU, {Msg::CpuLimit, "SIGXCPU"}},
#ifdef SIGPOLL
    {SIGPOLL, {Msg::Pollable, "SIGPOLL"}},
#endif
#ifdef SIGPWR
    {SIGPWR, {Msg::PowerFailure, "SIGPWR"}},
#endif
#ifdef SIGSTKFLT
    {SIGSTKFLT, {Msg::StackFault, "SIGSTKFLT"}},
#endif
    {SIGABRT, {Msg::Aborted, "SIGABRT"}, true},
    {SIGBUS, {Msg::BusError, "SIGBUS"}, true},
    {SIGFPE, {Msg::ArithmeticFault, "SIGFPE"}, true},
    {SIGILL, {Msg::IllegalInstruction, "SIGILL"}, true},
    {SIGSEGV, {Msg::SegmentationFault, "SIGSEGV"}, true},
    {SIGSYS, {Msg::BadSystemCall, "SIGSYS"}, true},
    {SIGTRAP, {Msg::TraceTrap, "SIGTRAP"}, true},
};

// The real-time signals end the process too; their numbers as text are made once, before any
// can arrive.
constexpr int max_realtime = 64;
char realtime_number[max_realtime][12];

struct sigaction before_faults[NSIG];

bool realtime(int sig) { return sig >= SIGRTMIN && sig <= SIGRTMAX && sig - SIGRTMIN < max_realtime; }

// The stops that are held back and taken one at a time: all but the faults.
sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const Caught& caught : stops)
        if (!caught.fault) sigaddset(&set, caught.sig);
    for (int sig = SIGRTMIN; realtime(sig); ++sig) sigaddset(&set, sig);
    return set;
}

extern "C" void on_stop_signal(int sig) {
    Stop stop;
    bool fault = false;
    for (const Caught& caught : stops)
        if (caught.sig == sig) stop = caught.stop, fault = caught.fault;
    if (realtime(sig)) stop = {Msg::RealTimeSignal, "", realtime_number[sig - SIGRTMIN]};
    if (stop_callback) stop_callback(stop);
    if (fault) {  // delivered again once this returns, to what it had before, with standard error back
        give_back_standard_error();  // for a sanitizer's report
        ::sigaction(sig, &before_faults[sig], nullptr);
        ::raise(sig);
        return;
    }
    _exit(128 + sig);
}

}  // namespace

void catch_stops(void (*on_stop)(const Stop&)) {
    stop_callback = on_stop;
    for (int n = 0; n < max_realtime; ++n) std::snprintf(realtime_number[n], sizeof realtime_number[n], "%d", n);
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    stop.sa_mask = stop_set();   // one stop at a time
    stop.sa_flags = SA_ONSTACK;  // a fault of a stack that has run out, where there is another to run on
    auto take = [&](int sig, bool fault) {
        struct sigaction was {};
        if (::sigaction(sig, nullptr, &was) != 0 || was.sa_handler == SIG_IGN) return;  // as nohup wants
        if (fault) before_faults[sig] = was;
        ::sigaction(sig, &stop, nullptr);
    };
    for (const Caught& caught : stops) take(caught.sig, caught.fault);
    for (int sig = SIGRTMIN; realtime(sig); ++sig) take(sig, false);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
}

void hold_stops() {
    sigset_t set = stop_set();
    ::sigprocmask(SIG_BLOCK, &set, &held_mask);
}

void release_stops() { ::sigprocmask(SIG_SETMASK, &held_mask, nullptr); }

}  // namespace rt::os
