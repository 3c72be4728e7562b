/*
 * The error table and the two functions that turn a code into text and show
 * it.  Codes 1..40 have texts; every other code, 0 included, reads as
 * "invalid error value".  The table never changes.
 */
#include "wks.h"

namespace {

constexpr const char *kErrorText[WKS_E_LAST_TEXT + 1] = {
    "invalid error value",                          // 0
    "Duplicate range name",                         // 1
    "No space for new symbol entry (malloc)",       // 2
    "No space for range name (malloc)",             // 3
    "Bad character in formula",                     // 4
    "Bad column specified in formula",              // 5
    "Bad row specified in formula",                 // 6
    "Invalid range name",                           // 7
    "Internal error 1: range symbol table error",   // 8
    "Internal error 2: range symbol table error",   // 9
    "No room to malloc string",                     // 10
    "String is too long",                           // 11
    "Real is too long, or has invalid format",      // 12
    "Output buffer exhausted",                      // 13
    "Syntax error",                                 // 14
    "Bad function name",                            // 15
    "Out of space in output buffer",                // 16
    "Function has wrong number of arguments",       // 17
    "No room in decode output buffer",              // 18
    "Out of reconstruct string stack space",        // 19
    "Evaluation stack overflow",                    // 20
    "Bad evaluation stack entry",                   // 21
    "Unimplemented operator or function",           // 22
    "Column out of range",                          // 23
    "Row out of range",                             // 24
    "Error closing file",                           // 25
    "Encoded formula too long",                     // 26
    "Read Error",                                   // 27
    "lseek Error",                                  // 28
    "exceeded maximum formula size",                // 29
    "column out of range",                          // 30
    "row out of range",                             // 31
    "Write Error",                                  // 32
    "column out of range",                          // 33
    "width out of range",                           // 34
    "lseek Error",                                  // 35
    "File Unsorted",                                // 36
    "Both file names are empty",                    // 37
    "Error opening file",                           // 38
    "Not ORX file",                                 // 39
    "Error closing file",                           // 40
};

// Codes the user is not shown: 28, and the opening and ordering codes 35..40
// whose callers learn of them from the result.
bool is_silent(int16_t code) {
    return code == WKS_E_LSEEK || (code >= WKS_E_LSEEK_2 && code <= WKS_E_CLOSE_INPUT);
}

}  // namespace

extern "C" {

const char *wkser(int16_t code) {
    if (code < 1 || code > WKS_E_LAST_TEXT) return kErrorText[0];
    return kErrorText[code];
}

int16_t wkserr(int16_t code) {
    if (!is_silent(code)) wkswin_printf("\n*** ORX error %d - %s\n", static_cast<int>(code), wkser(code));
    return code;
}

}
