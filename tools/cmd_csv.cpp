/*
 * wks csv FILE: the sheet as CSV, the grid filled from A1 to the last cell
 * that holds something.  Plain, each cell gives what 'wks import' turns back
 * into a cell of the same value; with --values, what the sheet shows.
 */
#include "tools/cell_view.h"
#include "tools/commands.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

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
    "apostrophe in front, as when typed into a sheet.  'wks import' makes the\n"
    "same cells of it, except that alignment, format bytes, whole numbers kept\n"
    "as reals and range names are not kept: 'wks dump --json' keeps them all.\n"
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
    "  --encoding SET  the character set of labels: cp437 (the default),\n"
    "                  cp850, cp1252 or latin1; output is UTF-8\n";

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
    case Kind::kNumber: return number_text(c.number);
    case Kind::kLabel: return label_field(c.text);
    default: return "=" + c.text;
    }
}

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
    ComputedValues computed;
    if (o.has("--compute") && !computed.compute(path, why)) return fail(shown, why);
    std::map<Position, CellContent> grid;
    int rows = 0, cols = 0, sheet_format = kDefaultFormat;
    Problems problems(shown);
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        CellContent c{r.kind, r.format, r.number, r.text, false, {}};
        switch (r.kind) {
        case Kind::kInteger: c.number = r.integer; break;
        case Kind::kNumber: case Kind::kLabel: case Kind::kFormula: break;
        case Kind::kString: {
            // The string value of the formula just before it.
            const auto formula = grid.find({r.row, r.col});
            if (formula != grid.end() && formula->second.kind == Kind::kFormula)
                formula->second.is_string = true, formula->second.string = r.text;
            continue;
        }
        case Kind::kBad: problems.report("record " + std::to_string(r.index) + ": " + r.problem); continue;
        case Kind::kOther:
            if (sheet_format_of(r) >= 0) sheet_format = sheet_format_of(r);
            continue;
        default: continue;
        }
        if (r.col < 0 || r.col >= kColumns || r.row < 0 || r.row >= kRows) {
            problems.report("record " + std::to_string(r.index) + ": cell " + cell_name(r.col, r.row) +
                            " lies outside the sheet");
            continue;
        }
        grid[{r.row, r.col}] = c;
        rows = std::max(rows, r.row + 1);
        cols = std::max(cols, r.col + 1);
    }
    if (o.has("--compute"))
        for (auto &[at, c] : grid) computed.apply(at.second, at.first, c);
    auto cell = grid.begin();
    for (int row = 0; row < rows; ++row) {
        std::string line;
        for (int col = 0; col < cols; ++col) {
            if (col) line += ',';
            if (cell == grid.end() || cell->first != Position(row, col)) continue;
            const CellContent &c = (cell++)->second;
            line += csv_field(to_utf8(values ? shown_text(c, sheet_format) : plain_field(c), set));
        }
        std::printf("%s\n", line.c_str());
    }
    if (got < 0) fail(shown, sheet.error());
    return problems.finish() == kOk && got >= 0 ? kOk : kFailed;
}

}  // namespace tool
