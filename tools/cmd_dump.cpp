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
    "  --encoding SET  the character set of labels and names: cp437 (the\n"
    "                  default), cp850, cp1252 or latin1; output is UTF-8\n";

constexpr int kShownBytes = 16;
constexpr int kRecordHeader = 4;  // body bytes shown for records without a meaning here
// The ORX cell prefix the library writes: ten zero bytes and a 2.
constexpr unsigned char kUsualPrefix[WKS_ORX_CELL_PREFIX] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, WKS_ORX_PREFIX_MARK};

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

// A double exactly: a JSON number when finite, else "inf", "-inf" or
// "nan:" and its 64 bits in hexadecimal.
std::string json_double(double v, const unsigned char *bytes) {
    if (std::isfinite(v)) return number_text(v);
    if (std::isinf(v)) return v < 0 ? "\"-inf\"" : "\"inf\"";
    unsigned char big_endian[8];
    for (int i = 0; i < 8; ++i) big_endian[i] = bytes[7 - i];
    return "\"nan:" + hex(big_endian, sizeof big_endian) + "\"";
}

// Adds the record's body to its object o (not closed yet) where the other
// fields do not make the record's bytes again, as check (the import's
// reader) makes them.
void keep_bytes(std::string &o, const Record &r, JsonRecords &check) {
    JsonObject parsed;
    WKS_RECORD rec;
    std::vector<unsigned char> trailing;
    std::string why;
    const bool same = parse_json_object(o + "}", parsed, why) &&
                      check.record(parsed, rec, trailing, why) == JsonRecords::kRecord &&
                      std::memcmp(&rec, r.body - kRecordHeader, static_cast<std::size_t>(kRecordHeader + r.length)) == 0;
    take_messages();  // a formula's or name's complaint: the body says it all
    if (!same) o += ",\"body\":\"" + hex(r.body, static_cast<std::size_t>(r.length)) + "\"";
}

void print_json(const Record &r, const Sheet &sheet, Charset set, JsonRecords &check) {
    if (r.kind == Kind::kTrailing) {
        std::printf("{\"index\":%d,\"kind\":\"trailing\",\"length\":%d,\"bytes\":\"%s\"}\n", r.index, r.length,
                    hex(r.body, static_cast<std::size_t>(r.length)).c_str());
        return;
    }
    const char *name = record_name(r.type);
    std::string o = "{\"index\":" + std::to_string(r.index) + ",\"type\":" + std::to_string(r.type) +
                    ",\"name\":" + (name ? json_string(name) : "null") + ",\"length\":" + std::to_string(r.length);
    auto cell = [&](const char *kind) {
        o += ",\"kind\":\"" + std::string(kind) + "\",\"cell\":" + json_string(cell_name(r.col, r.row)) +
             ",\"col\":" + std::to_string(r.col) + ",\"row\":" + std::to_string(r.row) +
             ",\"format\":" + std::to_string(r.format);
        if (sheet.format() == Format::kOrx && std::memcmp(r.body, kUsualPrefix, sizeof kUsualPrefix) != 0)
            o += ",\"prefix\":\"" + hex(r.body, sizeof kUsualPrefix) + "\"";
    };
    const std::string text = json_string(to_utf8(r.text, set));
    switch (r.kind) {
    case Kind::kBof:
        o += ",\"kind\":\"bof\",\"version\":" + std::to_string(r.version) + ",\"file_format\":\"" +
             format_name(sheet.format()) + "\"";
        if (!sheet.header_block().empty()) {
            // Only a block that holds more than the magic words is written out.
            const auto &block = sheet.header_block();
            if (std::any_of(block.begin(), block.end() - 4, [](unsigned char b) { return b != 0; }))
                o += ",\"header_block\":\"" + hex(block.data(), block.size()) + "\"";
        }
        break;
    case Kind::kEof: o += ",\"kind\":\"eof\""; break;
    case Kind::kBlank: cell("blank"); break;
    case Kind::kInteger: cell("integer"), o += ",\"value\":" + std::to_string(r.integer); break;
    case Kind::kNumber: cell("number"), o += ",\"value\":" + json_double(r.number, r.value); break;
    case Kind::kLabel: cell("label"), o += ",\"value\":" + text; break;
    case Kind::kString: cell("string"), o += ",\"value\":" + text; break;
    case Kind::kFormula:
        cell("formula");
        o += ",\"text\":" + text + ",\"value\":" + json_double(r.number, r.value) + ",\"code\":\"" +
             hex(r.code, static_cast<std::size_t>(r.code_bytes)) + "\"";
        break;
    case Kind::kRangeName:
        o += ",\"kind\":\"range_name\",\"range_name\":" + text + ",\"range\":" + json_string(range_text(r)) +
             ",\"c1\":" + std::to_string(r.c1) + ",\"r1\":" + std::to_string(r.r1) + ",\"c2\":" +
             std::to_string(r.c2) + ",\"r2\":" + std::to_string(r.r2);
        break;
    case Kind::kBad:
        if (r.cell) cell("malformed");
        else o += ",\"kind\":\"malformed\"";
        o += ",\"problem\":" + json_string(r.problem) + ",\"body\":\"" +
             hex(r.body, static_cast<std::size_t>(r.length)) + "\"";
        break;
    case Kind::kOther:
        o += ",\"kind\":\"other\",\"body\":\"" + hex(r.body, static_cast<std::size_t>(r.length)) + "\"";
        break;
    case Kind::kTrailing: break;
    }
    if (r.kind != Kind::kOther && r.kind != Kind::kBad) keep_bytes(o, r, check);
    std::printf("%s}\n", o.c_str());
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
    sheet.read_past_end(true);
    JsonRecords check(set);
    check.set_source(sheet.format());
    check.set_target(sheet.format());
    Record r;
    int got;
    while ((got = sheet.next(r)) == 1) json ? print_json(r, sheet, set, check) : print_text(r, set);
    return got < 0 ? fail(shown, sheet.error()) : kOk;
}

}  // namespace tool
