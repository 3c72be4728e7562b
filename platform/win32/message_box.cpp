/*
 * The message layer's Windows side: text formatted by wvsprintfA's rules and
 * shown in the modal warning box, owned by the window that has the keyboard
 * focus (none when no window has it), with a single OK button.
 *
 * wvsprintfA takes no buffer size; it writes at most kWvsprintfLimit
 * characters and the NUL.  It therefore formats into a buffer of that size,
 * and only the copy into the caller's buffer is cut, so a long message can
 * never run past the caller's buffer.
 */
#include "platform/platform.h"

#include <windows.h>

#include <cstring>

namespace wks::plat {

namespace {

constexpr std::size_t kWvsprintfLimit = 1024;
constexpr UINT kWarningOk = MB_OK | MB_ICONEXCLAMATION;  // 0x30
static_assert(kWarningOk == 0x30, "OK button with the exclamation-mark icon");

}  // namespace

void format_message(char *out, std::size_t size, const char *format, std::va_list args) {
    if (size == 0) return;
    char full[kWvsprintfLimit + 1];
    full[0] = '\0';
    ::wvsprintfA(full, format, args);
    full[kWvsprintfLimit] = '\0';
    std::size_t n = std::strlen(full);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, full, n);
    out[n] = '\0';
}

int32_t message_box(const char *caption, const char *text) {
    return ::MessageBoxA(::GetFocus(), text, caption, kWarningOk);
}

}  // namespace wks::plat
