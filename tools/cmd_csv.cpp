/*
 * wks csv FILE: the sheet as CSV, the grid filled from A1 to the last cell
 * that holds something.  Plain, each cell gives what 'wks import' turns back
 * into a cell of the same value; with --values, what the sheet shows.
 * The grid comes row by row from tools/grid.h, so memory holds one row.
 */
#include "tools/cell_view.h"
#include "tools/commands.h"
#include "tools/grid.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
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
    "  --encoding SET  the character set of labels: cp437 (the default),\n"
    "                  cp850, cp1252 or latin1; output is UTF-8\n";

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
    const Layout layout = layout_of(sheet);
    if (!sheet.rewind()) return fail(shown, sheet.error());
    Problems problems(shown);
    std::string line;
    auto write_row = [&](int, const std::vector<CellContent> &cells, const std::vector<bool> &filled) {
        line.clear();
        for (int col = 0; col < layout.cols; ++col) {
            if (col) line += ',';
            const auto at = static_cast<std::size_t>(col);
            if (!filled[at]) continue;
            const CellContent &c = cells[at];
            line += csv_field(to_utf8(values ? shown_text(c, layout.sheet_format) : plain_field(c), set));
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    };
    const int got = read_grid(sheet, layout, o.has("--compute") ? &computed : nullptr, problems, write_row);
    if (got < 0) fail(shown, sheet.error());
    return problems.finish() == kOk && got >= 0 ? kOk : kFailed;
}

}  // namespace tool
