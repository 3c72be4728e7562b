/*
 * wks_export_xlsx: a WK1, WKS or ORX file as a workbook of one sheet.
 *
 * The file is read through the library's record streams: first for what
 * the sheet holds and its values (sheet_data.h); last the cells are
 * written in file order.
 * The values come a batch at a time where the formulas read few cells
 * (batch_values.h), else from the whole sheet computed at once.
 * Cells that come row by row are written in the writer's constant-memory
 * mode, one row in memory; others through its whole-sheet mode.
 */
#include "wks_export.h"

#include "export/batch_values.h"
#include "export/report.h"
#include "export/sheet_data.h"
#include "export/translate.h"
#include "tools/encoding.h"
#include "wks.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace wks::exporting {
namespace {

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


class Formats {
public:
    Formats(lxw_workbook *book, int default_format, Report &report)
        : book_(book), default_(default_format & 0x7F), report_(report) {}

    lxw_format *get(uint8_t byte, Align align, int col, int row) {
        int f = byte & 0x7F;
        if (f == 0x7F) f = default_;
        Entry &e = cache_[static_cast<std::size_t>(((byte & kProtectedBit ? 128 : 0) + f) * (kFill + 1) + align)];
        if (e.known) {
            if (e.lost) report_.format(e.lost, cell_name(col, row));
            return e.format;
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
        e = Entry{fmt, lost, true};
        return fmt;
    }

private:
    lxw_workbook *book_;
    int default_;
    Report &report_;
    struct Entry {
        lxw_format *format = nullptr;
        const char *lost = nullptr;  // what the cells of this format lose, or null
        bool known = false;
    };
    std::vector<Entry> cache_ = std::vector<Entry>(256 * (kFill + 1));  // by protection, format byte, alignment
};


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
            report_.values_only(cell_name(col, row), source_text(code, col, row), t.reason);
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
            report_.caveat(cell_name(col, row), source_text(code, col, row), t.formula, t.caveats);
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

int16_t export_xlsx(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT &counts) {
    const auto set = charset_of(flags);
    auto s = std::make_unique<Survey>();
    auto reads = std::make_unique<ReadCells>();
    Values values(s->kinds);
    if (const int16_t rc = survey_all(src, dst, *s, reads.get())) return rc;
    std::unique_ptr<Batches> batches;
    if (s->formulas > 0 && s->row_order && reads->batched()) {
        batches = std::make_unique<Batches>(src, dst, flags, *reads, values);
        bool few = false;
        if (const int16_t rc = batches->start(src, few)) return rc;
        if (!few) batches.reset();
    }
    if (!batches)
        if (const int16_t rc = compute_all(src, flags, *s, values)) return rc;

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
        const NameMap names = define_names(s->names, set, report, [book](const std::string &name, const Name &nm) {
            std::string formula = std::string("=") + kSheet + "!" + absolute(nm.c1, nm.r1);
            if (nm.c1 != nm.c2 || nm.r1 != nm.r2) formula += ":" + absolute(nm.c2, nm.r2);
            return workbook_define_name(book, name.c_str(), formula.c_str()) == LXW_NO_ERROR;
        });
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
                if (batches && is_unread_formula(in, *reads))
                    if (const int16_t computed = batches->reached_unread()) {
                        status = computed;
                        break;
                    }
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
    if (!report.commit()) return WKS_E_WRITE;
    return WKS_OK;
}

}  // namespace
}  // namespace wks::exporting

extern "C" int16_t wks_export_xlsx(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report) {
    return wks::exporting::export_at_boundary(wks::exporting::export_xlsx, src, dst, flags, report);
}
