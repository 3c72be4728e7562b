/*
 * Serial day numbers of the formula language: day 1 is 1 January 1900 and
 * day 60 is the 29 February 1900 the language counts although the calendar
 * has none, so every serial from 61 (1 March 1900) on is one more than the
 * plain day count.  The sheet's calendar ends with day 73050, 31 December
 * 2099.  A time of day is the fraction of a day after the serial.
 */
#ifndef WKS_CALC_DATES_H
#define WKS_CALC_DATES_H

namespace wks::calc {

constexpr long kLastSerial = 73050;  // 31 December 2099

struct Date {
    int year, month, day;
};

// The serial of a calendar date (29 February 1900 included); the caller
// checks the date first with valid_date.
long date_serial(int year, int month, int day);
// The date of serial 1..kLastSerial.
Date serial_date(long serial);
// True for a day of the language's calendar, 1 January 1900 to 31 December
// 2099, 29 February 1900 included.
bool valid_date(int year, int month, int day);

}  // namespace wks::calc

#endif
