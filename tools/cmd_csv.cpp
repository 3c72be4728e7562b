/*
 * wks csv FILE: the sheet as CSV, the grid filled from A1 to the last cell
 * that holds something.  Plain, each cell gives what 'wks import' turns back
 * into a cell of the same value; with --values, what the sheet shows.
 *
 * A first pass finds the grid's size; the second writes each row as soon
 * as the next one starts, so memory holds one row.  A file whose cells do
 * not come row by row is held whole and written at the end.
 */
#include "tools/cell_view.h"
#include "tools/commands.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks csv [--values [--compute]] [--encoding SET] FILE\n"
    "\n"
    "Prints the sheet of FILE (\"-\" reads standard input) as CSV, from A1 to\n"
    "the last row and column that hold something (blank cells do not count).\n"
    "Numbers are written so that they read back exactly, labels without their\n"
    "alignment character, formulas as \"=\" and their text with every constant\n"
    "exact and ranges by their coordinates.  A label that would read back as\n"
    "a number or a formula (or is empty, or starts with an apostrophe) gets an\n"
    "apostrophe in front, as when typed into a sheet; a number cell holding\n"
    "ERR or NA is written as the formula =@ERR or =@NA.  'wks import' makes\n"
    "the same cells of it, except that alignment, format bytes, whole numbers\n"
    "kept as reals, ERR and NA in number cells (formulas then) and range names\n"
    "are not kept: 'wks dump --json' keeps them all.\n"
    "A damaged file is written up to the damage, which is then named.\n"
    "\n"
    "  --values        each cell as the sheet shows it: numbers in their cell's\n"
    "                  format (fixed, scientific, currency, comma, percent,\n"
    "                  general, +/-, dates and times as ISO 8601, hidden), the\n"
    "                  sheet's default format for cells without one, formulas\n"
    "                  by the value the file holds for them\n"
    "  --compute       with --values, formulas by the values they compute to\n"
    "                  (as 'wks calc' computes them), for files that hold no\n"
    "                  values of their own (0 for every formula)\n"
    "  --encoding SET  the character set of labels: auto (the default: the set\n"
    "                  of the file's variant, as info tells), cp437, cp850,\n"
    "                  cp1252, latin1 or lics; output is UTF-8\n";

using Position = std::pair<int, int>;  // (row, col)

// The field a label gives, protected where import would read it otherwise.
std::string label_field(const std::string &stored) {
    const std::string text = shown_text(CellContent{Kind::kLabel, kDefaultFormat, 0, stored, false, {}}, kDefaultFormat);
    bool whole;
    const bool protect = text.empty() || std::strchr("'=+", text[0]) || is_decimal_number(text, whole);
    return protect ? "'" + text : text;
}

std::string plain_field(const CellContent &c) {
    switch (c.kind) {
    case Kind::kInteger: return std::to_string(static_cast<int>(c.number));
    case Kind::kNumber:
        // ERR and NA (and any other NaN, which shows as ERR) as the formulas
        // that give them: no number reads back as one.
        if (!std::isfinite(c.number)) return std::isinf(c.number) && c.number < 0 ? "=@NA" : "=@ERR";
        return number_text(c.number);
    case Kind::kLabel: return label_field(c.text);
    default: return "=" + c.text;
    }
}

bool holds_value(Kind k) { return k == Kind::kInteger || k == Kind::kNumber || k == Kind::kLabel || k == Kind::kFormula; }
bool on_sheet(const Record &r) { return r.col >= 0 && r.col < kColumns && r.row >= 0 && r.row < kRows; }

// What a first pass over the file tells: the grid the cells that hold
// something fill, the sheet's default format, and whether the cells come
// row by row, so that each row can be written as soon as the next one
// starts.
struct Layout {
    int rows = 0, cols = 0;
    int sheet_format = kDefaultFormat;
    bool row_major = true;
};

Layout layout_of(Sheet &sheet) {
    Layout l;
    int last_row = 0;
    sheet.decode_formulas(false);
    Record r;
    while (sheet.next(r) == 1) {
        if (r.kind == Kind::kOther && sheet_format_of(r) >= 0) l.sheet_format = sheet_format_of(r);
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
    return l;
}

// Writes the lines of a grid from cells given row by row, holding only the
// row being filled.
class RowWriter {
public:
    RowWriter(const Layout &layout, bool values, Charset set, const ComputedValues *computed)
        : layout_(layout), values_(values), set_(set), computed_(computed),
          cells_(static_cast<std::size_t>(layout.cols)), filled_(static_cast<std::size_t>(layout.cols)) {}

    // The cell at (row, col) to fill in, after the rows before row are
    // written; null where the layout has no such cell or its row is written.
    CellContent *at(int row, int col) {
        if (row < row_ || row >= layout_.rows || col < 0 || col >= layout_.cols) return nullptr;
        while (row_ < row) write_row();
        filled_[static_cast<std::size_t>(col)] = true;
        return &cells_[static_cast<std::size_t>(col)];
    }
    // The filled cell at (row, col) of the row held, or null.
    CellContent *held(int row, int col) {
        const bool here = row == row_ && col >= 0 && col < layout_.cols && filled_[static_cast<std::size_t>(col)];
        return here ? &cells_[static_cast<std::size_t>(col)] : nullptr;
    }
    // Writes the rows not written yet.
    void finish() {
        while (row_ < layout_.rows) write_row();
    }

private:
    void write_row() {
        line_.clear();
        for (int col = 0; col < layout_.cols; ++col) {
            if (col) line_ += ',';
            const auto at = static_cast<std::size_t>(col);
            if (!filled_[at]) continue;
            CellContent &c = cells_[at];
            if (computed_) computed_->apply(col, row_, c);
            line_ += csv_field(to_utf8(values_ ? shown_text(c, layout_.sheet_format) : plain_field(c), set_));
            filled_[at] = false;
        }
        line_ += '\n';
        std::fwrite(line_.data(), 1, line_.size(), stdout);
        ++row_;
    }

    const Layout layout_;
    const bool values_;
    const Charset set_;
    const ComputedValues *computed_;
    std::vector<CellContent> cells_;  // of the row held, by column
    std::vector<bool> filled_;
    int row_ = 0;                     // the row held
    std::string line_;
};

}  // namespace

int cmd_csv(const Args &args) {
    Options o;
    Charset set;
    if (!parse_options("csv", args, {"--values", "--compute"}, {"--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("csv", "expects one FILE");
    if (!charset_option("csv", o, set)) return kUsage;
    const std::string shown = shown_name(o.positional[0]);
    const bool values = o.has("--values");
    if (o.has("--compute") && !values) return usage_error("csv", "--compute goes with --values");

    std::string path, why;
    if (!input_path(o.positional[0], path, why)) return fail(shown, why);
    Sheet sheet;  // no range names: CSV has no place for them, so formulas keep coordinates
    if (!sheet.open(path)) return fail(shown, sheet.error());
    const Charset named = set;
    set = resolve_charset(set, sheet.family());
    ComputedValues computed;
    if (o.has("--compute") && !computed.compute(path, why)) return fail(shown, why);
    const Layout layout = layout_of(sheet);
    if (!sheet.rewind()) return fail(shown, sheet.error());
    RowWriter writer(layout, values, set, o.has("--compute") ? &computed : nullptr);
    // Cells out of row order are all kept until the end, then given in order.
    std::map<Position, CellContent> grid;
    auto place = [&](int row, int col) { return layout.row_major ? writer.at(row, col) : &grid[{row, col}]; };
    auto find = [&](int row, int col) -> CellContent * {
        if (layout.row_major) return writer.held(row, col);
        const auto found = grid.find({row, col});
        return found == grid.end() ? nullptr : &found->second;
    };
    Problems problems(shown);
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
        if (CellContent *slot = writer.at(at.first, at.second)) *slot = std::move(c);
    writer.finish();
    tell_choice(shown, named, set, sheet.family());
    if (got < 0) fail(shown, sheet.error());
    return problems.finish() == kOk && got >= 0 ? kOk : kFailed;
}

}  // namespace tool
