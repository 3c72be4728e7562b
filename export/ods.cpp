/*
 * wks_export_ods: a WK1, WKS or ORX file as an OpenDocument spreadsheet of
 * one sheet, with the translation of the XLSX export in OpenFormula syntax
 * (references in brackets, arguments apart by semicolons).
 *
 * content.xml is written to a scratch file as the cells come (rows in
 * order, as in every file the library writes; a file whose cells come out
 * of that order is sorted in memory first), then zipped with the other
 * parts of the package through libzip.
 */
#include "wks_export.h"

#include "export/report.h"
#include "export/sheet_data.h"
#include "export/translate.h"
#include "tools/encoding.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace wks::exporting {
namespace {

constexpr const char *kSheet = "Sheet1";
constexpr double kInchesPerCharacter = 0.1;  // the width of a column of n characters, as n tenths of an inch

std::string xml_text(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') continue;  // not allowed in XML
            out += c;
        }
    }
    return out;
}

std::string number(double v) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, ec == std::errc() ? end : buf);
}

// A formula of the XLSX syntax in OpenFormula's: references in brackets
// ([.A1], [.A1:.B2]) and semicolons between arguments; string constants
// stay as they are.
std::string open_formula(const std::string &f) {
    std::string out;
    const std::size_t n = f.size();
    for (std::size_t i = 0; i < n;) {
        const char c = f[i];
        if (c == '"') {
            const std::size_t start = i++;
            while (i < n && !(f[i] == '"' && (i + 1 >= n || f[i + 1] != '"'))) i += f[i] == '"' ? 2 : 1;
            out += f.substr(start, ++i - start);
            continue;
        }
        if (c == ',') {
            out += ';';
            ++i;
            continue;
        }
        const bool word_start = i == 0 || !(std::isalnum(static_cast<unsigned char>(f[i - 1])) || f[i - 1] == '_' ||
                                            f[i - 1] == '.');
        if (word_start && (c == '$' || std::isalpha(static_cast<unsigned char>(c)))) {
            std::size_t j = i;
            while (j < n && (std::isalnum(static_cast<unsigned char>(f[j])) || f[j] == '$' || f[j] == '_' || f[j] == '.')) ++j;
            const std::string word = f.substr(i, j - i);
            const bool call = j < n && f[j] == '(';
            std::size_t k = 0;
            if (word[k] == '$') ++k;
            const std::size_t letters = k;
            while (k < word.size() && std::isupper(static_cast<unsigned char>(word[k]))) ++k;
            const bool has_letters = k > letters;
            if (k < word.size() && word[k] == '$') ++k;
            const std::size_t digits = k;
            while (k < word.size() && std::isdigit(static_cast<unsigned char>(word[k]))) ++k;
            if (!call && has_letters && k > digits && k == word.size()) {
                if (j < n && f[j] == ':') {  // a range: the second corner follows
                    std::size_t e = j + 1;
                    while (e < n && (std::isalnum(static_cast<unsigned char>(f[e])) || f[e] == '$')) ++e;
                    out += "[." + word + ":." + f.substr(j + 1, e - j - 1) + "]";
                    i = e;
                } else {
                    out += "[." + word + "]";
                    i = j;
                }
                continue;
            }
            out += word;
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// The data style of a format byte (protection bit clear), as the XML of a
// number style named `name`, or "" for general; `lost` says what cells of
// a format without one lose.
std::string data_style(int f, const std::string &name, const char **lost) {
    const int type = f >> 4 & 7, d = f & 15;
    *lost = nullptr;
    const std::string places = " number:decimal-places=\"" + std::to_string(d) + "\" number:min-integer-digits=\"1\"";
    const std::string open = " style:name=\"" + name + "\"";
    switch (type) {
    case 0: return "<number:number-style" + open + "><number:number" + places + "/></number:number-style>";
    case 1:
        return "<number:number-style" + open + "><number:scientific-number" + places +
               " number:min-exponent-digits=\"2\"/></number:number-style>";
    case 2:
        return "<number:currency-style" + open + "><number:currency-symbol>$</number:currency-symbol><number:number" +
               places + " number:grouping=\"true\"/></number:currency-style>";
    case 3:
        return "<number:percentage-style" + open + "><number:number" + places +
               "/><number:text>%</number:text></number:percentage-style>";
    case 4:
        return "<number:number-style" + open + "><number:number" + places + " number:grouping=\"true\"/></number:number-style>";
    case 7: break;
    default: return "";
    }
    const std::string dash = "<number:text>-</number:text>", slash = "<number:text>/</number:text>",
                      colon = "<number:text>:</number:text>", day = "<number:day number:style=\"long\"/>",
                      month = "<number:month number:textual=\"true\"/>", mm = "<number:month number:style=\"long\"/>",
                      year = "<number:year/>", hours = "<number:hours number:style=\"long\"/>",
                      minutes = "<number:minutes number:style=\"long\"/>",
                      seconds = "<number:seconds number:style=\"long\"/>", ampm = "<number:text> </number:text><number:am-pm/>";
    auto date = [&](const std::string &parts) { return "<number:date-style" + open + ">" + parts + "</number:date-style>"; };
    auto time = [&](const std::string &parts) { return "<number:time-style" + open + ">" + parts + "</number:time-style>"; };
    switch (d) {
    case 0: *lost = "+/- (no number format draws a bar of signs)"; return "";
    case 2: return date(day + dash + month + dash + year);
    case 3: return date(day + dash + month);
    case 4: return date(month + dash + year);
    case 5: *lost = "text (no number format shows the formula's text)"; return "";
    case 6: return "<number:text-style" + open + "/>";  // hidden: nothing shows
    case 7: return time(hours + colon + minutes + colon + seconds + ampm);
    case 8: return time(hours + colon + minutes + ampm);
    case 9: return date(mm + slash + day + slash + year);
    case 10: return date(mm + slash + day);
    case 11: return time(hours + colon + minutes + colon + seconds);
    case 12: return time(hours + colon + minutes);
    default: return "";
    }
}

// Cell styles by format byte and alignment, with their data styles.
class Styles {
public:
    Styles(int default_format, Report &report) : default_(default_format & 0x7F), report_(report) {}

    // The style's name, or "" for the default cell.
    std::string get(uint8_t byte, Align align, int col, int row) {
        int f = byte & 0x7F;
        if (f == 0x7F) f = default_;
        const int k = (byte & 0x80) << 8 | f << 4 | align;
        auto it = names_.find(k);
        if (it == names_.end()) {
            const std::string data = "N" + std::to_string(names_.size() + 1);
            const char *lost;
            const std::string style = data_style(f, data, &lost);
            std::string cell = "<style:style style:name=\"ce" + std::to_string(names_.size() + 1) +
                               "\" style:family=\"table-cell\"" +
                               (style.empty() ? "" : " style:data-style-name=\"" + data + "\"") + ">";
            cell += "<style:table-cell-properties style:cell-protect=\"";
            cell += (byte & 0x80) ? "protected\"" : "none\"";
            if (align == kFill) cell += " style:repeat-content=\"true\"";
            cell += "/>";
            if (align == kLeft || align == kRight || align == kCentre)
                cell += std::string("<style:paragraph-properties fo:text-align=\"") +
                        (align == kLeft ? "start" : align == kRight ? "end" : "center") + "\"/>";
            cell += "</style:style>";
            xml_ += style + cell;
            it = names_.emplace(k, Entry{"ce" + std::to_string(names_.size() + 1), lost}).first;
        }
        if (it->second.lost) report_.format(it->second.lost, cell_name(col, row));
        return it->second.name;
    }
    const std::string &xml() const { return xml_; }

private:
    struct Entry {
        std::string name;
        const char *lost;
    };
    int default_;
    Report &report_;
    std::map<int, Entry> names_;
    std::string xml_;
};

// One cell of content.xml, with its place.
struct Cell {
    uint32_t key;
    std::string xml;
};

class Content {
public:
    Content(const Survey &s, const Values &values, const NameMap &names, tool::Charset set, Report &report,
            WKS_EXPORT_REPORT &counts)
        : survey_(s), values_(values), names_(names), set_(set), report_(report), counts_(counts),
          styles_(s.default_format, report) {}

    // The XML of a cell record, or "".
    std::string cell(int type, const unsigned char *c, int length) {
        const uint8_t byte = c[WKS_CELL_FORMAT];
        const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
        ++counts_.cells;
        auto open = [&](const std::string &style) {
            return std::string("<table:table-cell") + (style.empty() ? "" : " table:style-name=\"" + style + "\"");
        };
        switch (type) {
        case WKS_BLANK: return open(styles_.get(byte, kNoAlign, col, row)) + "/>";
        case WKS_INTEGER:
        case WKS_NUMBER: {
            double v;
            if (type == WKS_INTEGER) v = static_cast<int16_t>(u16(c + WKS_CELL_VALUE));
            else std::memcpy(&v, c + WKS_CELL_VALUE, sizeof v);
            return open(styles_.get(byte, kNoAlign, col, row)) + " office:value-type=\"float\" office:value=\"" +
                   number(v) + "\"/>";
        }
        case WKS_LABEL: {
            const char *text = reinterpret_cast<const char *>(c + WKS_CELL_VALUE);
            std::string bytes(text, strnlen(text, static_cast<std::size_t>(length - WKS_CELL_VALUE)));
            const Align a = bytes.empty() ? kNoAlign : align_of(bytes[0]);
            if (a != kNoAlign) bytes.erase(0, 1);
            const std::string style = styles_.get(byte, a, col, row);
            if (bytes.empty()) return open(style) + "/>";
            return open(style) + " office:value-type=\"string\"><text:p>" + xml_text(tool::to_utf8(bytes, set_)) +
                   "</text:p></table:table-cell>";
        }
        default: return formula(c, length, open(styles_.get(byte, kNoAlign, col, row)), col, row);
        }
    }
    const std::string &styles() const { return styles_.xml(); }

private:
    const Survey &survey_;
    const Values &values_;
    const NameMap &names_;
    tool::Charset set_;
    Report &report_;
    WKS_EXPORT_REPORT &counts_;
    Styles styles_;

    std::string formula(const unsigned char *c, int length, const std::string &open, int col, int row) {
        const unsigned char *code = c + WKS_CELL_FORMULA_CODE;
        const int code_length = static_cast<int16_t>(u16(code));
        Computed v{WKS_VALUE_NUMBER, 0, "", false};
        std::memcpy(&v.number, c + WKS_CELL_VALUE, sizeof v.number);
        values_.find(col, row, v);
        const std::string text = v.kind == WKS_VALUE_STRING ? xml_text(tool::to_utf8(v.text, set_)) : "";
        Translation t;
        if (code_length < 1 || WKS_CELL_FORMULA_CODE + 2 + code_length > length)
            t.reason = "the formula code does not fit its record";
        else
            t = translate(code, col, row, survey_.kinds, [this](const std::string &b) { return tool::to_utf8(b, set_); },
                          names_);
        if (t.translated && v.circular)
            t.caveats.push_back("circular reference: the target recalculates it by its own iteration settings");
        const std::string where = cell_name(col, row);
        std::string value;
        switch (v.kind) {
        case WKS_VALUE_NUMBER: value = " office:value-type=\"float\" office:value=\"" + number(v.number) + "\""; break;
        case WKS_VALUE_STRING: value = " office:value-type=\"string\" office:string-value=\"" + text + "\""; break;
        default: break;
        }
        std::string shown = v.kind == WKS_VALUE_STRING ? text : v.kind == WKS_VALUE_NA ? "#N/A" : v.kind == WKS_VALUE_ERR ? "#VALUE!" : "";
        const std::string end = shown.empty() ? "/>" : "><text:p>" + shown + "</text:p></table:table-cell>";
        if (!t.translated) {
            ++counts_.values;
            report_.values_only(where, source_text(code, col, row), t.reason);
            if (v.kind == WKS_VALUE_NA) return open + " table:formula=\"of:=NA()\"" + end;
            if (v.kind == WKS_VALUE_ERR) return open + " table:formula=\"of:=1/0\"" + end;
            return open + value + end;
        }
        ++counts_.formulas;
        if (!t.caveats.empty()) {
            ++counts_.caveats;
            report_.caveat(where, source_text(code, col, row), t.formula, t.caveats);
        }
        const std::string matrix =
            t.array ? " table:number-matrix-columns-spanned=\"1\" table:number-matrix-rows-spanned=\"1\"" : "";
        return open + " table:formula=\"of:=" + xml_text(open_formula(t.formula)) + "\"" + matrix + value + end;
    }

    std::string source_text(const unsigned char *code, int col, int row) const {
        char out[2048];
        if (wksfr(0, static_cast<int16_t>(col), static_cast<int16_t>(row), code, out, sizeof out) != 0) return "";
        return tool::to_utf8(out, set_);
    }
};

// The rows of the sheet, written as their cells come in row order: the
// gaps between cells and rows as repeated empty ones.
class Rows {
public:
    explicit Rows(std::FILE *out) : out_(out) {}
    void add(int col, int row, const std::string &xml) {
        if (row != row_) {
            end_row();
            if (row > row_ + 1)
                put("<table:table-row table:number-rows-repeated=\"" + std::to_string(row - row_ - 1) +
                    "\"><table:table-cell/></table:table-row>");
            put("<table:table-row>");
            row_ = row;
            col_ = -1;
        }
        if (col > col_ + 1)
            put("<table:table-cell table:number-columns-repeated=\"" + std::to_string(col - col_ - 1) + "\"/>");
        put(xml);
        col_ = col;
    }
    void end_row() {
        if (row_ >= 0) put("</table:table-row>");
    }

private:
    std::FILE *out_;
    int row_ = -1, col_ = -1;
    void put(const std::string &s) { std::fwrite(s.data(), 1, s.size(), out_); }
};

std::string column_styles(const Survey &s, std::string &columns) {
    std::string styles;
    std::map<int, std::string> by_width;
    auto width = [&](int i) { return s.widths[i] ? s.widths[i] : s.default_width; };
    for (int c = 0; c < kColumns;) {
        const int w = width(c);
        int n = 1;
        while (c + n < kColumns && width(c + n) == w) ++n;
        auto it = by_width.find(w);
        if (it == by_width.end()) {
            const std::string name = "co" + std::to_string(by_width.size() + 1);
            char inches[32];
            std::snprintf(inches, sizeof inches, "%.3fin", w * kInchesPerCharacter);
            styles += "<style:style style:name=\"" + name +
                      "\" style:family=\"table-column\"><style:table-column-properties style:column-width=\"" +
                      inches + "\"/></style:style>";
            it = by_width.emplace(w, name).first;
        }
        columns += "<table:table-column table:style-name=\"" + it->second + "\"" +
                   (n > 1 ? " table:number-columns-repeated=\"" + std::to_string(n) + "\"" : "") + "/>";
        c += n;
    }
    return styles;
}


const char kContentHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\" office:version=\"1.2\">";

const char kManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" manifest:version=\"1.2\">"
    "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
    "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
    "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
    "</manifest:manifest>";

const char kMimeType[] = "application/vnd.oasis.opendocument.spreadsheet";

// The package: mimetype first and stored, then the manifest and content.xml.
bool zip_package(const std::string &path, const std::string &content_path) {
    int err = 0;
    zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z) return false;
    zip_source_t *mime = zip_source_buffer(z, kMimeType, sizeof kMimeType - 1, 0);
    zip_int64_t i = mime ? zip_file_add(z, "mimetype", mime, ZIP_FL_ENC_UTF_8) : -1;
    bool ok = i >= 0 && zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0) == 0;
    if (i < 0 && mime) zip_source_free(mime);
    zip_source_t *manifest = ok ? zip_source_buffer(z, kManifest, sizeof kManifest - 1, 0) : nullptr;
    ok = ok && manifest && zip_file_add(z, "META-INF/manifest.xml", manifest, ZIP_FL_ENC_UTF_8) >= 0;
    if (!ok && manifest) zip_source_free(manifest);
    zip_source_t *content = ok ? zip_source_file(z, content_path.c_str(), 0, -1) : nullptr;
    const bool added = ok && content && zip_file_add(z, "content.xml", content, ZIP_FL_ENC_UTF_8) >= 0;
    if (ok && !added && content) zip_source_free(content);
    if (!added) {
        zip_discard(z);
        return false;
    }
    return zip_close(z) == 0;
}

int16_t export_ods(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT &counts) {
    const auto set = charset_of(flags);
    auto s = std::make_unique<Survey>();
    Values values(s->kinds);
    if (const int16_t rc = prepare(src, dst, flags, *s, values)) return rc;

    Report report;
    if (counts.path && *counts.path && !report.open(counts.path)) return WKS_E_OPEN;
    NewFile file(dst);
    NewFile body(std::string(dst) + ".content");  // content.xml, zipped at the end
    if (!file.made() || !body.made()) return WKS_E_OPEN;
    std::FILE *rows_file = std::fopen(body.path().c_str(), "wb");
    if (!rows_file) return WKS_E_OPEN;
    std::string ranges;
    const NameMap names = define_names(s->names, set, report, [&ranges](const std::string &name, const Name &nm) {
        std::string range = std::string("$") + kSheet + "." + absolute(nm.c1, nm.r1);
        if (nm.c1 != nm.c2 || nm.r1 != nm.r2) range += ":." + absolute(nm.c2, nm.r2);
        ranges += "<table:named-range table:name=\"" + xml_text(name) + "\" table:base-cell-address=\"$" + kSheet +
                  ".$A$1\" table:cell-range-address=\"" + range + "\"/>";
        return true;
    });
    if (!ranges.empty()) ranges = "<table:named-expressions>" + ranges + "</table:named-expressions>";
    Content content(*s, values, names, set, report, counts);
    int16_t status = WKS_OK;
    {
        Rows rows(rows_file);
        std::vector<Cell> held;  // the cells of a file that does not come row by row
        Source in(src);
        if (!in.open()) status = in.error();
        while (status == WKS_OK) {
            const int16_t rc = in.next();
            if (rc == -1) break;
            if (rc != 0) {
                status = WKS_E_READ;
                break;
            }
            const unsigned char *c = in.cell();
            if (!c) continue;
            const int col = u16(c + WKS_CELL_COLUMN), row = u16(c + WKS_CELL_ROW);
            if (col >= kColumns || row >= kRows) continue;
            std::string xml = content.cell(in.type(), c, in.cell_length());
            if (s->row_order) rows.add(col, row, xml);
            else held.push_back(Cell{key(col, row), std::move(xml)});
        }
        std::stable_sort(held.begin(), held.end(), [](const Cell &a, const Cell &b) { return a.key < b.key; });
        for (std::size_t i = 0; i < held.size(); ++i)
            if (i + 1 == held.size() || held[i + 1].key != held[i].key)
                rows.add(static_cast<int>(held[i].key & 0xFF), static_cast<int>(held[i].key >> 8), held[i].xml);
        rows.end_row();
    }
    if (std::ferror(rows_file)) status = WKS_E_WRITE;
    if (std::fclose(rows_file) != 0 && status == WKS_OK) status = WKS_E_WRITE;
    if (status != WKS_OK) return status;

    // content.xml: the head, the styles, the table (its rows copied from the scratch file).
    NewFile whole(std::string(dst) + ".xml");
    std::FILE *out = whole.made() ? std::fopen(whole.path().c_str(), "wb") : nullptr;
    std::FILE *in_rows = std::fopen(body.path().c_str(), "rb");
    if (!out || !in_rows) {
        if (out) std::fclose(out);
        if (in_rows) std::fclose(in_rows);
        return WKS_E_OPEN;
    }
    std::string columns;
    const std::string column_xml = column_styles(*s, columns);
    std::string head = kContentHead;
    head += "<office:automatic-styles>" + column_xml + content.styles() + "</office:automatic-styles>";
    // Lookups and criteria compare text as the language does: in any case,
    // a key's * ? ~ as wildcards only where the formula keeps them so (the
    // format's defaults would read keys as regular expressions).
    head += "<office:body><office:spreadsheet><table:calculation-settings table:case-sensitive=\"false\" "
            "table:use-regular-expressions=\"false\" table:use-wildcards=\"true\"/><table:table table:name=\"" + std::string(kSheet) + "\"" +
            (s->protected_sheet ? " table:protected=\"true\"" : "") + ">" + columns;
    std::fputs(head.c_str(), out);
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in_rows)) > 0;) std::fwrite(buf, 1, n, out);
    std::fclose(in_rows);
    std::fputs(("</table:table>" + ranges + "</office:spreadsheet></office:body></office:document-content>").c_str(),
               out);
    const bool written = !std::ferror(out);
    if (std::fclose(out) != 0 || !written) return WKS_E_WRITE;
    if (!zip_package(file.path(), whole.path())) return WKS_E_WRITE;
    counts.dropped = report.dropped();
    if (!report.summary(counts)) return WKS_E_WRITE;
    if (!file.commit()) return WKS_E_OPEN;
    if (!report.commit()) return WKS_E_WRITE;
    return WKS_OK;
}

}  // namespace
}  // namespace wks::exporting

extern "C" int16_t wks_export_ods(const char *src, const char *dst, int32_t flags, WKS_EXPORT_REPORT *report) {
    return wks::exporting::export_at_boundary(wks::exporting::export_ods, src, dst, flags, report);
}
