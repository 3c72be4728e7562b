/*
 * Lookup and the functions that describe cells and ranges.
 *
 * @VLOOKUP(x, range, offset) searches the range's first column (@HLOOKUP
 * its first row): a string x for the first cell whose text equals it in any
 * case; a number x (a blank counts 0) down the keys that are numbers, taking
 * the last key not above x before the first key above it.  offset (from 0)
 * picks the column (row) of the result.  Case is that of the sheet's
 * character set.  No match, or an offset outside the
 * range, is ERR.  @INDEX(range, column, row) counts both from 0.
 *
 * @@(text) is the value of the cell the text names: a range name of one
 * cell among the sheet's own (exact case first, then in capitals),
 * or a cell address such as B7 or $B$7.  Anything else is ERR.  The formula
 * cell @@ or @CELLPOINTER("contents") reads is noted as a precedent of the
 * formula being calculated (Evaluator::reach), which recalculation orders.
 *
 * @CELL(attribute, range) describes the range's first cell; @CELLPOINTER
 * describes the cell pointer's cell.  Attributes, in any case: address
 * ("$A$1"), col and row (from 1), contents (the value; 0 for a blank cell),
 * type ("b" blank, "l" label, "v" number or formula), prefix (a label's
 * alignment character, else ""), protect (1 when the format byte's
 * protection bit is set), width (the column's), format ("F2", "S2", "C2",
 * "P2", ",2", "+", "G", "D1".."D9", "T", "H"), filename.  @APP(name) is 1
 * when an add-in application of that name is attached: none ever is here.
 */
#include "calc/functions.h"

#include <cmath>
#include <cstring>

namespace wks::calc {

namespace {

constexpr uint8_t kProtected = 0x80;
constexpr uint8_t kFormatType = 0x70;
constexpr uint8_t kFormatDetail = 0x0F;
constexpr int kSpecialFormats = 7;

Value lookup(Evaluator &ev, const Value &x, const Range &r, double offset_arg, bool vertical) {
    const Sheet &sheet = ev.sheet();
    const double offset = std::trunc(offset_arg);
    const int span = vertical ? r.columns() : r.rows();
    if (!(offset >= 0 && offset < span)) return Value::error();
    const int keys = vertical ? r.rows() : r.columns();
    auto key_at = [&](int i) { return vertical ? sheet.value_at(r.c1, r.r1 + i) : sheet.value_at(r.c1 + i, r.r1); };
    int found = -1;
    if (x.tag == Tag::kString) {
        for (int i = 0; i < keys && found < 0; ++i) {
            const Value key = key_at(i);
            if (key.tag == Tag::kString && same_text(key, x, ev.letters())) found = i;
        }
    } else {
        const double want = number_of(x);
        for (int i = 0; i < keys; ++i) {
            const Value key = key_at(i);
            if (key.tag != Tag::kNumber) continue;
            if (key.number > want) break;
            found = i;
        }
    }
    if (found < 0) return Value::error();
    const int k = static_cast<int>(offset);
    return vertical ? sheet.value_at(r.c1 + k, r.r1 + found) : sheet.value_at(r.c1 + found, r.r1 + k);
}

Value vlookup_(Evaluator &ev, Value *a, int) { return lookup(ev, a[0], a[1].range, a[2].number, true); }
Value hlookup_(Evaluator &ev, Value *a, int) { return lookup(ev, a[0], a[1].range, a[2].number, false); }

Value index_(Evaluator &ev, Value *a, int) {
    const Range r = a[0].range;
    const double c = std::trunc(a[1].number), row = std::trunc(a[2].number);
    if (!(c >= 0 && c < r.columns() && row >= 0 && row < r.rows())) return Value::error();
    return ev.sheet().value_at(r.c1 + static_cast<int>(c), r.r1 + static_cast<int>(row));
}

Value cols_(Evaluator &, Value *a, int) { return Value::of(a[0].range.columns()); }
Value rows_(Evaluator &, Value *a, int) { return Value::of(a[0].range.rows()); }

// "B7", "$B$7": the cell, or false.
bool parse_address(const char *p, const char *end, int *col, int *row) {
    if (p < end && *p == '$') ++p;
    int letters = 0, c = 0;
    while (p < end && letters < 2 && ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))) {
        c = c * 26 + ((*p & ~0x20) - 'A' + 1);
        ++p, ++letters;
    }
    if (letters == 0 || c > kColumns) return false;
    if (p < end && *p == '$') ++p;
    long r = 0;
    int digits = 0;
    while (p < end && *p >= '0' && *p <= '9' && digits < 5) r = r * 10 + (*p++ - '0'), ++digits;
    if (p != end || digits == 0 || r < 1 || r > kRows) return false;
    *col = c - 1;
    *row = static_cast<int>(r - 1);
    return true;
}

Value indirect_(Evaluator &ev, Value *a, int) {
    const Value &s = a[0];
    int col, row;
    if (s.length < WKS_NAME_TEXT_SIZE) {  // a name a range-name record can hold
        char name[WKS_NAME_TEXT_SIZE];
        std::memcpy(name, s.text, s.length);
        name[s.length] = '\0';
        const SheetName *node = ev.sheet().find_name(name);
        if (!node) {
            for (uint32_t i = 0; i < s.length; ++i)
                if (name[i] >= 'a' && name[i] <= 'z') name[i] = static_cast<char>(name[i] - 32);
            node = ev.sheet().find_name(name);
        }
        if (node) {
            if (node->c1 != node->c2 || node->r1 != node->r2 || node->c1 < 0 || node->c1 >= kColumns ||
                node->r1 < 0 || node->r1 >= kRows)
                return Value::error();
            ev.reach(node->c1, node->r1);
            return ev.sheet().value_at(node->c1, node->r1);
        }
    }
    if (!parse_address(s.text, s.text + s.length, &col, &row)) return Value::error();
    ev.reach(col, row);
    return ev.sheet().value_at(col, row);
}

Value app_(Evaluator &, Value *, int) { return Value::of(0); }

// --- @CELL -------------------------------------------------------------------

bool is_attribute(const Evaluator &ev, const Value &a, const char *name) {
    const Value n = Value::string(name, static_cast<uint32_t>(std::strlen(name)));
    return same_text(a, n, ev.letters());
}

// The format code of a format byte.
Value format_code(Evaluator &ev, uint8_t format) {
    static const char kLetters[] = {'F', 'S', 'C', 'P', ','};
    static const char *const kSpecial[16] = {"+",  "G",  "D1", "D2", "D3", "T", "H", "D6",
                                             "D7", "D4", "D5", "D8", "D9", "G", "G", "G"};
    const int type = (format & kFormatType) >> 4, detail = format & kFormatDetail;
    if (type == kSpecialFormats) return ev.text(kSpecial[detail], std::strlen(kSpecial[detail]));
    if (type >= static_cast<int>(sizeof kLetters)) return ev.text("G", 1);
    char code[3] = {kLetters[type], static_cast<char>('0' + detail % 10), 0};
    std::size_t n = 2;
    if (detail >= 10) {
        code[1] = '1';
        code[2] = static_cast<char>('0' + detail - 10);
        n = 3;
    }
    return ev.text(code, n);
}

Value describe(Evaluator &ev, const Value &attribute, int col, int row) {
    const Sheet &sheet = ev.sheet();
    const Cell *cell = sheet.find(col, row);
    const CellKind kind = cell ? cell->kind : CellKind::kEmpty;
    const uint8_t format = cell && kind != CellKind::kEmpty ? cell->format : 0xFF;
    if (is_attribute(ev, attribute, "address")) {
        char text[8];
        std::size_t n = 0;
        text[n++] = '$';
        if (col >= 26) text[n++] = static_cast<char>('A' - 1 + col / 26);
        text[n++] = static_cast<char>('A' + col % 26);
        text[n++] = '$';
        char digits[6];
        int d = 0;
        for (int r = row + 1; r; r /= 10) digits[d++] = static_cast<char>('0' + r % 10);
        while (d) text[n++] = digits[--d];
        return ev.text(text, n);
    }
    if (is_attribute(ev, attribute, "col")) return Value::of(col + 1);
    if (is_attribute(ev, attribute, "row")) return Value::of(row + 1);
    if (is_attribute(ev, attribute, "contents")) {
        const Value v = sheet.value_at(col, row);
        return v.tag == Tag::kBlank ? Value::of(0) : v;
    }
    if (is_attribute(ev, attribute, "type")) {
        const char *t = kind == CellKind::kLabel ? "l" : kind == CellKind::kNumber || kind == CellKind::kFormula ? "v" : "b";
        return ev.text(t, 1);
    }
    if (is_attribute(ev, attribute, "prefix")) {
        if (kind != CellKind::kLabel || cell->length == 0) return Value::string("", 0);
        const char c = sheet.label_text(*cell)[0];
        const bool prefix = c == '\'' || c == '"' || c == '^' || c == '\\' || c == '|';
        return prefix ? ev.text(&c, 1) : Value::string("", 0);
    }
    if (is_attribute(ev, attribute, "protect")) return Value::of(cell && kind != CellKind::kEmpty && (format & kProtected) ? 1 : 0);
    if (is_attribute(ev, attribute, "width")) return Value::of(sheet.column_width(col));
    if (is_attribute(ev, attribute, "format")) return format_code(ev, format);
    if (is_attribute(ev, attribute, "filename")) {
        const char *name = ev.options().file_name ? ev.options().file_name : "";
        return ev.text(name, std::strlen(name));
    }
    return Value::error();
}

Value cell_(Evaluator &ev, Value *a, int) { return describe(ev, a[0], a[1].range.c1, a[1].range.r1); }

Value cellpointer_(Evaluator &ev, Value *a, int) {
    const Options &o = ev.options();
    const bool fixed = o.reproducible || o.pointer_col < 0 || o.pointer_col >= kColumns || o.pointer_row < 0 ||
                       o.pointer_row >= kRows;
    const int col = fixed ? 0 : o.pointer_col, row = fixed ? 0 : o.pointer_row;
    if (is_attribute(ev, a[0], "contents")) ev.reach(col, row);
    return describe(ev, a[0], col, row);
}

constexpr FunctionRow kLookupRows[] = {
    {"@VLOOKUP", "vrn", vlookup_}, {"@HLOOKUP", "vrn", hlookup_}, {"@INDEX", "rnn", index_}, {"@@", "s", indirect_},
};

constexpr FunctionRow kInfoRows[] = {
    {"@CELLPOINTER", "s", cellpointer_}, {"@COLS", "r", cols_}, {"@ROWS", "r", rows_}, {"@CELL", "sr", cell_},
    {"@APP", "s", app_},
};

}  // namespace

FunctionGroup lookup_functions() { return {kLookupRows, sizeof kLookupRows / sizeof kLookupRows[0]}; }
FunctionGroup info_functions() { return {kInfoRows, sizeof kInfoRows / sizeof kInfoRows[0]}; }

}  // namespace wks::calc
