/*
 * Owns the decoder's output state (cursor, budget, open flag) and the
 * exported output helpers dc, ds, di and dx.  Invariant: while the output is
 * open, cursor + budget never points past the end of the caller's buffer as
 * the caller sized it; nothing is written when the budget is 0 or less.
 */
#define WKS_FORMULA_INTERNALS
#include "formula/decode_output.h"

#include "formula/number_text.h"
#include "wks.h"
#include "wks/bytes.h"

#include <cstdio>

namespace wks::formula {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kFormattedMax = 32;  // one formatted 16-bit integer, with room to spare

struct Output {
    char *cursor = nullptr;
    int32_t budget = 0;
    bool open = false;
};
Output g_out;

void put_formatted(const char *format, int value) {
    char text[kFormattedMax];
    if (std::snprintf(text, sizeof text, format, value) < 0) return;
    put_text(text);
}

}  // namespace

void open_output(char *out, int32_t size) {
    g_out.cursor = out;
    g_out.budget = out ? size : 0;
    g_out.open = true;
}

void close_output() { g_out = Output{}; }

bool output_is_open() { return g_out.open; }

void put_char(char c) {
    if (g_out.budget <= 0) decode_fail(WKS_E_DECODE_SPACE);
    *g_out.cursor++ = c;
    --g_out.budget;
}

void put_text(const char *text) {
    while (*text) put_char(*text++);
}

// Every row number of a decoded reference comes through here: no
// formatted-output call.
void put_int(int value) {
    char text[kNumberTextSize];
    print_integer(value, text);
    put_text(text);
}

void put_real(double value) {
    char text[kNumberTextSize];
    print_real(value, text);
    put_text(text);
}

}  // namespace wks::formula

using namespace wks::formula;

extern "C" {

void dc(char c) {
    if (output_is_open()) put_char(c);
}

void ds(const char *text) {
    if (output_is_open() && text) put_text(text);
}

int16_t di(const char *format, const unsigned char *p) {
    if (!p) return 0;
    int16_t value = wks::get_i16(p);
    if (output_is_open()) put_formatted(format ? format : "%d", value);
    return value;
}

void dx(unsigned char byte) {
    if (!output_is_open()) return;
    put_char(kHexDigits[byte >> 4]);
    put_char(kHexDigits[byte & 0x0F]);
}

}
