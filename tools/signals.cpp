/*
 * The tool's signal handler (signals.h).  Everything it touches is a flag of
 * sig_atomic_t, and everything it calls (wks_discard_all, unlink, the relay,
 * signal, raise) is async-signal-safe.
 */
#include "tools/signals.h"

#include "tools/common.h"
#include "wks.h"

#include <csignal>
#include <cstdlib>

namespace tool {
namespace {

volatile std::sig_atomic_t g_committing = 0;
volatile std::sig_atomic_t g_deferred = 0;
volatile std::sig_atomic_t g_stoppable = 0;
volatile std::sig_atomic_t g_stop = 0;
void (*volatile g_relay)(int) = nullptr;

// Inside the handler the signal stays blocked until the handler returns,
// and then ends the tool.
void drop_files_and_raise(int sig) {
    wks_discard_all();
    remove_inputs();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

extern "C" void on_signal(int sig) {
    if (g_committing) {
        g_deferred = sig;
        return;
    }
    if (g_relay) g_relay(sig);
    if (g_stoppable && !g_stop) {
        g_stop = sig;
        return;
    }
    drop_files_and_raise(sig);
}

}  // namespace

void install_signal_handlers() {
    for (int sig : {SIGINT, SIGTERM}) std::signal(sig, on_signal);
#ifdef SIGHUP
    std::signal(SIGHUP, on_signal);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);  // a file over the size limit is a write error to report, as a full disk is
#endif
}

Committing::Committing() { g_committing = 1; }

Committing::~Committing() {
    g_committing = 0;
    const int sig = g_deferred;
    if (!sig) return;
    g_deferred = 0;
    if (!placed_) std::raise(sig);
    g_stop = sig;
    warn(*placed_, "done; the interruption came too late");
}

Stoppable::Stoppable() { g_stoppable = 1; }
Stoppable::~Stoppable() { g_stoppable = 0; }

int stop_requested() { return g_stop; }

void end_with_signal(int sig) {
    drop_files_and_raise(sig);
    std::_Exit(128 + sig);  // only where the signal is blocked: the same status as a shell shows
}

void set_signal_relay(void (*relay)(int sig)) { g_relay = relay; }

}  // namespace tool
