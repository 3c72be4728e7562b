/*
 * Exact constants in decoded formula text.  Numeric constants appear in the
 * text in the order of their items in the code, since both keep operands
 * left to right: the k-th number printed is the k-th real or integer item.
 * A number in the text starts with a digit that follows no part of a name
 * or address; string constants are skipped.  Each number is checked against
 * what the decoder prints for its item before anything is replaced.
 */
#include "tools/formula_text.h"

#include "tools/text.h"
#include "wks.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tool {
namespace {

// Items of the formula code that carry operand bytes.
constexpr unsigned char kRealItem = 0;     // 8-byte double
constexpr unsigned char kCellItem = 1;     // two reference words
constexpr unsigned char kRangeItem = 2;    // four reference words
constexpr unsigned char kEndItem = 3;
constexpr unsigned char kIntegerItem = 5;  // 16-bit integer
constexpr unsigned char kStringItem = 6;   // bytes up to a NUL
// Functions of a variable argument count carry one count byte:
// @CHOOSE, @SUM, @AVG, @COUNT, @MIN, @MAX, @VAR, @STD.
constexpr unsigned char kCountedFunctions[] = {48, 80, 81, 82, 83, 84, 87, 88};
constexpr int kLengthWord = 2;

struct Constant {
    bool real;
    double value;
};

int operand_bytes(unsigned char item, const unsigned char *p, const unsigned char *end) {
    switch (item) {
    case kRealItem: return 8;
    case kCellItem: return 4;
    case kRangeItem: return 8;
    case kIntegerItem: return 2;
    case kStringItem: {
        const void *nul = std::memchr(p, 0, static_cast<std::size_t>(end - p));
        return nul ? static_cast<int>(static_cast<const unsigned char *>(nul) - p) + 1 : -1;
    }
    default: break;
    }
    for (unsigned char f : kCountedFunctions)
        if (item == f) return 1;
    return 0;
}

// The numeric constants of the code in order; false for code that does not
// walk cleanly to its end item.
bool constants_of(const unsigned char *code, int available, std::vector<Constant> &out) {
    if (available < kLengthWord) return false;
    const int length = code[0] | code[1] << 8;
    if (length > available - kLengthWord) return false;
    const unsigned char *p = code + kLengthWord, *end = p + length;
    while (p < end) {
        const unsigned char item = *p++;
        if (item == kEndItem) return true;
        const int operand = operand_bytes(item, p, end);
        if (operand < 0 || end - p < operand) return false;
        if (item == kRealItem) out.push_back({true, wksid(p)});
        if (item == kIntegerItem) out.push_back({false, static_cast<double>(static_cast<int16_t>(p[0] | p[1] << 8))});
        p += operand;
    }
    return false;
}

// Characters of names and addresses: a digit after one of them is no number.
bool continues_name(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || (c != '\0' && std::strchr("$%';?[\\]_`{|}~@", c));
}

std::size_t number_end(const std::string &t, std::size_t i) {
    auto digits = [&](std::size_t k) {
        while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) ++k;
        return k;
    };
    i = digits(i);
    if (i < t.size() && t[i] == '.') i = digits(i + 1);
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t k = i + 1;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
        if (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) i = digits(k);
    }
    return i;
}

// What the decoder prints for a constant.
std::string decoded_form(const Constant &c) {
    char buf[64];
    if (c.real)
        std::snprintf(buf, sizeof buf, "%g", c.value);
    else
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(c.value));
    return buf;
}

}  // namespace

std::string exact_formula_text(const unsigned char *code, int available, const std::string &decoded) {
    std::vector<Constant> constants;
    if (!constants_of(code, available, constants)) return decoded;
    std::string out;
    std::size_t next = 0, i = 0;
    while (i < decoded.size()) {
        const char c = decoded[i];
        if (c == '"') {  // a string constant, its quotes doubled
            std::size_t k = i + 1;
            while (k < decoded.size() && !(decoded[k] == '"' && (k + 1 >= decoded.size() || decoded[k + 1] != '"')))
                k += decoded[k] == '"' ? 2 : 1;
            out.append(decoded, i, k + 1 - i);
            i = k + 1;
            continue;
        }
        const bool starts_number = std::isdigit(static_cast<unsigned char>(c)) && (i == 0 || !continues_name(decoded[i - 1]));
        if (!starts_number) {
            const std::size_t k = i;
            while (i < decoded.size() && continues_name(decoded[i]) && decoded[i] != '"') ++i;
            if (i == k) ++i;
            out.append(decoded, k, i - k);
            continue;
        }
        if (next == constants.size()) return decoded;
        const Constant &constant = constants[next++];
        const std::size_t end = number_end(decoded, i);
        const bool negative = std::signbit(constant.value);
        std::string shown = decoded.substr(i, end - i);
        if (negative) {
            if (out.empty() || out.back() != '-') return decoded;
            shown = "-" + shown;
        }
        if (shown != decoded_form(constant)) return decoded;
        if (constant.real) {
            if (negative) out.pop_back();
            out += number_text(constant.value);
        } else {
            out.append(decoded, i, end - i);
        }
        i = end;
    }
    return next == constants.size() ? out : decoded;
}

bool has_nonfinite_constant(const unsigned char *code, int available) {
    std::vector<Constant> constants;
    if (!constants_of(code, available, constants)) return false;
    for (const Constant &c : constants)
        if (!std::isfinite(c.value)) return true;
    return false;
}

}  // namespace tool
