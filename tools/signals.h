/*
 * What SIGINT, SIGTERM and SIGHUP do to the wks tool: they end it, and
 * every file it has pending (the library's, wks_discard_all) and the copy of
 * standard input go first, so that a destination is left as it was.  Two
 * parts of the tool change that:
 *
 *   - while a new file is being put in place (Committing), the signal waits
 *     until that is done, so that a destination never stays under a
 *     temporary name; once it is in place, the tool finishes and says the
 *     interruption came too late, never ending silently;
 *   - while a library conversion or calculation runs, or the worker
 *     processes of a batch do (Stoppable), the first signal only asks them to stop: the
 *     conversion's progress handler answers with stop_requested(), the
 *     converter leaves nothing behind, and the tool then ends with
 *     end_with_signal.  The workers get the signal too.  A second signal
 *     ends the tool at once.
 */
#ifndef WKS_TOOL_SIGNALS_H
#define WKS_TOOL_SIGNALS_H

#include <string>

namespace tool {

void install_signal_handlers();

class Committing {
public:
    Committing();
    // A signal that came meanwhile: raised when the new file was not put in
    // place; once it was (placed), the tool says so instead ("done; the
    // interruption came too late"), finishes, and the signal counts as a
    // stop request for whatever work would follow.
    ~Committing();
    void placed(const std::string &name) { placed_ = &name; }
    Committing(const Committing &) = delete;
    Committing &operator=(const Committing &) = delete;

private:
    const std::string *placed_ = nullptr;
};

class Stoppable {
public:
    Stoppable();
    ~Stoppable();
    Stoppable(const Stoppable &) = delete;
    Stoppable &operator=(const Stoppable &) = delete;
};

// The signal that asked to stop, or 0.
int stop_requested();

// Ends the tool as the signal would have: pending files and the copy of
// standard input removed, then the signal raised with its default action.
[[noreturn]] void end_with_signal(int sig);

// A function the handler calls first with each signal (async-signal-safe;
// the batch passes signals on to its workers with it), or null.
void set_signal_relay(void (*relay)(int sig));

}  // namespace tool

#endif
