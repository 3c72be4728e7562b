// reset_library_state for the suites that load the shared library as a host
// does, with nothing but the public calls.  wkscs leaves the prefix filters
// alone when the table is already empty; a host has no other call that
// clears them than wkscs on a table holding a name, so one throwaway name is
// inserted first.  wksir and wkscs also put the current file number back to
// 0.  The text-cut flag has no public reset either: the tests that raise it
// on purpose take it back with the next wk1_to_orx, and those that may raise
// it by chance accept the -4 it makes.
#include "support/test_support.h"

namespace wkstest {

void reset_library_state() {
    wks_discard_all();
    wks_set_progress_handler(nullptr, nullptr);
    wks_cleanup();
    cleanup_file_list();
    set_open_for_load(1);
    Open_for_atat = 0;
    if (!wkslr(0, "~")) wksir(0, "~", 0, 0, 0, 0);
    wkscs();
}

}  // namespace wkstest
