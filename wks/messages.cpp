/*
 * The message layer: every message of the library is formatted here (by the
 * platform's rules: printf, or wvsprintfA on Windows), cut to 255
 * characters, and handed to the host's handler if it installed one, else
 * to the platform's default presentation.  The caption is always "Message".
 */
#include "platform/platform.h"
#include "wks.h"

#include <cerrno>
#include <cstdarg>

namespace plat = wks::plat;

namespace {

constexpr int kMessageBufferSize = 256;  // at most 255 characters are shown
constexpr const char *kCaption = "Message";

wks_message_handler g_handler = nullptr;

}  // namespace

extern "C" {

wks_message_handler wks_set_message_handler(wks_message_handler handler) {
    wks_message_handler previous = g_handler;
    g_handler = handler;
    return previous;
}

int32_t wkswin_printf(const char *format, ...) {
    const int reason = errno;  // what made the caller show the message stays for it to read
    char text[kMessageBufferSize];
    text[0] = '\0';
    if (format) {
        va_list ap;
        va_start(ap, format);
        plat::format_message(text, sizeof text, format, ap);
        va_end(ap);
    }
    const int32_t answer = g_handler ? g_handler(kCaption, text) : plat::message_box(kCaption, text);
    errno = reason;
    return answer;
}

}
