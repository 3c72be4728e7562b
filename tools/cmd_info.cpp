/*
 * wks info FILE...: what worksheet files hold, in "key: value" lines, one
 * block per file.
 */
#include "tools/commands.h"
#include "tools/sheet.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks info [--encoding SET] FILE...\n"
    "\n"
    "Prints for each FILE (\"-\" reads standard input) its format (ORX, WK1 or\n"
    "neither), its variant (the program and version it comes from, its usual\n"
    "extension, its identifier in the PRONOM registry, and whether it is read),\n"
    "the character set of its text, BOF version, whether it has a header\n"
    "block, its records counted\n"
    "by type, the number of cells and formulas, the used range and the range\n"
    "names; a blank line between files.  A damaged file is described up to the\n"
    "damage, which is then named with its byte offset.  Exit status 1 when any\n"
    "file could not be read to its end.\n"
    "\n"
    "  --encoding SET  the character set of range names: auto (the default: the\n"
    "                  set of the file's variant), cp437, cp850, cp1252, latin1\n"
    "                  or lics; output is UTF-8\n";

std::string range_text(int c1, int r1, int c2, int r2) {
    const std::string first = cell_name(c1, r1);
    return c1 == c2 && r1 == r2 ? first : first + ".." + cell_name(c2, r2);
}

bool is_cell(Kind k) {
    return k == Kind::kBlank || k == Kind::kInteger || k == Kind::kNumber || k == Kind::kLabel ||
           k == Kind::kFormula;
}

// Prints one file's block, after a blank line when one was printed before.
int info_of(const std::string &arg, Charset set, bool &printed) {
    auto begin_block = [&printed] {
        if (printed) std::printf("\n");
        printed = true;
    };
    const std::string shown = shown_name(arg);
    std::string path, why;
    if (!input_path(arg, path, why) || !(why = unreadable_reason(path)).empty()) return fail(shown, why);
    Sheet sheet;
    const bool opened = sheet.open(path);
    const WKS_FAMILY &family = sheet.family();
    if (!opened) {
        if (sheet.format() == Format::kNeither) {
            begin_block();
            std::printf("file: %s\nformat: neither\n", shown.c_str());
            if (family.variant != WKS_VARIANT_UNKNOWN) std::printf("variant: %s\n", variant_text(family).c_str());
            if (family.registry[0]) std::printf("registry: PRONOM %s\n", family.registry);
        }
        return fail(shown, sheet.error());
    }
    const Charset named = set;
    set = resolve_charset(set, family);
    std::map<int, int> by_type;
    std::vector<Record> names;
    int records = 0, cells = 0, formulas = 0, bad = 0, version = 0;
    int min_col = kColumns, min_row = kRows, max_col = -1, max_row = -1;
    sheet.decode_formulas(false);
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

    begin_block();
    std::printf("file: %s\n", shown.c_str());
    std::printf("format: %s\n", format_name(sheet.format()));
    std::printf("header block: %s\n", sheet.format() == Format::kOrx ? "yes" : "no");
    std::printf("BOF version: %d\n", version);
    std::printf("variant: %s\n", variant_text(family).c_str());
    if (family.registry[0]) std::printf("registry: PRONOM %s\n", family.registry);
    std::printf("encoding: %s%s\n", charset_name(set), named == Charset::kAuto ? " (the variant's)" : "");
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
        std::printf("  %s %s\n", to_utf8(n.text, set).c_str(), range_text(n.c1, n.r1, n.c2, n.r2).c_str());
    if (got < 0) {
        std::printf("damaged: %s\n", sheet.error().c_str());
        return fail(shown, sheet.error());
    }
    return kOk;
}

}  // namespace

int cmd_info(const Args &args) {
    Options o;
    Charset set;
    if (!parse_options("info", args, {}, {"--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.empty()) return usage_error("info", "expects at least one FILE");
    if (!charset_option("info", o, set)) return kUsage;
    int status = kOk;
    bool printed = false;
    for (const std::string &file : o.positional) {
        if (info_of(file, set, printed) != kOk) status = kFailed;
        std::string lost;
        flush_output(lost);  // each file's lines before the next file's errors
    }
    return status;
}

}  // namespace tool
