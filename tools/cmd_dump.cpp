/*
 * wks dump FILE [--json]: every record of a file in file order, one line
 * each; with --json one JSON object per line, which 'wks import --json'
 * reads back into the same records.
 */
#include "tools/commands.h"
#include "tools/json.h"
#include "tools/record_form.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks dump [--json] [--encoding SET] FILE\n"
    "\n"
    "Prints every record of FILE (\"-\" reads standard input) in file order:\n"
    "its index, type (with its WK1 record name), body length and, for cells,\n"
    "the address, format byte and value (number, integer, label, or the\n"
    "formula's text and stored value); range names with their coordinates;\n"
    "the first bytes of other records in hexadecimal.  Formulas show the\n"
    "file's range names in place of their ranges.  A damaged file is shown up\n"
    "to the damage, which is then named with its byte offset (exit status 1).\n"
    "\n"
    "  --json          one JSON object per record and line: every field, the\n"
    "                  formula code, the exact bytes of other records and of an\n"
    "                  ORX header block; 'wks import --json' reads it back\n"
    "  --encoding SET  the character set of labels and names: auto (the\n"
    "                  default: the set of the file's variant, as info tells),\n"
    "                  cp437, cp850, cp1252, latin1 or lics; output is UTF-8\n";

constexpr int kShownBytes = 16;  // body bytes shown for records without a meaning here

std::string type_text(const Record &r) {
    const char *name = record_name(r.type);
    return std::string(name ? name : "type") + "(" + std::to_string(r.type) + ")";
}

std::string range_text(const Record &r) { return cell_name(r.c1, r.r1) + ".." + cell_name(r.c2, r.r2); }

std::string head_hex(const Record &r) {
    const int n = std::min(std::min(r.length, kShownBytes), WKS_BODY_SIZE);
    return hex(r.body, static_cast<std::size_t>(n)) + (r.length > n ? "..." : "");
}

void print_text(const Record &r, Charset set) {
    if (r.kind == Kind::kTrailing) {
        std::printf("%d trailing bytes len=%d %s\n", r.index, r.length, head_hex(r).c_str());
        return;
    }
    std::string line = std::to_string(r.index) + " " + type_text(r) + " len=" + std::to_string(r.length);
    if (r.cell) {
        char fmt[8];
        std::snprintf(fmt, sizeof fmt, "%02x", r.format);
        line += " " + cell_name(r.col, r.row) + " fmt=" + fmt;
    }
    const std::string text = to_utf8(r.text, set);
    switch (r.kind) {
    case Kind::kBof: line += " version=" + std::to_string(r.version); break;
    case Kind::kInteger: line += " integer " + std::to_string(r.integer); break;
    case Kind::kNumber: line += " number " + number_text(r.number); break;
    case Kind::kLabel: line += " label " + json_string(text); break;
    case Kind::kString: line += " string " + json_string(text); break;
    case Kind::kFormula: line += " formula " + text + " value " + number_text(r.number); break;
    case Kind::kRangeName: line += " name " + json_string(text) + " " + range_text(r); break;
    case Kind::kBad: line += " malformed: " + r.problem; break;
    case Kind::kOther: if (r.length) line += " " + head_hex(r); break;
    default: break;
    }
    std::printf("%s\n", line.c_str());
}

}  // namespace

int cmd_dump(const Args &args) {
    Options o;
    Charset set;
    if (!parse_options("dump", args, {"--json"}, {"--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("dump", "expects one FILE");
    if (!charset_option("dump", o, set)) return kUsage;
    const std::string shown = shown_name(o.positional[0]);
    const bool json = o.has("--json");

    std::string path, why;
    if (!input_path(o.positional[0], path, why)) return fail(shown, why);
    Sheet sheet;
    if (!sheet.open(path) || !sheet.load_names()) return fail(shown, sheet.error());
    const Charset named = set;
    set = resolve_charset(set, sheet.family());
    sheet.read_past_end(true);
    JsonRecords check(set);
    check.set_source(sheet.format());
    check.set_target(sheet.format());
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        if (json) std::printf("%s\n", record_json(r, sheet.format(), sheet.header_block(), set, check).c_str());
        else print_text(r, set);
    }
    tell_choice(shown, named, set, sheet.family());
    return got < 0 ? fail(shown, sheet.error()) : kOk;
}

}  // namespace tool
