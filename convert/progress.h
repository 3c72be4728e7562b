/*
 * The converters' progress reports (wks_set_progress_handler): the host's
 * handler, called with how far the source has been read and its size, and
 * whose nonzero answer stops the conversion.  One Progress per conversion;
 * between reports a check is one compare.
 */
#ifndef WKS_CONVERT_PROGRESS_H
#define WKS_CONVERT_PROGRESS_H

#include <cstdint>

namespace wks::convert {

class Progress {
public:
    // total: the source's size in bytes (0 when unknown).
    explicit Progress(int64_t total) : total_(total) {}
    // Reports done now: true when the handler asks to stop.
    bool report(int64_t done);
    // Reports done when it has moved on far enough since the last report.
    bool check(int64_t done) { return done >= next_ && report(done); }

private:
    int64_t total_;
    int64_t next_ = 0;
};

// No handler: the state at load (the reset seam).
void reset_progress_handler();

}  // namespace wks::convert

#endif
