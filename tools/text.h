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

// The shortest digits that read back as the same double, laid out as "%.15g"
// would lay them out (so 1e+20, 0.0001, 1e-05, 12000000); "nan", "inf", "-inf".
std::string number_text(double v);
// A decimal number as 'wks import' takes one from a CSV field:
// -?digits[.digits][e[+-]digits], at least one digit before the exponent;
// whole when it has neither a point nor an exponent.
bool is_decimal_number(const std::string &s, bool &whole);
// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters escaped, everything else as it is.
std::string json_string(const std::string &s);
// A CSV field, quoted when it holds a comma, quote, CR or LF or starts/ends with a space.
std::string csv_field(const std::string &s);
// Text read byte by byte from a stream through a block of its own, a UTF-8
// byte-order mark at its start skipped.
class TextInput {
public:
    explicit TextInput(std::FILE *in);
    int get() { return at_ < end_ ? block_[at_++] : refill(); }
    // Puts back the byte get() gave last (nothing for EOF).
    void unget(int c) {
        if (c != EOF) --at_;
    }
    // The text up to the first LF (or at most `most` bytes of it), which
    // get() then still gives.
    std::string peek_line(std::size_t most);
    bool failed() const { return std::ferror(in_) != 0; }

private:
    int refill();
    // Reads more into the block after what it holds; false at the end.
    bool read_more();

    std::FILE *in_;
    std::vector<unsigned char> block_;
    std::size_t at_ = 0, end_ = 0;
};

// Reads one CSV record (RFC 4180 quoting, CRLF or LF); false at the end of
// the input.  A quote left open at the end sets *unterminated.  A NUL byte
// is kept in its field, for the caller to refuse.
bool read_csv_record(TextInput &in, std::vector<std::string> &fields, bool *unterminated);
// Reads one line without its LF (or CRLF); false at the end of the input.
bool read_line(TextInput &in, std::string &line);
// "1,234,567".
std::string thousands(unsigned long n);
// Lower-case hex of bytes, and back (whitespace between digits ignored);
// parse_hex fails on an odd number of digits or a character that is no digit.
std::string hex(const unsigned char *p, std::size_t n);
bool parse_hex(const std::string &text, std::vector<unsigned char> &out);

}  // namespace tool

#endif
