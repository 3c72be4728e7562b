/*
 * The sheet's storage (see sheet.h).  Invariants: a page exists for every
 * (column, 64-row block) that ever held a cell; page_formulas_ counts the
 * formula cells of each page; a formula whose cell was overwritten stays in
 * formulas_ marked kReplaced, so formula numbers never change.  Any change
 * to the formulas drops the cached recalculation order.
 */
#include "calc/sheet.h"

#include "calc/code_check.h"
#include "wks/layout.h"

#include <cstring>

namespace wks::calc {

namespace {

constexpr uint64_t kExponentBits = 0x7FF0000000000000ull;
constexpr uint64_t kFractionBits = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t kSignBit = 0x8000000000000000ull;
constexpr uint64_t kStringMark = 0x7FF8000000000000ull;  // exponent all ones, fraction non-zero

constexpr uint8_t kMinWidth = 1, kMaxWidth = 240;

uint64_t bits_of(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
double double_of(uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

bool is_prefix(char c) { return c == '\'' || c == '"' || c == '^' || c == '\\' || c == '|'; }

Result number(double v) {
    Result r{};
    r.tag = Tag::kNumber;
    r.number = v;
    return r;
}

}  // namespace

Result stored_result(double field) {
    const uint64_t b = bits_of(field);
    if ((b & kExponentBits) != kExponentBits) return number(field);
    Result r{};
    if (b & kFractionBits) {  // a string: its text follows in a record of its own
        r.tag = Tag::kString;
        r.length = 0;
        r.text = 0;
    } else {
        r.tag = (b & kSignBit) ? Tag::kNa : Tag::kErr;
    }
    return r;
}

double stored_field(const Result &r) {
    switch (r.tag) {
    case Tag::kNumber: return r.number;
    case Tag::kString: return double_of(kStringMark);
    case Tag::kNa: return double_of(kExponentBits | kSignBit);
    default: return double_of(kExponentBits);
    }
}

Sheet::Sheet() = default;

void Sheet::reserve(const Size &size) {
    page_formulas_.reserve(size.pages);
    cells_.reserve(size.pages * kPageRows);
    formulas_.reserve(size.formulas);
    code_.reserve(size.code);
    text_.reserve(size.text);
    strings_.reserve(size.strings);
}

int16_t Sheet::place(int col, int row, Cell **out) {
    if (col < 0 || col >= kColumns) return WKS_E_COLUMN_RANGE;
    if (row < 0 || row >= kRows) return WKS_E_ROW_RANGE;
    if (!ready_) {
        if (!page_of_.append(static_cast<std::size_t>(kColumns) * kPagesPerColumn, kNoPage))
            return WKS_E_NO_FORMULA_MEMORY;
        ready_ = true;
    }
    uint32_t &slot = page_of_[static_cast<std::size_t>(col) * kPagesPerColumn + row / kPageRows];
    if (slot == kNoPage) {
        const Cell empty{CellKind::kEmpty, 0, 0, 0, {0}};
        if (!page_formulas_.reserve(page_formulas_.size() + 1) || !cells_.append(kPageRows, empty))
            return WKS_E_NO_FORMULA_MEMORY;
        page_formulas_.push(0);
        slot = static_cast<uint32_t>(page_formulas_.size());
    }
    *out = &cells_[static_cast<std::size_t>(slot - 1) * kPageRows + row % kPageRows];
    return WKS_OK;
}

void Sheet::forget_formula(Cell &c) {
    if (c.kind != CellKind::kFormula) return;
    Formula &f = formulas_[c.ref];
    f.flags |= kReplaced;
    --page_formulas_[page_of_[static_cast<std::size_t>(f.col) * kPagesPerColumn + f.row / kPageRows] - 1];
    order_valid_ = false;
    reached_.clear();
}

int16_t Sheet::keep_text(const char *text, std::size_t length, uint32_t *offset) {
    *offset = static_cast<uint32_t>(text_.size());
    return text_.append(text, length) ? WKS_OK : WKS_E_NO_FORMULA_MEMORY;
}

int16_t Sheet::set_blank(int col, int row, uint8_t format) {
    Cell *c;
    if (const int16_t status = place(col, row, &c)) return status;
    forget_formula(*c);
    *c = Cell{CellKind::kBlank, format, 0, 0, {0}};
    return WKS_OK;
}

int16_t Sheet::set_number(int col, int row, uint8_t format, double value) {
    Cell *c;
    if (const int16_t status = place(col, row, &c)) return status;
    forget_formula(*c);
    *c = Cell{CellKind::kNumber, format, 0, 0, {value}};
    return WKS_OK;
}

int16_t Sheet::set_label(int col, int row, uint8_t format, const char *text, std::size_t length) {
    Cell *c;
    if (const int16_t status = place(col, row, &c)) return status;
    if (length > UINT32_MAX) return WKS_E_NO_FORMULA_MEMORY;
    uint32_t offset;
    if (keep_text(text, length, &offset) != WKS_OK) return WKS_E_NO_FORMULA_MEMORY;
    forget_formula(*c);
    *c = Cell{CellKind::kLabel, format, 0, offset, {0}};
    c->length = static_cast<uint32_t>(length);
    return WKS_OK;
}

int16_t Sheet::set_formula(int col, int row, uint8_t format, const unsigned char *code, std::size_t available,
                           double stored) {
    Cell *c;
    if (const int16_t status = place(col, row, &c)) return status;
    const CodeShape shape = check_code(code, available, col, row);
    const std::size_t kept = shape.ok ? shape.length + kCodeLengthSize : 0;
    if (!code_.reserve(code_.size() + kept) || !formulas_.reserve(formulas_.size() + 1)) return WKS_E_NO_FORMULA_MEMORY;

    Formula f{};
    f.code = static_cast<uint32_t>(code_.size());
    f.length = shape.ok ? shape.length : 0;
    f.col = static_cast<uint8_t>(col);
    f.row = static_cast<uint16_t>(row);
    f.flags = shape.ok ? 0 : kMalformed;
    f.stored = stored_result(stored);
    f.value = f.stored;
    if (shape.ok) {
        unsigned char word[kCodeLengthSize] = {static_cast<unsigned char>(f.length & 0xFF),
                                           static_cast<unsigned char>(f.length >> 8)};
        code_.append(word, kCodeLengthSize);
        code_.append(code + kCodeLengthSize, shape.length);
    }
    forget_formula(*c);
    formulas_.push(f);
    *c = Cell{CellKind::kFormula, format, 0, static_cast<uint32_t>(formulas_.size() - 1), {0}};
    ++page_formulas_[page_of_[static_cast<std::size_t>(col) * kPagesPerColumn + row / kPageRows] - 1];
    order_valid_ = false;
    reached_.clear();
    return WKS_OK;
}

int16_t Sheet::set_stored_string(int col, int row, const char *text, std::size_t length) {
    const Cell *c = find(col, row);
    if (!c || c->kind != CellKind::kFormula) return WKS_OK;
    if (length > kMaxText) length = kMaxText;
    const uint32_t offset = static_cast<uint32_t>(strings_.size());
    if (!strings_.append(text, length)) return WKS_E_NO_FORMULA_MEMORY;
    Formula &f = formulas_[c->ref];
    f.stored.tag = Tag::kString;
    f.stored.text = offset;
    f.stored.length = static_cast<uint32_t>(length);
    f.value = f.stored;
    return WKS_OK;
}

const Cell *Sheet::find(int col, int row) const {
    if (!ready_ || col < 0 || col >= kColumns || row < 0 || row >= kRows) return nullptr;
    const uint32_t slot = page_of_[static_cast<std::size_t>(col) * kPagesPerColumn + row / kPageRows];
    if (slot == kNoPage) return nullptr;
    return &cells_[static_cast<std::size_t>(slot - 1) * kPageRows + row % kPageRows];
}

bool Sheet::page_has_formulas(int col, int row) const {
    if (!ready_) return false;
    const uint32_t slot = page_of_[static_cast<std::size_t>(col) * kPagesPerColumn + row / kPageRows];
    return slot != kNoPage && page_formulas_[slot - 1] != 0;
}

Value Sheet::value_of(const Result &r) const {
    switch (r.tag) {
    case Tag::kNumber: return Value::of(r.number);
    case Tag::kString: return Value::string(r.length ? strings_.data() + r.text : "", r.length);
    case Tag::kNa: return Value::na();
    default: return Value::error();
    }
}

Value Sheet::value_at(int col, int row) const {
    const Cell *c = find(col, row);
    if (!c) return Value::blank();
    switch (c->kind) {
    case CellKind::kNumber: return c->number - c->number == 0 ? Value::of(c->number) : Value::error();  // NaN, inf: ERR
    case CellKind::kLabel: {
        const char *text = text_.data() + c->ref;
        const uint32_t skip = c->length && is_prefix(text[0]) ? 1 : 0;
        return Value::string(c->length ? text + skip : "", c->length - skip);
    }
    case CellKind::kFormula: return value_of(formulas_[c->ref].value);
    default: return Value::blank();
    }
}

int16_t Sheet::set_value(uint32_t i, const Value &v) {
    Formula &f = formulas_[i];
    switch (v.tag) {
    case Tag::kNumber: f.value = number(v.number); return WKS_OK;
    case Tag::kBlank: f.value = number(0); return WKS_OK;
    case Tag::kNa:
    case Tag::kErr:
    case Tag::kRange: f.value = Result{}; f.value.tag = v.tag == Tag::kNa ? Tag::kNa : Tag::kErr; return WKS_OK;
    case Tag::kString: break;
    }
    if (v.length > f.room) {
        // The text may itself lie in the store that is about to grow.
        const bool inside = v.length && v.text >= strings_.data() && v.text < strings_.data() + strings_.size();
        const std::size_t from = inside ? static_cast<std::size_t>(v.text - strings_.data()) : 0;
        if (!strings_.reserve(strings_.size() + v.length)) {
            f.value = Result{};
            f.value.tag = Tag::kErr;
            return WKS_E_NO_FORMULA_MEMORY;
        }
        f.room_at = static_cast<uint32_t>(strings_.size());
        f.room = static_cast<uint16_t>(v.length);
        strings_.append(inside ? strings_.data() + from : v.text, v.length);
    } else if (v.length) {
        std::memmove(strings_.data() + f.room_at, v.text, v.length);
    }
    f.value = Result{};
    f.value.tag = Tag::kString;
    f.value.length = v.length;
    f.value.text = f.room_at;
    return WKS_OK;
}

void Sheet::set_flag(uint32_t i, uint8_t flag, bool on) {
    if (on) formulas_[i].flags |= flag;
    else formulas_[i].flags = static_cast<uint8_t>(formulas_[i].flags & ~flag);
}

std::size_t Sheet::memory_bytes() const {
    return page_of_.capacity_bytes() + cells_.capacity_bytes() + page_formulas_.capacity_bytes() +
           text_.capacity_bytes() + code_.capacity_bytes() + strings_.capacity_bytes() +
           formulas_.capacity_bytes() + circular_.capacity_bytes() + order_.capacity_bytes() +
           reached_.capacity_bytes() + names_.capacity_bytes();
}

int16_t Sheet::add_name(const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2) {
    if (find_name(name)) return WKS_OK;
    SheetName n{};
    std::strncpy(n.name, name, WKS_NAME_TEXT_SIZE);
    n.c1 = c1, n.r1 = r1, n.c2 = c2, n.r2 = r2;
    return names_.push(n) ? WKS_OK : WKS_E_NO_FORMULA_MEMORY;
}

// A file holds few names and @@ is rare: a walk through them is enough.
const SheetName *Sheet::find_name(const char *name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (std::strncmp(names_[i].name, name, WKS_NAME_TEXT_SIZE + 1) == 0) return &names_[i];
    return nullptr;
}

int Sheet::column_width(int col) const {
    if (col < 0 || col >= kColumns || widths_[col] == 0) return default_width_;
    return widths_[col];
}

namespace {
int clamp_width(int width) { return width < kMinWidth ? kMinWidth : width > kMaxWidth ? kMaxWidth : width; }
}  // namespace

void Sheet::set_column_width(int col, int width) {
    if (col >= 0 && col < kColumns) widths_[col] = static_cast<uint8_t>(clamp_width(width));
}

void Sheet::set_default_width(int width) { default_width_ = clamp_width(width); }

}  // namespace wks::calc
