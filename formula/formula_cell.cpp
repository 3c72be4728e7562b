/*
 * Formula cell records: wksform compiles formula text and lays the code out
 * as an ORX formula record (type 16) in a worksheet handle's record buffer,
 * ready for wkswrec.  The value field is always 0.0: the library computes
 * no formula values.
 *
 * Invariants: the record buffer is written only after a successful compile,
 * and the 11 leading bytes of the ORX cell layout are never touched.  The
 * scratch buffer lives only for the call.
 */
#include "formula/error_codes.h"
#include "names/names.h"
#include "platform/platform.h"
#include "wks.h"
#include "wks/bytes.h"
#include "wks/stream.h"

#include <cstring>

namespace {

constexpr int32_t kScratchSize = 2048;  // length word + up to 2046 code bytes
constexpr unsigned char kBlankFormat = ' ';
constexpr unsigned char kBlankStored = 255;

// Body offsets of the formula cell after the ORX cell prefix.
constexpr int kFormatOffset = wks::kOrxCellPrefix;       // 11
constexpr int kColumnOffset = wks::kOrxCellColumn;       // 12
constexpr int kRowOffset = kColumnOffset + 2;            // 14
constexpr int kValueOffset = kRowOffset + 2;             // 16
constexpr int kCodeOffset = kValueOffset + 8;            // 24: length word, then code
constexpr int kLengthWordSize = 2;

static_assert(kCodeOffset + kScratchSize <= WKS_BODY_SIZE, "the longest code fits the record buffer");

}  // namespace

extern "C" int16_t wksform(WKS *h, char format, int16_t col, int16_t row, const char *text) {
    if (!h) return wkserr(WKS_E_CODE_SPACE);  // no record buffer to build in
    auto *scratch = static_cast<unsigned char *>(plat::alloc(kScratchSize));
    if (!scratch) return wkserr(wks::formula::kNoScratchBuffer);
    std::memset(scratch, 0, kScratchSize);

    int16_t code = wksfe(wks::names::file_number_of(h), col, row, text, scratch, kScratchSize);
    if (code != 0) {
        plat::release(scratch);
        wks::set_error(h, code);
        return wkserr(code);
    }

    uint16_t length = wks::get_u16(scratch);
    unsigned char *body = h->rec.body;
    auto f = static_cast<unsigned char>(format);
    body[kFormatOffset] = f == kBlankFormat ? kBlankStored : f;
    wks::put_u16(body + kColumnOffset, static_cast<uint16_t>(col));
    wks::put_u16(body + kRowOffset, static_cast<uint16_t>(row));
    wks::put_f64(body + kValueOffset, 0.0);
    std::memcpy(body + kCodeOffset, scratch, static_cast<std::size_t>(length) + kLengthWordSize);
    wks::set_rec(h, WKS_FORMULA, static_cast<uint16_t>(kCodeOffset + kLengthWordSize + length));
    plat::release(scratch);
    return 0;
}
