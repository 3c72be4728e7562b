/*
 * Text forms for the wks tool's output and the CSV reader.  Numbers are
 * printed in the C locale the tool runs in (it never calls setlocale).
 */
#include "tools/text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tool {

std::string number_text(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    // The shortest digits that read back exactly, as d.ddde+XX.
    char sci[40];
    const char *const end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
    const char *const begin = sci;
    const char *const e = std::find(begin, end, 'e');
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    const bool negative = *begin == '-';
    char digits[24];
    int n = 0;
    for (const char *p = begin + negative; p < e; ++p)
        if (*p != '.') digits[n++] = *p;
    // Laid out as "%.Ng" lays them out, N the larger of 15 and their count:
    // then the whole part has at most 17 digits.
    if (exponent < -4 || exponent >= std::max(15, n)) return std::string(begin, end);
    char out[48];
    char *o = out;
    if (negative) *o++ = '-';
    if (exponent < 0) {
        *o++ = '0', *o++ = '.';
        o = std::fill_n(o, -exponent - 1, '0');
        o = std::copy(digits, digits + n, o);
    } else {
        const int whole = exponent + 1;
        for (int i = 0; i < std::max(n, whole); ++i) {
            if (i == whole) *o++ = '.';
            *o++ = i < n ? digits[i] : '0';
        }
    }
    return std::string(out, o);
}

bool is_decimal_number(const std::string &s, bool &whole) {
    std::size_t i = !s.empty() && s[0] == '-' ? 1 : 0, digits = 0;
    whole = true;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        whole = false;
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        whole = false;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

std::string json_string(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string csv_field(const std::string &s) {
    const bool quote = s.find_first_of(",\"\r\n") != std::string::npos ||
                       (!s.empty() && (s.front() == ' ' || s.back() == ' '));
    if (!quote) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

namespace {
constexpr std::size_t kInputBlock = 128 * 1024;
}  // namespace

TextInput::TextInput(std::FILE *in) : in_(in), block_(kInputBlock) {
    static const unsigned char kMark[] = {0xEF, 0xBB, 0xBF};
    while (end_ < sizeof kMark && read_more()) {
    }
    if (end_ >= sizeof kMark && std::memcmp(block_.data(), kMark, sizeof kMark) == 0) at_ = sizeof kMark;
}

bool TextInput::read_more() {
    if (end_ == block_.size()) {
        if (at_ > 0) {  // what was taken makes room
            std::memmove(block_.data(), block_.data() + at_, end_ - at_);
            end_ -= at_;
            at_ = 0;
        } else {
            block_.resize(block_.size() * 2);
        }
    }
    const std::size_t got = std::fread(block_.data() + end_, 1, block_.size() - end_, in_);
    end_ += got;
    return got > 0;
}

int TextInput::refill() {
    // A unget() after a refill steps back over the byte just given: keep one.
    if (at_ > 0 && at_ == end_) {
        block_[0] = block_[at_ - 1];
        at_ = end_ = 1;
    }
    return read_more() ? block_[at_++] : EOF;
}

std::string TextInput::peek_line(std::size_t most) {
    for (;;) {
        const unsigned char *from = block_.data() + at_;
        const std::size_t held = end_ - at_;
        const void *lf = std::memchr(from, '\n', held);
        if (lf || held >= most || !read_more())
            return std::string(reinterpret_cast<const char *>(block_.data() + at_),
                               lf ? static_cast<const unsigned char *>(lf) - (block_.data() + at_) : std::min(held, most));
    }
}

bool read_csv_record(TextInput &in, std::vector<std::string> &fields, bool *unterminated) {
    fields.clear();
    *unterminated = false;
    int c = in.get();
    if (c == EOF) return false;
    std::string field;
    bool quoted = false;
    for (;; c = in.get()) {
        if (quoted) {
            if (c == EOF) {
                *unterminated = true;
                break;
            }
            if (c == '"') {
                const int d = in.get();
                if (d == '"') {
                    field += '"';
                    continue;
                }
                quoted = false;
                c = d;
            } else {
                field += static_cast<char>(c);
                continue;
            }
        }
        if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\n' || c == EOF) {
            break;
        } else if (c == '\r') {
            const int d = in.get();
            if (d != '\n' && d != EOF) in.unget(d);
            break;
        } else {
            field += static_cast<char>(c);
        }
    }
    fields.push_back(field);
    return true;
}

bool read_line(TextInput &in, std::string &line) {
    line.clear();
    int c = in.get();
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = in.get()) line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::string thousands(unsigned long n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string hex(const unsigned char *p, std::size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += kDigits[p[i] >> 4];
        out += kDigits[p[i] & 15];
    }
    return out;
}

bool parse_hex(const std::string &text, std::vector<unsigned char> &out) {
    out.clear();
    int high = -1;
    for (unsigned char c : text) {
        if (std::isspace(c)) continue;
        if (!std::isxdigit(c)) return false;
        const int v = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | v));
            high = -1;
        }
    }
    return high < 0;
}

}  // namespace tool
