/* The converters' progress handler (progress.h), and wks_set_progress_handler. */
#include "convert/progress.h"

#include "wks.h"

namespace wks::convert {
namespace {

constexpr int64_t kStep = 1 << 16;  // source bytes between two reports

wks_progress_handler g_handler = nullptr;
void *g_context = nullptr;
bool g_reporting = false;      // the handler is running
bool g_called_inside = false;  // and called a converter meanwhile

}  // namespace

bool Progress::report(int64_t done) {
    if (total_ > 0 && done > total_) done = total_;
    next_ = done + kStep;
    if (!g_handler) return false;
    g_reporting = true;
    const bool asked = g_handler(g_context, done, total_) != 0;
    g_reporting = false;
    const bool reached_in = g_called_inside || (result_ && !result_->pending());
    g_called_inside = false;
    return asked || reached_in;
}

bool called_from_handler() {
    if (g_reporting) g_called_inside = true;
    return g_reporting;
}

void reset_progress_handler() {
    g_handler = nullptr;
    g_context = nullptr;
    g_reporting = g_called_inside = false;
}

}  // namespace wks::convert

using namespace wks::convert;

extern "C" {

wks_progress_handler wks_set_progress_handler(wks_progress_handler handler, void *context) {
    const wks_progress_handler previous = g_handler;
    g_handler = handler;
    g_context = handler ? context : nullptr;
    return previous;
}

}
