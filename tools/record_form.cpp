/*
 * Building records from CSV fields and from the objects of the JSON form.
 * Every object may give its record's whole body in hexadecimal ("body"):
 * the dump writes it wherever the other fields cannot give the record's
 * bytes back (bytes after a label's NUL or a cell's value, the filler of a
 * range name, a malformed record), and the body then makes the record.
 */
#include "tools/record_form.h"

#include "tools/formula_text.h"
#include "tools/sheet.h"
#include "tools/text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tool {
namespace {

constexpr int kValue = WKS_ORX_CELL_PREFIX + WKS_CELL_VALUE;  // value area in the ORX cell layout
constexpr int kFormulaCode = WKS_ORX_CELL_PREFIX + WKS_CELL_FORMULA_CODE;
constexpr int kFormulaValue = WKS_CELL_FORMULA_CODE - WKS_CELL_VALUE;
constexpr unsigned char kDefaultFormat = 0xFF;
constexpr unsigned char kUsualPrefix[WKS_ORX_CELL_PREFIX] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, WKS_ORX_PREFIX_MARK};
constexpr int kRecordHeader = 4;
constexpr char kLabelPrefix = '\'';
constexpr std::size_t kQuotedCharacters = 80;

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

// Formula text compiled into the cell's record by wksform.  A constant too
// large for a double is refused: no text could give it back.
bool compiled_formula(WKS &cell, const std::string &text, int16_t col, int16_t row, Charset set, std::string &why) {
    start_cell(cell.rec, WKS_FORMULA, col, row, 0);  // the prefix; wksform fills the rest
    const int16_t got = wksform(&cell, ' ', col, row, text.c_str());
    if (got != 0) {
        take_messages();  // the message says what `why` says
        why = "formula '" + quoted_formula(text, set) + "': " + error_text(got);
        return false;
    }
    const int length = cell.rec.length[0] | cell.rec.length[1] << 8;
    if (has_nonfinite_constant(cell.rec.body + kFormulaCode, length - kFormulaCode)) {
        why = "formula '" + quoted_formula(text, set) + "': a number in it is out of range";
        return false;
    }
    // Code nested deeper around one operand than the decoder's stack of
    // texts compiles, but no reader could show it again: refused here.
    // Shorter code has too few items to fill that stack.
    constexpr int kDecoderStack = 64;
    if (length - kFormulaCode < kDecoderStack) return true;
    static char shown[1 << 13];
    if (wksfr(0, col, row, cell.rec.body + kFormulaCode, shown, sizeof shown) != WKS_E_DECODE_DEPTH) return true;
    take_messages();
    why = "formula '" + quoted_formula(text, set) + "': " + error_text(WKS_E_DECODE_DEPTH) +
          " (nested too deep to be shown again)";
    return false;
}

const JsonValue *field(const JsonObject &o, const char *key) {
    const auto it = o.find(key);
    return it == o.end() ? nullptr : &it->second;
}

bool integer_field(const JsonObject &o, const char *key, long lo, long hi, long &v, std::string &why) {
    const JsonValue *f = field(o, key);
    char *end = nullptr;
    errno = 0;
    if (f && f->type == JsonValue::kNumber) v = std::strtol(f->text.c_str(), &end, 10);
    if (!f || f->type != JsonValue::kNumber || *end || errno == ERANGE || v < lo || v > hi) {
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

bool is_cell_type(long type) { return (type >= WKS_BLANK && type <= WKS_FORMULA) || type == WKS_STRING; }

std::string range_text(const Record &r) { return cell_name(r.c1, r.r1) + ".." + cell_name(r.c2, r.r2); }

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

}  // namespace

std::string quoted_formula(const std::string &bytes, Charset set) {
    const std::string text = to_utf8(bytes, set);
    std::size_t characters = 0, i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (characters++ == kQuotedCharacters) break;
    }
    return i < text.size() ? text.substr(0, i) + "..." : text;
}

bool csv_cell(WKS &cell, const std::string &field, int16_t col, int16_t row, Charset set, std::string &why) {
    bool whole;
    if (field[0] == '=' || field[0] == '+')
        return compiled_formula(cell, field.substr(field[0] == '=' ? 1 : 0), col, row, set, why);
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

bool JsonRecords::header(const JsonObject &bof, std::vector<unsigned char> &block, std::string &why) {
    if (const JsonValue *f = field(bof, "file_format"))
        source_ = f->text == "ORX" ? Format::kOrx : f->text == "WK1" ? Format::kWk1 : Format::kNeither;
    if (!field(bof, "header_block")) return true;
    if (!hex_field(bof, "header_block", block, why)) return false;
    if (block.size() == WKS_HEADER_SIZE) return true;
    why = "\"header_block\" must be " + std::to_string(WKS_HEADER_SIZE) + " bytes";
    return false;
}

JsonRecords::Made JsonRecords::record(const JsonObject &o, WKS_RECORD &rec, std::vector<unsigned char> &trailing,
                                      std::string &why) {
    const JsonValue *kind = field(o, "kind");
    const std::string k = kind && kind->type == JsonValue::kString ? kind->text : "";
    if (k == "trailing") return hex_field(o, "bytes", trailing, why) ? kTrailing : kRefused;
    bool made;
    if (k == "other" || k == "malformed" || field(o, "body")) {
        made = raw(o, k == "malformed", rec, why);
    } else if (k == "bof" || k == "eof") {
        long version = 0;
        if (k == "bof" && !integer_field(o, "version", 0, 65535, version, why)) return kRefused;
        wksni(rec.type, k == "bof" ? WKS_BOF : WKS_EOF);
        wksni(rec.length, static_cast<int16_t>(k == "bof" ? 2 : 0));
        wksni(rec.body, static_cast<int16_t>(version));
        return kRecord;
    } else if (k == "blank" || k == "integer" || k == "number" || k == "label" || k == "string" || k == "formula") {
        WKS_RECORD orx;
        made = cell(o, k, orx, why);
        if (made && target_ == Format::kWk1 &&
            orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(&orx), reinterpret_cast<unsigned char *>(&rec)) != 0)
            return why = "the cell does not fit a WK1 file", kRefused;
        if (made && target_ != Format::kWk1) rec = orx;
    } else if (k == "range_name") {
        made = range_name(o, rec, why);
    } else {
        return why = "\"kind\" must name a kind of record the dump writes", kRefused;
    }
    return made ? kRecord : kRefused;
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
        if (!text_field(o, "text", set_, text, why) || !compiled_formula(scratch_, text, c, r, set_, why)) return false;
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

bool JsonRecords::raw(const JsonObject &o, bool malformed, WKS_RECORD &rec, std::string &why) {
    long type;
    std::vector<unsigned char> body;
    if (!integer_field(o, "type", 0, 65535, type, why) || !hex_field(o, "body", body, why)) return false;
    if (body.size() > WKS_MAX_READ_BODY) return why = "the body is too long for a record", false;
    wksni(rec.type, static_cast<int16_t>(type));
    wksni(rec.length, static_cast<int16_t>(body.size()));
    if (!body.empty()) std::memcpy(rec.body, body.data(), body.size());
    // A cell's bytes are in the layout of the file they come from.
    if (!is_cell_type(type) || source_ == target_) return true;
    const std::string cannot = "a " + std::string(malformed ? "malformed " : "") + "cell record of a " +
                               format_name(source_) + " file cannot go into a " + format_name(target_) + " file";
    if (malformed || source_ == Format::kNeither) return why = cannot, false;
    WKS_RECORD translated;
    const auto *from = reinterpret_cast<const unsigned char *>(&rec);
    auto *to = reinterpret_cast<unsigned char *>(&translated);
    if ((source_ == Format::kWk1 ? wk1_rec_to_orx_rec(from, to) : orx_rec_to_wk1_rec(from, to)) != 0 ||
        (translated.length[0] | translated.length[1] << 8) > WKS_MAX_READ_BODY)
        return why = cannot, false;
    rec = translated;
    return true;
}

std::string record_json(const Record &r, Format format, const std::vector<unsigned char> &header_block, Charset set,
                        JsonRecords &check) {
    if (r.kind == Kind::kTrailing)
        return "{\"index\":" + std::to_string(r.index) + ",\"kind\":\"trailing\",\"length\":" + std::to_string(r.length) +
               ",\"bytes\":\"" + hex(r.body, static_cast<std::size_t>(r.length)) + "\"}";
    const char *name = record_name(r.type);
    std::string o = "{\"index\":" + std::to_string(r.index) + ",\"type\":" + std::to_string(r.type) +
                    ",\"name\":" + (name ? json_string(name) : "null") + ",\"length\":" + std::to_string(r.length);
    auto cell = [&](const char *kind) {
        o += ",\"kind\":\"" + std::string(kind) + "\",\"cell\":" + json_string(cell_name(r.col, r.row)) +
             ",\"col\":" + std::to_string(r.col) + ",\"row\":" + std::to_string(r.row) +
             ",\"format\":" + std::to_string(r.format);
        if (format == Format::kOrx && std::memcmp(r.body, kUsualPrefix, sizeof kUsualPrefix) != 0)
            o += ",\"prefix\":\"" + hex(r.body, sizeof kUsualPrefix) + "\"";
    };
    const std::string text = json_string(to_utf8(r.text, set));
    switch (r.kind) {
    case Kind::kBof:
        o += ",\"kind\":\"bof\",\"version\":" + std::to_string(r.version) + ",\"file_format\":\"" +
             format_name(format) + "\"";
        if (!header_block.empty()) {
            // Only a block that holds more than the magic words is written out.
            const auto &block = header_block;
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
    return o + "}";
}


}  // namespace tool
