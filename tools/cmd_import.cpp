/*
 * wks import [--json] FILE OUT: builds an ORX or a WK1 file (by OUT's
 * extension) from a CSV file, one cell per non-empty field, row by row, or
 * from the JSON records of 'wks dump --json', record by record.  Cells are
 * built in the ORX cell layout (formula text by wksform) and translated for
 * a WK1 file.  OUT is written through the library's safe creation: a failed
 * import leaves it as it was.
 *
 * A CSV import stores its formulas' computed values: the cells go to a
 * scratch file first, wks_calc_file writes the values into it, and its
 * records then go to OUT as they are.  A JSON import keeps the values the
 * objects give, as the lossless form must.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "tools/json.h"
#include "tools/output.h"
#include "tools/signals.h"
#include "tools/text.h"
#include "wks.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks import [--json] [--encoding SET] FILE OUT\n"
    "\n"
    "Builds OUT from FILE (\"-\" reads standard input): an ORX file when OUT\n"
    "ends in .orx, a WK1 file when it ends in .wk1 (any case).  OUT keeps its\n"
    "old contents until the new file is complete; any failure leaves it as it\n"
    "was.  OUT may not name FILE.  A UTF-8 byte-order mark is skipped.\n"
    "\n"
    "FILE is CSV: the first record is row 1, its first field column A.  Each\n"
    "non-empty field becomes a cell: a decimal number an integer cell (whole\n"
    "numbers -32768..32767) or a number cell; text starting with \"=\" or \"+\"\n"
    "a formula (the \"=\" is dropped, a \"+\" kept as part of the formula);\n"
    "text starting with an apostrophe a label of the rest; anything else a\n"
    "label.  A field holding a NUL byte is refused.  Each formula stores the\n"
    "value it computes to, as 'wks calc' computes it.\n"
    "\n"
    "  --json          FILE holds the records of 'wks dump --json', one object\n"
    "                  per line; they are written back as they were, formulas\n"
    "                  from their code (from their text when it is missing)\n"
    "                  with the value they give (0 when they give none)\n"
    "  --encoding SET  the character set labels, strings and names are written\n"
    "                  in: cp437 (the default), cp850, cp1252 or latin1; FILE is\n"
    "                  UTF-8\n";

constexpr int kValue = WKS_ORX_CELL_PREFIX + WKS_CELL_VALUE;  // value area in the ORX cell layout
constexpr int kFormulaCode = WKS_ORX_CELL_PREFIX + WKS_CELL_FORMULA_CODE;
constexpr int kFormulaValue = WKS_CELL_FORMULA_CODE - WKS_CELL_VALUE;
constexpr unsigned char kDefaultFormat = 0xFF;
constexpr unsigned char kUsualPrefix[WKS_ORX_CELL_PREFIX] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, WKS_ORX_PREFIX_MARK};
constexpr char kLabelPrefix = '\'';

Format target_of(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return Format::kNeither;
    const std::string ext = path.substr(dot);
    if (!strcasecmp(ext.c_str(), ".orx")) return Format::kOrx;
    if (!strcasecmp(ext.c_str(), ".wk1")) return Format::kWk1;
    return Format::kNeither;
}

// True when out names the file the input comes from, under any name or link
// (standard input too).  A system that gives no inode numbers tells nothing.
bool names_input(const std::string &input, const std::string &out) {
    struct stat in_st, out_st;
    if (::stat(out.c_str(), &out_st) != 0) return false;
    const int got = input == "-" ? ::fstat(0, &in_st) : ::stat(input.c_str(), &in_st);
    return got == 0 && in_st.st_ino != 0 && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino;
}

// Starts a cell record in the ORX cell layout with value_bytes of value.
void start_cell(WKS_RECORD &rec, int type, int16_t col, int16_t row, int value_bytes,
                unsigned char format = kDefaultFormat, const unsigned char *prefix = kUsualPrefix) {
    unsigned char *b = rec.body;
    std::memcpy(b, prefix, WKS_ORX_CELL_PREFIX);
    b[WKS_ORX_CELL_PREFIX + WKS_CELL_FORMAT] = format;
    wksni(b + WKS_ORX_CELL_PREFIX + WKS_CELL_COLUMN, col);
    wksni(b + WKS_ORX_CELL_PREFIX + WKS_CELL_ROW, row);
    wksni(rec.type, static_cast<int16_t>(type));
    wksni(rec.length, static_cast<int16_t>(kValue + value_bytes));
}

// A label or string cell of text (8-bit, no NUL); false when it is too long
// for a record that can be read back.
bool text_cell(WKS_RECORD &rec, int type, int16_t col, int16_t row, const std::string &text, std::string &why,
               unsigned char format = kDefaultFormat, const unsigned char *prefix = kUsualPrefix) {
    constexpr std::size_t kLongest = WKS_MAX_READ_BODY - kValue - 1;  // the NUL
    if (text.size() > kLongest) {
        why = "text of " + std::to_string(text.size()) + " bytes is longer than a record holds (" +
              std::to_string(kLongest) + ")";
        return false;
    }
    start_cell(rec, type, col, row, static_cast<int>(text.size()) + 1, format, prefix);
    std::memcpy(rec.body + kValue, text.data(), text.size());
    rec.body[kValue + text.size()] = 0;
    return true;
}

// Formula text compiled into the cell's record by wksform.
bool compiled_formula(WKS &cell, const std::string &text, int16_t col, int16_t row, std::string &why) {
    start_cell(cell.rec, WKS_FORMULA, col, row, 0);  // the prefix; wksform fills the rest
    const int16_t got = wksform(&cell, ' ', col, row, text.c_str());
    if (got == 0) return true;
    take_messages();  // the message says what `why` says
    why = "formula '" + text + "': " + error_text(got);
    return false;
}

// ---- CSV --------------------------------------------------------------------

// The cell for one field (8-bit text) in cell.rec; false with the reason.
bool csv_cell(WKS &cell, const std::string &field, int16_t col, int16_t row, std::string &why) {
    bool whole;
    if (field[0] == '=' || field[0] == '+')
        return compiled_formula(cell, field.substr(field[0] == '=' ? 1 : 0), col, row, why);
    if (is_decimal_number(field, whole)) {
        errno = 0;
        const double v = std::strtod(field.c_str(), nullptr);
        if (errno == ERANGE && (v > 1 || v < -1)) {
            why = "number '" + field + "' is out of range";
            return false;
        }
        if (whole && v >= INT16_MIN && v <= INT16_MAX) {
            start_cell(cell.rec, WKS_INTEGER, col, row, 2);
            wksni(cell.rec.body + kValue, static_cast<int16_t>(v));
        } else {
            start_cell(cell.rec, WKS_NUMBER, col, row, 8);
            wksdi(cell.rec.body + kValue, v);
        }
        return true;
    }
    return text_cell(cell.rec, WKS_LABEL, col, row, field[0] == kLabelPrefix ? field : kLabelPrefix + field, why);
}

int import_csv(std::FILE *in, const std::string &csv, Output &out, Charset set) {
    TextInput text(in);
    std::vector<std::string> fields;
    bool unterminated = false;
    WKS cell{};
    for (int row = 0; read_csv_record(text, fields, &unterminated); ++row) {
        const std::string where = csv + ":" + std::to_string(row + 1);
        if (unterminated) return fail(where, "quoted field not closed at the end of the file");
        for (std::size_t col = 0; col < fields.size(); ++col) {
            if (fields[col].empty()) continue;
            if (row >= kRows || col >= static_cast<std::size_t>(kColumns))
                return fail(where, "field " + std::to_string(col + 1) + " lies outside the sheet (A1..IV8192)");
            const auto c = static_cast<int16_t>(col), r = static_cast<int16_t>(row);
            std::string bytes, why;
            if (fields[col].find('\0') != std::string::npos)
                return fail(where, cell_name(c, r) + ": the field holds a NUL byte");
            if (!from_utf8(fields[col], set, bytes, why)) return fail(where, cell_name(c, r) + ": " + why);
            if (!csv_cell(cell, bytes, c, r, why)) return fail(where, cell_name(c, r) + ": " + why);
            if (!out.write_orx_layout(cell.rec)) return fail(out.path(), out.error());
        }
    }
    return text.failed() ? fail(csv, "read error") : kOk;
}

// Copies the records of a file the tool wrote (scratch) to out, which it
// starts: they are already in out's format.
int copy_records(const std::string &scratch, Output &out, const std::string &source) {
    const bool orx = out.format() == Format::kOrx;
    WKS in{};
    set_open_for_load(0);  // its header block is only checked: out gets an empty one, as scratch did
    if (!(orx ? wksopen(&in, scratch.c_str(), "") : wksopen_wk1(&in, scratch.c_str(), "")))
        return fail(scratch, "cannot read the scratch file back: " + error_text(in.error));
    int status = kOk;
    int16_t got;
    if (!out.create(source, nullptr)) status = fail(out.path(), out.error());
    while (status == kOk && (got = orx ? wksnextr(&in) : wksnextr_wk1(&in)) != -1) {
        if (got != 0) status = fail(scratch, "cannot read the scratch file back: " + error_text(got));
        else if (!out.write(in.rec)) status = fail(out.path(), out.error());
    }
    if (orx) wksclose(&in);
    else wksclose_wk1(&in);
    return status;
}

// The CSV import through a scratch file that gets the computed values.
int import_csv_computed(std::FILE *in, const std::string &csv, Output &out, const std::string &source, Charset set) {
    std::string scratch_file, why;
    if (!scratch_path(scratch_file, why)) return fail(out.path(), why);
    {
        Output scratch(scratch_file, out.format());
        if (!scratch.create("", nullptr)) return fail(scratch_file, scratch.error());
        const int status = import_csv(in, csv, scratch, set);
        if (status != kOk) return status;
        if (!scratch.commit()) return fail(scratch_file, scratch.error());
    }
    int16_t code;
    {
        // The scratch file is no user's: a signal stops the calculation at
        // once (the library asks the handler now and then) and ends the tool.
        wks_set_progress_handler([](void *, int64_t, int64_t) -> int32_t { return stop_requested() != 0; }, nullptr);
        Stoppable stoppable;
        code = wks_calc_file(scratch_file.c_str(), calc_charset_flag(set), 1, nullptr, nullptr, nullptr);
    }
    wks_set_progress_handler(nullptr, nullptr);
    if (const int sig = stop_requested()) end_with_signal(sig);
    if (code != 0) return fail(out.path(), "cannot compute its formulas' values: " + error_text(code));
    return copy_records(scratch_file, out, source);
}

// ---- JSON -------------------------------------------------------------------

// Records from the objects 'wks dump --json' writes.
class JsonRecords {
public:
    JsonRecords(Charset set, Format target) : set_(set), target_(target) {}

    // The first object may be the BOF record, with an ORX file's header block.
    bool header(const JsonObject &bof, std::vector<unsigned char> &block, std::string &why);
    // The record of one object in rec (ORX cell layout for cells): 1 made,
    // 0 the EOF record, -1 refused with the reason in why.
    int record(const JsonObject &o, WKS_RECORD &rec, std::string &why);
    // Whether the last record made is raw bytes, already in the target's
    // layout.
    bool raw_bytes() const { return raw_bytes_; }

private:
    bool cell(const JsonObject &o, const std::string &kind, WKS_RECORD &rec, std::string &why);
    bool raw(const JsonObject &o, WKS_RECORD &rec, std::string &why);
    bool range_name(const JsonObject &o, WKS_RECORD &rec, std::string &why);

    Charset set_;
    Format target_;
    Format source_ = Format::kNeither;  // the cell layout the objects were dumped from, when told
    WKS scratch_{};                     // formulas compiled from text; names are looked up under it
    bool raw_bytes_ = false;
};

const JsonValue *field(const JsonObject &o, const char *key) {
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &it->second;
}

bool integer_field(const JsonObject &o, const char *key, long lo, long hi, long &v, std::string &why) {
    const JsonValue *f = field(o, key);
    char *end = nullptr;
    if (f && f->type == JsonValue::kNumber) v = std::strtol(f->text.c_str(), &end, 10);
    if (!f || f->type != JsonValue::kNumber || *end || v < lo || v > hi) {
        why = std::string("\"") + key + "\" must be a whole number from " + std::to_string(lo) + " to " +
              std::to_string(hi);
        return false;
    }
    return true;
}

bool hex_field(const JsonObject &o, const char *key, std::vector<unsigned char> &bytes, std::string &why) {
    const JsonValue *f = field(o, key);
    if (f && f->type == JsonValue::kString && parse_hex(f->text, bytes)) return true;
    why = std::string("\"") + key + "\" must be a string of hexadecimal bytes";
    return false;
}

// A double as the dump writes one: a number, "inf", "-inf" or "nan:" and 64 bits.
bool double_field(const JsonObject &o, const char *key, unsigned char out[8], std::string &why) {
    const JsonValue *f = field(o, key);
    std::vector<unsigned char> bits;
    if (f && f->type == JsonValue::kNumber) {
        wksdi(out, std::strtod(f->text.c_str(), nullptr));
        return true;
    }
    if (f && f->type == JsonValue::kString) {
        if (f->text == "inf" || f->text == "-inf") {
            wksdi(out, f->text[0] == '-' ? -HUGE_VAL : HUGE_VAL);
            return true;
        }
        if (f->text.compare(0, 4, "nan:") == 0 && parse_hex(f->text.substr(4), bits) && bits.size() == 8) {
            for (int i = 0; i < 8; ++i) out[i] = bits[7 - i];
            return true;
        }
    }
    why = std::string("\"") + key + "\" must be a number, \"inf\", \"-inf\" or \"nan:\" and 16 hexadecimal digits";
    return false;
}

bool text_field(const JsonObject &o, const char *key, Charset set, std::string &bytes, std::string &why) {
    const JsonValue *f = field(o, key);
    if (!f || f->type != JsonValue::kString) {
        why = std::string("\"") + key + "\" must be a string";
        return false;
    }
    if (f->text.find('\0') != std::string::npos) {
        why = std::string("\"") + key + "\" holds a NUL character";
        return false;
    }
    if (from_utf8(f->text, set, bytes, why)) return true;
    why = std::string("\"") + key + "\": " + why;
    return false;
}

bool JsonRecords::header(const JsonObject &bof, std::vector<unsigned char> &block, std::string &why) {
    if (const JsonValue *f = field(bof, "file_format"))
        source_ = f->text == "ORX" ? Format::kOrx : f->text == "WK1" ? Format::kWk1 : Format::kNeither;
    if (!field(bof, "header_block")) return true;
    if (!hex_field(bof, "header_block", block, why)) return false;
    if (block.size() == WKS_HEADER_SIZE) return true;
    why = "\"header_block\" must be " + std::to_string(WKS_HEADER_SIZE) + " bytes";
    return false;
}

int JsonRecords::record(const JsonObject &o, WKS_RECORD &rec, std::string &why) {
    const JsonValue *kind = field(o, "kind");
    const std::string k = kind && kind->type == JsonValue::kString ? kind->text : "";
    bool made;
    raw_bytes_ = k == "other" || k == "malformed";
    if (k == "eof") return 0;
    if (k == "bof") {
        why = "a BOF record may only come first";
        return -1;
    }
    if (k == "blank" || k == "integer" || k == "number" || k == "label" || k == "string" || k == "formula")
        made = cell(o, k, rec, why);
    else if (k == "range_name")
        made = range_name(o, rec, why);
    else if (k == "other" || k == "malformed")
        made = raw(o, rec, why);
    else
        return why = "\"kind\" must name a kind of record the dump writes", -1;
    return made ? 1 : -1;
}

bool JsonRecords::cell(const JsonObject &o, const std::string &kind, WKS_RECORD &rec, std::string &why) {
    long col, row, format, v;
    std::vector<unsigned char> prefix(kUsualPrefix, kUsualPrefix + WKS_ORX_CELL_PREFIX), code;
    if (!integer_field(o, "col", INT16_MIN, INT16_MAX, col, why) ||
        !integer_field(o, "row", INT16_MIN, INT16_MAX, row, why) || !integer_field(o, "format", 0, 255, format, why))
        return false;
    if (field(o, "prefix") && (!hex_field(o, "prefix", prefix, why) || prefix.size() != WKS_ORX_CELL_PREFIX))
        return why = "\"prefix\" must be " + std::to_string(WKS_ORX_CELL_PREFIX) + " bytes", false;
    const auto c = static_cast<int16_t>(col), r = static_cast<int16_t>(row);
    const auto f = static_cast<unsigned char>(format);
    std::string text;
    if (kind == "blank") {
        start_cell(rec, WKS_BLANK, c, r, 0, f, prefix.data());
    } else if (kind == "integer") {
        if (!integer_field(o, "value", INT16_MIN, INT16_MAX, v, why)) return false;
        start_cell(rec, WKS_INTEGER, c, r, 2, f, prefix.data());
        wksni(rec.body + kValue, static_cast<int16_t>(v));
    } else if (kind == "number") {
        start_cell(rec, WKS_NUMBER, c, r, 8, f, prefix.data());
        if (!double_field(o, "value", rec.body + kValue, why)) return false;
    } else if (kind == "label" || kind == "string") {
        if (!text_field(o, "value", set_, text, why)) return false;
        return text_cell(rec, kind == "label" ? WKS_LABEL : WKS_STRING, c, r, text, why, f, prefix.data());
    } else if (field(o, "code")) {
        if (!hex_field(o, "code", code, why)) return false;
        if (code.size() < 2 || code.size() != 2u + (code[0] | code[1] << 8))
            return why = "\"code\" must start with its length word", false;
        if (kFormulaCode + code.size() > WKS_MAX_READ_BODY)
            return why = "the formula code is too long for a record", false;
        start_cell(rec, WKS_FORMULA, c, r, kFormulaValue + static_cast<int>(code.size()), f, prefix.data());
        wksdi(rec.body + kValue, 0.0);  // the value a formula without one gets from wksform too
        std::memcpy(rec.body + kFormulaCode, code.data(), code.size());
    } else {
        if (!text_field(o, "text", set_, text, why) || !compiled_formula(scratch_, text, c, r, why)) return false;
        rec = scratch_.rec;
        std::memcpy(rec.body, prefix.data(), prefix.size());
        rec.body[WKS_ORX_CELL_PREFIX + WKS_CELL_FORMAT] = f;
    }
    if (kind == "formula" && field(o, "value")) return double_field(o, "value", rec.body + kValue, why);
    return true;
}

bool JsonRecords::range_name(const JsonObject &o, WKS_RECORD &rec, std::string &why) {
    std::string name;
    long type = WKS_RANGE_NAME, coordinate[4];
    static const char *const kKeys[] = {"c1", "r1", "c2", "r2"};
    if (!text_field(o, "range_name", set_, name, why)) return false;
    if (name.size() >= WKS_NAME_TEXT_SIZE)
        return why = "a range name has at most " + std::to_string(WKS_NAME_TEXT_SIZE - 1) + " characters", false;
    if (field(o, "type") && (!integer_field(o, "type", WKS_RANGE_NAME, WKS_RANGE_NAME2, type, why) ||
                             (type != WKS_RANGE_NAME && type != WKS_RANGE_NAME2)))
        return why = "\"type\" of a range name must be 11 or 71", false;
    for (int i = 0; i < 4; ++i)
        if (!integer_field(o, kKeys[i], INT16_MIN, INT16_MAX, coordinate[i], why)) return false;
    std::memset(rec.body, 0, WKS_NAME_RECORD_SIZE);
    std::memcpy(rec.body, name.data(), name.size());
    for (int i = 0; i < 4; ++i) wksni(rec.body + WKS_NAME_COORDINATES + 2 * i, static_cast<int16_t>(coordinate[i]));
    wksni(rec.type, static_cast<int16_t>(type));
    wksni(rec.length, WKS_NAME_RECORD_SIZE);
    // Formulas given by their text may use the name.
    wksir(static_cast<int32_t>(reinterpret_cast<uintptr_t>(&scratch_)), name.c_str(),
          static_cast<int16_t>(coordinate[0]), static_cast<int16_t>(coordinate[1]),
          static_cast<int16_t>(coordinate[2]), static_cast<int16_t>(coordinate[3]));
    take_messages();  // a name the table refuses is still written
    return true;
}

bool JsonRecords::raw(const JsonObject &o, WKS_RECORD &rec, std::string &why) {
    long type;
    std::vector<unsigned char> body;
    if (!integer_field(o, "type", 0, 65535, type, why) || !hex_field(o, "body", body, why)) return false;
    if (body.size() > WKS_MAX_READ_BODY) return why = "the body is too long for a record", false;
    const bool cell_type = (type >= WKS_BLANK && type <= WKS_FORMULA) || type == WKS_STRING;
    // A record of a cell type keeps its bytes, so it must keep its layout.
    if (cell_type && source_ != target_) {
        why = "a malformed cell record of a " + std::string(format_name(source_)) + " file cannot go into a " +
              format_name(target_) + " file";
        return false;
    }
    wksni(rec.type, static_cast<int16_t>(type));
    wksni(rec.length, static_cast<int16_t>(body.size()));
    std::memcpy(rec.body, body.data(), body.size());
    return true;
}

int import_json(std::FILE *in, const std::string &file, Output &out, const std::string &source, Charset set) {
    TextInput text(in);
    JsonRecords records(set, out.format());
    std::string line, why;
    JsonObject o;
    WKS_RECORD rec;
    int number = 0;
    bool created = false, ended = false;
    while (read_line(text, line)) {
        const std::string where = file + ":" + std::to_string(++number);
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (ended) return fail(where, "a record after the EOF record");
        if (!parse_json_object(line, o, why)) return fail(where, why);
        const JsonValue *kind = field(o, "kind");
        const bool bof = kind && kind->text == "bof";
        std::vector<unsigned char> block;
        if (bof && !created && !records.header(o, block, why)) return fail(where, why);
        if (!created) {
            if (!out.create(source, block.empty() ? nullptr : block.data())) return fail(out.path(), out.error());
            created = true;
            if (bof) continue;
        }
        const int got = records.record(o, rec, why);
        if (got < 0) return fail(where, why);
        ended = got == 0;
        if (got > 0 && !(records.raw_bytes() ? out.write(rec) : out.write_orx_layout(rec)))
            return fail(out.path(), out.error());
    }
    if (text.failed()) return fail(file, "read error");
    if (!created && !out.create(source, nullptr)) return fail(out.path(), out.error());
    return kOk;
}

}  // namespace

int cmd_import(const Args &args) {
    Options o;
    Charset set;
    if (!parse_options("import", args, {"--json"}, {"--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 2) return usage_error("import", "expects FILE and OUT");
    if (!charset_option("import", o, set)) return kUsage;
    const std::string &input = o.positional[0], &path = o.positional[1], shown = shown_name(input);
    const Format target = target_of(path);
    if (target == Format::kNeither) return fail(path, "the output must end in .orx or .wk1");
    if (names_input(input, path)) return fail(path, "is the file being imported; give another name");
    struct stat st;
    if (input != "-" && ::stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(shown, "is a directory");

    std::FILE *in = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (!in) return fail(shown, std::string("cannot open: ") + std::strerror(errno));
    Output out(path, target);
    int status;
    const std::string source = input == "-" ? "" : input;
    if (o.has("--json")) status = import_json(in, shown, out, source, set);
    else status = import_csv_computed(in, shown, out, source, set);
    if (in != stdin) std::fclose(in);
    if (status == kOk && !out.commit()) status = fail(path, out.error());
    return status;
}

}  // namespace tool
