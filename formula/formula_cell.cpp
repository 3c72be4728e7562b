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
#include "names/names.h"
#include "platform/platform.h"
#include "wks.h"
#include "wks/bytes.h"
#include "wks/stream.h"

#include <cstring>

namespace wks {
namespace {

constexpr unsigned char kBlankFormat = ' ';
constexpr unsigned char kBlankStored = 255;

}  // namespace
}  // namespace wks

using namespace wks;

extern "C" int16_t wksform(WKS *h, char format, int16_t col, int16_t row, const char *text) {
    if (!h) return wkserr(WKS_E_CODE_SPACE);  // no record buffer to build in
    auto *scratch = static_cast<unsigned char *>(plat::alloc(kFormulaCodeBuffer));
    if (!scratch) return wkserr(WKS_E_NO_FORMULA_MEMORY);
    std::memset(scratch, 0, kFormulaCodeBuffer);

    int16_t code = wksfe(names::file_number_of(h), col, row, text, scratch, kFormulaCodeBuffer);
    if (code != 0) {
        plat::release(scratch);
        set_error(h, code);
        return wkserr(code);
    }

    uint16_t length = get_u16(scratch);
    unsigned char *body = h->rec.body;
    auto f = static_cast<unsigned char>(format);
    body[kOrxFormat] = f == kBlankFormat ? kBlankStored : f;
    put_u16(body + kOrxColumn, static_cast<uint16_t>(col));
    put_u16(body + kOrxRow, static_cast<uint16_t>(row));
    put_f64(body + kOrxValue, 0.0);
    std::memcpy(body + kOrxCodeLength, scratch, static_cast<std::size_t>(length) + kCodeLengthSize);
    set_rec(h, WKS_FORMULA, static_cast<uint16_t>(kOrxCode + length));
    plat::release(scratch);
    return 0;
}
