/*
 * wks._wks: the Python binding of libwks.  It talks to the library only
 * through wks.h and wks_export.h, and reads files with the wks tool's
 * record reader (tools/sheet.h), so that Python sees the same records,
 * values and damage reports as the tool.
 *
 * The library's state is process-wide and unlocked, so every call into it
 * holds g_library, taken with the GIL released: a thread waiting for the
 * library never keeps other Python threads from running, and no Python
 * object is touched while the lock is held.  The library's messages go to
 * the tool's collector (never to a message box or standard error) and
 * travel with the wks.Error a failure raises.
 */
#include "tools/cell_view.h"
#include "tools/common.h"
#include "tools/formula_text.h"
#include "tools/sheet.h"
#include "wks.h"
#ifdef WKS_PYTHON_EXPORT
#include "wks_export.h"
#endif

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace py = pybind11;
using tool::Kind;

namespace {

std::mutex g_library;

// A failure on its way to Python as wks.Error(code, message, messages).
struct Failure {
    int code;
    std::string message;
    std::vector<std::string> messages;  // what the library would have shown
};

[[noreturn]] void fail(int code, const std::string &message) {
    throw Failure{code, message, tool::take_messages()};
}

// Runs f with the GIL released and the library locked; f must not touch
// Python objects.
template <class F>
auto locked(F f) -> decltype(f()) {
    py::gil_scoped_release unlocked_python;
    std::lock_guard<std::mutex> library(g_library);
    tool::take_messages();  // nothing left over from another call
    return f();
}

// The set an encoding argument names; None is "auto", the set of the file's
// variant, as the tool chooses it.
tool::Charset charset_of(const std::optional<std::string> &encoding, const WKS_FAMILY &family) {
    tool::Charset set = tool::Charset::kAuto;
    if (encoding && !tool::parse_charset(*encoding, set))
        throw py::value_error("unknown encoding '" + *encoding + "' (known: " + tool::kCharsetNames + ")");
    return tool::resolve_charset(set, family);
}

py::str text_of(const std::string &bytes, tool::Charset set) {
    const std::string utf8 = tool::to_utf8(bytes, set);
    return py::str(utf8.data(), utf8.size());
}

std::pair<int16_t, int16_t> cell_of(const std::string &at) {
    int16_t col, row;
    if (!tool::parse_cell(at, col, row)) throw py::value_error("not a cell address: '" + at + "'");
    return {col, row};
}

// --- files read whole -------------------------------------------------------

struct CellData {
    Kind kind = Kind::kBlank;
    int format = 0, col = 0, row = 0;
    double number = 0;
    std::string text;      // label bytes, formula text
    std::string code;      // formula code from its length word
    bool is_string = false;
    std::string string;    // a formula's string value
};

struct RecordData {
    int type = 0;
    long offset = 0;
    std::string body;
    int cell = -1;  // index into the cells, for a cell record
};

struct BookData {
    std::string format;
    int version = 0;
    std::vector<unsigned char> header;
    std::vector<RecordData> records;
    std::vector<CellData> cells;
    std::vector<std::pair<std::string, std::vector<int>>> names;
    int sheet_format = tool::kDefaultFormat;
    WKS_FAMILY family{};
};

void open_sheet(tool::Sheet &sheet, const std::string &path) {
    if (sheet.open(path)) return;
    const int code = tool::unreadable_reason(path).empty() ? WKS_E_NOT_ORX : WKS_E_OPEN;
    fail(code, path + ": " + sheet.error());
}

// Reads every record of path.  with_records keeps each record's bytes,
// formulas keeps the formulas' text.
BookData read_book(const std::string &path, bool with_records, bool formulas) {
    BookData book;
    tool::Sheet sheet;
    open_sheet(sheet, path);
    sheet.decode_formulas(formulas);
    book.format = tool::format_name(sheet.format());
    book.family = sheet.family();
    book.header = sheet.header_block();
    tool::Record r;
    int got;
    while ((got = sheet.next(r)) == 1) {
        if (r.kind == Kind::kBad) fail(WKS_E_READ, path + ": record " + std::to_string(r.index) + ": " + r.problem);
        if (r.kind == Kind::kBof) book.version = r.version;
        if (r.kind == Kind::kRangeName) book.names.push_back({r.text, {r.c1, r.r1, r.c2, r.r2}});
        if (tool::sheet_format_of(r) >= 0) book.sheet_format = tool::sheet_format_of(r);
        int cell = -1;
        if (r.kind == Kind::kString && !book.cells.empty() && book.cells.back().kind == Kind::kFormula &&
            book.cells.back().col == r.col && book.cells.back().row == r.row) {
            CellData &formula = book.cells.back();
            formula.is_string = true;
            formula.string = r.text;
        } else if (r.cell && r.kind != Kind::kString) {
            CellData c;
            c.kind = r.kind;
            c.format = r.format, c.col = r.col, c.row = r.row;
            c.number = r.kind == Kind::kInteger ? r.integer : r.number;
            c.text.swap(r.text);
            if (r.code) c.code.assign(reinterpret_cast<const char *>(r.code), static_cast<std::size_t>(r.code_bytes));
            cell = static_cast<int>(book.cells.size());
            book.cells.push_back(std::move(c));
        }
        if (with_records)
            book.records.push_back({r.type, r.offset,
                                    std::string(reinterpret_cast<const char *>(r.body), static_cast<std::size_t>(r.length)),
                                    cell});
    }
    if (got < 0) fail(WKS_E_READ, path + ": " + sheet.error());
    return book;
}

const char *kind_name(Kind k) {
    switch (k) {
    case Kind::kBlank: return "blank";
    case Kind::kInteger: return "integer";
    case Kind::kNumber: return "number";
    case Kind::kLabel: return "label";
    default: return "formula";
    }
}

constexpr char kAlignment[] = "'\"^\\|";

// A label's text without its alignment character.
std::string label_text(const std::string &stored) {
    return !stored.empty() && std::strchr(kAlignment, stored[0]) ? stored.substr(1) : stored;
}

class Cell {
public:
    Cell(const CellData &c, tool::Charset set) : c_(c), set_(set) {}
    std::string address() const { return tool::cell_name(c_.col, c_.row); }
    int col() const { return c_.col; }
    int row() const { return c_.row; }
    std::string kind() const { return kind_name(c_.kind); }
    int format() const { return c_.format; }
    py::object value() const {
        switch (c_.kind) {
        case Kind::kBlank: return py::none();
        case Kind::kInteger: return py::int_(static_cast<int>(c_.number));
        case Kind::kLabel: return text_of(label_text(c_.text), set_);
        default: return c_.is_string ? py::object(text_of(c_.string, set_)) : py::object(py::float_(c_.number));
        }
    }
    py::object formula() const {
        return c_.kind == Kind::kFormula ? py::object(text_of(c_.text, set_)) : py::object(py::none());
    }
    py::object code() const { return c_.kind == Kind::kFormula ? py::object(py::bytes(c_.code)) : py::object(py::none()); }
    std::string repr() const {
        return "<wks.Cell " + address() + " " + kind() + ">";
    }

private:
    CellData c_;
    tool::Charset set_;
};

class Record {
public:
    explicit Record(const RecordData &r) : r_(r) {}
    int type() const { return r_.type; }
    py::object name() const {
        const char *n = tool::record_name(r_.type);
        return n ? py::object(py::str(n)) : py::object(py::none());
    }
    long offset() const { return r_.offset; }
    py::bytes body() const { return py::bytes(r_.body); }
    std::string repr() const {
        const char *n = tool::record_name(r_.type);
        return "<wks.Record " + std::string(n ? n : std::to_string(r_.type)) + " at " + std::to_string(r_.offset) + ">";
    }

private:
    RecordData r_;
};

class Book {
public:
    Book(const std::string &path, const std::optional<std::string> &encoding)
        : path_(path), data_(std::make_shared<BookData>(locked([&] { return read_book(path, true, true); }))),
          set_(charset_of(encoding, data_->family)) {}
    std::string path() const { return path_; }
    std::string format() const { return data_->format; }
    int version() const { return data_->version; }
    py::object header_block() const {
        if (data_->header.empty()) return py::none();
        return py::bytes(reinterpret_cast<const char *>(data_->header.data()), data_->header.size());
    }
    py::dict names() const {
        py::dict out;
        for (const auto &[name, at] : data_->names)
            out[text_of(name, set_)] = py::str(tool::cell_name(at[0], at[1]) + ".." + tool::cell_name(at[2], at[3]));
        return out;
    }
    std::vector<Record> records() const {
        std::vector<Record> out;
        out.reserve(data_->records.size());
        for (const RecordData &r : data_->records) out.emplace_back(r);
        return out;
    }
    std::vector<Cell> cells() const {
        std::vector<Cell> out;
        out.reserve(data_->cells.size());
        for (const CellData &c : data_->cells) out.emplace_back(c, set_);
        return out;
    }
    std::string repr() const {
        return "<wks.Book " + path_ + ": " + data_->format + ", " + std::to_string(data_->cells.size()) + " cells>";
    }

private:
    std::string path_;
    std::shared_ptr<BookData> data_;
    tool::Charset set_;  // after data_: the file's variant chooses it
};

// --- frames -------------------------------------------------------------------

enum class Values { kStored, kComputed, kFormulas };

constexpr long kLeapDay1900 = 60;
constexpr double kFirstSerial = 1, kLastSerial = 73050;  // 1900-01-01 .. 2099-12-31
constexpr int64_t kSerialOf1970 = 25569;               // 1970-01-01 after the leap day
constexpr int64_t kNanosPerSecond = 1000000000, kSecondsPerDay = 86400;
constexpr int64_t kNaT = std::numeric_limits<int64_t>::min();

bool date_format(int format, int sheet_format) {
    int f = format & 0x7F;
    if (f == tool::kDefaultFormat) f = sheet_format & 0x7F;
    if (f >> 4 != 7) return false;
    const int which = f & 0x0F;
    return which == 2 || which == 3 || which == 4 || which == 9 || which == 10;
}

// A date serial as nanoseconds since 1970, to the nearest second; kNaT
// outside the calendar and for its 29 February 1900, which never was (the
// cell then stays a number).
int64_t date_nanos(double serial) {
    if (!(serial >= kFirstSerial && serial < kLastSerial + 1) || std::floor(serial) == kLeapDay1900) return kNaT;
    const double days = serial < kLeapDay1900 ? serial + 1 : serial;
    const int64_t seconds = std::llround((days - kSerialOf1970) * kSecondsPerDay);
    return seconds * kNanosPerSecond;
}

// A cell of an object column.
using Item = std::variant<std::monostate, double, std::string, int64_t>;  // none, number, text, date

struct Column {
    enum { kFloat, kDate, kObject } type = kFloat;
    std::vector<double> numbers;
    std::vector<int64_t> dates;
    std::vector<Item> items;
};

struct Frame {
    WKS_FAMILY family{};
    int rows = 0;
    std::vector<Column> columns;
};

// A cell's value in the frame: number (ERR and NA as NaN), text or a date.
Item item_of(const CellData &c, Values values, int sheet_format) {
    switch (c.kind) {
    case Kind::kLabel: return label_text(c.text);
    case Kind::kFormula:
        if (values == Values::kFormulas) return c.text;
        if (c.is_string) return c.string;
        break;
    default: break;
    }
    const double v = std::isfinite(c.number) ? c.number : std::nan("");
    if (date_format(c.format, sheet_format)) {
        const int64_t nanos = date_nanos(v);
        if (nanos != kNaT) return nanos;
    }
    return v;
}

Frame build_frame(const std::string &path, Values values) {
    const BookData book = read_book(path, false, values == Values::kFormulas);
    tool::ComputedValues computed;
    std::string why;
    if (values == Values::kComputed && !computed.compute(path, why)) fail(WKS_E_READ, path + ": " + why);
    Frame f;
    f.family = book.family;
    int cols = 0;
    std::vector<const CellData *> held;
    held.reserve(book.cells.size());
    for (const CellData &c : book.cells) {
        if (c.kind == Kind::kBlank || c.col < 0 || c.col >= tool::kColumns || c.row < 0 || c.row >= tool::kRows)
            continue;
        f.rows = std::max(f.rows, c.row + 1);
        cols = std::max(cols, c.col + 1);
        held.push_back(&c);
    }
    std::vector<Item> items(static_cast<std::size_t>(f.rows) * static_cast<std::size_t>(cols));
    for (const CellData *c : held) {
        CellData value;  // a formula's computed value in place of the stored one
        if (values == Values::kComputed && c->kind == Kind::kFormula) {
            tool::CellContent content{c->kind, c->format, c->number, {}, c->is_string, c->string};
            computed.apply(c->col, c->row, content);
            value = *c;
            value.number = content.number, value.is_string = content.is_string, value.string = content.string;
            c = &value;
        }
        items[static_cast<std::size_t>(c->col) * static_cast<std::size_t>(f.rows) + static_cast<std::size_t>(c->row)] =
            item_of(*c, values, book.sheet_format);
    }
    f.columns.resize(static_cast<std::size_t>(cols));
    for (std::size_t col = 0; col < f.columns.size(); ++col) {
        Column &out = f.columns[col];
        const auto first = items.begin() + static_cast<std::ptrdiff_t>(col * static_cast<std::size_t>(f.rows));
        const auto last = first + f.rows;
        bool numbers = true, dates = true;
        for (auto i = first; i != last; ++i) {
            numbers = numbers && (i->index() == 0 || i->index() == 1);
            dates = dates && (i->index() == 0 || i->index() == 3);
        }
        if (dates && !numbers) {
            out.type = Column::kDate;
            for (auto i = first; i != last; ++i) out.dates.push_back(i->index() == 3 ? std::get<3>(*i) : kNaT);
        } else if (numbers) {
            out.type = Column::kFloat;
            for (auto i = first; i != last; ++i) out.numbers.push_back(i->index() == 1 ? std::get<1>(*i) : std::nan(""));
        } else {
            out.type = Column::kObject;
            out.items.assign(std::make_move_iterator(first), std::make_move_iterator(last));
        }
    }
    return f;
}

py::object read_frame(const std::string &path, const std::string &values, const std::optional<std::string> &encoding) {
    Values which;
    if (values == "stored") which = Values::kStored;
    else if (values == "computed") which = Values::kComputed;
    else if (values == "formulas") which = Values::kFormulas;
    else throw py::value_error("values must be 'stored', 'computed' or 'formulas', not '" + values + "'");
    if (encoding) charset_of(encoding, WKS_FAMILY{});  // a name it does not know stops it before any reading
    const Frame f = locked([&] { return build_frame(path, which); });
    const tool::Charset set = charset_of(encoding, f.family);

    py::module_ pandas = py::module_::import("pandas");
    py::object datetime = py::module_::import("datetime").attr("datetime");
    py::object epoch = datetime(1970, 1, 1);
    py::object timedelta = py::module_::import("datetime").attr("timedelta");
    py::dict data;
    py::list letters;
    const auto rows = static_cast<py::ssize_t>(f.rows);
    for (std::size_t col = 0; col < f.columns.size(); ++col) {
        const Column &c = f.columns[col];
        std::string letter = tool::cell_name(static_cast<int>(col), 0);
        letter.pop_back();  // the row's "1"
        py::str name(letter);
        letters.append(name);
        if (c.type == Column::kFloat) {
            data[name] = py::array_t<double>(rows, c.numbers.data());
        } else if (c.type == Column::kDate) {
            py::array_t<int64_t> nanos(rows, c.dates.data());
            data[name] = nanos.attr("view")("datetime64[ns]");
        } else {
            // An object array starts as None (or NULL) everywhere; each slot takes over
            // its object's reference.
            py::array cells(py::dtype("object"), std::vector<py::ssize_t>{rows}, nullptr);
            auto **out = static_cast<PyObject **>(cells.mutable_data());
            for (py::ssize_t i = 0; i < rows; ++i) {
                const Item &item = c.items[static_cast<std::size_t>(i)];
                py::object v = py::none();
                if (item.index() == 1) v = py::float_(std::get<1>(item));
                else if (item.index() == 2) v = text_of(std::get<2>(item), set);
                else if (item.index() == 3)
                    v = epoch + timedelta(py::arg("seconds") = std::get<3>(item) / kNanosPerSecond);
                Py_XDECREF(out[i]);
                out[i] = v.release().ptr();
            }
            data[name] = cells;
        }
    }
    py::object index = pandas.attr("RangeIndex")(1, f.rows + 1, py::arg("name") = "row");
    return pandas.attr("DataFrame")(data, py::arg("index") = index, py::arg("columns") = letters);
}

// --- formulas -----------------------------------------------------------------

constexpr int kCodeRoom = 32767 + 2;
constexpr int kTextRoom = 16384;

py::bytes compile(const std::string &text, const std::string &at) {
    const auto [col, row] = cell_of(at);
    std::string bytes, why;
    if (!tool::from_utf8(text, tool::Charset::kCp437, bytes, why)) throw py::value_error("formula text " + why);
    const std::string code = locked([&] {
        std::vector<unsigned char> out(kCodeRoom);
        const int16_t got = wksfe(0, col, row, bytes.c_str(), out.data(), kCodeRoom);
        if (got != 0) fail(got, wkser(got));
        const std::size_t length = static_cast<std::size_t>(out[0] | out[1] << 8);
        return std::string(reinterpret_cast<const char *>(out.data()), length + 2);
    });
    return py::bytes(code);
}

py::str decode(const std::string &code, const std::string &at) {
    const auto [col, row] = cell_of(at);
    if (code.size() < 2 || static_cast<std::size_t>(static_cast<unsigned char>(code[0]) |
                                                    static_cast<unsigned char>(code[1]) << 8) + 2 > code.size())
        throw py::value_error("formula code shorter than its length word says");
    const std::string text = locked([&] {
        std::vector<char> out(kTextRoom);
        const auto *p = reinterpret_cast<const unsigned char *>(code.data());
        const int16_t got = wksfr(0, col, row, p, out.data(), kTextRoom);
        if (got != 0) fail(got, wkser(got));
        return tool::exact_formula_text(p, static_cast<int>(code.size()), out.data());
    });
    return text_of(text, tool::Charset::kCp437);
}

// --- whole files ----------------------------------------------------------------

struct Difference {
    std::string address;
    WKS_VALUE stored, computed;
    std::string stored_text, computed_text;
    bool circular;
};

struct CalcResult {
    WKS_CALC summary{};
    std::vector<Difference> differences;
};

extern "C" void keep_difference(void *context, int16_t col, int16_t row, const WKS_VALUE *stored,
                                const WKS_VALUE *computed, int32_t marks) {
    if (!(marks & WKS_FORMULA_DIFFERS)) return;
    Difference d{tool::cell_name(col, row), *stored, *computed, stored->text, computed->text,
                 (marks & WKS_FORMULA_CIRCULAR) != 0};
    static_cast<CalcResult *>(context)->differences.push_back(std::move(d));
}

py::object value_object(const WKS_VALUE &v, const std::string &text) {
    switch (v.kind) {
    case WKS_VALUE_NUMBER: return py::float_(v.number);
    case WKS_VALUE_STRING: return text_of(text, tool::Charset::kCp437);
    case WKS_VALUE_NA: return py::str("NA");
    default: return py::str("ERR");
    }
}

py::dict calc(const std::string &path, bool check) {
    const CalcResult result = locked([&] {
        CalcResult r;
        errno = 0;
        const int16_t got = wks_calc_file(path.c_str(), check ? WKS_CALC_CHECK : 0, 1, keep_difference, &r, &r.summary);
        if (got == WKS_E_OPEN)
            fail(got, path + ": " + (errno ? std::strerror(errno) : "not a WK1 or ORX file"));
        if (got != 0) fail(got, path + ": " + tool::error_text(got));
        return r;
    });
    py::list differences;
    for (const Difference &d : result.differences) {
        py::dict row;
        row["address"] = d.address;
        row["stored"] = value_object(d.stored, d.stored_text);
        row["computed"] = value_object(d.computed, d.computed_text);
        row["circular"] = d.circular;
        differences.append(row);
    }
    py::dict out;
    out["formulas"] = result.summary.formulas;
    out["differences"] = result.summary.differences;
    out["circular"] = result.summary.circular;
    out["passes"] = result.summary.passes;
    out["changed"] = differences;
    return out;
}

std::string lower(std::string s) {
    for (char &ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

py::dict convert(const std::string &src, const std::string &dst, std::optional<std::string> to) {
    if (!to) {
        const std::size_t dot = dst.rfind('.');
        if (dot == std::string::npos || dst.find('/', dot) != std::string::npos)
            throw py::value_error("say to= (orx, wk1, xlsx, ods): '" + dst + "' has no extension");
        to = dst.substr(dot + 1);
    }
    const std::string kind = lower(*to);
    if (kind != "orx" && kind != "wk1" && kind != "xlsx" && kind != "ods")
        throw py::value_error("cannot convert to '" + *to + "' (known: orx, wk1, xlsx, ods)");
#ifndef WKS_PYTHON_EXPORT
    if (kind == "xlsx" || kind == "ods") throw py::value_error("this build has no export to " + kind);
#endif
    py::dict out;
    const auto counts = locked([&] {
        std::vector<int> c;
        const std::string unreadable = tool::unreadable_reason(src);
        if (!unreadable.empty()) fail(WKS_E_OPEN, src + ": " + unreadable);
        errno = 0;
        if (kind == "orx" || kind == "wk1") {
            const int32_t got = kind == "orx" ? wk1_to_orx(src.c_str(), dst.c_str()) : orx_to_wk1(src.c_str(), dst.c_str());
            const std::string reason = errno ? std::strerror(errno) : "";
            switch (got) {
            case WKS_CONVERTED: case WKS_CONVERT_TEXT_CUT: return c;
            case WKS_CONVERT_CREATE_FAILED: fail(got, dst + ": cannot be created" + (reason.empty() ? "" : ": " + reason));
            case WKS_CONVERT_SOURCE_FAILED: fail(got, src + ": not " + (kind == "orx" ? "a WK1" : "an ORX") + " file");
            case WKS_CONVERT_SOURCE_DAMAGED: fail(got, src + ": damaged; nothing written");
            case WKS_CONVERT_OUTPUT_FAILED: fail(got, dst + ": cannot be written" + (reason.empty() ? "" : ": " + reason));
            default: fail(got, src + ": not converted (" + std::to_string(got) + ")");
            }
        }
#ifdef WKS_PYTHON_EXPORT
        WKS_EXPORT_REPORT report{};
        const int16_t got = kind == "xlsx" ? wks_export_xlsx(src.c_str(), dst.c_str(), 0, &report)
                                           : wks_export_ods(src.c_str(), dst.c_str(), 0, &report);
        if (got == WKS_E_OPEN && errno == EINVAL) fail(got, dst + ": is the file being converted");
        if (got == WKS_E_READ) {
            tool::Sheet sheet;  // where the source breaks off
            tool::Record r;
            if (sheet.open(src)) sheet.decode_formulas(false);
            while (sheet.next(r) > 0) {
            }
            fail(got, src + ": " + (sheet.error().empty() ? "cannot be read to its end" : sheet.error()));
        }
        if (got != 0) fail(got, src + ": " + tool::error_text(got));
        c = {report.cells, report.formulas, report.values, report.caveats, report.dropped};
#endif
        return c;
    });
    static const char *const kCounts[] = {"cells", "formulas", "values", "caveats", "dropped"};
    for (std::size_t i = 0; i < counts.size(); ++i) out[kCounts[i]] = counts[i];
    return out;
}

}  // namespace

PYBIND11_MODULE(_wks, m) {
    m.doc() = "libwks, the worksheet file library, for Python (use the wks package)";
    tool::collect_messages();
    py::object error = py::module_::import("wks._error").attr("Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Failure &f) {
            py::object cls = py::module_::import("wks._error").attr("Error");
            PyErr_SetObject(cls.ptr(), py::make_tuple(f.code, f.message, f.messages).ptr());
        }
    });
    m.attr("Error") = error;
    m.attr("library_version") = wks_version(nullptr);

    py::class_<Cell>(m, "Cell", "A cell record of a file opened with wks.open.")
        .def_property_readonly("address", &Cell::address, "The cell's name, such as \"B3\".")
        .def_property_readonly("col", &Cell::col, "Column, 0 for A.")
        .def_property_readonly("row", &Cell::row, "Row, 0 for the first.")
        .def_property_readonly("kind", &Cell::kind, "\"blank\", \"integer\", \"number\", \"label\" or \"formula\".")
        .def_property_readonly("value", &Cell::value,
                               "int, float, str (a label without its alignment character), a formula's stored "
                               "value (float, or str for a string), None for a blank cell.")
        .def_property_readonly("format", &Cell::format, "The format byte.")
        .def_property_readonly("formula", &Cell::formula, "A formula's text, else None.")
        .def_property_readonly("code", &Cell::code, "A formula's code from its length word, else None.")
        .def("__repr__", &Cell::repr);
    py::class_<Record>(m, "Record", "A record of a file opened with wks.open.")
        .def_property_readonly("type", &Record::type, "The record type.")
        .def_property_readonly("name", &Record::name, "The WK1 name of the type (\"LABEL\"), or None.")
        .def_property_readonly("offset", &Record::offset, "Byte offset of the record in the file.")
        .def_property_readonly("body", &Record::body, "The record's body.")
        .def("__repr__", &Record::repr);
    py::class_<Book>(m, "Book", "A worksheet file, read whole: see wks.open.")
        .def(py::init<const std::string &, const std::optional<std::string> &>(), py::arg("path"),
             py::arg("encoding") = py::none())
        .def_property_readonly("path", &Book::path)
        .def_property_readonly("format", &Book::format, "\"ORX\" or \"WK1\".")
        .def_property_readonly("version", &Book::version, "The BOF record's version (1028, 1030).")
        .def_property_readonly("header_block", &Book::header_block, "An ORX file's 2652-byte header block, else None.")
        .def_property_readonly("names", &Book::names, "The range names: {name: \"A1..B3\"}.")
        .def("records", &Book::records, "Every record, in file order.")
        .def("cells", &Book::cells, "Every cell record, in file order.")
        .def("__iter__", [](const Book &b) { return py::iter(py::cast(b.cells())); })
        .def("__repr__", &Book::repr);

    m.def("read_frame", &read_frame, py::arg("path"), py::arg("values") = "stored", py::arg("encoding") = py::none());
    m.def("compile", &compile, py::arg("text"), py::arg("at") = "A1");
    m.def("decode", &decode, py::arg("code"), py::arg("at") = "A1");
    m.def("calc", &calc, py::arg("path"), py::arg("check") = false);
    m.def("convert", &convert, py::arg("src"), py::arg("dst"), py::arg("to") = py::none());
}
