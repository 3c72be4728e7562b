// reset_library_state for the suites linked with the static archive: the
// library's own reset seam.
#include "support/test_support.h"
#include "wks/process_state.h"

namespace wkstest {

void reset_library_state() { wks::reset_process_state(); }

}  // namespace wkstest
