/*
 * wks info FILE: what a worksheet file holds, in "key: value" lines.
 */
#include "tools/commands.h"
#include "tools/sheet.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks info FILE\n"
    "\n"
    "Prints the file's format (ORX, WK1 or neither), BOF version, whether it\n"
    "has a header block, its records counted by type, the number of cells and\n"
    "formulas, the used range and the range names.\n";

std::string range_text(int c1, int r1, int c2, int r2) {
    const std::string first = cell_name(c1, r1);
    return c1 == c2 && r1 == r2 ? first : first + ".." + cell_name(c2, r2);
}

bool is_cell(Kind k) {
    return k == Kind::kBlank || k == Kind::kInteger || k == Kind::kNumber || k == Kind::kLabel ||
           k == Kind::kFormula;
}

}  // namespace

int cmd_info(const Args &args) {
    Options o;
    if (!parse_options("info", args, {"--help"}, {}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("info", "expects one FILE");
    const std::string &path = o.positional[0];

    Sheet sheet;
    if (!sheet.open(path)) {
        if (sheet.format() != Format::kNeither) return fail(path, sheet.error());
        std::printf("file: %s\nformat: neither\n", path.c_str());
        return fail(path, sheet.error());
    }
    std::map<int, int> by_type;
    std::vector<Record> names;
    int records = 0, cells = 0, formulas = 0, bad = 0, version = 0;
    int min_col = kColumns, min_row = kRows, max_col = -1, max_row = -1;
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        ++records;
        ++by_type[r.type];
        if (r.kind == Kind::kBof && r.index == 0) version = r.version;
        if (r.kind == Kind::kBad) ++bad;
        if (r.kind == Kind::kRangeName) names.push_back(r);
        if (!is_cell(r.kind)) continue;
        ++cells;
        formulas += r.kind == Kind::kFormula;
        min_col = std::min(min_col, r.col), max_col = std::max(max_col, r.col);
        min_row = std::min(min_row, r.row), max_row = std::max(max_row, r.row);
    }
    if (got < 0) return fail(path, sheet.error());

    std::printf("file: %s\n", path.c_str());
    std::printf("format: %s\n", format_name(sheet.format()));
    std::printf("header block: %s\n", sheet.format() == Format::kOrx ? "yes" : "no");
    std::printf("BOF version: %d\n", version);
    std::printf("records: %d\n", records);
    for (const auto &t : by_type) {
        const char *name = record_name(t.first);
        std::printf("  %s (%d): %d\n", name ? name : "?", t.first, t.second);
    }
    std::printf("cells: %d\n", cells);
    std::printf("formulas: %d\n", formulas);
    if (bad) std::printf("malformed records: %d\n", bad);
    std::printf("used range: %s\n", cells ? range_text(min_col, min_row, max_col, max_row).c_str() : "none");
    std::printf("range names: %zu\n", names.size());
    for (const Record &n : names)
        std::printf("  %s %s\n", n.text.c_str(), range_text(n.c1, n.r1, n.c2, n.r2).c_str());
    return kOk;
}

}  // namespace tool
