/*
 * Failure-point sweeps: run an operation once for each n with the n-th call
 * of one platform operation failing, n = 1, 2, ..., until an attempt never
 * reaches an n-th call.  An attempt calls arm() right before the operation
 * under test (after its own setup, which may allocate) and disarm() right
 * after, so that only the operation itself is counted.
 */
#ifndef WKS_TEST_FAULT_SWEEP_H
#define WKS_TEST_FAULT_SWEEP_H

#include "platform/fault.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace wkstest::sweep {

namespace plat = wks::plat;

inline const plat::Op kOps[] = {plat::Op::Open,   plat::Op::Read,   plat::Op::Write, plat::Op::Seek, plat::Op::Close,
                                plat::Op::Rename, plat::Op::Remove, plat::Op::Alloc, plat::Op::Flush};

inline const char *op_name(plat::Op op) {
    static const char *const names[] = {"open", "read", "write", "seek", "close", "rename", "remove", "alloc", "flush"};
    return names[static_cast<int>(op)];
}

// The failure point of the running attempt.
inline plat::Op g_armed_op = plat::Op::Open;
inline int g_armed_n = 0;
inline bool g_reached = false;

inline void arm() {
    g_reached = false;
    plat::fail_nth(g_armed_op, g_armed_n);
}

inline void disarm() {
    g_reached = plat::g_fault_countdown[static_cast<int>(g_armed_op)] == 0;
    plat::clear_faults();
}

// Runs attempt(n) with the n-th call of op failing, for n = 1 up to
// max_points; returns the number of failure points the operation has.
inline int run(plat::Op op, int max_points, const std::function<void(int)> &attempt) {
    for (int n = 1; n <= max_points; ++n) {
        plat::clear_faults();
        g_armed_op = op;
        g_armed_n = n;
        attempt(n);
        const bool reached = g_reached;
        plat::clear_faults();
        if (!reached) return n - 1;
    }
    ADD_FAILURE() << op_name(op) << ": still failing after " << max_points << " points";
    return max_points;
}

}  // namespace wkstest::sweep

#endif
