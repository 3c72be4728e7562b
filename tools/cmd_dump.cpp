/*
 * wks dump FILE [--json]: every record of a file in file order, one line
 * each; with --json one JSON object per line.
 */
#include "tools/commands.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <algorithm>
#include <cstdio>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks dump FILE [--json]\n"
    "\n"
    "Prints every record in file order: its index, type (with its WK1 record\n"
    "name), body length and, for cells, the address, format byte and value\n"
    "(number, integer, label, or the formula's text); range names with their\n"
    "coordinates; the first bytes of other records in hexadecimal.  Formulas\n"
    "show the file's range names in place of their ranges.\n"
    "\n"
    "  --json   one JSON object per record and line, for scripts\n";

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

void print_text(const Record &r) {
    std::string line = std::to_string(r.index) + " " + type_text(r) + " len=" + std::to_string(r.length);
    if (r.cell) {
        char fmt[8];
        std::snprintf(fmt, sizeof fmt, "%02x", r.format);
        line += " " + cell_name(r.col, r.row) + " fmt=" + fmt;
    }
    switch (r.kind) {
    case Kind::kBof: line += " version=" + std::to_string(r.version); break;
    case Kind::kInteger: line += " integer " + std::to_string(r.integer); break;
    case Kind::kNumber: line += " number " + number_text(r.number); break;
    case Kind::kLabel: line += " label " + json_string(r.text); break;
    case Kind::kString: line += " string " + json_string(r.text); break;
    case Kind::kFormula: line += " formula " + r.text + " value " + number_text(r.number); break;
    case Kind::kRangeName: line += " name " + json_string(r.text) + " " + range_text(r); break;
    case Kind::kBad: line += " malformed: " + r.problem; break;
    case Kind::kOther: if (r.length) line += " " + head_hex(r); break;
    default: break;
    }
    std::printf("%s\n", line.c_str());
}

std::string json_number(double v) {
    const std::string t = number_text(v);
    return t == "nan" || t == "inf" || t == "-inf" ? json_string(t) : t;
}

void print_json(const Record &r) {
    const char *name = record_name(r.type);
    std::string o = "{\"index\":" + std::to_string(r.index) + ",\"type\":" + std::to_string(r.type) +
                    ",\"name\":" + (name ? json_string(name) : "null") + ",\"length\":" + std::to_string(r.length);
    auto cell = [&](const char *kind) {
        o += ",\"kind\":\"" + std::string(kind) + "\",\"cell\":" + json_string(cell_name(r.col, r.row)) +
             ",\"col\":" + std::to_string(r.col) + ",\"row\":" + std::to_string(r.row) +
             ",\"format\":" + std::to_string(r.format);
    };
    switch (r.kind) {
    case Kind::kBof: o += ",\"kind\":\"bof\",\"version\":" + std::to_string(r.version); break;
    case Kind::kEof: o += ",\"kind\":\"eof\""; break;
    case Kind::kBlank: cell("blank"); break;
    case Kind::kInteger: cell("integer"), o += ",\"value\":" + std::to_string(r.integer); break;
    case Kind::kNumber: cell("number"), o += ",\"value\":" + json_number(r.number); break;
    case Kind::kLabel: cell("label"), o += ",\"value\":" + json_string(r.text); break;
    case Kind::kString: cell("string"), o += ",\"value\":" + json_string(r.text); break;
    case Kind::kFormula:
        cell("formula");
        o += ",\"text\":" + json_string(r.text) + ",\"value\":" + json_number(r.number);
        break;
    case Kind::kRangeName:
        o += ",\"kind\":\"range_name\",\"range_name\":" + json_string(r.text) + ",\"range\":" +
             json_string(range_text(r)) + ",\"c1\":" + std::to_string(r.c1) + ",\"r1\":" + std::to_string(r.r1) +
             ",\"c2\":" + std::to_string(r.c2) + ",\"r2\":" + std::to_string(r.r2);
        break;
    case Kind::kBad:
        if (r.cell) cell("malformed");
        else o += ",\"kind\":\"malformed\"";
        o += ",\"problem\":" + json_string(r.problem);
        break;
    case Kind::kOther: o += ",\"kind\":\"other\",\"hex\":" + json_string(head_hex(r)); break;
    }
    std::printf("%s}\n", o.c_str());
}

}  // namespace

int cmd_dump(const Args &args) {
    Options o;
    if (!parse_options("dump", args, {"--json"}, {}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("dump", "expects one FILE");
    const std::string &path = o.positional[0];
    const bool json = o.has("--json");

    Sheet sheet;
    if (!sheet.open(path) || !sheet.load_names()) return fail(path, sheet.error());
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) json ? print_json(r) : print_text(r);
    return got < 0 ? fail(path, sheet.error()) : kOk;
}

}  // namespace tool
