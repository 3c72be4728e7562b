/*
 * The error codes the formula compiler can return, named once.  Their texts
 * live in the error table of the message layer; the compiler itself shows
 * nothing.
 */
#ifndef WKS_FORMULA_ERROR_CODES_H
#define WKS_FORMULA_ERROR_CODES_H

#include <cstdint>

namespace wks::formula {

enum CompileError : int16_t {
    kBadCharacter = 4,          // a byte no token may begin with
    kBadColumn = 5,             // no column where a reference must start
    kBadRow = 6,                // no row 1..8192 after a column
    kNoRoomForString = 10,      // the copy of a string could not be allocated
    kStringTooLong = 11,        // a string's text reached kTokenTextSize characters
    kBadReal = 12,              // a number's text too long, or a lone "."
    kSyntaxError = 14,          // a token that cannot continue the formula
    kBadFunctionName = 15,      // an @-name the function table does not hold
    kOutOfSpace = 16,           // the output buffer is full
    kWrongArgumentCount = 17,   // a call whose argument count does not fit
    kNoScratchBuffer = 42,      // wksform could not allocate its buffer (no text)
};

}  // namespace wks::formula

#endif
