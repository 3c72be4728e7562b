/*
 * Reading cells out of records and writing values into them (see
 * records.h).  Every field is read from inside the record's own length;
 * a record too short for what its type needs is skipped on loading and
 * copied unchanged on writing.
 */
#include "calc/records.h"

#include "wks/stream.h"

#include <bitset>
#include <cmath>
#include <cstring>

namespace wks::calc {

namespace {

constexpr uint16_t kWindow1 = 7;    // its bytes 6-7: the default column width
constexpr uint16_t kColumnWidth = 8;  // column (2 bytes), width (1 byte)
constexpr int kWindowWidthAt = 6;

// One record: its type, its body and the body's length.
struct View {
    uint16_t type;
    int length;
    const unsigned char *body;
};

View view_of(const WKS *h) { return View{rec_type(h), rec_length(h), h->rec.body}; }

struct CellRecord {
    bool ok;
    uint8_t format;
    int col, row;
    const unsigned char *value;  // the value area
    int room;                    // its bytes
};

CellRecord cell_of(const View &r, Layout layout) {
    const int base = cell_base(layout);
    if (r.length < base + kCellPositionSize) return CellRecord{false, 0, 0, 0, nullptr, 0};
    const unsigned char *b = r.body + base;
    return CellRecord{true, b[WKS_CELL_FORMAT], get_i16(b + WKS_CELL_COLUMN), get_i16(b + WKS_CELL_ROW),
                      b + WKS_CELL_VALUE, r.length - base - WKS_CELL_VALUE};
}

// Text up to a NUL or the end of the area.
std::size_t text_length(const unsigned char *p, int room) {
    const void *nul = std::memchr(p, 0, static_cast<std::size_t>(room));
    return nul ? static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - p) : static_cast<std::size_t>(room);
}

// WKS_OK, WKS_E_NO_FORMULA_MEMORY, or 1 for a record that cannot be taken.
int16_t take_cell(Sheet &sheet, const View &r, Layout layout, LoadReport &report) {
    const CellRecord c = cell_of(r, layout);
    if (!c.ok) return 1;
    const char *text = reinterpret_cast<const char *>(c.value);
    int16_t status;
    switch (r.type) {
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
int16_t take_name(Sheet &sheet, const View &r) {
    if (r.length < WKS_NAME_RECORD_SIZE) return WKS_OK;
    char name[WKS_NAME_TEXT_SIZE + 1] = {};
    std::memcpy(name, r.body, WKS_NAME_TEXT_SIZE);
    const unsigned char *c = r.body + WKS_NAME_COORDINATES;
    constexpr int w = kNameCoordinateSize;
    return sheet.add_name(name, get_i16(c), get_i16(c + w), get_i16(c + 2 * w), get_i16(c + 3 * w));
}

void take_width(Sheet &sheet, const View &r) {
    if (r.type == kWindow1 && r.length >= kWindowWidthAt + 2) sheet.set_default_width(get_i16(r.body + kWindowWidthAt));
    if (r.type == kColumnWidth && r.length >= 3) sheet.set_column_width(get_i16(r.body), r.body[2]);
}

// One record into the sheet: WKS_OK or WKS_E_NO_FORMULA_MEMORY.
int16_t take_record(Sheet &sheet, const View &r, Layout layout, LoadReport &counts) {
    if (r.type == WKS_BLANK || is_cell_type(r.type)) {
        const int16_t status = take_cell(sheet, r, layout, counts);
        if (status == WKS_E_NO_FORMULA_MEMORY) return WKS_E_NO_FORMULA_MEMORY;
        if (status != WKS_OK) ++counts.skipped;
        return WKS_OK;
    }
    if (r.type == WKS_RANGE_NAME || r.type == WKS_RANGE_NAME2)
        return take_name(sheet, r) == WKS_OK ? WKS_OK : WKS_E_NO_FORMULA_MEMORY;
    take_width(sheet, r);
    return WKS_OK;
}

const Formula *formula_at(const Sheet &sheet, const CellRecord &c) {
    const Cell *cell = sheet.find(c.col, c.row);
    if (!cell || cell->kind != CellKind::kFormula) return nullptr;
    return &sheet.formula(cell->ref);
}

unsigned char *record_bytes(WKS_RECORD &rec) { return reinterpret_cast<unsigned char *>(&rec); }

}  // namespace

int16_t load_sheet(Sheet &sheet, WKS *in, Layout layout, LoadReport *report) {
    LoadReport counts;
    for (;;) {
        const int16_t got = read_record(in, layout);
        if (got == -1) break;
        if (got != 0) return WKS_E_READ;
        if (take_record(sheet, view_of(in), layout, counts) != WKS_OK) return WKS_E_NO_FORMULA_MEMORY;
    }
    if (report) *report = counts;
    return WKS_OK;
}

namespace {

// What the records of an image will put into a sheet, counted from their
// headers and positions alone; a damaged record ends the count, and the
// loading that follows reports it.
Sheet::Size size_of_image(const FileImage &image, Layout layout) {
    Sheet::Size need;
    constexpr int kBlocks = kRows / Sheet::kPageRows;
    std::bitset<static_cast<std::size_t>(kColumns) * kBlocks> seen;
    const unsigned char *bytes = image.bytes.data();
    const std::size_t size = image.bytes.size();
    for (std::size_t at = image.records; size - at >= kRecordHeaderSize;) {
        const uint16_t type = get_u16(bytes + at);
        const int length = get_u16(bytes + at + 2);
        if (type == WKS_EOF || size - at - kRecordHeaderSize < static_cast<std::size_t>(length)) break;
        const View r{type, length, bytes + at + kRecordHeaderSize};
        at += kRecordHeaderSize + static_cast<std::size_t>(length);
        if (r.type != WKS_BLANK && !is_cell_type(r.type)) continue;
        const CellRecord c = cell_of(r, layout);
        if (!c.ok || c.col < 0 || c.col >= kColumns || c.row < 0 || c.row >= kRows) continue;
        const std::size_t page = static_cast<std::size_t>(c.col) * kBlocks + static_cast<std::size_t>(c.row) / Sheet::kPageRows;
        if (!seen[page]) ++need.pages;
        seen[page] = true;
        const std::size_t room = static_cast<std::size_t>(c.room);
        if (r.type == WKS_LABEL) need.text += room;
        if (r.type == WKS_STRING) need.strings += room < kMaxText ? room : kMaxText;
        if (r.type == WKS_FORMULA && room > kNumberSize) {
            ++need.formulas;
            need.code += room - kNumberSize;
        }
    }
    return need;
}

}  // namespace

int16_t load_image(Sheet &sheet, FileImage &image, Layout layout, LoadReport *report) {
    LoadReport counts;
    const unsigned char *bytes = image.bytes.data();
    const std::size_t size = image.bytes.size();
    std::size_t at = image.records;
    if (at <= size) sheet.reserve(size_of_image(image, layout));
    for (;;) {
        // An EOF record needs only its type word; any other record its
        // header and body, and the next record's type after it.
        if (at > size || size - at < 2) return wkserr(WKS_E_READ);
        const uint16_t type = get_u16(bytes + at);
        if (type == WKS_EOF) break;
        if (size - at < kRecordHeaderSize) return wkserr(WKS_E_READ);
        const int length = get_u16(bytes + at + 2);
        if (length > WKS_MAX_READ_BODY || size - at - kRecordHeaderSize < static_cast<std::size_t>(length))
            return wkserr(WKS_E_READ);
        if (take_record(sheet, View{type, length, bytes + at + kRecordHeaderSize}, layout, counts) != WKS_OK)
            return WKS_E_NO_FORMULA_MEMORY;
        at += kRecordHeaderSize + static_cast<std::size_t>(length);
    }
    image.eof = at;
    if (report) *report = counts;
    return WKS_OK;
}

bool value_changed(const Sheet &sheet, const Formula &f) {
    return !same_result(sheet, f.stored, f.value, kSameValue);
}

int16_t write_image(const Sheet &sheet, const FileImage &image, Layout layout, BlockWriter &out) {
    const unsigned char *bytes = image.bytes.data();
    if (!out.write(bytes, static_cast<uint32_t>(image.records))) return wkserr(WKS_E_WRITE);
    WKS_RECORD rec;
    for (std::size_t at = image.records; at < image.eof;) {
        const View r{get_u16(bytes + at), get_u16(bytes + at + 2), bytes + at + kRecordHeaderSize};
        const uint32_t whole = kRecordHeaderSize + static_cast<uint32_t>(r.length);
        at += whole;
        const CellRecord c = cell_of(r, layout);
        const Formula *f = c.ok && (r.type == WKS_FORMULA || r.type == WKS_STRING) ? formula_at(sheet, c) : nullptr;
        if (!f || !value_changed(sheet, *f) || (r.type == WKS_FORMULA && c.room < kNumberSize)) {
            if (!out.write(r.body - kRecordHeaderSize, whole)) return wkserr(WKS_E_WRITE);
            continue;
        }
        if (r.type == WKS_STRING) continue;  // replaced by the one written after its formula
        std::memcpy(record_bytes(rec), r.body - kRecordHeaderSize, whole);
        unsigned char *value = rec.body + cell_base(layout) + WKS_CELL_VALUE;
        put_f64(value, stored_field(f->value));
        if (!out.write(record_bytes(rec), whole)) return wkserr(WKS_E_WRITE);
        if (f->value.tag != Tag::kString) continue;
        // Its type-51 record: the prefix (ORX), format byte, column and row
        // stay those of the formula, the text and a NUL follow.
        const Value text = sheet.value_of(f->value);
        std::memcpy(value, text.text, text.length);
        value[text.length] = 0;
        const uint32_t length = static_cast<uint32_t>(value + text.length + 1 - rec.body);
        put_u16(rec.type, WKS_STRING);
        put_u16(rec.length, static_cast<uint16_t>(length));
        if (!out.write(record_bytes(rec), kRecordHeaderSize + length)) return wkserr(WKS_E_WRITE);
    }
    const std::size_t rest = image.bytes.size() - image.eof;
    if (!out.write(bytes + image.eof, static_cast<uint32_t>(rest))) return wkserr(WKS_E_WRITE);
    return WKS_OK;
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
