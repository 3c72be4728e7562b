/*
 * Reading cells out of records and writing values into them (see
 * records.h).  Every field is read from inside the record's own length;
 * a record too short for what its type needs is skipped on loading and
 * copied unchanged on writing.
 */
#include "calc/records.h"

#include "wks/stream.h"

#include <cmath>
#include <cstring>

namespace wks::calc {

namespace {

constexpr uint16_t kWindow1 = 7;    // its bytes 6-7: the default column width
constexpr uint16_t kColumnWidth = 8;  // column (2 bytes), width (1 byte)
constexpr int kWindowWidthAt = 6;

struct CellRecord {
    bool ok;
    uint8_t format;
    int col, row;
    const unsigned char *value;  // the value area
    int room;                    // its bytes
};

CellRecord cell_of(const WKS *h, Layout layout) {
    const int base = cell_base(layout);
    const int length = rec_length(h);
    if (length < base + kCellPositionSize) return CellRecord{false, 0, 0, 0, nullptr, 0};
    const unsigned char *b = h->rec.body + base;
    return CellRecord{true, b[WKS_CELL_FORMAT], get_i16(b + WKS_CELL_COLUMN), get_i16(b + WKS_CELL_ROW),
                      b + WKS_CELL_VALUE, length - base - WKS_CELL_VALUE};
}

// Text up to a NUL or the end of the area.
std::size_t text_length(const unsigned char *p, int room) {
    const void *nul = std::memchr(p, 0, static_cast<std::size_t>(room));
    return nul ? static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - p) : static_cast<std::size_t>(room);
}

// WKS_OK, WKS_E_NO_FORMULA_MEMORY, or 1 for a record that cannot be taken.
int16_t take_cell(Sheet &sheet, const WKS *in, Layout layout, LoadReport &report) {
    const uint16_t type = rec_type(in);
    const CellRecord c = cell_of(in, layout);
    if (!c.ok) return 1;
    const char *text = reinterpret_cast<const char *>(c.value);
    int16_t status;
    switch (type) {
    case WKS_BLANK: status = sheet.set_blank(c.col, c.row, c.format); break;
    case WKS_INTEGER:
        if (c.room < kIntegerSize) return 1;
        status = sheet.set_number(c.col, c.row, c.format, get_i16(c.value));
        break;
    case WKS_NUMBER:
        if (c.room < kNumberSize) return 1;
        status = sheet.set_number(c.col, c.row, c.format, get_f64(c.value));
        break;
    case WKS_LABEL: status = sheet.set_label(c.col, c.row, c.format, text, text_length(c.value, c.room)); break;
    case WKS_STRING: return sheet.set_stored_string(c.col, c.row, text, text_length(c.value, c.room));
    default: {  // WKS_FORMULA
        if (c.room < kNumberSize + kCodeLengthSize) return 1;
        const unsigned char *code = c.value + kNumberSize;
        status = sheet.set_formula(c.col, c.row, c.format, code,
                                   static_cast<std::size_t>(c.room - kNumberSize), get_f64(c.value));
        if (status == WKS_OK) ++report.formulas;
    }
    }
    if (status == WKS_E_NO_FORMULA_MEMORY) return WKS_E_NO_FORMULA_MEMORY;
    if (status != WKS_OK) return 1;
    ++report.cells;
    return WKS_OK;
}

// A range-name record too short for its coordinates names nothing.
int16_t take_name(Sheet &sheet, const WKS *in) {
    if (rec_length(in) < WKS_NAME_RECORD_SIZE) return WKS_OK;
    char name[WKS_NAME_TEXT_SIZE + 1] = {};
    std::memcpy(name, in->rec.body, WKS_NAME_TEXT_SIZE);
    const unsigned char *c = in->rec.body + WKS_NAME_COORDINATES;
    constexpr int w = kNameCoordinateSize;
    return sheet.add_name(name, get_i16(c), get_i16(c + w), get_i16(c + 2 * w), get_i16(c + 3 * w));
}

void take_width(Sheet &sheet, const WKS *in) {
    const int length = rec_length(in);
    const unsigned char *b = in->rec.body;
    if (rec_type(in) == kWindow1 && length >= kWindowWidthAt + 2) sheet.set_default_width(get_i16(b + kWindowWidthAt));
    if (rec_type(in) == kColumnWidth && length >= 3) sheet.set_column_width(get_i16(b), b[2]);
}

// Copies the reader's current record into the writer's buffer.
void copy_record(const WKS *in, WKS *out) {
    std::memcpy(&out->rec, &in->rec, static_cast<std::size_t>(rec_length(in)) + kRecordHeaderSize);
}

const Formula *formula_at(const Sheet &sheet, const CellRecord &c) {
    const Cell *cell = sheet.find(c.col, c.row);
    if (!cell || cell->kind != CellKind::kFormula) return nullptr;
    return &sheet.formula(cell->ref);
}

// The type-51 record of a formula's string value, built in the writer's
// buffer from the formula record still there.
void put_string_record(WKS *out, Layout layout, const Value &text) {
    unsigned char *b = out->rec.body + cell_base(layout) + WKS_CELL_VALUE;
    // The prefix (ORX), format byte, column and row stay those of the formula.
    std::memcpy(b, text.text, text.length);
    b[text.length] = 0;
    set_rec(out, WKS_STRING, static_cast<uint16_t>(b + text.length + 1 - out->rec.body));
}

}  // namespace

int16_t load_sheet(Sheet &sheet, WKS *in, Layout layout, LoadReport *report) {
    LoadReport counts;
    for (;;) {
        const int16_t got = read_record(in, layout);
        if (got == -1) break;
        if (got != 0) return WKS_E_READ;
        const uint16_t type = rec_type(in);
        if (type == WKS_BLANK || is_cell_type(type)) {
            const int16_t status = take_cell(sheet, in, layout, counts);
            if (status == WKS_E_NO_FORMULA_MEMORY) return WKS_E_NO_FORMULA_MEMORY;
            if (status != WKS_OK) ++counts.skipped;
        } else if (type == WKS_RANGE_NAME || type == WKS_RANGE_NAME2) {
            if (take_name(sheet, in) != WKS_OK) return WKS_E_NO_FORMULA_MEMORY;
        } else {
            take_width(sheet, in);
        }
    }
    if (report) *report = counts;
    return WKS_OK;
}

int16_t write_values(const Sheet &sheet, WKS *in, WKS *out, Layout layout) {
    for (;;) {
        const int16_t got = read_record(in, layout);
        if (got == -1) return WKS_OK;
        if (got != 0) return WKS_E_READ;
        const uint16_t type = rec_type(in);
        const CellRecord c = cell_of(in, layout);
        const Formula *f = c.ok && (type == WKS_FORMULA || type == WKS_STRING) ? formula_at(sheet, c) : nullptr;
        if (type == WKS_STRING && f) continue;  // replaced by the one written after its formula
        copy_record(in, out);
        const bool has_value = type == WKS_FORMULA && f && c.room >= kNumberSize;
        if (has_value) put_f64(out->rec.body + cell_base(layout) + WKS_CELL_VALUE, stored_field(f->value));
        if (write_record(out) != 0) return WKS_E_WRITE;
        if (has_value && f->value.tag == Tag::kString) {
            put_string_record(out, layout, sheet.value_of(f->value));
            if (write_record(out) != 0) return WKS_E_WRITE;
        }
    }
}

bool same_result(const Sheet &sheet, const Result &a, const Result &b, double tolerance) {
    if (a.tag != b.tag) return false;
    if (a.tag == Tag::kNumber) {
        const double scale = std::fmax(std::fabs(a.number), std::fabs(b.number));
        return a.number == b.number || std::fabs(a.number - b.number) <= tolerance * scale;
    }
    if (a.tag != Tag::kString) return true;
    const Value x = sheet.value_of(a), y = sheet.value_of(b);
    return x.length == y.length && std::memcmp(x.text, y.text, x.length) == 0;
}

}  // namespace wks::calc
