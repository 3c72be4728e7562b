/*
 * wk1_sheet: the library's side of the spreadsheet interoperability test.
 * Written in C against include/wks.h alone, as a host would.
 *
 *   wk1_sheet write DIR      writes the sheet three times: DIR/direct.wk1
 *                            through the WK1 functions and DIR/converted.wk1
 *                            by writing DIR/sheet.orx and converting it with
 *                            orx_to_wk1, both with the value 0 that wksform
 *                            gives formulas; DIR/stored.wk1 with each
 *                            formula's value stored, as spreadsheet programs
 *                            write their files
 *   wk1_sheet computed THEIRS compares the formula values a spreadsheet
 *                            program computed for direct.wk1 or
 *                            converted.wk1 (exported as CSV) with the values
 *                            the formulas have
 *   wk1_sheet shown THEIRS OURS compares, cell by cell, what the program
 *                            shows for stored.wk1 with what 'wks csv
 *                            --values' shows
 *   wk1_sheet csv FILE       writes the calculation sheet as CSV, for 'wks
 *                            import', which stores each formula's computed
 *                            value
 *   wk1_sheet zeros IN OUT   copies the WK1 file IN with every formula's
 *                            value 0 (and no string values), so that the
 *                            other program computes them
 *   wk1_sheet imported THEIRS IN compares the values 'wks import' stored in
 *                            IN with the language's values (all must agree)
 *                            and with the values the other program computed
 *                            for the copy with zeros
 *
 * The checks exit with 0 when all compared cells agree.  The other program
 * computes a formula whose stored value is 0 and shows the stored value of
 * any other, as 'wks csv --values' does.
 *
 * The sheet holds numbers in every format, an integer, labels (8-bit text
 * among them) and formulas compiled from text by the library: operator
 * precedence and associativity, relative, absolute and mixed references,
 * ranges, functions of several kinds.  Two texts agree when they can show
 * the same value: numbers within what the coarser of the two shows (the
 * other program keeps eight significant digits of a number), dates and
 * times by their parts, the rest as they are.
 */
#include "wks.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum kind { NUMBER, INTEGER, LABEL, FORMULA };

struct cell {
    int col, row;        /* 0-based */
    enum kind kind;
    const char *text;    /* number, label or formula text */
    const char *want;    /* a formula's value in this library's notation: a number, or a string */
    const char *differs; /* non-null: the other program computes this formula differently, and why */
    int format;          /* the format byte; 0 for the default (0xFF) */
    const char *shows;   /* non-null: the other program shows the cell differently, and why */
};

/* Format bytes: bits 4-6 the kind, bits 0-3 the decimals or which special one. */
#define FIXED(d) (0x00 | (d))
#define SCIENTIFIC(d) (0x10 | (d))
#define CURRENCY(d) (0x20 | (d))
#define PERCENT(d) (0x30 | (d))
#define COMMA(d) (0x40 | (d))
#define PLUS_MINUS 0x70
#define GENERAL 0x71
#define D1 0x72 /* day-month-year */
#define D2 0x73 /* day-month */
#define D3 0x74 /* month-year */
#define TEXT 0x75
#define HIDDEN 0x76
#define D6 0x77 /* time with seconds */
#define D7 0x78 /* time */
#define D4 0x79 /* full date */
#define D5 0x7A /* month-day */
#define D8 0x7B /* 24-hour time with seconds */
#define D9 0x7C /* 24-hour time */
#define DEFAULT_FORMAT 0xFF

/* What LibreOffice computes differently is listed in `differs`, what it
 * shows differently in `shows`; those cells are only reported, not
 * compared.  The rest must agree. */
static const struct cell kSheet[] = {
    {0, 0, NUMBER, "2.5", 0, 0, 0, 0},
    {1, 0, INTEGER, "4", 0, 0, 0, 0},
    {2, 0, NUMBER, "-3", 0, 0, 0, 0},
    {3, 0, LABEL, "'hello", 0, 0, 0, 0},
    {4, 0, INTEGER, "10", 0, 0, 0, 0},
    {5, 0, LABEL, "\"right", 0, 0, 0, 0},

    /* precedence and associativity */
    {0, 1, FORMULA, "A1+B1*2", "10.5", 0, 0, 0},
    {1, 1, FORMULA, "(A1+B1)*2", "13", 0, 0, 0},
    {2, 1, FORMULA, "2^3^2", "512", "^ is right-associative here; LibreOffice groups (2^3)^2 and shows 64", 0, 0},
    {8, 1, FORMULA, "2^(3^2)", "512", 0, 0, 0},
    {3, 1, FORMULA, "10-4-3", "3", 0, 0, 0},
    {4, 1, FORMULA, "-A1*2", "-5", 0, 0, 0},
    {5, 1, FORMULA, "2*-1+E1/4/5", "-1.5", 0, 0, 0},
    {6, 1, FORMULA, "-2^2", "-4",
     "prefix minus binds looser than ^ here; LibreOffice applies it to the 2 first and shows 4", 0, 0},
    {7, 1, FORMULA, "1+2=3#AND#2<1#OR#1", "1", 0, 0, 0},

    /* references: relative, absolute and mixed, single cells and ranges */
    {0, 2, FORMULA, "A1+A2", "13", 0, 0, 0},
    {1, 2, FORMULA, "$A$1*$B$1", "10", 0, 0, 0},
    {2, 2, FORMULA, "B1*$A1+C$1", "7", 0, 0, 0},
    {3, 2, FORMULA, "@SUM(A1..C1)", "3.5", 0, 0, 0},
    {4, 2, FORMULA, "@SUM($A$1..B1,E1)", "16.5", 0, 0, 0},
    {5, 2, FORMULA, "@AVG(A1..C1)", "1.16666666666667", 0, 0, 0},
    {6, 2, FORMULA, "@MAX(A1..E1)-@MIN(A1..E1)", "13", 0, 0, 0},
    {7, 2, FORMULA, "@COUNT(A1..C1)", "3", 0, 0, 0},

    /* functions */
    {0, 3, FORMULA, "@IF(A1>2,1,0)", "1", 0, 0, 0},
    {1, 3, FORMULA, "@ROUND(E1/3,2)", "3.33", 0, 0, 0},
    {2, 3, FORMULA, "@MOD(E1,3)", "1", 0, 0, 0},
    {3, 3, FORMULA, "@ABS(C1)+@SQRT(16)", "7", 0, 0, 0},
    {4, 3, FORMULA, "@INT(A1)", "2", 0, 0, 0},
    {5, 3, FORMULA, "@CHOOSE(1,10,20,30)", "20", "@CHOOSE counts from 0; LibreOffice counts from 1 and shows 10", 0, 0},
    {10, 3, FORMULA, "@CHOOSE(0,10,20,30)+@CHOOSE(2,1,1,0)", "10",
     "the same: an index of 0 is an error there (Err:502)", 0, 0},
    {6, 3, FORMULA, "@PI()*2", "6.28318530717959", 0, 0, 0},
    {7, 3, FORMULA, "#NOT#(A1=B1)", "1", 0, 0, 0},
    {8, 3, FORMULA, "@UPPER(\"abc\")", "ABC", 0, 0, 0},
    {9, 3, FORMULA, "@LENGTH(D1)", "5", 0, 0, 0},

    /* real constants */
    {0, 4, FORMULA, "3.14159265358979*2", "6.28318530717958",
     "LibreOffice keeps four decimals of a real constant in a formula (3.1416) and shows 6.2832", 0, 0},
    {1, 4, FORMULA, "1E-05*1000", "0.01", "the same: 1E-05 becomes 0", 0, 0},
    {2, 4, FORMULA, "100000+1", "100001", 0, 0, 0},
    {3, 4, FORMULA, "0.1+0.2", "0.3", 0, 0, 0},
    {4, 4, FORMULA, "1.5E3/0.25", "6000", 0, 0, 0},

    /* number formats */
    {0, 5, NUMBER, "1234.5678", 0, 0, FIXED(2), 0},
    {1, 5, NUMBER, "1234.5678", 0, 0, SCIENTIFIC(2), 0},
    {2, 5, NUMBER, "-1234.5", 0, 0, CURRENCY(2), 0},
    {3, 5, NUMBER, "1234567.891", 0, 0, COMMA(2), 0},
    {4, 5, NUMBER, "0.256", 0, 0, PERCENT(1), 0},
    {5, 5, NUMBER, "0.333333333333333", 0, 0, GENERAL, 0},
    {6, 5, NUMBER, "-0.001", 0, 0, COMMA(2), 0},
    {7, 5, NUMBER, "2.5", 0, 0, FIXED(0), 0},
    {8, 5, NUMBER, "0.000123", 0, 0, SCIENTIFIC(1), 0},
    {9, 5, FORMULA, "A6*2", "2469.1356", 0, FIXED(3), 0},

    /* dates and times: serial days from 1 January 1900, fractions of a day */
    {0, 6, NUMBER, "41689", 0, 0, D1, 0},
    {1, 6, NUMBER, "41689", 0, 0, D2, 0},
    {2, 6, NUMBER, "41689", 0, 0, D3, 0},
    {3, 6, NUMBER, "36540.25", 0, 0, D4, 0},
    {4, 6, NUMBER, "36540", 0, 0, D5, 0},
    {10, 6, NUMBER, "41689.75", 0, 0, D1, "LibreOffice rounds a date to the nearest day"},
    {11, 6, NUMBER, "59", 0, 0, D4,
     "LibreOffice's calendar has no 29 February 1900, and shows days before March 1900 one day early"},
    {5, 6, NUMBER, "0.75", 0, 0, D6, 0},
    {6, 6, NUMBER, "0.604166666666667", 0, 0, D7, 0},
    {7, 6, NUMBER, "0.5", 0, 0, D8, 0},
    {8, 6, NUMBER, "0.2505", 0, 0, D9, 0},
    {9, 6, NUMBER, "41689.75", 0, 0, D6, "LibreOffice shows a time of day only for a value below 1 (12:00:00 AM)"},

    /* special formats and labels */
    {0, 7, NUMBER, "3", 0, 0, PLUS_MINUS, "LibreOffice shows the +/- format as a truth value (TRUE)"},
    {1, 7, NUMBER, "5", 0, 0, HIDDEN, "LibreOffice shows a hidden cell's value"},
    {2, 7, FORMULA, "A8*2", "6", 0, TEXT, "LibreOffice shows a formula's value in the text format, not its text"},
    {3, 7, NUMBER, "42", 0, 0, TEXT, 0},
    {4, 7, LABEL, "'Caf\x82 \x9a\xe1 \xe9", 0, 0, 0, 0},
    {5, 7, LABEL, "^centered", 0, 0, 0, 0},
    {6, 7, LABEL, "\\-", 0, 0, 0, "a repeating label fills its column there; wks shows its text once"},
};

#define CELLS (int)(sizeof kSheet / sizeof kSheet[0])

/* The calculation sheet: data in rows 1 to 4, one formula a row from row 6
 * in column A, each with its value in the language (`want`, hand-checked).
 * `differs` gives the reason where LibreOffice computes the formula
 * otherwise: the language's value is still required of 'wks import'. */
#define F(row, text, want, differs) {0, (row), FORMULA, (text), (want), (differs), 0, 0}
static const struct cell kCalc[] = {
    {0, 0, NUMBER, "2.5", 0, 0, 0, 0},   {1, 0, INTEGER, "4", 0, 0, 0, 0},    {2, 0, NUMBER, "-3", 0, 0, 0, 0},
    {3, 0, LABEL, "'hello", 0, 0, 0, 0}, {4, 0, INTEGER, "10", 0, 0, 0, 0},   {5, 0, LABEL, "'Apple", 0, 0, 0, 0},
    {6, 0, INTEGER, "7", 0, 0, 0, 0},
    /* a lookup table (H1..J3), cash flows (K1..K4), a row of keys (L1..N2) */
    {7, 0, INTEGER, "1", 0, 0, 0, 0},    {8, 0, LABEL, "'one", 0, 0, 0, 0},   {9, 0, INTEGER, "100", 0, 0, 0, 0},
    {7, 1, INTEGER, "2", 0, 0, 0, 0},    {8, 1, LABEL, "'two", 0, 0, 0, 0},   {9, 1, INTEGER, "200", 0, 0, 0, 0},
    {7, 2, INTEGER, "5", 0, 0, 0, 0},    {8, 2, LABEL, "'five", 0, 0, 0, 0},  {9, 2, INTEGER, "500", 0, 0, 0, 0},
    {10, 0, INTEGER, "-1000", 0, 0, 0, 0}, {10, 1, INTEGER, "300", 0, 0, 0, 0}, {10, 2, INTEGER, "400", 0, 0, 0, 0},
    {10, 3, INTEGER, "500", 0, 0, 0, 0},
    {11, 0, INTEGER, "10", 0, 0, 0, 0},  {12, 0, INTEGER, "20", 0, 0, 0, 0},  {13, 0, INTEGER, "30", 0, 0, 0, 0},
    {11, 1, LABEL, "'a", 0, 0, 0, 0},    {12, 1, LABEL, "'b", 0, 0, 0, 0},    {13, 1, LABEL, "'c", 0, 0, 0, 0},
    /* a database (O1..P4) and criteria (Q1..Q2, R1..R2) */
    {14, 0, LABEL, "'NAME", 0, 0, 0, 0}, {15, 0, LABEL, "'AMOUNT", 0, 0, 0, 0}, {16, 0, LABEL, "'NAME", 0, 0, 0, 0},
    {17, 0, LABEL, "'NAME", 0, 0, 0, 0},
    {14, 1, LABEL, "'apple", 0, 0, 0, 0}, {15, 1, INTEGER, "10", 0, 0, 0, 0}, {16, 1, LABEL, "'pear", 0, 0, 0, 0},
    {17, 1, LABEL, "'ap*", 0, 0, 0, 0},
    {14, 2, LABEL, "'pear", 0, 0, 0, 0}, {15, 2, INTEGER, "20", 0, 0, 0, 0},
    {14, 3, LABEL, "'apricot", 0, 0, 0, 0}, {15, 3, INTEGER, "30", 0, 0, 0, 0},

    /* operators: precedence and grouping as the code holds them */
    F(5, "-2^2", "-4", "the power binds before the negation here; LibreOffice negates the 2 first and gives 4"),
    F(6, "2^3^2", "512", "^ groups to the right here; LibreOffice groups (2^3)^2 and gives 64"),
    F(7, "A1+B1*2", "10.5", 0),
    F(8, "(A1+B1)*2", "13", 0),
    F(9, "10-4-3", "3", 0),
    F(10, "1+2=3#AND#2<1#OR#1", "1", 0),
    F(11, "#NOT#(A1=B1)", "1", 0),
    F(12, "\"abc\"=\"ABC\"", "1", "two strings compare ignoring case (@EXACT tells case apart); LibreOffice minds it, 0"),
    F(13, "D1&\" world\"", "hello world", 0),
    F(14, "D1&Z99", "ERR", "& wants two strings and a blank cell is none; LibreOffice joins it as \"\""),
    F(15, "5/0", "ERR", 0),
    F(16, "@NA+1", "NA", 0),
    /* arithmetic and rounding */
    F(17, "@INT(-2.5)", "-2", "@INT truncates toward zero; LibreOffice rounds down and gives -3"),
    F(18, "@INT(2.7)", "2", 0),
    F(19, "@MOD(-7,3)", "-1", "@MOD has the sign of the dividend; LibreOffice the divisor's, 2"),
    F(20, "@MOD(7,3)", "1", 0),
    F(21, "@ROUND(2.675,2)", "2.68", 0),
    F(22, "@ROUND(1234.5,-2)", "1200", 0),
    F(23, "@ABS(C1)+@SQRT(16)", "7", 0),
    F(24, "@LOG(1000)+@LN(@EXP(2))", "5", 0),
    F(25, "@PI*2", "6.28318530717959", 0),
    F(26, "@SIN(@PI/6)", "0.5", 0),
    F(27, "@ATAN2(1,2)", "1.10714871779409", 0),
    F(28, "@ACOS(0)", "1.5707963267949", 0),
    /* lists */
    F(29, "@SUM(A1..C1)", "3.5", 0),
    F(30, "@AVG(A1..C1)", "1.16666666666667", 0),
    F(31, "@COUNT(A1..G1)", "7", "@COUNT counts the cells that are not blank, labels too; LibreOffice only numbers, 5"),
    F(32, "@MAX(A1..E1)-@MIN(A1..E1)", "13", 0),
    F(33, "@VAR(A1..C1)", "9.05555555555556", "@VAR is of the population here; LibreOffice's of a sample, 13.5833"),
    F(34, "@STD(A1..C1)", "3.0092450142113", "@STD likewise; LibreOffice gives 3.6856"),
    /* logic */
    F(35, "@IF(A1>2,\"big\",\"small\")", "big", 0),
    F(36, "@CHOOSE(1,10,20,30)", "20", "@CHOOSE counts from 0; LibreOffice from 1, 10"),
    F(37, "@ISERR(1/0)+@ISNA(@NA)", "2", 0),
    F(38, "@ISNUMBER(Z99)", "1", "a blank cell is a number to @ISNUMBER here; not in LibreOffice (0)"),
    F(39, "@ISNUMBER(@ERR)", "1", "ERR is a number to @ISNUMBER here; not in LibreOffice (0)"),
    F(40, "@ISNUMBER(D1)+@ISSTRING(D1)", "1", 0),
    F(41, "@TRUE+@FALSE", "1", 0),
    /* strings: positions from 0 */
    F(42, "@UPPER(\"abc\")&@LOWER(\"DE\")&@PROPER(\"fg hi\")", "ABCdeFg Hi", 0),
    F(43, "@LENGTH(D1)", "5", 0),
    F(44, "@MID(D1,1,3)", "ell", "positions count from 0; LibreOffice reads 1 as the first character, hel"),
    F(45, "@LEFT(D1,2)&@RIGHT(D1,2)", "helo", 0),
    F(46, "@FIND(\"l\",D1,0)", "2", "the same: a start of 0 is an error there (#VALUE!)"),
    F(47, "@REPLACE(D1,0,1,\"J\")", "Jello", "the same: a start of 0 is an error there (Err:502)"),
    F(48, "@TRIM(\"  a  b  \")", "a b", 0),
    F(49, "@REPEAT(\"ab\",3)", "ababab", 0),
    F(50, "@VALUE(\"12.5\")", "12.5", 0),
    F(51, "@STRING(3.14159,2)", "3.14", 0),
    F(52, "@CHAR(65)", "A", 0),
    F(75, "@CODE(\"B\")", "66", "LibreOffice does not know @CODE (#NAME?)"),
    F(76, "@S(A1)&@S(D1)", "hello", 0),
    F(77, "@TIMEVALUE(\"14:30\")", "0.604166666666667", 0),
    F(78, "@DSUM(O1..P4,1,Q1..Q2)", "20",
      "the field offset counts from 0; LibreOffice takes 1 as the first field, the names, and gives 0"),
    F(79, "@DSUM(O1..P4,1,R1..R2)", "40", "the same (a final * in a criterion matches the rest)"),
    F(53, "@EXACT(\"a\",\"A\")+@N(D1)", "0", 0),
    /* dates and times */
    F(54, "@DATE(114,2,19)", "41689", "the year is counted from 1900; LibreOffice takes 114 as the year 114 (#VALUE!)"),
    F(55, "@DAY(41689)+@MONTH(41689)", "21", 0),
    F(56, "@YEAR(41689)", "114", "@YEAR counts from 1900; LibreOffice gives 2014"),
    F(57, "@TIME(14,30,0)", "0.604166666666667", 0),
    F(58, "@HOUR(0.6042)*60+@MINUTE(0.6042)", "870", 0),
    /* financial */
    F(59, "@PMT(1000,0.01,12)", "88.8487886783416",
      "@PMT takes principal, rate, term; LibreOffice reads the arguments in another order (-179761.74)"),
    F(60, "@PV(100,0.01,12)", "1125.50774734846", "@PV takes payment, rate, term; the same (-0.0054)"),
    F(61, "@FV(100,0.01,12)", "1268.2503013197", "@FV takes payment, rate, term; the same (-0.0057)"),
    F(62, "@NPV(0.1,K2..K4)", "978.963185574756", 0),
    F(63, "@IRR(0.1,K1..K4)", "0.08896339469335", "@IRR takes the guess first; LibreOffice the range (#VALUE!)"),
    F(64, "@RATE(2000,1000,10)", "0.0717734625362931",
      "@RATE is the rate that grows a present value into a future one; LibreOffice's an annuity's (Err:523)"),
    F(65, "@TERM(100,0.01,1000)", "9.57859403981317", 0),
    F(66, "@CTERM(0.01,2000,1000)", "69.6607168935748", 0),
    F(67, "@SLN(1000,100,5)+@SYD(1000,100,5,1)+@DDB(1000,100,5,1)", "880", 0),
    /* lookup */
    F(68, "@VLOOKUP(2,H1..J3,2)", "200", "the offset counts from 0; LibreOffice takes 2 as the first column, two"),
    F(69, "@HLOOKUP(25,L1..N2,1)", "b", "the same: LibreOffice gives the key row's 20"),
    F(70, "@INDEX(H1..J3,1,2)", "five", "@INDEX takes column, then row, from 0; LibreOffice row, then column, from 1: one"),
    F(71, "@COLS(H1..J3)*10+@ROWS(H1..J3)", "33", 0),
    F(72, "@@(\"A1\")", "2.5", "@@ gives the named cell's value; LibreOffice gives 0"),
    /* a relative reference 234 columns to the left */
    {234, 73, FORMULA, "A1", "2.5", "a relative column offset below -128 reaches another column in LibreOffice", 0, 0},
};
#undef F

#define CALC_CELLS (int)(sizeof kCalc / sizeof kCalc[0])

/* Fills the ORX cell layout's front in h's buffer: prefix, format, column, row. */
static void start_cell(WKS *h, const struct cell *c, int type, int value_size)
{
    unsigned char *body = h->rec.body;
    memset(body, 0, WKS_ORX_CELL_PREFIX);
    body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    body[WKS_ORX_CELL_PREFIX + WKS_CELL_FORMAT] = (unsigned char)(c->format ? c->format : DEFAULT_FORMAT);
    wksni(body + WKS_ORX_CELL_PREFIX + WKS_CELL_COLUMN, (int16_t)c->col);
    wksni(body + WKS_ORX_CELL_PREFIX + WKS_CELL_ROW, (int16_t)c->row);
    wksni(h->rec.type, (int16_t)type);
    wksni(h->rec.length, (int16_t)(WKS_ORX_CELL_PREFIX + WKS_CELL_VALUE + value_size));
}

/* A formula's value that is not a number: a string. */
static int is_string_value(const struct cell *c)
{
    char *end;
    return c->kind == FORMULA && (strtod(c->want, &end), *end != '\0');
}

/* Puts the cell in h's buffer in the ORX cell layout: formulas through
 * wksform, the rest by hand.  With `stored`, a formula gets its value: a
 * number, or NaN for a string, which then follows in a record of its own
 * (put_string). */
static int put_cell(WKS *h, const struct cell *c, int stored)
{
    unsigned char *value = h->rec.body + WKS_ORX_CELL_PREFIX + WKS_CELL_VALUE;
    switch (c->kind) {
    case FORMULA:
        start_cell(h, c, WKS_FORMULA, 0);
        if (wksform(h, ' ', (int16_t)c->col, (int16_t)c->row, c->text) != 0) {
            fprintf(stderr, "formula %s does not compile\n", c->text);
            return 1;
        }
        h->rec.body[WKS_ORX_CELL_PREFIX + WKS_CELL_FORMAT] = (unsigned char)(c->format ? c->format : DEFAULT_FORMAT);
        if (stored) wksdi(value, is_string_value(c) ? nan("") : strtod(c->want, 0));
        return 0;
    case NUMBER:
        start_cell(h, c, WKS_NUMBER, 8);
        wksdi(value, strtod(c->text, 0));
        return 0;
    case INTEGER:
        start_cell(h, c, WKS_INTEGER, 2);
        wksni(value, (int16_t)atoi(c->text));
        return 0;
    default:
        start_cell(h, c, WKS_LABEL, (int)strlen(c->text) + 1);
        memcpy(value, c->text, strlen(c->text) + 1);
        return 0;
    }
}

static void put_string(WKS *h, const struct cell *c)
{
    start_cell(h, c, WKS_STRING, (int)strlen(c->want) + 1);
    memcpy(h->rec.body + WKS_ORX_CELL_PREFIX + WKS_CELL_VALUE, c->want, strlen(c->want) + 1);
}

static int write_direct(const char *path, int stored)
{
    WKS out, scratch;
    int i;
    if (!wksopen_wk1(&out, "", path)) {
        fprintf(stderr, "cannot create %s (error %d)\n", path, out.error);
        return 1;
    }
    memset(&scratch, 0, sizeof scratch);
    for (i = 0; i < CELLS; ++i) {
        int part;
        for (part = 0; part < 1 + (stored && is_string_value(&kSheet[i])); ++part) {
            if (part == 0 && put_cell(&scratch, &kSheet[i], stored)) return 1;
            if (part == 1) put_string(&scratch, &kSheet[i]);
            if (orx_rec_to_wk1_rec((const unsigned char *)&scratch.rec, (unsigned char *)&out.rec) != 0) return 1;
            if (wkswrec_wk1(&out) != 0) return 1;
        }
    }
    return wksclose_wk1(&out) != 0;
}

static int write_converted(const char *orx_path, const char *wk1_path)
{
    WKS out;
    unsigned char header[WKS_HEADER_SIZE];
    int i;
    int32_t result;
    memset(header, 0, sizeof header);
    set_open_for_load(1);
    if (!SetOrxHeader(header)) return 1;
    if (!wksopen(&out, "", orx_path)) {
        fprintf(stderr, "cannot create %s (error %d)\n", orx_path, out.error);
        return 1;
    }
    for (i = 0; i < CELLS; ++i) {
        if (put_cell(&out, &kSheet[i], 0) || wkswrec(&out) != 0) return 1;
    }
    if (wksclose(&out) != 0) return 1;
    result = orx_to_wk1(orx_path, wk1_path);
    if (result != 0) {
        fprintf(stderr, "orx_to_wk1 gave %d\n", (int)result);
        return 1;
    }
    return 0;
}

/* --- checking ------------------------------------------------------------ */

#define MAX_ROWS 80
#define MAX_COLS 256
#define FIELD 128

typedef char Grid[MAX_ROWS][MAX_COLS][FIELD];
static Grid g_theirs, g_ours;

/* Reads a CSV file as both programs write it: commas, text fields possibly
 * in double quotes with doubled quotes inside. */
static int read_csv(const char *path, Grid grid)
{
    FILE *f = fopen(path, "rb");
    int row = 0, col = 0, ch;
    size_t n = 0;
    int quoted = 0;
    if (!f) {
        fprintf(stderr, "cannot read %s: %s\n", path, strerror(errno));
        return 1;
    }
    while ((ch = fgetc(f)) != EOF && row < MAX_ROWS) {
        if (quoted) {
            if (ch == '"') {
                int next = fgetc(f);
                if (next != '"') {
                    quoted = 0;
                    if (next == EOF) break;
                    ungetc(next, f);
                    continue;
                }
            }
        } else if (ch == '"') {
            quoted = 1;
            continue;
        } else if (ch == ',' || ch == '\n' || ch == '\r') {
            if (ch == '\r') continue;
            if (col < MAX_COLS) grid[row][col][n] = '\0';
            n = 0;
            if (ch == ',') {
                ++col;
            } else {
                ++row;
                col = 0;
            }
            continue;
        }
        if (col < MAX_COLS && n + 1 < FIELD) grid[row][col][n++] = (char)ch;
    }
    fclose(f);
    return 0;
}

/* A shown number: its value and half the unit of its last digit.  Currency
 * signs, thousands separators, parentheses for negative amounts and a
 * percent sign are read as such. */
static int shown_number(const char *text, double *value, double *half_unit)
{
    char digits[FIELD];
    size_t n = 0;
    int negative = 0, percent = 0, decimals = -1;
    const char *p, *e;
    char *end;
    for (p = text; *p && n + 1 < sizeof digits; ++p) {
        if (*p == '(') negative = 1;
        else if (*p == '%') percent = 1;
        else if (*p != '$' && *p != ',' && *p != ')') digits[n++] = *p;
    }
    digits[n] = '\0';
    *value = strtod(digits, &end);
    if (n == 0 || *end != '\0') return 0;
    e = strpbrk(digits, "eE");
    p = strchr(digits, '.');
    if (p) decimals = (int)((e ? e : digits + n) - p - 1);
    *half_unit = 0.5 * pow(10, -(decimals < 0 ? 0 : decimals)) * (e ? pow(10, atoi(e + 1)) : 1);
    if (negative) *value = -*value;
    if (percent) *value /= 100, *half_unit /= 100;
    return 1;
}

static int same_number(const char *a, const char *b)
{
    double va, ha, vb, hb;
    if (!shown_number(a, &va, &ha) || !shown_number(b, &vb, &hb)) return 0;
    /* LibreOffice keeps eight significant digits of a number cell it reads. */
    return fabs(va - vb) <= ha + hb + 5e-8 * fmax(fabs(va), fabs(vb));
}

static const char *const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};

/* The parts of a shown date: year, month, day, -1 for a part not shown.
 * ISO 8601 ("2014-02-19", "--02-19", "2014-02"), or LibreOffice's forms
 * ("19 February 14", "19 February", "February 14", "2/19/14", "2/19"), whose
 * two-digit years are taken from 1930 to 2029. */
static void date_parts(const char *text, int part[3])
{
    char copy[FIELD], *token, *rest;
    int numbers[3] = {0, 0, 0}, count = 0, month = -1, month_at = -1, i;
    part[0] = part[1] = part[2] = -1;
    if (sscanf(text, "%4d-%2d-%2d", &part[0], &part[1], &part[2]) == 3) return;
    if (sscanf(text, "--%2d-%2d", &part[1], &part[2]) == 2) return;
    if (sscanf(text, "%4d-%2d", &part[0], &part[1]) == 2 && strlen(text) == 7) return;
    part[0] = part[1] = part[2] = -1;
    snprintf(copy, sizeof copy, "%s", text);
    for (token = strtok_r(copy, " /", &rest); token && count < 3; token = strtok_r(0, " /", &rest)) {
        for (i = 0; i < 12; ++i)
            if (strcmp(token, kMonths[i]) == 0) month = i + 1, month_at = count;
        if (month_at != count) numbers[count] = atoi(token);
        ++count;
    }
    if (month < 0) { /* M/D[/YY] */
        part[1] = numbers[0];
        part[2] = count > 1 ? numbers[1] : -1;
        part[0] = count > 2 ? numbers[2] : -1;
    } else {         /* [D] Month [YY] */
        part[1] = month;
        part[2] = month_at == 1 ? numbers[0] : -1;
        part[0] = month_at + 1 < count ? numbers[month_at + 1] : -1;
    }
    if (part[0] >= 0 && part[0] < 100) part[0] += part[0] < 30 ? 2000 : 1900;
}

static int same_date(const char *ours, const char *theirs)
{
    int a[3], b[3], i;
    date_parts(ours, a);
    date_parts(theirs, b);
    for (i = 0; i < 3; ++i)
        if (a[i] != b[i]) return 0;
    return a[1] > 0;
}

/* A time of day in seconds, from "HH:MM[:SS]" with or without AM/PM. */
static long seconds_of(const char *text)
{
    int h = 0, m = 0, sec = 0;
    if (sscanf(text, "%d:%d:%d", &h, &m, &sec) < 2) return -1;
    if (strstr(text, "AM") && h == 12) h = 0;
    if (strstr(text, "PM") && h != 12) h += 12;
    return h * 3600L + m * 60L + sec;
}

static int is_date_format(int f) { return f == D1 || f == D2 || f == D3 || f == D4 || f == D5; }
static int is_time_format(int f) { return f == D6 || f == D7 || f == D8 || f == D9; }

static int agree(const struct cell *c, const char *ours, const char *theirs)
{
    if (c->kind == LABEL || is_string_value(c)) return strcmp(ours, theirs) == 0;
    if (is_date_format(c->format)) return same_date(ours, theirs);
    if (is_time_format(c->format)) return seconds_of(ours) >= 0 && seconds_of(ours) == seconds_of(theirs);
    return same_number(ours, theirs);
}

/* Without ours: the formulas' values, computed by the other program, against
 * the values they have.  With ours: every cell as both programs show it. */
static int check(const char *theirs_csv, const char *ours_csv)
{
    int i, failed = 0, passed = 0, skipped = 0;
    if (read_csv(theirs_csv, g_theirs) || (ours_csv && read_csv(ours_csv, g_ours))) return 1;
    for (i = 0; i < CELLS; ++i) {
        const struct cell *c = &kSheet[i];
        const char *theirs = g_theirs[c->row][c->col], *ours = ours_csv ? g_ours[c->row][c->col] : c->want;
        const char *why_not = ours_csv ? c->shows : c->differs;
        char name[16];
        if (!ours_csv && c->kind != FORMULA) continue;
        snprintf(name, sizeof name, "%c%d", 'A' + c->col, c->row + 1);
        if (why_not) {
            printf("  %-4s %-28s wks \"%s\", LibreOffice \"%s\" (not compared: %s)\n", name, c->text, ours, theirs,
                   why_not);
            ++skipped;
        } else if (agree(c, ours, theirs)) {
            ++passed;
        } else {
            printf("  %-4s %-28s wks \"%s\", LibreOffice \"%s\"\n", name, c->text, ours, theirs);
            ++failed;
        }
    }
    printf("%s: %d cells agree, %d differ, %d not compared\n", theirs_csv, passed, failed, skipped);
    return failed != 0;
}

/* --- the calculation sheet ------------------------------------------------ */

static const struct cell *calc_cell_at(int col, int row)
{
    int i;
    for (i = 0; i < CALC_CELLS; ++i)
        if (kCalc[i].col == col && kCalc[i].row == row) return &kCalc[i];
    return 0;
}

static void cell_name(int col, int row, char name[16])
{
    if (col < 26) snprintf(name, 16, "%c%d", 'A' + col, row + 1);
    else snprintf(name, 16, "%c%c%d", 'A' + col / 26 - 1, 'A' + col % 26, row + 1);
}

/* kCalc as CSV, every field quoted, formulas after "=". */
static int write_calc_csv(const char *path)
{
    FILE *f = fopen(path, "wb");
    int row, col, i, last_row = 0;
    if (!f) {
        fprintf(stderr, "cannot create %s: %s\n", path, strerror(errno));
        return 1;
    }
    for (i = 0; i < CALC_CELLS; ++i)
        if (kCalc[i].row > last_row) last_row = kCalc[i].row;
    for (row = 0; row <= last_row; ++row) {
        int last_col = -1;
        for (i = 0; i < CALC_CELLS; ++i)
            if (kCalc[i].row == row && kCalc[i].col > last_col) last_col = kCalc[i].col;
        for (col = 0; col <= last_col; ++col) {
            const struct cell *c = calc_cell_at(col, row);
            const char *p;
            if (col) fputc(',', f);
            if (!c) continue;
            fputs(c->kind == FORMULA ? "\"=" : "\"", f);
            for (p = c->text; *p; ++p) {
                if (*p == '"') fputc('"', f);  /* a quote doubled */
                fputc(*p, f);
            }
            fputc('"', f);
        }
        fputc('\n', f);
    }
    return fclose(f) != 0;
}

/* A copy of a WK1 file with every formula's value 0 and no string values. */
static int write_zeros(const char *in_path, const char *out_path)
{
    WKS in, out;
    int16_t got;
    memset(&in, 0, sizeof in);
    memset(&out, 0, sizeof out);
    if (!wksopen_wk1(&in, in_path, "")) {
        fprintf(stderr, "cannot read %s\n", in_path);
        return 1;
    }
    if (!wksopen_wk1(&out, "", out_path)) {
        fprintf(stderr, "cannot create %s (error %d)\n", out_path, out.error);
        return 1;
    }
    while ((got = wksnextr_wk1(&in)) == 0) {
        const int type = in.rec.type[0] | in.rec.type[1] << 8;
        if (type == WKS_STRING) continue;
        out.rec = in.rec;
        if (type == WKS_FORMULA) wksdi(out.rec.body + WKS_CELL_VALUE, 0.0);
        if (wkswrec_wk1(&out) != 0) return 1;
    }
    wksclose_wk1(&in);
    return got != -1 || wksclose_wk1(&out) != 0;
}

/* The values a WK1 file stores for its formulas, in this library's
 * notation: numbers with 17 significant digits, strings, ERR and NA. */
static int read_stored(const char *path, Grid grid)
{
    WKS in;
    int16_t got;
    memset(&in, 0, sizeof in);
    if (!wksopen_wk1(&in, path, "")) {
        fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    while ((got = wksnextr_wk1(&in)) == 0) {
        const int type = in.rec.type[0] | in.rec.type[1] << 8;
        const unsigned char *body = in.rec.body;
        const int col = body[WKS_CELL_COLUMN] | body[WKS_CELL_COLUMN + 1] << 8;
        const int row = body[WKS_CELL_ROW] | body[WKS_CELL_ROW + 1] << 8;
        char *field;
        double v;
        if ((type != WKS_FORMULA && type != WKS_STRING) || col >= MAX_COLS || row >= MAX_ROWS) continue;
        field = grid[row][col];
        if (type == WKS_STRING) {
            snprintf(field, FIELD, "%.*s", FIELD - 1, (const char *)body + WKS_CELL_VALUE);
            continue;
        }
        v = wksid(body + WKS_CELL_VALUE);
        if (isinf(v)) snprintf(field, FIELD, "%s", v < 0 ? "NA" : "ERR");
        else if (!isnan(v)) snprintf(field, FIELD, "%.17g", v);
    }
    wksclose_wk1(&in);
    return got != -1;
}

/* A stored number (17 digits, exact) against a number as written or shown
 * in general: within half a unit of the shown number's last decimal, a
 * whole number shown without decimals exactly. */
static int close_to(const char *exact, const char *shown)
{
    double v, half_unit;
    char *end;
    const double x = strtod(exact, &end);
    if (*end != '\0' || !shown_number(shown, &v, &half_unit)) return 0;
    if (!strpbrk(shown, ".eE")) half_unit = 0;
    return fabs(x - v) <= half_unit + 1e-12 * fmax(fabs(x), fabs(v));
}

/* Our value against the other program's: errors as its error texts. */
static int same_value(const struct cell *c, const char *ours, const char *theirs)
{
    if (strcmp(ours, "NA") == 0) return strcmp(theirs, "#N/A") == 0;
    if (strcmp(ours, "ERR") == 0) return theirs[0] == '#' || strncmp(theirs, "Err:", 4) == 0;
    if (is_string_value(c)) return strcmp(ours, theirs) == 0;
    return close_to(ours, theirs);
}

/* Every formula's stored value must be the language's; it must also be
 * what the other program computes, except where kCalc says why not. */
static int check_imported(const char *theirs_csv, const char *wk1)
{
    int i, failed = 0, passed = 0, deviations = 0;
    if (read_csv(theirs_csv, g_theirs) || read_stored(wk1, g_ours)) return 1;
    for (i = 0; i < CALC_CELLS; ++i) {
        const struct cell *c = &kCalc[i];
        const char *ours = g_ours[c->row][c->col], *theirs = g_theirs[c->row][c->col];
        const int agree_there = same_value(c, ours, theirs);
        char name[16];
        if (c->kind != FORMULA) continue;
        cell_name(c->col, c->row, name);
        if (is_string_value(c) ? strcmp(ours, c->want) != 0 : !close_to(ours, c->want)) {
            printf("  %-5s %-44s stored \"%s\", the language gives \"%s\"\n", name, c->text, ours, c->want);
            ++failed;
        } else if (c->differs) {
            printf("  %-5s %-44s \"%s\", LibreOffice \"%s\" (%s%s)\n", name, c->text, ours, theirs, c->differs,
                   agree_there ? "; it agrees now" : "");
            ++deviations;
        } else if (agree_there) {
            ++passed;
        } else {
            printf("  %-5s %-44s stored \"%s\", LibreOffice \"%s\"\n", name, c->text, ours, theirs);
            ++failed;
        }
    }
    printf("%s: %d formulas agree, %d differ, %d documented deviations\n", theirs_csv, passed, failed, deviations);
    return failed != 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "write") == 0) {
        char direct[4096], orx[4096], converted[4096], stored[4096];
        snprintf(direct, sizeof direct, "%s/direct.wk1", argv[2]);
        snprintf(orx, sizeof orx, "%s/sheet.orx", argv[2]);
        snprintf(converted, sizeof converted, "%s/converted.wk1", argv[2]);
        snprintf(stored, sizeof stored, "%s/stored.wk1", argv[2]);
        return write_direct(direct, 0) || write_converted(orx, converted) || write_direct(stored, 1);
    }
    if (argc == 3 && strcmp(argv[1], "computed") == 0) return check(argv[2], 0);
    if (argc == 4 && strcmp(argv[1], "shown") == 0) return check(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "csv") == 0) return write_calc_csv(argv[2]);
    if (argc == 4 && strcmp(argv[1], "zeros") == 0) return write_zeros(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "imported") == 0) return check_imported(argv[2], argv[3]);
    fprintf(stderr, "usage: wk1_sheet write DIR | computed THEIRS.csv | shown THEIRS.csv OURS.csv | csv FILE | "
                    "zeros IN.wk1 OUT.wk1 | imported THEIRS.csv IN.wk1\n");
    return 2;
}
