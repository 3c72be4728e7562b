/*
 * The converters' progress reports (wks_set_progress_handler): the host's
 * handler, called with how far the source has been read and its size, and
 * whose nonzero answer stops the conversion.  One Progress per conversion;
 * between reports a check is one compare.  A handler that reaches into the
 * conversion stops it too: one that drops its result (wks_discard_all) or
 * calls a converter, which is refused.
 */
#ifndef WKS_CONVERT_PROGRESS_H
#define WKS_CONVERT_PROGRESS_H

#include "convert/pending_files.h"

#include <cstdint>

namespace wks::convert {

class Progress {
public:
    // total: the source's size in bytes (0 when unknown); result: the
    // conversion's new file, if it has one while it reports.
    explicit Progress(int64_t total, const PendingResult *result = nullptr) : total_(total), result_(result) {}
    // Reports done now: true when the handler asks to stop.
    bool report(int64_t done);
    // Reports done when it has moved on far enough since the last report.
    bool check(int64_t done) { return done >= next_ && report(done); }

private:
    int64_t total_;
    const PendingResult *result_;
    int64_t next_ = 0;
};

// A converter's first step: true when it was called from inside the
// handler, which it refuses; the conversion under way then stops.
bool called_from_handler();

// No handler: the state at load (the reset seam).
void reset_progress_handler();

}  // namespace wks::convert

#endif
