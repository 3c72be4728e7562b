/*
 * The two passes over a sheet that csv and html share.  A formula's string
 * value comes in the record after the formula, so the row held is the one
 * the string's formula is in; cells out of row order are all kept until the
 * end, then given in order.
 */
#include "tools/grid.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tool {
namespace {

constexpr int kWindow1 = 7;       // its bytes 6-7: the sheet's column width
constexpr int kWindowWidthAt = 6;
constexpr int kColumnWidth = 8;   // a column's word, then its width byte
constexpr int kMaxWidth = 240;

using Position = std::pair<int, int>;  // (row, col)

bool holds_value(Kind k) { return k == Kind::kInteger || k == Kind::kNumber || k == Kind::kLabel || k == Kind::kFormula; }
bool on_sheet(const Record &r) { return r.col >= 0 && r.col < kColumns && r.row >= 0 && r.row < kRows; }
int u16(const unsigned char *p) { return p[0] | p[1] << 8; }

// Gives the rows of a grid from cells filled in row by row, holding only the
// row being filled.
class RowGiver {
public:
    RowGiver(const Layout &layout, const ComputedValues *computed, const RowSink &sink)
        : layout_(layout), computed_(computed), sink_(sink), cells_(static_cast<std::size_t>(layout.cols)),
          filled_(static_cast<std::size_t>(layout.cols)) {}

    // The cell at (row, col) to fill in, after the rows before row are
    // given; null where the layout has no such cell or its row is given.
    CellContent *at(int row, int col) {
        if (row < row_ || row >= layout_.rows || col < 0 || col >= layout_.cols) return nullptr;
        while (row_ < row) give_row();
        filled_[static_cast<std::size_t>(col)] = true;
        return &cells_[static_cast<std::size_t>(col)];
    }
    // The filled cell at (row, col) of the row held, or null.
    CellContent *held(int row, int col) {
        const bool here = row == row_ && col >= 0 && col < layout_.cols && filled_[static_cast<std::size_t>(col)];
        return here ? &cells_[static_cast<std::size_t>(col)] : nullptr;
    }
    // Gives the rows not given yet.
    void finish() {
        while (row_ < layout_.rows) give_row();
    }

private:
    void give_row() {
        if (computed_)
            for (int col = 0; col < layout_.cols; ++col)
                if (filled_[static_cast<std::size_t>(col)]) computed_->apply(col, row_, cells_[static_cast<std::size_t>(col)]);
        sink_(row_, cells_, filled_);
        std::fill(filled_.begin(), filled_.end(), false);
        ++row_;
    }

    const Layout &layout_;
    const ComputedValues *computed_;
    const RowSink &sink_;
    std::vector<CellContent> cells_;  // of the row held, by column
    std::vector<bool> filled_;
    int row_ = 0;                     // the row held
};

}  // namespace

Layout layout_of(Sheet &sheet) {
    Layout l;
    int last_row = 0, sheet_width = kDefaultWidth;
    std::vector<int> given(kColumns, 0);  // COLW widths, 0 where none
    sheet.decode_formulas(false);
    Record r;
    while (sheet.next(r) == 1) {
        if (r.kind == Kind::kOther && sheet_format_of(r) >= 0) l.sheet_format = sheet_format_of(r);
        if (r.kind == Kind::kOther && r.type == kWindow1 && r.length >= kWindowWidthAt + 2) {
            const int w = u16(r.body + kWindowWidthAt);
            if (w > 0 && w <= kMaxWidth) sheet_width = w;
        }
        if (r.kind == Kind::kOther && r.type == kColumnWidth && r.length >= 3 && u16(r.body) < kColumns)
            given[static_cast<std::size_t>(u16(r.body))] = std::min<int>(r.body[2], kMaxWidth);
        // A string value goes to the formula just before it: that too has to
        // be in the row held.
        const bool string = r.kind == Kind::kString;
        if (!(string || holds_value(r.kind)) || !on_sheet(r)) continue;
        if (r.row < last_row) l.row_major = false;
        last_row = std::max(last_row, r.row);
        if (string) continue;
        // A formula whose code does not decode holds nothing: only the one
        // that would widen the grid has to be tried here.
        if ((r.row >= l.rows || r.col >= l.cols) && !sheet.decodes(r)) continue;
        l.rows = std::max(l.rows, r.row + 1);
        l.cols = std::max(l.cols, r.col + 1);
    }
    sheet.decode_formulas(true);
    for (std::size_t c = 0; c < given.size(); ++c) l.widths[c] = given[c] ? given[c] : sheet_width;
    return l;
}

int read_grid(Sheet &sheet, const Layout &layout, const ComputedValues *computed, Problems &problems,
              const RowSink &sink) {
    RowGiver giver(layout, computed, sink);
    std::map<Position, CellContent> grid;  // the cells, when they come out of row order
    auto place = [&](int row, int col) { return layout.row_major ? giver.at(row, col) : &grid[{row, col}]; };
    auto find = [&](int row, int col) -> CellContent * {
        if (layout.row_major) return giver.held(row, col);
        const auto found = grid.find({row, col});
        return found == grid.end() ? nullptr : &found->second;
    };
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        if (r.kind == Kind::kBad) problems.report("record " + std::to_string(r.index) + ": " + r.problem);
        if (r.kind == Kind::kString) {
            // The string value of the formula just before it.
            CellContent *formula = find(r.row, r.col);
            if (formula && formula->kind == Kind::kFormula) formula->is_string = true, formula->string = r.text;
        }
        if (!holds_value(r.kind)) continue;
        if (!on_sheet(r)) {
            problems.report("record " + std::to_string(r.index) + ": cell " + cell_name(r.col, r.row) +
                            " lies outside the sheet (A1..IV8192) and is not shown");
            continue;
        }
        CellContent *c = place(r.row, r.col);
        if (!c) continue;  // the file changed since the first pass
        c->kind = r.kind;
        c->format = r.format;
        c->number = r.kind == Kind::kInteger ? r.integer : r.number;
        c->text.swap(r.text);
        c->is_string = false;
        c->string.clear();
    }
    for (auto &[at, c] : grid)
        if (CellContent *slot = giver.at(at.first, at.second)) *slot = std::move(c);
    giver.finish();
    return got;
}

}  // namespace tool
