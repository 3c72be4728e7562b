/*
 * wk1_sheet: the library's side of the spreadsheet interoperability test.
 * Written in C against include/wks.h alone, as a host would.
 *
 *   wk1_sheet write DIR   writes DIR/direct.wk1 through the WK1 functions,
 *                         and DIR/converted.wk1 by writing DIR/sheet.orx and
 *                         converting it with orx_to_wk1
 *   wk1_sheet check CSV   compares the values a spreadsheet program computed
 *                         for either file (exported as CSV) with the expected
 *                         ones; exit 0 when all compared cells agree
 *
 * The sheet holds numbers, an integer, labels and formulas compiled from
 * text by the library: operator precedence and associativity, relative,
 * absolute and mixed references, ranges, functions of several kinds.
 */
#include "wks.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum kind { NUMBER, INTEGER, LABEL, FORMULA };

struct cell {
    int col, row;       /* 0-based */
    enum kind kind;
    const char *text;   /* number, label or formula text */
    const char *want;   /* the value the formula has in this library's notation */
    const char *differs; /* non-null: the other program reads this cell differently, and why */
};

/* What LibreOffice does not read faithfully is listed in `differs` and only
 * reported, not compared.  The rest must agree. */
static const struct cell kSheet[] = {
    {0, 0, NUMBER, "2.5", "2.5", 0},
    {1, 0, INTEGER, "4", "4", 0},
    {2, 0, NUMBER, "-3", "-3", 0},
    {3, 0, LABEL, "'hello", "hello", 0},
    {4, 0, INTEGER, "10", "10", 0},
    {5, 0, LABEL, "\"right", "right", 0},

    /* precedence and associativity */
    {0, 1, FORMULA, "A1+B1*2", "10.5", 0},
    {1, 1, FORMULA, "(A1+B1)*2", "13", 0},
    {2, 1, FORMULA, "2^3^2", "512", "^ is right-associative here; LibreOffice groups (2^3)^2 and shows 64"},
    {8, 1, FORMULA, "2^(3^2)", "512", 0},
    {3, 1, FORMULA, "10-4-3", "3", 0},
    {4, 1, FORMULA, "-A1*2", "-5", 0},
    {5, 1, FORMULA, "2*-1+E1/4/5", "-1.5", 0},
    {6, 1, FORMULA, "-2^2", "-4",
     "prefix minus binds looser than ^ here; LibreOffice applies it to the 2 first and shows 4"},
    {7, 1, FORMULA, "1+2=3#AND#2<1#OR#1", "1", 0},

    /* references: relative, absolute and mixed, single cells and ranges */
    {0, 2, FORMULA, "A1+A2", "13", 0},
    {1, 2, FORMULA, "$A$1*$B$1", "10", 0},
    {2, 2, FORMULA, "B1*$A1+C$1", "7", 0},
    {3, 2, FORMULA, "@SUM(A1..C1)", "3.5", 0},
    {4, 2, FORMULA, "@SUM($A$1..B1,E1)", "16.5", 0},
    {5, 2, FORMULA, "@AVG(A1..C1)", "1.16666666666667", 0},
    {6, 2, FORMULA, "@MAX(A1..E1)-@MIN(A1..E1)", "13", 0},
    {7, 2, FORMULA, "@COUNT(A1..C1)", "3", 0},

    /* functions */
    {0, 3, FORMULA, "@IF(A1>2,1,0)", "1", 0},
    {1, 3, FORMULA, "@ROUND(E1/3,2)", "3.33", 0},
    {2, 3, FORMULA, "@MOD(E1,3)", "1", 0},
    {3, 3, FORMULA, "@ABS(C1)+@SQRT(16)", "7", 0},
    {4, 3, FORMULA, "@INT(A1)", "2", 0},
    {5, 3, FORMULA, "@CHOOSE(1,10,20,30)", "20", "@CHOOSE counts from 0; LibreOffice counts from 1 and shows 10"},
    {10, 3, FORMULA, "@CHOOSE(0,10,20,30)+@CHOOSE(2,1,1,0)", "10", "the same: an index of 0 is an error there (Err:502)"},
    {6, 3, FORMULA, "@PI()*2", "6.28318530717959", 0},
    {7, 3, FORMULA, "#NOT#(A1=B1)", "1", 0},
    {8, 3, FORMULA, "@UPPER(\"abc\")", "ABC", 0},
    {9, 3, FORMULA, "@LENGTH(D1)", "5", 0},

    /* real constants */
    {0, 4, FORMULA, "3.14159265358979*2", "6.28318530717958",
     "LibreOffice keeps four decimals of a real constant in a formula (3.1416) and shows 6.2832"},
    {1, 4, FORMULA, "1E-05*1000", "0.01", "the same: 1E-05 becomes 0"},
    {2, 4, FORMULA, "100000+1", "100001", 0},
    {3, 4, FORMULA, "0.1+0.2", "0.3", 0},
    {4, 4, FORMULA, "1.5E3/0.25", "6000", 0},
};

#define CELLS (int)(sizeof kSheet / sizeof kSheet[0])

/* Puts the cell in h's buffer in the ORX cell layout: formulas through
 * wksform, the rest by hand. */
static int put_cell(WKS *h, const struct cell *c)
{
    unsigned char *body = h->rec.body;
    int value_size = 0;
    int type = 0;
    if (c->kind == FORMULA) {
        memset(body, 0, WKS_ORX_CELL_PREFIX - 1);
        body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
        if (wksform(h, ' ', (int16_t)c->col, (int16_t)c->row, c->text) != 0) {
            fprintf(stderr, "formula %s does not compile\n", c->text);
            return 1;
        }
        return 0;
    }
    memset(body, 0, WKS_ORX_CELL_PREFIX - 1);
    body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    body[WKS_ORX_CELL(WKS_CELL_FORMAT)] = 0xFF; /* format byte: default */
    wksni(body + WKS_ORX_CELL(WKS_CELL_COLUMN), (int16_t)c->col);
    wksni(body + WKS_ORX_CELL(WKS_CELL_ROW), (int16_t)c->row);
    switch (c->kind) {
    case NUMBER:
        type = WKS_NUMBER;
        wksdi(body + WKS_ORX_CELL(WKS_CELL_VALUE), strtod(c->text, 0));
        value_size = 8;
        break;
    case INTEGER:
        type = WKS_INTEGER;
        wksni(body + WKS_ORX_CELL(WKS_CELL_VALUE), (int16_t)atoi(c->text));
        value_size = 2;
        break;
    default:
        type = WKS_LABEL;
        value_size = (int)strlen(c->text) + 1;
        memcpy(body + WKS_ORX_CELL(WKS_CELL_VALUE), c->text, (size_t)value_size);
        break;
    }
    wksni(h->rec.type, (int16_t)type);
    wksni(h->rec.length, (int16_t)(WKS_ORX_CELL(WKS_CELL_VALUE) + value_size));
    return 0;
}

static int write_direct(const char *path)
{
    WKS out, scratch;
    int i;
    if (!wksopen_wk1(&out, "", path)) {
        fprintf(stderr, "cannot create %s (error %d)\n", path, out.error);
        return 1;
    }
    memset(&scratch, 0, sizeof scratch);
    for (i = 0; i < CELLS; ++i) {
        if (put_cell(&scratch, &kSheet[i])) return 1;
        if (orx_rec_to_wk1_rec((const unsigned char *)&scratch.rec, (unsigned char *)&out.rec) != 0) return 1;
        if (wkswrec_wk1(&out) != 0) return 1;
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
        if (put_cell(&out, &kSheet[i])) return 1;
        if (wkswrec(&out) != 0) return 1;
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

static char g_grid[MAX_ROWS][MAX_COLS][FIELD];

/* Reads a CSV file as LibreOffice writes it: commas, text fields possibly in
 * double quotes with doubled quotes inside. */
static int read_csv(const char *path)
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
            if (col < MAX_COLS) g_grid[row][col][n] = '\0';
            n = 0;
            if (ch == ',') {
                ++col;
            } else {
                ++row;
                col = 0;
            }
            continue;
        }
        if (col < MAX_COLS && n + 1 < FIELD) g_grid[row][col][n++] = (char)ch;
    }
    fclose(f);
    return 0;
}

static int same_value(const char *got, const char *want)
{
    char *end_got, *end_want;
    double g = strtod(got, &end_got), w = strtod(want, &end_want);
    if (*got && *end_got == '\0' && *end_want == '\0') return fabs(g - w) <= 1e-9 * (fabs(w) > 1 ? fabs(w) : 1);
    return strcmp(got, want) == 0;
}

static int check(const char *csv)
{
    int i, failed = 0, passed = 0, skipped = 0;
    if (read_csv(csv)) return 1;
    for (i = 0; i < CELLS; ++i) {
        const struct cell *c = &kSheet[i];
        const char *got = g_grid[c->row][c->col];
        char name[16];
        snprintf(name, sizeof name, "%c%d", 'A' + c->col, c->row + 1);
        if (c->differs) {
            printf("  %-4s %-28s library %s, LibreOffice %s (not compared: %s)\n", name, c->text, c->want, got,
                   c->differs);
            ++skipped;
        } else if (same_value(got, c->want)) {
            ++passed;
        } else {
            printf("  %-4s %-28s want %s, LibreOffice computed \"%s\"\n", name, c->text, c->want, got);
            ++failed;
        }
    }
    printf("%s: %d cells agree, %d differ, %d not compared\n", csv, passed, failed, skipped);
    return failed != 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "write") == 0) {
        char direct[4096], orx[4096], converted[4096];
        snprintf(direct, sizeof direct, "%s/direct.wk1", argv[2]);
        snprintf(orx, sizeof orx, "%s/sheet.orx", argv[2]);
        snprintf(converted, sizeof converted, "%s/converted.wk1", argv[2]);
        return write_direct(direct) || write_converted(orx, converted);
    }
    if (argc == 3 && strcmp(argv[1], "check") == 0) return check(argv[2]);
    fprintf(stderr, "usage: wk1_sheet write DIR | wk1_sheet check CSV\n");
    return 2;
}
