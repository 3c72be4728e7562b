/*
 * wks_export_xlsx: a WK1, WKS or ORX file as a workbook of one sheet.
 *
 * The file is read three times through the library's record streams:
 * first for what the sheet holds (the kind of each cell, widths, names, the
 * default format, whether the cells come row by row); then wks_calc_file
 * computes every formula (the values become the cached values, and the
 * kinds of the formula cells); last the cells are written in file order.
 * Cells that come row by row are written in the writer's constant-memory
 * mode, one row in memory; others through its whole-sheet mode.
 */
#include "wks_export.h"

#include "export/report.h"
#include "export/translate.h"
#include "tools/encoding.h"
#include "wks.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wks::exporting {
namespace {

constexpr int kColumns = 256;
constexpr int kRows = 8192;
constexpr int kWindow1 = 7;         // bytes 4: default format, 6-7: default column width
constexpr int kColumnWidth = 8;     // column word, width byte
constexpr int kProtection = 36;     // one byte: the sheet is protected
constexpr int kDefaultWidth = 9;
constexpr int32_t kReadAhead = 256 * 1024;
constexpr uint8_t kProtectedBit = 0x80;
constexpr const char *kSheet = "Sheet1";

uint16_t u16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The file open for reading through the library, its BOF record current.
class Source {
public:
    explicit Source(const char *path) {
        std::memset(&h_, 0, sizeof h_);
        orx_ = is_orx_file(path) != 0;
        open_ = orx_ ? wksopen(&h_, path, "") != nullptr : wksopen_wk1(&h_, path, "") != nullptr;
        if (open_) wks_read_ahead(&h_, kReadAhead);  // without a block the handle reads on record by record
    }
    ~Source() {
        if (open_) orx_ ? wksclose(&h_) : wksclose_wk1(&h_);
    }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    bool open() const { return open_; }
    int16_t error() const { return h_.error == WKS_E_READ ? WKS_E_READ : WKS_E_OPEN; }
    // 0: a record is current; -1: the EOF record; 27: read error.
    int16_t next() { return orx_ ? wksnextr(&h_) : wksnextr_wk1(&h_); }
    int type() const { return u16(h_.rec.type); }
    int length() const { return u16(h_.rec.length); }
    const unsigned char *body() const { return h_.rec.body; }
    // A cell record's WK1 body (behind an ORX cell's prefix), or null.
    const unsigned char *cell() const {
        const int t = type();
        if (t < WKS_BLANK || t > WKS_FORMULA) return nullptr;
        const int skip = orx_ ? WKS_ORX_CELL_PREFIX : 0;
        const int need = skip + WKS_CELL_VALUE + (t == WKS_INTEGER ? 2 : t == WKS_NUMBER ? 8 : t == WKS_LABEL ? 1 : 0) +
                         (t == WKS_FORMULA ? 10 : 0);
        return length() >= need ? h_.rec.body + skip : nullptr;
    }
    int cell_length() const { return length() - (orx_ ? WKS_ORX_CELL_PREFIX : 0); }

private:
    WKS h_;
    bool orx_ = false;
    bool open_ = false;
};

struct Name {
    std::string bytes;
    int c1, r1, c2, r2;
};

uint32_t key(int col, int row) { return static_cast<uint32_t>(row) << 8 | static_cast<uint32_t>(col); }

struct Computed {
    int32_t kind;
    double number;
    std::string text;
    bool circular;
};

// What the first reading finds.
struct Survey {
    CellKinds kinds;
    uint8_t widths[kColumns] = {};
    int default_width = kDefaultWidth;
    int default_format = 0x71;  // general
    bool protected_sheet = false;
    bool row_order = true;
    long formulas = 0;
    bool databases = false;  // some formula calls a database function
    std::vector<Name> names;
};

int16_t survey(const char *path, Survey &s) {
    Source in(path);
    if (!in.open()) return in.error();
    int last_col = -1, last_row = -1;
    for (;;) {
        const int16_t rc = in.next();
        if (rc == -1) return WKS_OK;
        if (rc != 0) return WKS_E_READ;
        const unsigned char *b = in.body();
        switch (in.type()) {
        case kWindow1:
            if (in.length() > 4) s.default_format = b[4];
            if (in.length() >= 8 && u16(b + 6) > 0 && u16(b + 6) < 256) s.default_width = u16(b + 6);
            continue;
        case kColumnWidth:
            if (in.length() >= 3 && u16(b) < kColumns) s.widths[u16(b)] = b[2];
            continue;
        case kProtection:
            s.protected_sheet = in.length() >= 1 && b[0] != 0;
            continue;
        case WKS_RANGE_NAME:
            if (in.length() >= WKS_NAME_RECORD_SIZE) {
                const unsigned char *c = b + WKS_NAME_COORDINATES;
                s.names.push_back(Name{std::string(reinterpret_cast<const char *>(b),
                                                   strnlen(reinterpret_cast<const char *>(b), WKS_NAME_TEXT_SIZE)),
                                       u16(c), u16(c + 2), u16(c + 4), u16(c + 6)});
            }
            continue;
        default: break;
        }
        const unsigned char *cell = in.cell();
        if (!cell) continue;
        const int col = u16(cell + WKS_CELL_COLUMN), row = u16(cell + WKS_CELL_ROW);
        if (col >= kColumns || row >= kRows) continue;
        if (row < last_row || (row == last_row && col <= last_col)) s.row_order = false;
        last_col = col, last_row = row;
        switch (in.type()) {
        case WKS_INTEGER:
        case WKS_NUMBER: s.kinds.set(col, row, Kind::kNumber); break;
        case WKS_LABEL: s.kinds.set(col, row, Kind::kString); break;
        case WKS_FORMULA: {
            ++s.formulas;
            const int size = static_cast<int16_t>(u16(cell + WKS_CELL_FORMULA_CODE));
            if (size > 0 && WKS_CELL_FORMULA_CODE + 2 + size <= in.cell_length())
                s.databases |= calls_database_function(cell + WKS_CELL_FORMULA_CODE + 2, size);
            break;
        }
        default: s.kinds.set(col, row, Kind::kEmpty);
        }
    }
}

// The contents of the cells, for the database functions' forms.
int16_t keep_contents(const char *path, CellKinds &kinds) {
    Source in(path);
    if (!in.open()) return in.error();
    for (;;) {
        const int16_t rc = in.next();
        if (rc == -1) return WKS_OK;
        if (rc != 0) return WKS_E_READ;
        const unsigned char *c = in.cell();
        if (!c) continue;
        const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
        if (col >= kColumns || row >= kRows) continue;
        switch (in.type()) {
        case WKS_INTEGER:
            kinds.keep(col, row, Content{Content::kNumber, static_cast<double>(static_cast<int16_t>(u16(c + WKS_CELL_VALUE))), ""});
            break;
        case WKS_NUMBER: {
            double v;
            std::memcpy(&v, c + WKS_CELL_VALUE, sizeof v);
            kinds.keep(col, row, Content{Content::kNumber, v, ""});
            break;
        }
        case WKS_LABEL: {
            const char *text = reinterpret_cast<const char *>(c + WKS_CELL_VALUE);
            std::string bytes(text, strnlen(text, static_cast<std::size_t>(in.cell_length() - WKS_CELL_VALUE)));
            if (!bytes.empty() && std::strchr("'\"^\\|", bytes[0])) bytes.erase(0, 1);
            kinds.keep(col, row, Content{Content::kLabel, 0, bytes});
            break;
        }
        case WKS_FORMULA: kinds.keep(col, row, Content{Content::kFormula, 0, ""}); break;
        default: break;
        }
    }
}

// The computed values by cell: 24 bytes a formula, and the texts of the
// strings apart.
class Values {
public:
    explicit Values(CellKinds &kinds) : kinds_(&kinds) {}

    void add(int col, int row, const WKS_VALUE &v, bool circular) {
        uint32_t text = 0;
        if (v.kind == WKS_VALUE_STRING) {
            text = static_cast<uint32_t>(texts_.size());
            texts_.emplace_back(v.text);
        }
        entries_.push_back(Entry{key(col, row), static_cast<int16_t>(v.kind), circular, text, v.number});
    }
    // In cell order; of two formulas of one cell the later one counts.
    void sort() {
        std::stable_sort(entries_.begin(), entries_.end(), [](const Entry &a, const Entry &b) { return a.key < b.key; });
        std::vector<Entry> kept;
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (i + 1 == entries_.size() || entries_[i + 1].key != entries_[i].key) kept.push_back(entries_[i]);
        entries_.swap(kept);
    }
    bool find(int col, int row, Computed &out) const {
        const uint32_t k = key(col, row);
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), k,
                                         [](const Entry &e, uint32_t want) { return e.key < want; });
        if (it == entries_.end() || it->key != k) return false;
        out = Computed{it->kind, it->number, it->kind == WKS_VALUE_STRING ? texts_[it->text] : "", it->circular};
        return true;
    }
    CellKinds &kinds() { return *kinds_; }

private:
    struct Entry {
        uint32_t key;
        int16_t kind;
        bool circular;
        uint32_t text;  // index into texts_ for a string
        double number;
    };
    CellKinds *kinds_;
    std::vector<Entry> entries_;
    std::vector<std::string> texts_;
};

void visit(void *context, int16_t col, int16_t row, const WKS_VALUE *, const WKS_VALUE *computed, int32_t marks) {
    auto *v = static_cast<Values *>(context);
    if (col < 0 || col >= kColumns || row < 0 || row >= kRows) return;
    v->add(col, row, *computed, (marks & WKS_FORMULA_CIRCULAR) != 0);
    v->kinds().set(col, row,
                  computed->kind == WKS_VALUE_NUMBER   ? Kind::kNumber
                  : computed->kind == WKS_VALUE_STRING ? Kind::kString
                  : computed->kind == WKS_VALUE_NA     ? Kind::kNa
                                                       : Kind::kErr);
}

// --- formats -------------------------------------------------------------

// The number format of a format byte (protection bit clear), or null when
// the byte has none; `lost` then says what the cells lose.
const char *number_format(int f, std::string &storage, const char **lost) {
    const int type = f >> 4 & 7, d = f & 15;
    const std::string decimals = d ? "." + std::string(static_cast<std::size_t>(d), '0') : "";
    *lost = nullptr;
    switch (type) {
    case 0: return (storage = "0" + decimals).c_str();
    case 1: return (storage = "0" + decimals + "E+00").c_str();
    case 2: return (storage = "$#,##0" + decimals + "_);($#,##0" + decimals + ")").c_str();
    case 3: return (storage = "0" + decimals + "%").c_str();
    case 4: return (storage = "#,##0" + decimals + "_);(#,##0" + decimals + ")").c_str();
    case 7: break;
    default: return nullptr;
    }
    static const char *const kSpecial[16] = {nullptr,    nullptr,  "dd-mmm-yy", "dd-mmm", "mmm-yy", nullptr,
                                             ";;;",      "hh:mm:ss AM/PM", "hh:mm AM/PM", "mm/dd/yy", "mm/dd",
                                             "hh:mm:ss", "hh:mm",  nullptr,     nullptr,  nullptr};
    if (d == 0) *lost = "+/- (no number format draws a bar of signs)";
    if (d == 5) *lost = "text (no number format shows the formula's text)";
    return kSpecial[d];
}

enum Align { kNoAlign, kLeft, kRight, kCentre, kFill };

class Formats {
public:
    Formats(lxw_workbook *book, int default_format, Report &report)
        : book_(book), default_(default_format & 0x7F), report_(report) {}

    lxw_format *get(uint8_t byte, Align align, int col, int row) {
        int f = byte & 0x7F;
        if (f == 0x7F) f = default_;
        const int k = (byte & kProtectedBit) << 8 | f << 4 | align;
        auto it = cache_.find(k);
        if (it != cache_.end()) {
            if (it->second.lost) report_.format(it->second.lost, cell_name(col, row));
            return it->second.format;
        }
        std::string storage;
        const char *lost;
        const char *num = number_format(f, storage, &lost);
        if (lost) report_.format(lost, cell_name(col, row));
        lxw_format *fmt = nullptr;
        if (num || align != kNoAlign || !(byte & kProtectedBit)) {
            fmt = workbook_add_format(book_);
            if (!fmt) throw std::bad_alloc();
            if (num) format_set_num_format(fmt, num);
            if (!(byte & kProtectedBit)) format_set_unlocked(fmt);
            if (align != kNoAlign)
                format_set_align(fmt, align == kLeft    ? LXW_ALIGN_LEFT
                                      : align == kRight ? LXW_ALIGN_RIGHT
                                      : align == kCentre ? LXW_ALIGN_CENTER
                                                         : LXW_ALIGN_FILL);
        }
        cache_[k] = Entry{fmt, lost};
        return fmt;
    }

private:
    lxw_workbook *book_;
    int default_;
    Report &report_;
    struct Entry {
        lxw_format *format;
        const char *lost;  // what the cells of this format lose, or null
    };
    std::map<int, Entry> cache_;
};

// --- names ----------------------------------------------------------------

bool looks_like_cell(const std::string &n) {
    std::size_t i = 0;
    while (i < n.size() && i < 3 && std::isalpha(static_cast<unsigned char>(n[i]))) ++i;
    if (i == 0 || i == n.size()) return false;
    for (std::size_t j = i; j < n.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(n[j]))) return false;
    return true;
}

// A defined name the workbook takes, from a range name.
std::string workbook_name(const std::string &utf8) {
    std::string n;
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        n += std::isalnum(u) || c == '_' || c == '.' ? c : '_';
    }
    if (n.empty() || std::isdigit(static_cast<unsigned char>(n[0])) || n[0] == '.' || looks_like_cell(n) ||
        n == "R" || n == "C" || n == "r" || n == "c")
        n = "_" + n;
    return n;
}

std::string absolute(int col, int row) {
    const std::string name = cell_name(col, row);
    const std::size_t digits = name.find_first_of("0123456789");
    return "$" + name.substr(0, digits) + "$" + name.substr(digits);
}

NameMap define_names(lxw_workbook *book, const std::vector<Name> &names, tool::Charset set, Report &report) {
    NameMap defined;
    std::map<std::string, bool> taken;  // upper-case names already defined
    for (const Name &nm : names) {
        const std::string shown = tool::to_utf8(nm.bytes, set);
        if (nm.c1 >= kColumns || nm.c2 >= kColumns || nm.r1 >= kRows || nm.r2 >= kRows) {
            report.name(shown, "", "its range lies outside the sheet");
            continue;
        }
        const std::string name = workbook_name(shown);
        std::string upper = name;
        for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (taken.count(upper)) {
            report.name(shown, "", "another name reads the same in the workbook");
            continue;
        }
        std::string formula = std::string("=") + kSheet + "!" + absolute(nm.c1, nm.r1);
        if (nm.c1 != nm.c2 || nm.r1 != nm.r2) formula += ":" + absolute(nm.c2, nm.r2);
        if (workbook_define_name(book, name.c_str(), formula.c_str()) != LXW_NO_ERROR) {
            report.name(shown, "", "the workbook refuses the name");
            continue;
        }
        taken[upper] = true;
        defined.emplace(nm.bytes, name);
        if (name != shown) report.name(shown, name, "renamed: the workbook's names have other rules");
    }
    return defined;
}

// --- the sheet --------------------------------------------------------------

void set_widths(lxw_worksheet *ws, const Survey &s) {
    int first = 0;
    for (int c = 1; c <= kColumns; ++c) {
        auto width = [&](int i) { return s.widths[i] ? s.widths[i] : s.default_width; };
        if (c < kColumns && width(c) == width(first)) continue;
        worksheet_set_column(ws, static_cast<lxw_col_t>(first), static_cast<lxw_col_t>(c - 1), width(first), nullptr);
        first = c;
    }
}

Align align_of(char prefix) {
    switch (prefix) {
    case '\'': return kLeft;
    case '"': return kRight;
    case '^': return kCentre;
    case '\\': return kFill;
    case '|': return kLeft;
    default: return kNoAlign;
    }
}

class Writer {
public:
    Writer(lxw_workbook *book, lxw_worksheet *ws, const Survey &s, const Values &values, const NameMap &names,
           tool::Charset set, Report &report, WKS_EXPORT_REPORT &counts)
        : ws_(ws), survey_(s), values_(values), names_(names), set_(set), report_(report), counts_(counts),
          formats_(book, s.default_format, report) {}

    lxw_error cell(int type, const unsigned char *c, int length) {
        const uint8_t byte = c[WKS_CELL_FORMAT];
        const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
        if (col >= kColumns || row >= kRows) return LXW_NO_ERROR;
        const auto r = static_cast<lxw_row_t>(row);
        const auto k = static_cast<lxw_col_t>(col);
        ++counts_.cells;
        switch (type) {
        case WKS_BLANK: return worksheet_write_blank(ws_, r, k, formats_.get(byte, kNoAlign, col, row));
        case WKS_INTEGER:
            return worksheet_write_number(ws_, r, k, static_cast<int16_t>(u16(c + WKS_CELL_VALUE)),
                                          formats_.get(byte, kNoAlign, col, row));
        case WKS_NUMBER: return worksheet_write_number(ws_, r, k, number_at(c), formats_.get(byte, kNoAlign, col, row));
        case WKS_LABEL: {
            const char *text = reinterpret_cast<const char *>(c + WKS_CELL_VALUE);
            std::string bytes(text, strnlen(text, static_cast<std::size_t>(length - WKS_CELL_VALUE)));
            const Align a = bytes.empty() ? kNoAlign : align_of(bytes[0]);
            if (a != kNoAlign) bytes.erase(0, 1);
            lxw_format *f = formats_.get(byte, a, col, row);
            if (bytes.empty()) return worksheet_write_blank(ws_, r, k, f);
            return worksheet_write_string(ws_, r, k, tool::to_utf8(bytes, set_).c_str(), f);
        }
        default: return formula(c, length, byte, col, row);
        }
    }

private:
    lxw_worksheet *ws_;
    const Survey &survey_;
    const Values &values_;
    const NameMap &names_;
    tool::Charset set_;
    Report &report_;
    WKS_EXPORT_REPORT &counts_;
    Formats formats_;

    static double number_at(const unsigned char *c) {
        double v;
        std::memcpy(&v, c + WKS_CELL_VALUE, sizeof v);  // little-endian targets
        return v;
    }

    lxw_error formula(const unsigned char *c, int length, uint8_t byte, int col, int row) {
        const auto r = static_cast<lxw_row_t>(row);
        const auto k = static_cast<lxw_col_t>(col);
        lxw_format *f = formats_.get(byte, kNoAlign, col, row);
        const unsigned char *code = c + WKS_CELL_FORMULA_CODE;
        const int code_length = static_cast<int16_t>(u16(code));
        const std::string where = cell_name(col, row);
        Computed v{WKS_VALUE_NUMBER, number_at(c), "", false};
        values_.find(col, row, v);
        const std::string text = v.kind == WKS_VALUE_STRING ? tool::to_utf8(v.text, set_) : "";

        Translation t;
        if (code_length < 1 || WKS_CELL_FORMULA_CODE + 2 + code_length > length)
            t.reason = "the formula code does not fit its record";
        else
            t = translate(code, col, row, survey_.kinds, [this](const std::string &b) { return tool::to_utf8(b, set_); },
                          names_);
        if (t.translated && v.circular) t.caveats.push_back("circular reference: the target recalculates it by its own iteration settings");

        if (!t.translated) {
            ++counts_.values;
            report_.values_only(where, source_text(code, col, row), t.reason);
            switch (v.kind) {
            case WKS_VALUE_NUMBER: return worksheet_write_number(ws_, r, k, v.number, f);
            case WKS_VALUE_STRING: return worksheet_write_string(ws_, r, k, text.c_str(), f);
            case WKS_VALUE_NA: return worksheet_write_formula_str(ws_, r, k, "=NA()", f, "#N/A");
            default: return worksheet_write_formula_str(ws_, r, k, "=1/0", f, "#DIV/0!");
            }
        }
        ++counts_.formulas;
        if (!t.caveats.empty()) {
            ++counts_.caveats;
            report_.caveat(where, source_text(code, col, row), t.formula, t.caveats);
        }
        const std::string formula = "=" + t.formula;
        if (t.array) {
            if (v.kind == WKS_VALUE_NUMBER)
                return worksheet_write_array_formula_num(ws_, r, k, r, k, formula.c_str(), f, v.number);
            return worksheet_write_array_formula(ws_, r, k, r, k, formula.c_str(), f);
        }
        switch (v.kind) {
        case WKS_VALUE_NUMBER: return worksheet_write_formula_num(ws_, r, k, formula.c_str(), f, v.number);
        case WKS_VALUE_STRING: return worksheet_write_formula_str(ws_, r, k, formula.c_str(), f, text.c_str());
        case WKS_VALUE_NA: return worksheet_write_formula_str(ws_, r, k, formula.c_str(), f, "#N/A");
        default: return worksheet_write_formula_str(ws_, r, k, formula.c_str(), f, "#VALUE!");
        }
    }

    // The formula's own text, for the report.
    std::string source_text(const unsigned char *code, int col, int row) const {
        char out[2048];
        if (wksfr(0, static_cast<int16_t>(col), static_cast<int16_t>(row), code, out, sizeof out) != 0) return "";
        return tool::to_utf8(out, set_);
    }
};

// A new file beside dst that takes dst's place when complete.
class NewFile {
public:
    explicit NewFile(const std::string &dst) : dst_(dst), path_(dst + ".XXXXXX") {
        const int fd = ::mkstemp(&path_[0]);
        if (fd < 0) {
            path_.clear();
            return;
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
    }
    ~NewFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    bool made() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    bool commit() {
        if (::rename(path_.c_str(), dst_.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string dst_, path_;
};

// Whether dst names src, under any name or link.
bool same_file(const char *src, const char *dst) {
    struct stat a, b;
    return ::stat(src, &a) == 0 && ::stat(dst, &b) == 0 && a.st_ino != 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

int16_t export_xlsx(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT &counts) {
    if (!src || !*src || !dst || !*dst) return WKS_E_OPEN;
    if (same_file(src, dst)) {
        errno = EINVAL;
        return WKS_E_OPEN;
    }
    const auto set = static_cast<tool::Charset>(flags & WKS_EXPORT_CHARSET_MASK);
    auto s = std::make_unique<Survey>();
    if (const int16_t rc = survey(src, *s)) return rc;

    if (s->databases)
        if (const int16_t rc = keep_contents(src, s->kinds)) return rc;
    Values values(s->kinds);
    if (s->formulas > 0) {
        const int32_t calc = WKS_CALC_CHECK | (flags & WKS_EXPORT_REPRODUCIBLE ? WKS_CALC_REPRODUCIBLE : 0);
        if (const int16_t rc = wks_calc_file(src, calc, 1, visit, &values, nullptr)) return rc;
        values.sort();
    }

    Report report;
    if (counts.path && *counts.path && !report.open(counts.path)) return WKS_E_OPEN;
    NewFile file(dst);
    if (!file.made()) return WKS_E_OPEN;
    lxw_workbook_options options{};
    options.constant_memory = s->row_order ? LXW_TRUE : LXW_FALSE;
    lxw_workbook *book = workbook_new_opt(file.path().c_str(), &options);
    if (!book) return WKS_E_NO_FORMULA_MEMORY;
    lxw_worksheet *ws = workbook_add_worksheet(book, kSheet);
    bool ok = ws != nullptr;
    int16_t status = ok ? WKS_OK : WKS_E_NO_FORMULA_MEMORY;
    if (ok) {
        set_widths(ws, *s);
        if (s->protected_sheet) worksheet_protect(ws, nullptr, nullptr);
        const NameMap names = define_names(book, s->names, set, report);
        Source in(src);
        Writer writer(book, ws, *s, values, names, set, report, counts);
        if (!in.open()) {
            status = in.error();
        } else {
            for (;;) {
                const int16_t rc = in.next();
                if (rc == -1) break;
                if (rc != 0) {
                    status = WKS_E_READ;
                    break;
                }
                const unsigned char *c = in.cell();
                if (c && writer.cell(in.type(), c, in.cell_length()) != LXW_NO_ERROR) {
                    status = WKS_E_WRITE;
                    break;
                }
            }
        }
    }
    const lxw_error closed = workbook_close(book);  // frees the workbook either way
    if (status != WKS_OK) return status;
    if (closed != LXW_NO_ERROR) return WKS_E_WRITE;
    counts.dropped = report.dropped();
    if (!report.summary(counts)) return WKS_E_WRITE;
    if (!file.commit()) return WKS_E_OPEN;
    return WKS_OK;
}

}  // namespace
}  // namespace wks::exporting

extern "C" int16_t wks_export_xlsx(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report) {
    WKS_EXPORT_REPORT counts{};
    if (report) counts.path = report->path;
    int16_t rc;
    try {
        rc = wks::exporting::export_xlsx(src, dst, flags, counts);
    } catch (const std::bad_alloc &) {
        rc = WKS_E_NO_FORMULA_MEMORY;
    }
    if (report) {
        const char *path = report->path;
        *report = counts;
        report->path = path;
    }
    return rc;
}
