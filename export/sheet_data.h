/*
 * What the writers of libwks-export share: the source file read through the
 * library's record streams, the survey of what the sheet holds (the kind
 * of each cell, widths, names, the default format, whether the cells come
 * row by row), the values wks_calc_file computes, the names a workbook
 * takes and the alignment of a label's prefix.
 */
#ifndef WKS_EXPORT_SHEET_DATA_H
#define WKS_EXPORT_SHEET_DATA_H

#include "export/new_file.h"
#include "export/report.h"
#include "export/translate.h"
#include "tools/encoding.h"
#include "wks.h"
#include "wks_export.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wks::exporting {

constexpr int32_t kReproducibleFlag = WKS_EXPORT_REPRODUCIBLE;
constexpr int kColumns = 256;
constexpr int kRows = 8192;
constexpr int kWindow1 = 7;         // bytes 4: default format, 6-7: default column width
constexpr int kColumnWidth = 8;     // column word, width byte
constexpr int kProtection = 36;     // one byte: the sheet is protected
constexpr int kDefaultWidth = 9;
constexpr int32_t kReadAhead = 256 * 1024;
constexpr uint8_t kProtectedBit = 0x80;
constexpr const char *kSheet = "Sheet1";

inline uint16_t u16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The character set the flags name.
inline tool::Charset charset_of(int32_t flags) {
    return flags & WKS_EXPORT_LICS ? tool::Charset::kLics : static_cast<tool::Charset>(flags & WKS_EXPORT_CHARSET_MASK);
}

// The file open for reading through the library, its BOF record current.
class Source {
public:
    explicit Source(const char *path) {
        std::memset(&h_, 0, sizeof h_);
        WKS_FAMILY family;
        open_ = wks_open_family(&h_, path, &family) != nullptr;  // any variant the library reads
        orx_ = family.variant == WKS_VARIANT_ORX;
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
    int16_t next() {
        const int16_t rc = orx_ ? wksnextr(&h_) : wksnextr_wk1(&h_);
        cell_ = rc == 0 ? find_cell() : nullptr;
        return rc;
    }
    int type() const { return u16(h_.rec.type); }
    int length() const { return u16(h_.rec.length); }
    const unsigned char *body() const { return h_.rec.body; }
    // A cell record's WK1 body (behind an ORX cell's prefix), or null.
    const unsigned char *cell() const { return cell_; }
    int cell_length() const { return length() - (orx_ ? WKS_ORX_CELL_PREFIX : 0); }

private:
    WKS h_;
    bool orx_ = false;
    bool open_ = false;
    const unsigned char *cell_ = nullptr;  // of the current record, found once

    const unsigned char *find_cell() const {
        const int t = type();
        if (t < WKS_BLANK || t > WKS_FORMULA) return nullptr;
        const int skip = orx_ ? WKS_ORX_CELL_PREFIX : 0;
        const int need = skip + WKS_CELL_VALUE + (t == WKS_INTEGER ? 2 : t == WKS_NUMBER ? 8 : t == WKS_LABEL ? 1 : 0) +
                         (t == WKS_FORMULA ? 10 : 0);
        return length() >= need ? h_.rec.body + skip : nullptr;
    }
};

struct Name {
    std::string bytes;
    int c1, r1, c2, r2;
};

inline uint32_t key(int col, int row) { return static_cast<uint32_t>(row) << 8 | static_cast<uint32_t>(col); }

struct Computed {
    int32_t kind;
    double number;
    std::string text;
    bool circular;
};

// What a survey tells besides the Survey: each formula's code items, and
// every record that is no cell.
struct SurveyHook {
    virtual ~SurveyHook() = default;
    virtual void formula(const unsigned char *code, int size, int col, int row) = 0;
    virtual void record(int type, const unsigned char *body, int length) = 0;
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

inline int16_t survey(const char *path, Survey &s, SurveyHook *hook) {
    Source in(path);
    if (!in.open()) return in.error();
    int last_col = -1, last_row = -1;
    for (;;) {
        const int16_t rc = in.next();
        if (rc == -1) return WKS_OK;
        if (rc != 0) return WKS_E_READ;
        const unsigned char *b = in.body();
        if (hook && !in.cell()) hook->record(in.type(), b, in.length());
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
            if (size > 0 && WKS_CELL_FORMULA_CODE + 2 + size <= in.cell_length()) {
                s.databases |= calls_database_function(cell + WKS_CELL_FORMULA_CODE + 2, size);
                if (hook) hook->formula(cell + WKS_CELL_FORMULA_CODE + 2, size, col, row);
            }
            break;
        }
        default: s.kinds.set(col, row, Kind::kEmpty);
        }
    }
}

// The contents of the cells, for the database functions' forms.
inline int16_t keep_contents(const char *path, CellKinds &kinds) {
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

inline void visit(void *context, int16_t col, int16_t row, const WKS_VALUE *, const WKS_VALUE *computed, int32_t marks) {
    auto *v = static_cast<Values *>(context);
    if (col < 0 || col >= kColumns || row < 0 || row >= kRows) return;
    v->add(col, row, *computed, (marks & WKS_FORMULA_CIRCULAR) != 0);
    v->kinds().set(col, row,
                  computed->kind == WKS_VALUE_NUMBER   ? Kind::kNumber
                  : computed->kind == WKS_VALUE_STRING ? Kind::kString
                  : computed->kind == WKS_VALUE_NA     ? Kind::kNa
                                                       : Kind::kErr);
}

// --- names ----------------------------------------------------------------

inline bool looks_like_cell(const std::string &n) {
    std::size_t i = 0;
    while (i < n.size() && i < 3 && std::isalpha(static_cast<unsigned char>(n[i]))) ++i;
    if (i == 0 || i == n.size()) return false;
    for (std::size_t j = i; j < n.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(n[j]))) return false;
    return true;
}

// A defined name the workbook takes, from a range name.
inline std::string workbook_name(const std::string &utf8) {
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

// The range names a workbook can take, each under the name it gets there
// (for both writers' definitions and for @@); a name whose range lies
// outside the sheet, or that reads as one taken before, is reported and
// left out, and so is one the writer's `define` refuses.
template <typename Define>
NameMap define_names(const std::vector<Name> &names, tool::Charset set, Report &report, Define define) {
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
        if (!define(name, nm)) {
            report.name(shown, "", "the workbook refuses the name");
            continue;
        }
        taken[upper] = true;
        defined.emplace(nm.bytes, name);
        if (name != shown) report.name(shown, name, "renamed: the workbook's names have other rules");
    }
    return defined;
}

inline std::string absolute(int col, int row) {
    const std::string name = cell_name(col, row);
    const std::size_t digits = name.find_first_of("0123456789");
    return "$" + name.substr(0, digits) + "$" + name.substr(digits);
}

enum Align { kNoAlign, kLeft, kRight, kCentre, kFill };

inline Align align_of(char prefix) {
    switch (prefix) {
    case '\'': return kLeft;
    case '"': return kRight;
    case '^': return kCentre;
    case '\\': return kFill;
    case '|': return kLeft;
    default: return kNoAlign;
    }
}

// Whether dst names src, under any name or link.
inline bool same_file(const char *src, const char *dst) {
    struct stat a, b;
    return ::stat(src, &a) == 0 && ::stat(dst, &b) == 0 && a.st_ino != 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Every formula's value, the whole sheet computed at once.
inline int16_t compute_all(const char *src, int32_t flags, const Survey &s, Values &values) {
    if (s.formulas == 0) return WKS_OK;
    const int32_t calc = WKS_CALC_CHECK | (flags & kReproducibleFlag ? WKS_CALC_REPRODUCIBLE : 0);
    if (const int16_t rc = wks_calc_file(src, calc, 1, visit, &values, nullptr)) return rc;
    values.sort();
    return WKS_OK;
}

// The survey (told to hook too, when given) and the contents the database
// functions need: 0, or what reading failed with (38, 27, 42).
inline int16_t survey_all(const char *src, const char *dst, Survey &s, SurveyHook *hook) {
    if (!src || !*src || !dst || !*dst) return WKS_E_OPEN;
    if (same_file(src, dst)) {
        errno = EINVAL;
        return WKS_E_OPEN;
    }
    if (const int16_t rc = survey(src, s, hook)) return rc;
    if (s.databases)
        if (const int16_t rc = keep_contents(src, s.kinds)) return rc;
    return WKS_OK;
}

// The survey, the contents the database functions need, and the values:
// 0, or what reading failed with (38, 27, 42).
inline int16_t prepare(const char *src, const char *dst, int32_t flags, Survey &s, Values &values) {
    if (const int16_t rc = survey_all(src, dst, s, nullptr)) return rc;
    return compute_all(src, flags, s, values);
}

// An export run behind the C interface: the counts go to the caller's
// report (its path kept), and no exception leaves the library.
template <class Export>
int16_t export_at_boundary(Export run, const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report) {
    WKS_EXPORT_REPORT counts{};
    if (report) counts.path = report->path;
    int16_t rc;
    try {
        rc = run(src, dst, flags, counts);
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

}  // namespace wks::exporting

#endif
