/* The library's heap: every allocation goes through here so that tests can
 * make it fail and count what is still held.  Invariant: g_live is the
 * number of blocks alloc returned that release has not taken back. */
#include "platform/fault.h"
#include "platform/platform.h"

#include <cstdlib>

namespace wks::plat {

namespace {
long g_live = 0;
}

void *alloc(std::size_t size) {
    if (fault_hit(Op::Alloc)) return nullptr;
    void *p = std::malloc(size ? size : 1);
    if (p) ++g_live;
    return p;
}

void release(void *p) {
    if (!p) return;
    --g_live;
    std::free(p);
}

long live_allocations() { return g_live; }

}  // namespace wks::plat
