/* The library's heap: every allocation goes through here so that tests can
 * make it fail. */
#include "platform/fault.h"
#include "platform/platform.h"

#include <cstdlib>

namespace plat {

void *alloc(std::size_t size) {
    if (fault_hit(Op::Alloc)) return nullptr;
    return std::malloc(size ? size : 1);
}

void release(void *p) { std::free(p); }

}  // namespace plat
