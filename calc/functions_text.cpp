/*
 * String functions.  Positions count from 0; a count or position below 0
 * is ERR.  @MID and @LEFT/@RIGHT past the end give what there is (possibly
 * the empty string); @FIND starting past the end, or not finding, is ERR;
 * @REPLACE starting past the end appends.  Letters and their case are
 * those of the sheet's character set (Options::charset).
 * Results longer than kMaxText are ERR.
 */
#include "calc/functions.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace wks::calc {

namespace {

constexpr int kMaxDecimals = 15;
constexpr int kSignificant = 15;  // digits of a number @STRING shows at most


// A count or position argument: truncated, and -1 when negative.
long position(const Value &v) {
    const double x = std::trunc(v.number);
    if (x < 0) return -1;
    return x > kMaxText * 4.0 ? static_cast<long>(kMaxText) * 4 : static_cast<long>(x);
}

// A part of s: a view into the same text, which outlives the evaluation.
Value piece(const Value &s, long start, long count) {
    if (start > static_cast<long>(s.length)) start = s.length;
    if (count > static_cast<long>(s.length) - start) count = s.length - start;
    return Value::string(count ? s.text + start : "", static_cast<uint32_t>(count));
}

// s with each byte replaced through map.
Value mapped(Evaluator &ev, const Value &s, const unsigned char *map) {
    char *out = ev.room(s.length);
    if (!out) return s.length ? Value::error() : Value::string("", 0);
    for (uint32_t i = 0; i < s.length; ++i) out[i] = static_cast<char>(map[static_cast<unsigned char>(s.text[i])]);
    return Value::string(out, s.length);
}

Value length_(Evaluator &, Value *a, int) { return Value::of(a[0].length); }

// For digits (with a point and an exponent) a double cannot hold: true
// when the number is too small rather than too large.
bool too_small(const char *p, const char *end) {
    long magnitude = 0;  // the first nonzero digit's place: 1 for units, 0 for tenths...
    bool seen = false, point = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') point = true;
        else if (*p != '0') seen = true;
        if (*p == '.') continue;
        if (seen && !point) ++magnitude;
        if (!seen && point) --magnitude;
    }
    long exponent = 0;
    bool negative = false;
    if (p < end) ++p;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    for (; p < end && exponent < 100000; ++p) exponent = exponent * 10 + (*p - '0');
    return magnitude + (negative ? -exponent : exponent) <= 0;
}

// Spaces around it, a sign, digits with one point, an exponent, and a
// trailing % (hundredths); the empty string is 0.  A number too small for
// a double is 0, as such a result is; one too large is ERR.
Value value_(Evaluator &, Value *a, int) {
    const char *p = a[0].text, *end = p + a[0].length;
    while (p < end && *p == ' ') ++p;
    while (end > p && end[-1] == ' ') --end;
    if (p == end) return Value::of(0);
    double scale = 1;
    if (end[-1] == '%') {
        scale = 0.01;
        --end;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || *p == '+' || *p == '-') return Value::error();
    double v = 0;
    const auto [stop, ec] = std::from_chars(p, end, v, std::chars_format::general);
    if (stop != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) return Value::error();
    if (ec == std::errc::result_out_of_range) v = too_small(p, end) ? 0 : HUGE_VAL;
    return number_result((negative ? -v : v) * scale);
}

// The number with n decimals (0..15), fixed notation, halves away from zero,
// and no digit beyond the 15th significant one: the decimals past it are 0.
Value string_(Evaluator &ev, Value *a, int) {
    const double places = std::trunc(a[1].number);
    if (places < 0 || places > kMaxDecimals) return Value::error();
    double v = round_decimal(a[0].number, static_cast<int>(places));
    if (v == 0) v = 0;  // no "-0"
    int shown = static_cast<int>(places);
    char text[kMaxText + 1];
    if (v != 0) {  // its first digit's power of ten, from the digits a double prints
        const auto [end, ec] = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 14);
        if (ec != std::errc()) return Value::error();
        *end = '\0';
        const int decimals = kSignificant - 1 - std::atoi(std::strchr(text, 'e') + 1);
        if (decimals < shown) shown = decimals < 0 ? 0 : decimals;
    }
    auto [end, ec] = std::to_chars(text, text + sizeof text - kMaxDecimals - 1, v, std::chars_format::fixed, shown);
    if (ec != std::errc()) return Value::error();
    if (shown < places && shown == 0) *end++ = '.';
    for (int i = shown; i < places; ++i) *end++ = '0';
    return ev.text(text, static_cast<std::size_t>(end - text));
}

Value mid_(Evaluator &, Value *a, int) {
    const long start = position(a[1]), count = position(a[2]);
    if (start < 0 || count < 0) return Value::error();
    return piece(a[0], start, count);
}

Value left_(Evaluator &, Value *a, int) {
    const long count = position(a[1]);
    return count < 0 ? Value::error() : piece(a[0], 0, count);
}

Value right_(Evaluator &, Value *a, int) {
    long count = position(a[1]);
    if (count < 0) return Value::error();
    if (count > static_cast<long>(a[0].length)) count = a[0].length;
    return piece(a[0], static_cast<long>(a[0].length) - count, count);
}

Value char_(Evaluator &ev, Value *a, int) {
    const double code = std::trunc(a[0].number);
    if (code < 1 || code > 255) return Value::error();
    const char c = static_cast<char>(static_cast<unsigned char>(code));
    return ev.text(&c, 1);
}

Value code_(Evaluator &, Value *a, int) {
    if (a[0].length == 0) return Value::error();
    return Value::of(static_cast<unsigned char>(a[0].text[0]));
}

Value find_(Evaluator &, Value *a, int) {
    const Value &what = a[0], &in = a[1];
    const long start = position(a[2]);
    if (start < 0 || start > static_cast<long>(in.length)) return Value::error();
    for (long i = start; i + static_cast<long>(what.length) <= static_cast<long>(in.length); ++i)
        if (std::memcmp(in.text + i, what.text, what.length) == 0) return Value::of(static_cast<double>(i));
    return Value::error();
}

Value repeat_(Evaluator &ev, Value *a, int) {
    const long times = position(a[1]);
    if (times < 0) return Value::error();
    const std::size_t n = static_cast<std::size_t>(times) * a[0].length;
    if (n == 0) return Value::string("", 0);
    char *out = ev.room(n);
    if (!out) return Value::error();
    for (long i = 0; i < times; ++i) std::memcpy(out + i * a[0].length, a[0].text, a[0].length);
    return Value::string(out, static_cast<uint32_t>(n));
}

Value upper_(Evaluator &ev, Value *a, int) { return mapped(ev, a[0], ev.letters().upper); }
Value lower_(Evaluator &ev, Value *a, int) { return mapped(ev, a[0], ev.letters().lower); }

// The first letter of each run of letters in capitals, the others small.
Value proper_(Evaluator &ev, Value *a, int) {
    const charsets::CaseTable &letters = ev.letters();
    Value out = mapped(ev, a[0], letters.lower);
    if (out.tag != Tag::kString) return out;
    char *s = const_cast<char *>(out.text);
    bool in_word = false;
    for (uint32_t i = 0; i < out.length; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const bool letter = letters.letter[c];
        if (letter && !in_word) s[i] = static_cast<char>(letters.upper[c]);
        in_word = letter;
    }
    return out;
}

Value replace_(Evaluator &ev, Value *a, int) {
    const Value &s = a[0], &with = a[3];
    long start = position(a[1]), count = position(a[2]);
    if (start < 0 || count < 0) return Value::error();
    if (start > static_cast<long>(s.length)) start = s.length;
    if (count > static_cast<long>(s.length) - start) count = s.length - start;
    const std::size_t n = s.length - count + with.length;
    if (n == 0) return Value::string("", 0);
    char *out = ev.room(n);
    if (!out) return Value::error();
    std::memcpy(out, s.text, start);
    std::memcpy(out + start, with.text, with.length);
    std::memcpy(out + start + with.length, s.text + start + count, s.length - start - count);
    return Value::string(out, static_cast<uint32_t>(n));
}

// Without spaces at either end, and runs of spaces inside made one.
Value trim_(Evaluator &ev, Value *a, int) {
    const Value &s = a[0];
    char *out = ev.room(s.length);
    if (!out) return s.length ? Value::error() : Value::string("", 0);
    uint32_t n = 0;
    for (uint32_t i = 0; i < s.length; ++i) {
        if (s.text[i] == ' ' && (n == 0 || out[n - 1] == ' ')) continue;
        out[n++] = s.text[i];
    }
    if (n && out[n - 1] == ' ') --n;
    return Value::string(out, n);
}

// Without control characters (codes below 32).
Value clean_(Evaluator &ev, Value *a, int) {
    const Value &s = a[0];
    char *out = ev.room(s.length);
    if (!out) return s.length ? Value::error() : Value::string("", 0);
    uint32_t n = 0;
    for (uint32_t i = 0; i < s.length; ++i)
        if (static_cast<unsigned char>(s.text[i]) >= 32) out[n++] = s.text[i];
    return Value::string(out, n);
}

Value exact_(Evaluator &, Value *a, int) {
    return Value::of(a[0].length == a[1].length && std::memcmp(a[0].text, a[1].text, a[0].length) == 0 ? 1 : 0);
}

// @S and @N read the first cell of a range, or a value given directly.
Value first_value(Evaluator &ev, const Value &v) {
    if (v.tag != Tag::kRange) return v;
    return ev.sheet().value_at(v.range.c1, v.range.r1);
}
Value s_(Evaluator &ev, Value *a, int) {
    const Value v = first_value(ev, a[0]);
    if (v.is_error()) return v;
    return v.tag == Tag::kString ? v : Value::string("", 0);
}
Value n_(Evaluator &ev, Value *a, int) {
    const Value v = first_value(ev, a[0]);
    if (v.is_error()) return v;
    return Value::of(number_of(v));
}

constexpr FunctionRow kTable[] = {
    {"@LENGTH", "s", length_}, {"@VALUE", "s", value_}, {"@STRING", "nn", string_}, {"@MID", "snn", mid_},
    {"@CHAR", "n", char_}, {"@CODE", "s", code_}, {"@FIND", "ssn", find_}, {"@REPEAT", "sn", repeat_},
    {"@UPPER", "s", upper_}, {"@LOWER", "s", lower_}, {"@LEFT", "sn", left_}, {"@RIGHT", "sn", right_},
    {"@REPLACE", "snns", replace_}, {"@PROPER", "s", proper_}, {"@TRIM", "s", trim_}, {"@CLEAN", "s", clean_},
    {"@S", "x", s_}, {"@N", "x", n_}, {"@EXACT", "ss", exact_},
};

}  // namespace

FunctionGroup text_functions() { return {kTable, sizeof kTable / sizeof kTable[0]}; }

}  // namespace wks::calc
