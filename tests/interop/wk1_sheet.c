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
 *
 * Both checks exit with 0 when all compared cells agree.  The other program
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

#define MAX_ROWS 16
#define MAX_COLS 16
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
    fprintf(stderr, "usage: wk1_sheet write DIR | wk1_sheet computed THEIRS.csv | wk1_sheet shown THEIRS.csv OURS.csv\n");
    return 2;
}
