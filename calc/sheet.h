/*
 * A worksheet held for calculation: up to 256 columns by 8192 rows of the
 * cells worksheet files carry (blank, integer and number, label, formula),
 * each formula with its code, the value the file stored for it and the value
 * calculation gives it.
 *
 * Memory grows with the cells present, never with the sheet's area: cells
 * live in pages of 64 rows of one column, found through a fixed table of
 * 32,768 page slots; label text, formula code, string values and the
 * file's range names each sit in one store of their own.  A full 256 x 8192
 * sheet is 2,097,152 cells of 16 bytes plus what its formulas need.  Every call that may allocate reports
 * WKS_E_NO_FORMULA_MEMORY instead of throwing and leaves the sheet as it was.
 */
#ifndef WKS_CALC_SHEET_H
#define WKS_CALC_SHEET_H

#include "calc/buffer.h"
#include "calc/value.h"
#include "wks.h"
#include "wks/layout.h"

#include <cstddef>
#include <cstdint>

namespace wks::calc {

// The calculation core's calls answer with the library's error codes
// (wks.h): WKS_OK, WKS_E_COLUMN_RANGE or WKS_E_ROW_RANGE for a cell off the
// sheet, WKS_E_READ and WKS_E_WRITE from the record streams, and
// WKS_E_NO_FORMULA_MEMORY (42, as for wksform) when the heap refused.

enum class CellKind : uint8_t { kEmpty, kBlank, kNumber, kLabel, kFormula };

struct Cell {
    CellKind kind;
    uint8_t format;     // the cell's format byte, as in the file
    uint16_t reserved;
    uint32_t ref;       // kLabel: offset of its text; kFormula: its formula number
    union {
        double number;    // kNumber
        uint32_t length;  // kLabel: bytes of text, the alignment prefix included
    };
};
static_assert(sizeof(Cell) == 16, "a cell is 16 bytes");

// A formula's value as the sheet keeps it: a number, a string, ERR or NA.
struct Result {
    Tag tag;
    uint32_t length;  // kString
    union {
        double number;  // kNumber
        uint32_t text;  // kString: offset in the string store
    };
};

enum FormulaFlags : uint8_t {
    kMalformed = 1,  // code the decoder would refuse: evaluates to ERR
    kCircular = 2,   // part of a circular reference (set by recalculation)
    kReplaced = 4,   // its cell now holds something else
};

// Formula `from` read formula `to`'s cell through @@ or @CELLPOINTER while
// it was calculated: a precedent no reference in its code names.
struct Reach {
    uint32_t from, to;
};

// A range name of the sheet's file, as its range-name record gives it.
struct SheetName {
    char name[WKS_NAME_TEXT_SIZE + 1];  // NUL-terminated
    int16_t c1, r1, c2, r2;
};

struct Formula {
    uint32_t code;      // offset of its code (length word, items) in the code store
    uint16_t length;    // bytes of code items, the end item included
    uint8_t col;
    uint8_t flags;
    uint16_t row;
    uint16_t room;      // bytes of the string store reserved for value's text...
    uint32_t room_at;   // ... at this offset
    Result value;       // what calculation gave it; the stored value until then
    Result stored;      // what the file held
};

class Sheet {
public:
    Sheet();
    ~Sheet() = default;
    Sheet(const Sheet &) = delete;
    Sheet &operator=(const Sheet &) = delete;

    // What a file's records will need, counted before loading them, so that
    // each store is allocated once at its full size instead of growing by
    // copies (each copy touches fresh memory: page faults are most of the
    // cost of loading a large sheet).  Counts may be upper bounds.
    struct Size {
        std::size_t pages = 0;     // distinct (column, 64-row block) pairs with a cell
        std::size_t formulas = 0;
        std::size_t code = 0;      // bytes of formula code
        std::size_t text = 0;      // bytes of label text
        std::size_t strings = 0;   // bytes of stored string values
    };
    // A hint: a store the heap cannot make room for grows as cells come.
    void reserve(const Size &size);

    // Setting a cell replaces whatever the cell held.  Each returns WKS_OK,
    // WKS_E_COLUMN_RANGE / WKS_E_ROW_RANGE for a cell outside the sheet, or WKS_E_NO_FORMULA_MEMORY.
    int16_t set_blank(int col, int row, uint8_t format);
    int16_t set_number(int col, int row, uint8_t format, double value);
    // Label text as files hold it: the alignment prefix, then the text.
    int16_t set_label(int col, int row, uint8_t format, const char *text, std::size_t length);
    // code: formula code from its 2-byte length word on, of which `available`
    // bytes may be read.  Code the decoder would refuse is kept and marked
    // kMalformed.  `stored` is the file's value field (the special values of
    // the file formats map to ERR and NA; see stored_result).
    int16_t set_formula(int col, int row, uint8_t format, const unsigned char *code, std::size_t available,
                        double stored);
    // The string a file stores for the formula at (col, row) in the record
    // that follows it; ignored when that cell holds no formula.
    int16_t set_stored_string(int col, int row, const char *text, std::size_t length);

    // The cell at (col, row), or null when nothing was set there.
    const Cell *find(int col, int row) const;
    // What a reference to (col, row) yields: blank, a number (ERR for a
    // number cell that holds a NaN or an infinity), a label's text
    // without its alignment prefix, or the formula's current value.
    Value value_at(int col, int row) const;
    Value value_of(const Result &r) const;
    const char *label_text(const Cell &c) const { return text_.data() + c.ref; }

    uint32_t formula_count() const { return static_cast<uint32_t>(formulas_.size()); }
    const Formula &formula(uint32_t i) const { return formulas_[i]; }
    // Its code items; the code from its length word on.
    const unsigned char *code_of(const Formula &f) const { return code_.data() + f.code + kCodeLengthSize; }
    const unsigned char *code_with_length(const Formula &f) const { return code_.data() + f.code; }
    // Sets formula i's value; a string is copied into the sheet.  WKS_E_NO_FORMULA_MEMORY
    // leaves ERR as the value.
    int16_t set_value(uint32_t i, const Value &v);
    void set_flag(uint32_t i, uint8_t flag, bool on);

    // Formula cells in a page, for walking ranges without visiting empty areas.
    static constexpr int kPageRows = 64;
    bool page_has_formulas(int col, int row) const;

    // Bytes the sheet holds on the heap.
    std::size_t memory_bytes() const;

    // The range names @@ looks up: the sheet's own, so that calculating a
    // file never touches the process-wide range-name table.  A name the
    // sheet holds already keeps its first range.  WKS_OK or
    // WKS_E_NO_FORMULA_MEMORY.
    int16_t add_name(const char *name, int16_t c1, int16_t r1, int16_t c2, int16_t r2);
    // The range named exactly `name` (NUL-terminated), or null.
    const SheetName *find_name(const char *name) const;

    // Column widths for @CELL("width"): a column's own, else the default.
    int column_width(int col) const;
    void set_column_width(int col, int width);
    void set_default_width(int width);

    // Formula cells found in circular references by the last recalculation.
    const Buffer<uint32_t> &circular() const { return circular_; }
    Buffer<uint32_t> &circular() { return circular_; }
    // The order of the last recalculation, kept while no formula changes.
    Buffer<uint32_t> &order() { return order_; }
    // The precedents recalculation found through @@ and @CELLPOINTER, sorted
    // by `from`, then `to`, each once; forgotten when a formula changes.
    const Buffer<Reach> &reached() const { return reached_; }
    Buffer<Reach> &reached() { return reached_; }
    bool order_valid() const { return order_valid_; }
    void set_order_valid(bool valid) { order_valid_ = valid; }

private:
    static constexpr int kPagesPerColumn = kRows / kPageRows;
    static constexpr uint32_t kNoPage = 0;

    int16_t place(int col, int row, Cell **out);
    void forget_formula(Cell &c);
    int16_t keep_text(const char *text, std::size_t length, uint32_t *offset);

    Buffer<uint32_t> page_of_;        // per (col, row / 64): page number + 1, or kNoPage
    Buffer<Cell> cells_;              // pages of kPageRows cells
    Buffer<uint16_t> page_formulas_;  // formula cells per page
    Buffer<char> text_;               // label text
    Buffer<unsigned char> code_;      // formula code items
    Buffer<char> strings_;            // formula string values
    Buffer<Formula> formulas_;
    Buffer<uint32_t> circular_;
    Buffer<uint32_t> order_;
    Buffer<Reach> reached_;
    Buffer<SheetName> names_;
    bool order_valid_ = false;
    bool ready_ = false;              // the page table exists
    uint8_t widths_[kColumns] = {};   // 0: the default
    int default_width_ = 9;
};

// The value a file's 8-byte value field stands for: ERR and NA have special
// values (all exponent bits set, fraction zero: sign clear for ERR, set for
// NA); every other bit pattern that is no finite number counts as ERR.
Result stored_result(double field);
// The value field written for a result: the number, or the special value of
// ERR, NA, or a string (a NaN; its text follows in a record of its own).
double stored_field(const Result &r);

}  // namespace wks::calc

#endif
