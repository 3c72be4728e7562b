/* The reset seam (process_state.h): each module's own reset, in one call. */
#include "wks/process_state.h"

#include "convert/formula_rewrite.h"
#include "convert/pending_files.h"
#include "convert/progress.h"
#include "formula/decode_output.h"
#include "formula/lexer.h"
#include "names/names.h"
#include "wks.h"
#include "wks/header.h"
#include "wks/read_ahead.h"

namespace wks {

void reset_process_state() {
    header::reset();
    names::reset();
    cleanup_file_list();
    Open_for_atat = 0;
    formula::reset_lexer();
    formula::close_output();
    convert::reset_rewrite_state();
    convert::discard_pending_creates();
    convert::reset_progress_handler();
    reset_read_ahead();
}

}  // namespace wks
