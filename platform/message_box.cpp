/*
 * The default presentation of a message.  There is no message box on this
 * system, so the text goes to standard error, exactly as formatted and
 * nothing else, and the call answers as if OK had been pressed.
 */
#include "platform/platform.h"

#include <cstdio>

namespace plat {

int32_t message_box(const char * /*caption*/, const char *text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
    return 1;
}

}  // namespace plat
