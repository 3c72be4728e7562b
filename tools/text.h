/*
 * Text forms the wks tool prints values in: shortest round-trip numbers,
 * JSON strings, CSV fields and lines, hexadecimal byte strings.
 */
#ifndef WKS_TOOL_TEXT_H
#define WKS_TOOL_TEXT_H

#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// The shortest "%g" form that reads back as the same double; "nan", "inf", "-inf".
std::string number_text(double v);
// A JSON string literal; bytes above 127 are taken as Latin-1 characters.
std::string json_string(const std::string &s);
// A CSV field, quoted when it holds a comma, quote, CR or LF or starts/ends with a space.
std::string csv_field(const std::string &s);
// Reads one CSV record (RFC 4180 quoting, CRLF or LF); false at the end of
// the input.  A quote left open at the end sets *unterminated.
bool read_csv_record(std::FILE *in, std::vector<std::string> &fields, bool *unterminated);
// Lower-case hex of bytes, and back (whitespace between digits ignored);
// parse_hex fails on an odd number of digits or a character that is no digit.
std::string hex(const unsigned char *p, std::size_t n);
bool parse_hex(const std::string &text, std::vector<unsigned char> &out);

}  // namespace tool

#endif
