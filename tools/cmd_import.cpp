/*
 * wks import CSV OUT: builds an ORX or a WK1 file (by OUT's extension) from
 * a CSV file, one cell per non-empty field, row by row.  Cells are built in
 * the ORX cell layout (formulas by wksform) and translated for a WK1 file.
 * A failed import removes what it wrote.
 */
#include "tools/commands.h"
#include "tools/common.h"
#include "tools/text.h"
#include "wks.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks import CSV OUT\n"
    "\n"
    "Builds OUT from the CSV file (\"-\" reads standard input): an ORX file when\n"
    "OUT ends in .orx, a WK1 file when it ends in .wk1 (any case).  The first\n"
    "record is row 1, its first field column A.  Each non-empty field becomes\n"
    "a cell: a decimal number an integer cell (whole numbers -32768..32767) or\n"
    "a number cell; text starting with \"=\" or \"+\" a formula (the \"=\" is\n"
    "dropped, a \"+\" kept as part of the formula); anything else a label.\n";

constexpr int kOrxPrefix = 11;      // cell prefix bytes; the library's own prefix ends in 2
constexpr unsigned char kPrefixLast = 2;
constexpr int kValue = 16;          // value area in the ORX cell layout
constexpr unsigned char kDefaultFormat = 0xFF;
constexpr int kMaxLabel = WKS_MAX_READ_BODY - kValue - 2;  // prefix character and NUL

enum class Target { kOrx, kWk1, kUnknown };

Target target_of(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return Target::kUnknown;
    const std::string ext = path.substr(dot);
    if (!strcasecmp(ext.c_str(), ".orx")) return Target::kOrx;
    if (!strcasecmp(ext.c_str(), ".wk1")) return Target::kWk1;
    return Target::kUnknown;
}

// A decimal number: -?digits[.digits][e[+-]digits], at least one digit before the exponent.
bool is_number(const std::string &s, bool &whole) {
    std::size_t i = s[0] == '-' ? 1 : 0, digits = 0;
    whole = true;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        whole = false;
        for (++i; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        whole = false;
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

void start_cell(WKS &cell, int type, int16_t col, int16_t row, int value_bytes) {
    unsigned char *b = cell.rec.body;
    std::memset(b, 0, kValue);
    b[kOrxPrefix - 1] = kPrefixLast;
    b[kOrxPrefix] = kDefaultFormat;
    wksni(b + kOrxPrefix + 1, col);
    wksni(b + kOrxPrefix + 3, row);
    wksni(cell.rec.type, static_cast<int16_t>(type));
    wksni(cell.rec.length, static_cast<int16_t>(kValue + value_bytes));
}

// Builds the cell for one field in `cell`; false with the reason in why.
bool build_cell(WKS &cell, const std::string &field, int16_t col, int16_t row, std::string &why) {
    bool whole;
    if (field[0] == '=' || field[0] == '+') {
        const char *text = field.c_str() + (field[0] == '=' ? 1 : 0);
        start_cell(cell, WKS_FORMULA, col, row, 0);  // the prefix; wksform fills the rest
        const int16_t got = wksform(&cell, ' ', col, row, text);
        if (got == 0) return true;
        take_messages();  // the message says what `why` says
        why = "formula '" + std::string(text) + "': " + error_text(got);
        return false;
    }
    if (is_number(field, whole)) {
        errno = 0;
        const double v = std::strtod(field.c_str(), nullptr);
        if (errno == ERANGE && (v > 1 || v < -1)) {
            why = "number '" + field + "' is out of range";
            return false;
        }
        if (whole && v >= INT16_MIN && v <= INT16_MAX) {
            start_cell(cell, WKS_INTEGER, col, row, 2);
            wksni(cell.rec.body + kValue, static_cast<int16_t>(v));
        } else {
            start_cell(cell, WKS_NUMBER, col, row, 8);
            wksdi(cell.rec.body + kValue, v);
        }
        return true;
    }
    if (field.size() > static_cast<std::size_t>(kMaxLabel)) {
        why = "label of " + std::to_string(field.size()) + " characters is longer than " +
              std::to_string(kMaxLabel);
        return false;
    }
    const int n = static_cast<int>(field.size());
    start_cell(cell, WKS_LABEL, col, row, n + 2);
    cell.rec.body[kValue] = '\'';  // left-aligned
    std::memcpy(cell.rec.body + kValue + 1, field.data(), field.size());
    cell.rec.body[kValue + 1 + n] = 0;
    return true;
}

class Output {
public:
    Output(const std::string &path, Target target) : path_(path), target_(target) {}
    ~Output() {
        if (open_) close(false);
    }
    bool open() {
        std::memset(&h_, 0, sizeof h_);
        if (target_ == Target::kWk1) {
            open_ = wksopen_wk1(&h_, "", path_.c_str()) != nullptr;
        } else {
            unsigned char header[WKS_HEADER_SIZE] = {};  // an empty block, magic words set by the library
            set_open_for_load(1);
            open_ = SetOrxHeader(header) && wksopen(&h_, "", path_.c_str()) != nullptr;
            wks_cleanup();  // a block the open did not take
        }
        return open_;
    }
    int16_t error() const { return h_.error; }
    bool write(const WKS &cell) {
        if (target_ == Target::kOrx) {
            std::memcpy(&h_.rec, &cell.rec, sizeof h_.rec);
            return wkswrec(&h_) == 0;
        }
        const auto *src = reinterpret_cast<const unsigned char *>(&cell.rec);
        return orx_rec_to_wk1_rec(src, reinterpret_cast<unsigned char *>(&h_.rec)) == 0 && wkswrec_wk1(&h_) == 0;
    }
    // Closes (with the EOF record); a failed import removes the file.
    bool close(bool keep) {
        const int16_t got = target_ == Target::kOrx ? wksclose(&h_) : wksclose_wk1(&h_);
        open_ = false;
        if (!keep || got != 0) std::remove(path_.c_str());
        return got == 0;
    }

private:
    std::string path_;
    Target target_;
    WKS h_{};
    bool open_ = false;
};

}  // namespace

int cmd_import(const Args &args) {
    Options o;
    if (!parse_options("import", args, {}, {}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 2) return usage_error("import", "expects CSV and OUT");
    const std::string &csv = o.positional[0], &out = o.positional[1];
    const Target target = target_of(out);
    if (target == Target::kUnknown) return fail(out, "the output must end in .orx or .wk1");

    std::FILE *in = csv == "-" ? stdin : std::fopen(csv.c_str(), "rb");
    if (!in) return fail(csv, std::string("cannot open: ") + std::strerror(errno));
    Output file(out, target);
    int status = kOk;
    if (!file.open()) {
        status = fail(out, "cannot create" + (file.error() ? ": " + error_text(file.error()) : std::string()));
    } else {
        std::vector<std::string> fields;
        bool unterminated = false;
        WKS cell;
        std::memset(&cell, 0, sizeof cell);
        for (int row = 0; status == kOk && read_csv_record(in, fields, &unterminated); ++row) {
            const std::string where = csv + ":" + std::to_string(row + 1);
            if (unterminated) status = fail(where, "quoted field not closed at the end of the file");
            for (std::size_t col = 0; status == kOk && col < fields.size(); ++col) {
                if (fields[col].empty()) continue;
                if (row >= kRows || col >= static_cast<std::size_t>(kColumns)) {
                    status = fail(where, "field " + std::to_string(col + 1) + " lies outside the sheet (A1..IV8192)");
                    break;
                }
                std::string why;
                const auto c = static_cast<int16_t>(col), r = static_cast<int16_t>(row);
                if (!build_cell(cell, fields[col], c, r, why))
                    status = fail(where, cell_name(c, r) + ": " + why);
                else if (!file.write(cell))
                    status = fail(out, "writing " + cell_name(c, r) + " failed");
            }
        }
        if (status == kOk && std::ferror(in)) status = fail(csv, "read error");
        if (!file.close(status == kOk) && status == kOk) status = fail(out, "closing failed");
    }
    if (in != stdin) std::fclose(in);
    return status;
}

}  // namespace tool
