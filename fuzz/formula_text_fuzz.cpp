/*
 * Formula text -> wksfe, for any cell and any output size, with a round-trip
 * oracle.
 *
 * Input: column (2 bytes), row (2), output size (2, taken modulo 4100),
 * flags (1: bit 0 defines range names first, bit 1 keeps column and row as
 * they are instead of bringing them onto the sheet), then the text.
 *
 * Whatever the text, wksfe must not touch more than `size` bytes of its
 * output, and leaves length word 0 after a failure.  Where it compiles for a
 * cell on the sheet (a relative word cannot reach the sheet from elsewhere):
 *   1. wksfr decodes the code (it may refuse code nested more than 64
 *      levels deep around one operand, error 19: the decoder's fixed stack);
 *   2. the decoded text compiles again, and decodes to the same text (the
 *      normal form is a fixed point);
 *   3. the recompiled bytes equal the original code, except where the normal
 *      form is lossy by design: a real constant is printed with 6 significant
 *      digits (and a whole-number real up to 32767 comes back as an integer;
 *      a number too large for a double is stored as infinity, which prints
 *      as "inf" and so is left out from step 1 on),
 *      and a reference with a range name comes back as that name (so with
 *      names defined, code that holds a reference is left out).
 */
#include "fuzz_support.h"

#include "formula/code_tables.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace wksfuzz;
namespace code = wks::formula;

namespace {

constexpr int32_t kFile = 7;
constexpr uint16_t kSizeModulus = 4100;
constexpr int32_t kLarge = 8192;

struct Code {
    unsigned char bytes[kLarge];
    uint16_t length() const { return wks::get_u16(bytes); }
    std::size_t size() const { return wks::kCodeLengthSize + length(); }  // with the length word
};

// Which kinds of item the code holds.
struct Contents {
    bool real = false;
    bool infinite = false;  // a real too large for a double: prints as "inf"
    bool reference = false;
};

Contents scan(const Code &c) {
    Contents k;
    const unsigned char *p = c.bytes + wks::kCodeLengthSize;
    const unsigned char *end = p + c.length();
    for (code::Item item; p < end && (item = code::read_item(p, end)).size != 0; p += item.size) {
        if (item.op == code::kReal) {
            k.real = true;
            if (!std::isfinite(wks::get_f64(p + 1))) k.infinite = true;
        }
        if (item.op == code::kCell || item.op == code::kRange) k.reference = true;
    }
    return k;
}

// None of them begins like a cell reference (a one- or two-letter name would
// shadow its column letters, by design), so any text that compiles without
// them compiles with them too.
void define_names() {
    wksir(kFile, "TOTAL", 0, 0, 3, 9);
    wksir(kFile, "ONE", 1, 1, 1, 1);
    wksir(kFile, "X_Y", 2, 4, 2, 4);
    wksir(kFile + 1, "OTHER", 0, 0, 0, 0);
}

// A real number's token goes on over every following digit, point, E, plus
// and minus, and the lexer takes no token of 1024 characters or more: the
// longest run of such characters tells whether a text meets that limit.
constexpr std::size_t kLongestToken = 1024;
std::size_t number_run(const char *text) {
    std::size_t longest = 0, run = 0;
    for (const char *p = text; *p; ++p) {
        run = std::strchr("0123456789.Ee+-", *p) ? run + 1 : 0;
        if (run > longest) longest = run;
    }
    return longest;
}

void check_roundtrip(int16_t col, int16_t row, const std::string &text, const Code &first, bool names) {
    static char decoded[kLarge], again[kLarge];
    static Code second, third;
    const int16_t d = wksfr(kFile, col, row, first.bytes, decoded, kLarge);
    if (d == WKS_E_DECODE_DEPTH) return;  // deeper than the decoder's stack
    const Contents k = scan(first);
    if (k.infinite) return;  // "inf" is no formula text
    if (d != 0) fail("compiled code does not decode", text + " -> error " + std::to_string(d));
    const int16_t c = wksfe(kFile, col, row, decoded, second.bytes, kLarge);
    if (c == 12 && number_run(decoded) >= kLongestToken) return;  // a real reads on over 1023 characters
    if (c != 0) fail("decoded text does not compile", text + " -> " + decoded + " -> error " + std::to_string(c));
    if (wksfr(kFile, col, row, second.bytes, again, kLarge) != 0 || std::strcmp(decoded, again) != 0)
        fail("normal form is no fixed point", std::string(decoded) + " -> " + again);
    if (wksfe(kFile, col, row, again, third.bytes, kLarge) != 0 ||
        std::memcmp(second.bytes, third.bytes, second.size()) != 0)
        fail("normal form compiles differently", decoded);
    if (k.real || (names && k.reference)) return;
    if (first.length() != second.length() || std::memcmp(first.bytes, second.bytes, first.size()) != 0)
        fail("round trip changed the code", text + " -> " + decoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    uint16_t col = in.u16();
    uint16_t row = in.u16();
    const int32_t out_size = in.u16() % kSizeModulus;
    const uint8_t flags = in.u8();
    const bool names = flags & 1;
    const bool on_sheet = !(flags & 2);
    if (on_sheet) {
        col %= code::kColumns;
        row %= code::kRows;
    }
    const std::string text(reinterpret_cast<const char *>(in.rest()), in.left());
    const std::string ctext(text.c_str());  // up to the first NUL
    if (names) define_names();

    // The output exactly as large as announced, so any write past it is seen.
    std::unique_ptr<unsigned char[]> out(new unsigned char[out_size > 0 ? out_size : 1]);
    const int16_t rc = wksfe(kFile, static_cast<int16_t>(col), static_cast<int16_t>(row), ctext.c_str(),
                             out_size > 0 ? out.get() : nullptr, out_size);
    if (rc != 0) {
        if (out_size >= 2 && wks::get_u16(out.get()) != 0) fail("failed compile left a length", ctext);
    } else {
        const int32_t size_with_length = wks::kCodeLengthSize + wks::get_u16(out.get());
        if (size_with_length > out_size || size_with_length == wks::kCodeLengthSize ||
            out[size_with_length - 1] != code::kEnd)
            fail("bad code length", ctext);
        static Code first;
        std::memcpy(first.bytes, out.get(), static_cast<std::size_t>(size_with_length));
        if (on_sheet) check_roundtrip(static_cast<int16_t>(col), static_cast<int16_t>(row), ctext, first, names);
    }
    end_input();
    return 0;
}
