/* Serial days <-> calendar dates, with the language's 29 February 1900. */
#include "calc/dates.h"

namespace wks::calc {

namespace {

constexpr long kFeb29Of1900 = 60;

// Days since 1 March of year 0 of the proleptic Gregorian calendar.
long days_from_civil(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

Date civil_from_days(long z) {
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long d = doy - (153 * mp + 2) / 5 + 1;
    const long m = mp < 10 ? mp + 3 : mp - 9;
    return Date{static_cast<int>(yoe + era * 400 + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

const long kDayZero = days_from_civil(1899, 12, 31);  // serial 0

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 || y == 1900; }

}  // namespace

long date_serial(int year, int month, int day) {
    if (year == 1900 && month == 2 && day == 29) return kFeb29Of1900;
    const long serial = days_from_civil(year, month, day) - kDayZero;
    return serial >= kFeb29Of1900 ? serial + 1 : serial;
}

Date serial_date(long serial) {
    if (serial == kFeb29Of1900) return Date{1900, 2, 29};
    return civil_from_days(kDayZero + (serial > kFeb29Of1900 ? serial - 1 : serial));
}

bool valid_date(int year, int month, int day) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 2099 || month < 1 || month > 12 || day < 1) return false;
    return day <= kDays[month - 1] + (month == 2 && leap(year) ? 1 : 0);
}

}  // namespace wks::calc
