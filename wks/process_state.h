/*
 * The reset seam: one call that puts every piece of the library's
 * process-wide state back to its value at load and gives back every buffer
 * it holds: the header mode and both header blocks, the range-name table
 * (prefix filters and current file number included), the missing-file list
 * and Open_for_atat, the lexer and decoder state, the rewriting's text-cut
 * flag, pending files, read-ahead buffers and the progress handler.  The
 * message handler is left alone: the test suites capture messages through
 * it.
 *
 * For the unit tests and the fuzz targets, which link the static archive;
 * hosts, which have no such call, empty what they want with wks_cleanup,
 * wkscs and cleanup_file_list.
 */
#ifndef WKS_PROCESS_STATE_H
#define WKS_PROCESS_STATE_H

namespace wks {

void reset_process_state();

}  // namespace wks

#endif
