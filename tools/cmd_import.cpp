/*
 * wks import [--json] FILE OUT: builds an ORX or a WK1 file from a CSV
 * file, one cell per non-empty field, row by row, or from the JSON form of
 * 'wks dump --json', record by record (record_form.h).  The new file is
 * written by Output (output.h): a failed import leaves OUT as it was.
 *
 * A CSV import stores its formulas' computed values: the cells go to a
 * scratch file first, wks_calc_file computes it without writing, and the
 * cells then go to OUT with the values.  A JSON import keeps the values the
 * objects give, as the lossless form must.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "tools/json.h"
#include "tools/record_form.h"
#include "tools/output.h"
#include "tools/signals.h"
#include "tools/text.h"
#include "wks.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
    "was.  OUT may not name FILE; an empty FILE writes nothing.  A UTF-8\n"
    "byte-order mark is skipped.\n"
    "\n"
    "FILE is CSV: the first record is row 1, its first field column A.  Each\n"
    "non-empty field becomes a cell: a decimal number an integer cell (whole\n"
    "numbers -32768..32767) or a number cell; text starting with \"=\" or \"+\"\n"
    "a formula (the \"=\" is dropped, a \"+\" kept as part of the formula);\n"
    "text starting with an apostrophe a label of the rest; anything else a\n"
    "label.  A field holding a NUL byte, or a formula with a number too large\n"
    "for a double, is refused.  Each formula stores the value it computes to,\n"
    "as 'wks calc' computes it.  A WK1 file gets the RANGE record (the first\n"
    "and the last used cell) right after its BOF record.\n"
    "\n"
    "  --json          FILE holds the records of 'wks dump --json', one object\n"
    "                  per line, the BOF record's first; they are written back\n"
    "                  as they were, formulas from their code (from their text\n"
    "                  when it is missing) with the value they give (0 when\n"
    "                  they give none).  Without --json, a FILE whose name ends\n"
    "                  in .json or whose first line is such an object is read\n"
    "                  so too.  OUT may then have any name: its format is the\n"
    "                  one the BOF record gives\n"
    "  --encoding SET  the character set labels, strings and names are written\n"
    "                  in: auto (the default: lics for a .wk1 OUT, the set WK1\n"
    "                  files are read in, else cp437), cp437, cp850, cp1252,\n"
    "                  latin1 or lics; FILE is UTF-8\n";

constexpr int kWk1Value = WKS_CELL_VALUE;  // value area in the WK1 cell layout
constexpr int kRecordHeader = 4;
constexpr int kBofVersion = 1030;
constexpr int16_t kRangeRecord = 6;  // the active range
constexpr int32_t kReadAheadBytes = 1 << 17;
constexpr std::size_t kLongestFirstLine = 1 << 16;  // looked at to tell JSON from CSV

Format target_of(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return Format::kNeither;
    const std::string ext = path.substr(dot);
    if (!strcasecmp(ext.c_str(), ".orx")) return Format::kOrx;
    if (!strcasecmp(ext.c_str(), ".wk1")) return Format::kWk1;
    return Format::kNeither;
}

bool ends_in(const std::string &path, const char *ext) {
    const std::size_t n = std::strlen(ext);
    return path.size() > n && !strcasecmp(path.c_str() + path.size() - n, ext);
}

// True when out names the file the input comes from, under any name or link
// (standard input too).  A system that gives no inode numbers tells nothing.
bool names_input(const std::string &input, const std::string &out) {
    struct stat in_st, out_st;
    if (::stat(out.c_str(), &out_st) != 0) return false;
    const int got = input == "-" ? ::fstat(0, &in_st) : ::stat(input.c_str(), &in_st);
    return got == 0 && in_st.st_ino != 0 && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino;
}

void put_record(ScratchFile &file, const WKS_RECORD &rec) {
    file.write(&rec, static_cast<std::size_t>(kRecordHeader + (rec.length[0] | rec.length[1] << 8)));
}

// ---- CSV --------------------------------------------------------------------

// Each formula's computed value, in file order.
struct Computed {
    int16_t col, row;
    int32_t kind;
    double number;
    std::string text;
};

extern "C" void keep_value(void *context, int16_t col, int16_t row, const WKS_VALUE *, const WKS_VALUE *computed,
                           int32_t) {
    static_cast<std::vector<Computed> *>(context)->push_back(
        {col, row, computed->kind, computed->number, computed->kind == WKS_VALUE_STRING ? computed->text : ""});
}

// The active range: the first and the last column and row that hold a cell
// (A1..A1 when none does).
struct Used {
    int16_t first_col = kColumns, first_row = kRows, last_col = 0, last_row = 0;
    void add(int16_t col, int16_t row) {
        first_col = std::min(first_col, col), first_row = std::min(first_row, row);
        last_col = std::max(last_col, col), last_row = std::max(last_row, row);
    }
    // The RANGE record, which a new WK1 file carries right after its BOF
    // record, as the registry's signature of the format expects.
    WKS_RECORD record() const {
        WKS_RECORD rec;
        wksni(rec.type, kRangeRecord);
        wksni(rec.length, 8);
        const bool none = first_col > last_col;
        wksni(rec.body, none ? 0 : first_col);
        wksni(rec.body + 2, none ? 0 : first_row);
        wksni(rec.body + 4, last_col);
        wksni(rec.body + 6, last_row);
        return rec;
    }
};

// The cells of the CSV text, in the WK1 cell layout between a BOF and an
// EOF record, into cells; where they lie into used, how many are formulas
// into formulas.
int csv_cells(TextInput &text, const std::string &csv, ScratchFile &cells, Charset set, Used &used,
              std::size_t &formulas) {
    std::vector<std::string> fields;
    bool unterminated = false;
    WKS cell{};
    WKS_RECORD rec;
    wksni(rec.type, WKS_BOF);
    wksni(rec.length, 2);
    wksni(rec.body, kBofVersion);
    put_record(cells, rec);
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
            if (!csv_cell(cell, bytes, c, r, set, why)) return fail(where, cell_name(c, r) + ": " + why);
            if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(&cell.rec),
                                   reinterpret_cast<unsigned char *>(&rec)) != 0)
                return fail(where, cell_name(c, r) + ": the cell does not fit a record");
            put_record(cells, rec);
            used.add(c, r);
            formulas += rec.type[0] == WKS_FORMULA && rec.type[1] == 0;
        }
    }
    if (text.failed()) return fail(csv, "read error");
    wksni(rec.type, WKS_EOF);
    wksni(rec.length, 0);
    put_record(cells, rec);
    std::string why;
    return cells.flush(why) ? kOk : fail(csv, why);
}

// Writes a record in the WK1 cell layout to out, translated for an ORX file.
bool write_wk1_layout(Output &out, const WKS_RECORD &rec) {
    if (out.format() == Format::kWk1) return out.write(rec);
    WKS_RECORD orx;
    wk1_rec_to_orx_rec(reinterpret_cast<const unsigned char *>(&rec), reinterpret_cast<unsigned char *>(&orx));
    return out.write(orx);
}

// The records of cells to out, each formula with its computed value (a
// string value in a record of its own after it), as 'wks calc' stores them:
// ERR as +infinity, NA as -infinity, a string as the NaN that marks one.
int copy_computed(const std::string &cells, const std::vector<Computed> &values, Output &out) {
    WKS in{};
    if (!wksopen_wk1(&in, cells.c_str(), ""))
        return fail(out.path(), "cannot read the scratch file back: " + error_text(in.error));
    wks_read_ahead(&in, kReadAheadBytes);
    int status = kOk;
    int16_t got;
    std::size_t next = 0;
    while (status == kOk && (got = wksnextr_wk1(&in)) != -1) {
        if (got != 0) {
            status = fail(out.path(), "cannot read the scratch file back: " + error_text(got));
            break;
        }
        WKS_RECORD &rec = in.rec;
        const int16_t type = static_cast<int16_t>(rec.type[0] | rec.type[1] << 8);
        const Computed *v = nullptr;
        if (type == WKS_FORMULA && next < values.size() &&
            values[next].col == static_cast<int16_t>(rec.body[WKS_CELL_COLUMN] | rec.body[WKS_CELL_COLUMN + 1] << 8) &&
            values[next].row == static_cast<int16_t>(rec.body[WKS_CELL_ROW] | rec.body[WKS_CELL_ROW + 1] << 8))
            v = &values[next++];
        if (v) {
            const uint64_t string_mark = 0x7FF8000000000000ull;
            double stored;
            if (v->kind == WKS_VALUE_STRING) std::memcpy(&stored, &string_mark, sizeof stored);
            else stored = v->kind == WKS_VALUE_NUMBER ? v->number : v->kind == WKS_VALUE_NA ? -HUGE_VAL : HUGE_VAL;
            wksdi(rec.body + kWk1Value, stored);
        }
        if (!write_wk1_layout(out, rec)) status = fail(out.path(), out.error());
        if (status != kOk || !v || v->kind != WKS_VALUE_STRING) continue;
        const std::size_t n = std::min(v->text.size(), static_cast<std::size_t>(WKS_MAX_READ_BODY - kWk1Value - 1));
        std::memcpy(rec.body + kWk1Value, v->text.data(), n);
        rec.body[kWk1Value + n] = 0;
        wksni(rec.type, WKS_STRING);
        wksni(rec.length, static_cast<int16_t>(kWk1Value + n + 1));
        if (!write_wk1_layout(out, rec)) status = fail(out.path(), out.error());
    }
    wksclose_wk1(&in);
    return status;
}

// The CSV import: the cells go to a scratch file, which wks_calc_file
// computes without writing; then they go to out with the values.
int import_csv(TextInput &text, const std::string &csv, Output &out, Charset set) {
    if (!out.create(nullptr, kBofVersion)) return fail(out.path(), out.error());
    ScratchFile cells;
    std::string why;
    if (!cells.open(why)) return fail(out.path(), why);
    Used used;
    std::size_t formulas = 0;
    const int status = csv_cells(text, csv, cells, set, used, formulas);
    if (status != kOk) return status;
    if (out.format() == Format::kWk1 && !out.write(used.record())) return fail(out.path(), out.error());
    std::vector<Computed> values;
    values.reserve(formulas);  // one allocation, not a copy of all values at each doubling
    int16_t code;
    {
        // Nothing is written yet: a signal stops the calculation at once
        // (the library asks the handler now and then) and ends the tool.
        wks_set_progress_handler([](void *, int64_t, int64_t) -> int32_t { return stop_requested() != 0; }, nullptr);
        Stoppable stoppable;
        code = wks_calc_file(cells.path().c_str(), WKS_CALC_CHECK | calc_charset_flag(set), 1, keep_value, &values,
                             nullptr);
    }
    wks_set_progress_handler(nullptr, nullptr);
    if (const int sig = stop_requested()) end_with_signal(sig);
    if (code != 0) return fail(out.path(), "cannot compute its formulas' values: " + error_text(code));
    return copy_computed(cells.path(), values, out);
}

// ---- JSON -------------------------------------------------------------------

// True when a line is an object of the JSON form.
bool json_record(const std::string &line) {
    JsonObject o;
    std::string why;
    return parse_json_object(line, o, why) && o.count("kind");
}

int import_json(TextInput &text, const std::string &file, const std::string &path, Charset set, bool &committed) {
    JsonRecords records(set);
    std::string line, why;
    JsonObject o;
    WKS_RECORD rec;
    std::vector<unsigned char> trailing;
    int number = 0;
    bool eof = false;
    std::unique_ptr<Output> out;
    while (read_line(text, line)) {
        const std::string where = file + ":" + std::to_string(++number);
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (!trailing.empty()) return fail(where, "nothing may follow the trailing bytes");
        if (!parse_json_object(line, o, why)) return fail(where, why);
        if (!out) {
            const JsonValue *kind = o.count("kind") ? &o.at("kind") : nullptr;
            if (!kind || kind->text != "bof")
                return fail(where, "the first record must be the BOF record ('wks dump --json' writes it)");
            std::vector<unsigned char> block;
            if (!records.header(o, block, why)) return fail(where, why);
            Format target = target_of(path);
            if (target == Format::kNeither) target = records.source();
            if (target == Format::kNeither)
                return fail(path, "the output must end in .orx or .wk1, or the BOF record give its \"file_format\"");
            records.set_target(target);
            out.reset(new Output(path, target));
            if (!out->create(block.empty() ? nullptr : block.data(), 0)) return fail(path, out->error());
        }
        const JsonRecords::Made made = records.record(o, rec, trailing, why);
        if (made == JsonRecords::kRefused) return fail(where, why);
        if (made == JsonRecords::kTrailing) {
            out->write_bytes(trailing.data(), trailing.size());
            continue;
        }
        eof = eof || (rec.type[0] == WKS_EOF && rec.type[1] == 0);
        if (!out->write(rec)) return fail(path, out->error());
    }
    if (text.failed()) return fail(file, "read error");
    if (!out) return fail(file, "holds no records; nothing written");
    // A file given without its EOF record gets one.
    if (!out->commit(!eof)) return fail(path, out->error());
    committed = true;
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
    if (set == Charset::kAuto) set = target_of(path) == Format::kWk1 ? Charset::kLics : Charset::kCp437;
    if (names_input(input, path)) return fail(path, "is the file being imported; give another name");
    struct stat st;
    if (input != "-" && ::stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(shown, "is a directory");

    std::FILE *in = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (!in) return fail(shown, std::string("cannot open: ") + std::strerror(errno));
    int status;
    {
        TextInput text(in);
        const int c = text.get();
        text.unget(c);
        const std::string first = text.peek_line(kLongestFirstLine);
        // JSON is told by --json, by its name or by its first line.
        const bool json = o.has("--json") || ends_in(input, ".json") || json_record(first);
        bool committed = false;
        if (c == EOF) {
            status = fail(shown, text.failed() ? "read error" : "is empty; nothing written");
        } else if (json) {
            status = import_json(text, shown, path, set, committed);
        } else if (target_of(path) == Format::kNeither) {
            status = fail(path, "the output must end in .orx or .wk1");
        } else {
            Output out(path, target_of(path));
            status = import_csv(text, shown, out, set);
            if (status == kOk && !out.commit()) status = fail(path, out.error());
        }
    }
    if (in != stdin) std::fclose(in);
    return status;
}

}  // namespace tool
