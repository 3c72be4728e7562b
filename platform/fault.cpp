/* Failure-injection counters; see fault.h. */
#include "platform/fault.h"

namespace wks::plat {

int g_fault_countdown[static_cast<int>(Op::Count)];
bool g_refuse_unnamed = false;

void fail_nth(Op op, int n) { g_fault_countdown[static_cast<int>(op)] = n > 0 ? n : 0; }

void refuse_unnamed_files(bool refuse) { g_refuse_unnamed = refuse; }

void clear_faults() {
    for (int &n : g_fault_countdown) n = 0;
}

}  // namespace wks::plat
