/*
 * Dates and times.  @DATE takes the year as years since 1900 (0..199), a
 * month 1..12 and a day of that month; @YEAR gives years since 1900 again.
 * Serials run from 1 (1 January 1900) to 73050 (31 December 2099), day 60
 * being the language's 29 February 1900; a serial outside them is ERR.  A
 * time is the fraction of a day, read to the nearest second.
 *
 * @DATEVALUE reads the date formats: DD-MMM-YY, DD-MMM (this year), MMM-YY
 * (the 1st), MM/DD/YY and MM/DD (this year); a year of two digits is
 * 19YY, one of four digits is itself.  @TIMEVALUE reads HH:MM:SS and HH:MM,
 * each with an optional AM or PM after a space.  Month names are the three
 * English letters, any case.  Anything else is ERR.
 */
#include "calc/dates.h"
#include "calc/functions.h"

#include <cmath>

namespace wks::calc {

namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kMaxYearOffset = 199;

int part(double x) { return whole(std::trunc(x)); }

// The serial of a day argument, or -1 when it is outside the calendar.
long day_of(double serial) {
    const double day = std::floor(serial);
    return day >= 1 && day <= kLastSerial ? static_cast<long>(day) : -1;
}

// Seconds into the day, or -1 outside the calendar's times.
int second_of(double serial) {
    if (!(serial >= 0 && serial < kLastSerial + 1)) return -1;
    const double fraction = serial - std::floor(serial);
    return static_cast<int>(std::llround(fraction * kSecondsPerDay) % kSecondsPerDay);
}

Value date_(Evaluator &, Value *a, int) {
    const int y = part(a[0].number), m = part(a[1].number), d = part(a[2].number);
    if (y < 0 || y > kMaxYearOffset || !valid_date(1900 + y, m, d)) return Value::error();
    return Value::of(static_cast<double>(date_serial(1900 + y, m, d)));
}

Value day_(Evaluator &, Value *a, int) {
    const long s = day_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(serial_date(s).day);
}
Value month_(Evaluator &, Value *a, int) {
    const long s = day_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(serial_date(s).month);
}
Value year_(Evaluator &, Value *a, int) {
    const long s = day_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(serial_date(s).year - 1900);
}

Value time_(Evaluator &, Value *a, int) {
    const int h = part(a[0].number), m = part(a[1].number), s = part(a[2].number);
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return Value::error();
    return Value::of((h * 3600 + m * 60 + s) / static_cast<double>(kSecondsPerDay));
}

Value hour_(Evaluator &, Value *a, int) {
    const int s = second_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(s / 3600);
}
Value minute_(Evaluator &, Value *a, int) {
    const int s = second_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(s / 60 % 60);
}
Value second_(Evaluator &, Value *a, int) {
    const int s = second_of(a[0].number);
    return s < 0 ? Value::error() : Value::of(s % 60);
}

Value now_(Evaluator &ev, Value *, int) { return Value::of(ev.now()); }

// --- reading dates and times ---------------------------------------------------

struct Reader {
    const char *p, *end;

    bool done() const { return p == end; }
    bool take(char c) {
        if (p < end && *p == c) return ++p, true;
        return false;
    }
    // 1..max_digits digits; their count in *digits.
    bool number(int max_digits, int *value, int *digits = nullptr) {
        int n = 0, v = 0;
        while (p < end && *p >= '0' && *p <= '9' && n < max_digits) v = v * 10 + (*p++ - '0'), ++n;
        if (p < end && *p >= '0' && *p <= '9') return false;  // too many digits
        *value = v;
        if (digits) *digits = n;
        return n > 0;
    }
    bool month_name(int *month) {
        static const char *const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        if (end - p < 3) return false;
        for (int m = 0; m < 12; ++m) {
            bool same = true;
            for (int i = 0; i < 3; ++i) {
                char c = p[i];
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
                same = same && c == kMonths[m][i];
            }
            if (same) {
                p += 3;
                *month = m + 1;
                return true;
            }
        }
        return false;
    }
    bool year(int *y) {
        int digits;
        if (!number(4, y, &digits) || (digits != 2 && digits != 4)) return false;
        if (digits == 2) *y += 1900;
        return true;
    }
};

Reader trimmed(const Value &s) {
    Reader r{s.text, s.text + s.length};
    while (r.p < r.end && *r.p == ' ') ++r.p;
    while (r.end > r.p && r.end[-1] == ' ') --r.end;
    return r;
}

Value date_result(int y, int m, int d) {
    if (!valid_date(y, m, d)) return Value::error();
    return Value::of(static_cast<double>(date_serial(y, m, d)));
}

Value datevalue_(Evaluator &ev, Value *a, int) {
    const int this_year = serial_date(day_of(ev.now()) < 0 ? 1 : day_of(ev.now())).year;
    Reader r = trimmed(a[0]);
    int d, m, y;
    const Reader start = r;
    if (r.number(2, &d) && r.take('-') && r.month_name(&m)) {  // DD-MMM[-YY]
        if (r.done()) return date_result(this_year, m, d);
        if (r.take('-') && r.year(&y) && r.done()) return date_result(y, m, d);
        return Value::error();
    }
    r = start;
    if (r.month_name(&m) && r.take('-') && r.year(&y) && r.done()) return date_result(y, m, 1);  // MMM-YY
    r = start;
    if (r.number(2, &m) && r.take('/') && r.number(2, &d)) {  // MM/DD[/YY]
        if (r.done()) return date_result(this_year, m, d);
        if (r.take('/') && r.year(&y) && r.done()) return date_result(y, m, d);
    }
    return Value::error();
}

Value timevalue_(Evaluator &, Value *a, int) {
    Reader r = trimmed(a[0]);
    int h, m, s = 0;
    if (!(r.number(2, &h) && r.take(':') && r.number(2, &m))) return Value::error();
    if (r.take(':') && !r.number(2, &s)) return Value::error();
    if (r.take(' ')) {
        const bool pm = r.take('P') || r.take('p');
        if (!pm && !(r.take('A') || r.take('a'))) return Value::error();
        if (!(r.take('M') || r.take('m')) || h < 1 || h > 12) return Value::error();
        h = h % 12 + (pm ? 12 : 0);
    }
    if (!r.done() || h > 23 || m > 59 || s > 59) return Value::error();
    return Value::of((h * 3600 + m * 60 + s) / static_cast<double>(kSecondsPerDay));
}

constexpr FunctionRow kTable[] = {
    {"@DATE", "nnn", date_}, {"@NOW", "", now_}, {"@DAY", "n", day_}, {"@MONTH", "n", month_}, {"@YEAR", "n", year_},
    {"@TIME", "nnn", time_}, {"@HOUR", "n", hour_}, {"@MINUTE", "n", minute_}, {"@SECOND", "n", second_},
    {"@DATEVALUE", "s", datevalue_}, {"@TIMEVALUE", "s", timevalue_},
};

}  // namespace

FunctionGroup date_functions() { return {kTable, sizeof kTable / sizeof kTable[0]}; }

}  // namespace wks::calc
