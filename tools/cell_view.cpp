/*
 * Format bytes: bit 7 protects the cell, bits 4-6 give the kind of format
 * and bits 0-3 the number of decimals, or for the special kind (7) which
 * one: +/-, general, the date and time formats, text, hidden, or the sheet's
 * default (15).  Dates and times print as ISO 8601.  A date is a serial day
 * number, 1 for 1 January 1900 up to 73050 for 31 December 2099, counting
 * the 29 February 1900 the formats' calendar has (day 60); a time is the
 * fraction of a day, to the nearest second.  Column widths play no part:
 * nothing is cut or replaced by asterisks.
 */
#include "tools/cell_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tool {
namespace {

constexpr int kFormatBits = 0x7F;  // the format without the protection bit
constexpr int kDetailBits = 0x0F;
constexpr int kKindShift = 4;
enum FormatKind { kFixed = 0, kScientific = 1, kCurrency = 2, kPercent = 3, kComma = 4, kSpecial = 7 };
enum SpecialFormat {
    kPlusMinus = 0, kGeneral = 1, kDayMonthYear = 2, kDayMonth = 3, kMonthYear = 4, kText = 5, kHidden = 6,
    kTimeSeconds = 7, kTime = 8, kLongDate = 9, kShortDate = 10, kTimeSeconds24 = 11, kTime24 = 12,
};
constexpr int kWindow1 = 7;         // the record with the sheet's window settings
constexpr int kWindowFormatAt = 4;  // its default format byte

constexpr double kFirstSerial = 1, kLastSerial = 73050;  // 1900-01-01 .. 2099-12-31
constexpr long kLeapDay1900 = 60;
constexpr long kDaysTo1899_12_31 = -25568;  // from 1970-01-01
constexpr long kSecondsPerDay = 86400;
constexpr long kWidestBar = 240;            // a +/- bar is never wider than a column can be
constexpr char kLabelPrefixes[] = "'\"^\\|";

// A number that is no finite number shows as the formats' special values.
std::string special_value(double v) { return std::isinf(v) && v < 0 ? "NA" : "ERR"; }

// A magnitude as the formats see it: its first 15 significant digits and
// the power of ten of the first.  Rounding works on these digits, half away
// from zero, so 2.675 shows as 2.68 as people read it, not as its binary
// value 2.67499999... would round.
struct Digits {
    std::string digits;  // kSignificant digits
    int exponent = 0;
};
constexpr int kSignificant = 15;

Digits digits_of(double magnitude) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*e", kSignificant - 1, magnitude);
    Digits d;
    d.digits = std::string(1, buf[0]) + std::string(buf + 2, kSignificant - 1);
    d.exponent = std::atoi(std::strchr(buf, 'e') + 1);
    return d;
}

// The first n digits (n may exceed the 15: zeros follow), rounded at the
// next one; a carry out of the first digit makes the text one digit longer.
std::string rounded(const Digits &d, int n) {
    if (n < 0) return "0";
    std::string out = d.digits.substr(0, static_cast<std::size_t>(std::min(n, kSignificant)));
    out.resize(static_cast<std::size_t>(n), '0');
    if (n < kSignificant && d.digits[static_cast<std::size_t>(n)] >= '5') {
        int i = n - 1;
        for (; i >= 0 && out[static_cast<std::size_t>(i)] == '9'; --i) out[static_cast<std::size_t>(i)] = '0';
        if (i >= 0) ++out[static_cast<std::size_t>(i)];
        else out.insert(out.begin(), '1');
    }
    return out.empty() ? "0" : out;
}

std::string fixed(double v, int decimals) {
    const Digits d = digits_of(std::fabs(v));
    // The digits down to 10^-decimals: the whole part's, then the decimals.
    std::string n = v == 0 ? "0" : rounded(d, d.exponent + 1 + decimals);
    if (n.size() <= static_cast<std::size_t>(decimals)) n.insert(0, decimals + 1 - n.size(), '0');
    std::string text = n.substr(0, n.size() - decimals);
    if (decimals) text += "." + n.substr(n.size() - decimals);
    // A value that rounds to zero shows no sign.
    return v < 0 && n.find_first_not_of('0') != std::string::npos ? "-" + text : text;
}

std::string scientific(double v, int decimals) {
    Digits d = digits_of(std::fabs(v));
    std::string n = v == 0 ? std::string(static_cast<std::size_t>(decimals) + 1, '0') : rounded(d, decimals + 1);
    if (n.size() > static_cast<std::size_t>(decimals) + 1) n.pop_back(), ++d.exponent;  // 9.99 became 10.0
    const int exponent = v == 0 ? 0 : d.exponent;
    char tail[16];
    std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return (std::signbit(v) && v != 0 ? "-" : "") + n.substr(0, 1) + (decimals ? "." + n.substr(1) : "") + tail;
}

// Thousands separators in the whole part of a fixed text without sign.
std::string grouped(const std::string &digits) {
    const std::size_t whole = std::min(digits.find('.'), digits.size());
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && i < whole && (whole - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Comma and currency: negative amounts in parentheses.
std::string amount(double v, int decimals, const char *sign) {
    const std::string magnitude = fixed(std::fabs(v), decimals);
    const std::string text = sign + grouped(magnitude);
    return v < 0 && fixed(v, decimals)[0] == '-' ? "(" + text + ")" : text;
}

std::string general(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return std::strcmp(buf, "-0") == 0 ? "0" : buf;
}

// A bar of the whole part's length; one no column could show is the number.
std::string plus_minus(double v) {
    const double n = std::fabs(std::trunc(v));
    if (n > kWidestBar) return general(v);
    if (n == 0) return ".";
    return std::string(static_cast<std::size_t>(n), v < 0 ? '-' : '+');
}

// The date of a serial day number, or general when it is outside the calendar.
std::string date(double v, int format) {
    if (!(v >= kFirstSerial && v < kLastSerial + 1)) return general(v);
    const long serial = static_cast<long>(std::floor(v));
    int y = 1900, m = 2, d = 29;
    if (serial != kLeapDay1900) {
        // Days from 1970-01-01, then the civil date (proleptic Gregorian).
        long z = kDaysTo1899_12_31 + (serial < kLeapDay1900 ? serial : serial - 1) + 719468;
        const long era = (z >= 0 ? z : z - 146096) / 146097;
        const long doe = z - era * 146097;
        const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const long mp = (5 * doy + 2) / 153;
        d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    }
    char buf[32];
    if (format == kDayMonth || format == kShortDate)
        std::snprintf(buf, sizeof buf, "--%02d-%02d", m, d);
    else if (format == kMonthYear)
        std::snprintf(buf, sizeof buf, "%04d-%02d", y, m);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    return buf;
}

std::string time(double v, bool seconds) {
    if (!(v >= 0 && v < kLastSerial + 1)) return general(v);
    long s = std::lround((v - std::floor(v)) * kSecondsPerDay) % kSecondsPerDay;
    char buf[32];
    if (seconds)
        std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 3600, s / 60 % 60);
    return buf;
}

std::string number(double v, int format) {
    if (!std::isfinite(v)) return special_value(v);
    const int decimals = format & kDetailBits;
    switch (format >> kKindShift) {
    case kFixed: return fixed(v, decimals);
    case kScientific: return scientific(v, decimals);
    case kCurrency: return amount(v, decimals, "$");
    case kPercent: return fixed(v * 100, decimals) + "%";
    case kComma: return amount(v, decimals, "");
    case kSpecial: break;
    default: return general(v);
    }
    switch (decimals) {
    case kPlusMinus: return plus_minus(v);
    case kDayMonthYear: case kDayMonth: case kMonthYear: case kLongDate: case kShortDate: return date(v, decimals);
    case kTimeSeconds: case kTimeSeconds24: return time(v, true);
    case kTime: case kTime24: return time(v, false);
    default: return general(v);
    }
}

}  // namespace

std::string shown_text(const CellContent &cell, int sheet_format) {
    int format = cell.format & kFormatBits;
    if (format == kDefaultFormat) format = sheet_format & kFormatBits;
    const bool special = format >> kKindShift == kSpecial;
    if (special && (format & kDetailBits) == kHidden) return "";
    switch (cell.kind) {
    case Kind::kLabel:
        if (!cell.text.empty() && std::strchr(kLabelPrefixes, cell.text[0])) return cell.text.substr(1);
        return cell.text;
    case Kind::kFormula:
        if (special && (format & kDetailBits) == kText) return cell.text;
        if (cell.is_string) return cell.string;
        return number(cell.number, format);
    case Kind::kInteger:
    case Kind::kNumber: return number(cell.number, format);
    default: return "";
    }
}

int sheet_format_of(const Record &window) {
    return window.type == kWindow1 && window.length > kWindowFormatAt ? window.body[kWindowFormatAt] : -1;
}

namespace {

// The visitor: each formula's computed value, ERR and NA as the infinities
// their special values read as.
extern "C" void keep_computed(void *context, int16_t col, int16_t row, const WKS_VALUE *, const WKS_VALUE *computed,
                              int32_t) {
    CellContent v;
    v.is_string = computed->kind == WKS_VALUE_STRING;
    v.string = v.is_string ? computed->text : "";
    v.number = computed->kind == WKS_VALUE_NUMBER ? computed->number
               : computed->kind == WKS_VALUE_NA   ? -HUGE_VAL
                                                  : HUGE_VAL;
    (*static_cast<std::map<std::pair<int, int>, CellContent> *>(context))[{col, row}] = v;
}

}  // namespace

bool ComputedValues::compute(const std::string &path, std::string &why) {
    const int16_t code = wks_calc_file(path.c_str(), WKS_CALC_CHECK, 1, keep_computed, &values_, nullptr);
    if (code == 0) return true;
    why = "cannot compute the formulas' values: " + error_text(code);
    return false;
}

void ComputedValues::apply(int col, int row, CellContent &cell) const {
    const auto found = values_.find({col, row});
    if (cell.kind != Kind::kFormula || found == values_.end()) return;
    cell.number = found->second.number;
    cell.is_string = found->second.is_string;
    cell.string = found->second.string;
}

}  // namespace tool
