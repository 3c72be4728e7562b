/*
 * Format bytes: bit 7 protects the cell, bits 4-6 give the kind of format
 * and bits 0-3 the number of decimals, or for the special kind (7) which
 * one: +/-, general, the date and time formats, text, hidden, or the sheet's
 * default (15).  Dates and times print as ISO 8601 (shown_in_column: as on
 * screen).  A date is a serial day
 * number, 1 for 1 January 1900 up to 73050 for 31 December 2099, counting
 * the 29 February 1900 the formats' calendar has (day 60); a time is the
 * fraction of a day, to the nearest second.  Column widths play no part
 * in shown_text; shown_in_column fits numbers into them.
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

struct Civil {
    int y = 1900, m = 2, d = 29;
};

// The civil date of a serial day number within the calendar.
Civil civil(double v) {
    const long serial = static_cast<long>(std::floor(v));
    Civil c;
    if (serial != kLeapDay1900) {
        // Days from 1970-01-01, then the civil date (proleptic Gregorian).
        long z = kDaysTo1899_12_31 + (serial < kLeapDay1900 ? serial : serial - 1) + 719468;
        const long era = (z >= 0 ? z : z - 146096) / 146097;
        const long doe = z - era * 146097;
        const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const long mp = (5 * doy + 2) / 153;
        c.d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        c.m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        c.y = static_cast<int>(yoe + era * 400 + (c.m <= 2 ? 1 : 0));
    }
    return c;
}

bool in_calendar(double v) { return v >= kFirstSerial && v < kLastSerial + 1; }

// The date of a serial day number, or general when it is outside the calendar.
std::string date(double v, int format) {
    if (!in_calendar(v)) return general(v);
    const Civil c = civil(v);
    char buf[32];
    if (format == kDayMonth || format == kShortDate)
        std::snprintf(buf, sizeof buf, "--%02d-%02d", c.m, c.d);
    else if (format == kMonthYear)
        std::snprintf(buf, sizeof buf, "%04d-%02d", c.y, c.m);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.y, c.m, c.d);
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

// A date or time as the sheet showed it on screen (19-Feb-14, 02:30 PM,
// 02/19/14), or empty for a format that is neither.
std::string screen_date_time(double v, int detail) {
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[32];
    const bool date_format = detail == kDayMonthYear || detail == kDayMonth || detail == kMonthYear ||
                             detail == kLongDate || detail == kShortDate;
    if (date_format) {
        if (!in_calendar(v)) return general(v);
        const Civil c = civil(v);
        const char *month = kMonths[c.m - 1];
        const int yy = c.y % 100;
        switch (detail) {
        case kDayMonthYear: std::snprintf(buf, sizeof buf, "%02d-%s-%02d", c.d, month, yy); break;
        case kDayMonth: std::snprintf(buf, sizeof buf, "%02d-%s", c.d, month); break;
        case kMonthYear: std::snprintf(buf, sizeof buf, "%s-%02d", month, yy); break;
        case kLongDate: std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", c.m, c.d, yy); break;
        default: std::snprintf(buf, sizeof buf, "%02d/%02d", c.m, c.d); break;
        }
        return buf;
    }
    if (detail != kTimeSeconds && detail != kTime && detail != kTimeSeconds24 && detail != kTime24) return "";
    if (!(v >= 0 && v < kLastSerial + 1)) return general(v);
    const long s = std::lround((v - std::floor(v)) * kSecondsPerDay) % kSecondsPerDay;
    const long h = s / 3600, h12 = h % 12 ? h % 12 : 12;
    const char *half = h < 12 ? "AM" : "PM";
    switch (detail) {
    case kTimeSeconds: std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld %s", h12, s / 60 % 60, s % 60, half); break;
    case kTime: std::snprintf(buf, sizeof buf, "%02ld:%02ld %s", h12, s / 60 % 60, half); break;
    case kTimeSeconds24: std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", h, s / 60 % 60, s % 60); break;
    default: std::snprintf(buf, sizeof buf, "%02ld:%02ld", h, s / 60 % 60); break;
    }
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

// The format that applies to a cell.
int effective_format(const CellContent &cell, int sheet_format) {
    const int format = cell.format & kFormatBits;
    return format == kDefaultFormat ? sheet_format & kFormatBits : format;
}

// Whether number() shows a number of the format in general: the kinds
// between comma and special have no format of their own, and of the
// special formats only +/-, the dates and the times have one for numbers.
bool is_general(int format) {
    const int kind = format >> kKindShift, detail = format & kDetailBits;
    if (kind > kComma && kind < kSpecial) return true;
    return kind == kSpecial && (detail == kGeneral || detail == kText || detail > kTime24);
}

// A general number in room characters: fewer decimals (trailing zeros
// dropped) while the whole part fits and something other than zero is left,
// else scientific with as many decimals as fit; empty when nothing fits.
std::string general_fitted(double v, std::size_t room) {
    for (int decimals = kSignificant; decimals >= 0; --decimals) {
        std::string t = fixed(v, decimals);
        if (t.find('.') != std::string::npos) t.erase(t.find_last_not_of('0') + 1);
        if (!t.empty() && t.back() == '.') t.pop_back();
        if (t.size() <= room && (v == 0 || t.find_first_not_of("-0") != std::string::npos)) return t;
    }
    for (int decimals = kSignificant - 1; decimals >= 0; --decimals) {
        const std::string t = scientific(v, decimals);
        if (t.size() <= room) return t;
    }
    return "";
}

}  // namespace

bool shows_number(const CellContent &cell, int sheet_format) {
    const int format = effective_format(cell, sheet_format);
    const bool text = format == (kSpecial << kKindShift | kText);
    return cell.kind == Kind::kInteger || cell.kind == Kind::kNumber ||
           (cell.kind == Kind::kFormula && !cell.is_string && !text);
}

std::string shown_in_column(const CellContent &cell, int sheet_format, int width) {
    std::string text = shown_text(cell, sheet_format);
    if (!shows_number(cell, sheet_format)) return text;
    const int format = effective_format(cell, sheet_format);
    if (format >> kKindShift == kSpecial && std::isfinite(cell.number)) {
        const std::string on_screen = screen_date_time(cell.number, format & kDetailBits);
        if (!on_screen.empty()) text = on_screen;
    }
    const std::size_t room = static_cast<std::size_t>(std::max(width - 1, 1));
    if (text.size() <= room) return text;
    if (is_general(format) && std::isfinite(cell.number)) text = general_fitted(cell.number, room);
    return text.empty() || text.size() > room ? std::string(room, '*') : text;
}

std::string shown_text(const CellContent &cell, int sheet_format) {
    const int format = effective_format(cell, sheet_format);
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
