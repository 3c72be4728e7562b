/*
 * Formula text rewriting from ORX to WK1 spelling: in every complete "<<"
 * ">>" pair, wherever it stands (inside string constants too), the file
 * name becomes its upper-cased base name with ".WK1".  Everything else,
 * the "@@(" wrappers of the other direction included, is copied.
 */
#include "convert/rewrite_text.h"

#include <cstring>

namespace wks::convert {

int32_t rewrite_orx_to_wk1(const char *text, char *out, std::size_t size) {
    TextCursor c{text, text, out, out, out + size, false};
    while (*c.src) {
        if (c.src[0] != '<' || c.src[1] != '<') {
            c.put(*c.src++);
            continue;
        }
        const char *path = c.src + 2;
        const char *gt = std::strchr(path, '>');
        if (gt && gt[1] == '>') {
            c.put("<<");
            put_base_name(c, std::string_view(path, static_cast<std::size_t>(gt - path)));
            c.put(".WK1");
            c.src = gt;  // the ">>" is copied like the rest
        } else {
            c.copy(2);  // not a pair: the "<<" stays, the scan goes on after it
        }
    }
    c.put('\0');
    return c.overflow ? -1 : static_cast<int32_t>(c.dst - out - 1);
}

}  // namespace wks::convert
