/*
 * Formula records with arbitrary code -> modify_formula_wk12orx and
 * modify_formula_orx2wk1.
 *
 * Input: flags (1 byte: bit 0 the ORX-to-WK1 direction, bit 1 defines range
 * names for the handle first), format (1), column (2), row (2), then the
 * bytes from body offset 24 on: the formula code with its length word, as
 * found in a file (the length need not agree with the record's).
 *
 * The record is an ORX formula record in a handle's buffer.  The result is
 * 0 or an error code; after an error the record is byte for byte what it
 * was, and after success it holds formula code that decodes at its cell
 * (also not too deeply nested).
 */
#include "fuzz_support.h"

#include "names/names.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <algorithm>
#include <cstring>
#include <string>

using namespace wksfuzz;

namespace {

constexpr std::size_t kCodeOffset = wks::kOrxCodeLength;  // the code's length word
constexpr int32_t kDecodeSize = 4096;

int32_t file_of(const WKS *h) { return wks::names::file_number_of(h); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    const uint8_t flags = in.u8();
    const uint8_t format = in.u8();
    const uint16_t col = in.u16();
    const uint16_t row = in.u16();
    const std::size_t code = std::min<std::size_t>(in.left(), WKS_BODY_SIZE - kCodeOffset);

    static WKS h;
    std::memset(&h, 0, sizeof h);
    h.fd = -1;
    h.mode = 'w';
    wks::put_u16(h.rec.type, WKS_FORMULA);
    wks::put_u16(h.rec.length, static_cast<uint16_t>(kCodeOffset + code));
    h.rec.body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    h.rec.body[wks::kOrxFormat] = format;
    wks::put_u16(h.rec.body + wks::kOrxColumn, col);
    wks::put_u16(h.rec.body + wks::kOrxRow, row);
    std::memcpy(h.rec.body + kCodeOffset, in.rest(), code);
    if (flags & 2) {
        wksir(file_of(&h), "TOTAL", 0, 0, 3, 9);
        wksir(file_of(&h), "ONE", 1, 1, 1, 1);
    }
    static WKS before;
    std::memcpy(&before, &h, sizeof h);

    const int16_t rc = flags & 1 ? modify_formula_orx2wk1(&h) : modify_formula_wk12orx(&h);
    if (rc != 0) {
        if (std::memcmp(&before.rec, &h.rec, sizeof h.rec) != 0) fail("failed rewrite changed the record");
    } else {
        const uint16_t length = wks::get_u16(h.rec.length);
        if (wks::get_u16(h.rec.type) != WKS_FORMULA || length < kCodeOffset + 3 || length > WKS_BODY_SIZE)
            fail("rewrite left no formula record");
        if (wks::kOrxCode + wks::get_u16(h.rec.body + kCodeOffset) > length)
            fail("rewritten code runs past the record");
        static char text[kDecodeSize];
        const int16_t d = wksfr(file_of(&h), wks::get_i16(h.rec.body + wks::kOrxColumn),
                                wks::get_i16(h.rec.body + wks::kOrxRow), h.rec.body + kCodeOffset, text, kDecodeSize);
        if (d != 0) fail("rewritten code does not decode", std::to_string(d));
    }
    end_input();
    return 0;
}
