/*
 * Internal side of the formula decoder, for modules that decode on their own
 * account (the formula rewriting) and report the outcome themselves.
 */
#ifndef WKS_FORMULA_DECODER_H
#define WKS_FORMULA_DECODER_H

#include <cstdint>

namespace wks::formula {

// What wksfr does, except that a failure is returned and not shown.
int16_t decode_formula(int32_t file, int16_t col, int16_t row, const unsigned char *code, char *out,
                       int32_t size);

}  // namespace wks::formula

#endif
