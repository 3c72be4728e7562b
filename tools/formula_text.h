/*
 * Formula text with exact constants.  The library's decoder prints a real
 * constant with six significant digits ("3.14159"); text meant to be read
 * back must carry every digit.  This walks the formula code for its numeric
 * constants and puts each real's shortest exact form in the decoded text.
 */
#ifndef WKS_TOOL_FORMULA_TEXT_H
#define WKS_TOOL_FORMULA_TEXT_H

#include <string>

namespace tool {

// code: the formula code from its length word on, at least `available`
// bytes readable; decoded: what wksfr made of it.  Returns the decoded text
// with its real constants exact; the decoded text itself when the code or
// the text does not have the shape expected (nothing is ever guessed).
std::string exact_formula_text(const unsigned char *code, int available, const std::string &decoded);

// True when the formula code holds a real constant that is no finite
// number (text such as 1e400 compiles to one), which no formula text can
// give back.  Code that does not walk cleanly counts as holding none.
bool has_nonfinite_constant(const unsigned char *code, int available);

}  // namespace tool

#endif
