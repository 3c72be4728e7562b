/*
 * The message layer's POSIX side.  Text is formatted by the C library's
 * printf rules and cut to the caller's buffer.  There is no message box on
 * this system, so a message goes to standard error, exactly as formatted and
 * nothing else, and the call answers as if OK had been pressed.
 */
#include "platform/platform.h"

#include <cstdio>

namespace wks::plat {

void format_message(char *out, std::size_t size, const char *format, std::va_list args) {
    if (size == 0) return;
    out[0] = '\0';
    std::vsnprintf(out, size, format, args);
}

int32_t message_box(const char * /*caption*/, const char *text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
    return 1;
}

}  // namespace wks::plat
