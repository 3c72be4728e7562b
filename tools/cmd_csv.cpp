/*
 * wks csv FILE: the sheet as CSV, the grid filled from A1 to the last used
 * row and column.
 */
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
    "usage: wks csv FILE\n"
    "\n"
    "Prints the sheet as CSV from A1 to the last used row and column: numbers\n"
    "as they read back exactly, labels without their alignment character,\n"
    "formulas as \"=\" and their text (range names shown by name).  Empty cells\n"
    "are empty fields.  'wks import' reads this form back.\n";

const char kLabelPrefixes[] = "'\"^\\|";

std::string label_text(const std::string &stored) {
    if (!stored.empty() && std::strchr(kLabelPrefixes, stored[0])) return stored.substr(1);
    return stored;
}

}  // namespace

int cmd_csv(const Args &args) {
    Options o;
    if (!parse_options("csv", args, {}, {}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("csv", "expects one FILE");
    const std::string &path = o.positional[0];

    Sheet sheet;
    if (!sheet.open(path) || !sheet.load_names()) return fail(path, sheet.error());
    std::map<std::pair<int, int>, std::string> grid;  // (row, col) -> field
    int rows = 0, cols = 0, status = kOk;
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        std::string field;
        switch (r.kind) {
        case Kind::kInteger: field = std::to_string(r.integer); break;
        case Kind::kNumber: field = number_text(r.number); break;
        case Kind::kLabel: field = label_text(r.text); break;
        case Kind::kFormula: field = "=" + r.text; break;
        case Kind::kBlank: break;
        case Kind::kBad:
            if (r.type != WKS_RANGE_NAME && r.type != WKS_RANGE_NAME2)
                status = fail(path, "record " + std::to_string(r.index) + ": " + r.problem);
            continue;
        default: continue;
        }
        if (r.col < 0 || r.col >= kColumns || r.row < 0 || r.row >= kRows) {
            status = fail(path, "record " + std::to_string(r.index) + ": cell " + cell_name(r.col, r.row) +
                                    " lies outside the sheet");
            continue;
        }
        grid[{r.row, r.col}] = field;
        rows = std::max(rows, r.row + 1);
        cols = std::max(cols, r.col + 1);
    }
    if (got < 0) return fail(path, sheet.error());
    auto cell = grid.begin();
    for (int row = 0; row < rows; ++row) {
        std::string line;
        for (int col = 0; col < cols; ++col) {
            if (col) line += ',';
            if (cell != grid.end() && cell->first == std::make_pair(row, col)) line += csv_field((cell++)->second);
        }
        std::printf("%s\n", line.c_str());
    }
    return status;
}

}  // namespace tool
