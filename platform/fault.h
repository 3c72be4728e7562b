/*
 * Failure injection for tests.  A test arms an operation with fail_nth(op, n)
 * and the n-th call of that operation from then on fails as the real call
 * would (-1, or null from alloc); the counter then disarms itself.  The
 * library never arms anything, so in production every check is one load and
 * one compare against zero.
 */
#ifndef WKS_PLATFORM_FAULT_H
#define WKS_PLATFORM_FAULT_H

namespace wks::plat {

// Flush: a pending file's flush to the disk; Rename: also the link that
// names an unnamed pending file.
enum class Op { Open, Read, Write, Seek, Close, Rename, Remove, Alloc, Flush, Count };

// Makes the n-th call of op, counted from now (1 = the next one), fail.
// n <= 0 disarms op.
void fail_nth(Op op, int n);

// Disarms every operation.
void clear_faults();

// Makes pending files (platform.h) take the named way even where the system
// has unnamed files, so that tests reach both.  Off unless a test sets it.
void refuse_unnamed_files(bool refuse);
extern bool g_refuse_unnamed;

// Called by the platform layer before each operation: true when this call
// must fail.
extern int g_fault_countdown[static_cast<int>(Op::Count)];
inline bool fault_hit(Op op) {
    int &n = g_fault_countdown[static_cast<int>(op)];
    if (n <= 0) return false;
    return --n == 0;
}

}  // namespace wks::plat

#endif
