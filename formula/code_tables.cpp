/* Lookups into the constant function table. */
#include "formula/code_tables.h"

#include <cstring>

namespace wks::formula {

const Function *find_function(const char *name) {
    int lo = 0, hi = kFunctionCount - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = std::strcmp(name, kFunctionsByName[mid].name);
        if (c == 0) return &kFunctionsByName[mid];
        if (c < 0) hi = mid - 1;
        else lo = mid + 1;
    }
    return nullptr;
}

}  // namespace wks::formula
