/*
 * orx_example: writes a small ORX file with a header block and a few cells,
 * then reads it back and prints what it finds.  Written in C against
 * include/wks.h alone, as a host would.
 *
 *   orx_example [PATH]     (default: example.orx in the current directory)
 */
#include "wks.h"

#include <stdio.h>
#include <string.h>

/* Puts an ORX cell record in the handle: the ORX cell prefix, then the
 * WK1 cell (format, column, row, value bytes). */
static void put_cell(WKS *h, int type, int col, int row, const unsigned char *value, int size)
{
    memset(h->rec.body, 0, WKS_ORX_CELL_PREFIX - 1);
    h->rec.body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    h->rec.body[WKS_ORX_CELL(WKS_CELL_FORMAT)] = 0xFF;  /* format byte: default */
    wksni(h->rec.body + WKS_ORX_CELL(WKS_CELL_COLUMN), (int16_t)col);
    wksni(h->rec.body + WKS_ORX_CELL(WKS_CELL_ROW), (int16_t)row);
    memcpy(h->rec.body + WKS_ORX_CELL(WKS_CELL_VALUE), value, (size_t)size);
    wksni(h->rec.type, (int16_t)type);
    wksni(h->rec.length, (int16_t)(WKS_ORX_CELL(WKS_CELL_VALUE) + size));
}

/* The little-endian 16-bit field at p. */
static int field16(const unsigned char *p)
{
    return (int16_t)(p[0] | (p[1] << 8));
}

static int write_sheet(const char *path)
{
    WKS h;
    unsigned char header[WKS_HEADER_SIZE];
    unsigned char value[8];
    const char *label = "'Total";

    memset(header, 0, sizeof header);
    strcpy((char *)header, "example host data");
    if (!SetOrxHeader(header)) return 1;
    if (!wksopen(&h, "", path)) {
        fprintf(stderr, "cannot create %s: %s\n", path, wkser(h.error));
        return 1;
    }
    wksni(value, 42);
    put_cell(&h, WKS_INTEGER, 0, 0, value, 2);
    if (wkswrec(&h)) return 1;
    wksdi(value, 3.25);
    put_cell(&h, WKS_NUMBER, 1, 0, value, 8);
    if (wkswrec(&h)) return 1;
    put_cell(&h, WKS_LABEL, 0, 1, (const unsigned char *)label, (int)strlen(label) + 1);
    if (wkswrec(&h)) return 1;
    return wksclose(&h) != 0;
}

static int column_name(int col, char *out)
{
    if (col < 26) return sprintf(out, "%c", 'A' + col);
    return sprintf(out, "%c%c", 'A' + col / 26 - 1, 'A' + col % 26);
}

static int read_sheet(const char *path)
{
    WKS h;
    unsigned char header[WKS_HEADER_SIZE];
    int rc;

    set_open_for_load(1);
    if (!wksopen(&h, path, "")) {
        fprintf(stderr, "cannot open %s: %s\n", path, wkser(h.error));
        return 1;
    }
    if (GetOrxHeader(header)) printf("header block: \"%s\"\n", (const char *)header);
    printf("BOF version %d\n", field16(h.rec.body));
    while ((rc = wksnextc(&h)) == 0) {
        const unsigned char *cell = h.rec.body + WKS_ORX_CELL_PREFIX;  /* the WKS_CELL_* fields */
        const unsigned char *value = cell + WKS_CELL_VALUE;
        int type = field16(h.rec.type);
        char name[4];
        column_name(field16(cell + WKS_CELL_COLUMN), name);
        printf("%s%d: ", name, field16(cell + WKS_CELL_ROW) + 1);
        if (type == WKS_INTEGER) printf("integer %d\n", field16(value));
        else if (type == WKS_NUMBER) printf("number %g\n", wksid(value));
        else if (type == WKS_LABEL) printf("label %s\n", (const char *)value);
        else printf("cell of type %d\n", type);
    }
    wksclose(&h);
    if (rc != -1) {
        fprintf(stderr, "reading %s failed: %s\n", path, wkser((int16_t)rc));
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    const char *path = argc > 1 ? argv[1] : "example.orx";
    int32_t number;
    const char *version = wks_version(&number);
    printf("libwks %s\n", version);
    if (number / 10000 != WKS_VERSION_NUMBER / 10000) {  /* another major version: another ABI */
        fprintf(stderr, "built for libwks %s, loaded %s\n", WKS_VERSION, version);
        return 1;
    }
    if (write_sheet(path)) return 1;
    printf("wrote %s\n", path);
    return read_sheet(path);
}
