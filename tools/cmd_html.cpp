/*
 * wks html FILE: the sheet as one page that any browser shows without
 * scripts, laid out as the sheet showed it on screen: columns as wide as the
 * file makes them, row numbers and column letters around the cells, labels
 * aligned by their first character, numbers in their formats and fitted
 * into their columns, formulas with their text on hover.  A label wider than
 * its column runs on over the blank cells to its right and is cut at the
 * first cell that holds something.
 *
 * The page is a table of plain rows in blocks of a hundred, each block a
 * table of the same columns that a browser lays out and draws only when it
 * comes into view (a sheet of 8192 rows is otherwise laid out whole before
 * it shows); everything that repeats is a class of the one style sheet.
 * Rows come from tools/grid.h as they are read, so memory holds one row
 * whatever the size of the sheet.
 */
#include "tools/cell_view.h"
#include "tools/commands.h"
#include "tools/grid.h"
#include "tools/sheet.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tool {
namespace {

const char kHelp[] =
    "usage: wks html [--compute] [--encoding SET] FILE\n"
    "\n"
    "Prints the sheet of FILE (\"-\" reads standard input) as one HTML page\n"
    "that needs no script and nothing else beside it: a table from A1 to the\n"
    "last row and column that hold something, with the row numbers and column\n"
    "letters, each column as wide as the file makes it (9 characters where it\n"
    "gives none).  Labels are aligned by their first character (' left,\n"
    "\" right, ^ centred, \\ repeated across the column) and run on over blank\n"
    "cells to their right; numbers show in their cell's format (as with\n"
    "'wks csv --values') and where they do not fit their column, with fewer\n"
    "digits or as asterisks; hidden cells are blank.  A formula shows its\n"
    "value, and its text when the pointer rests on it.\n"
    "A damaged file is shown up to the damage, which is then named.\n"
    "\n"
    "  --compute       formulas by the values they compute to (as 'wks calc'\n"
    "                  computes them), not the values the file holds\n"
    "  --encoding SET  the character set of labels, as for 'wks csv'\n";

// Rows of a fixed height, so that a block of rows not drawn yet takes the
// room it will take (kRowPitch: the row and its rule).
constexpr int kRowHeight = 17;
constexpr int kRowPitch = kRowHeight + 1;
// Rows a block holds: a browser lays out and draws only the blocks in view.
constexpr int kBlockRows = 100;

// Monospace cells with thin rules; classes: b a block of rows after the
// first, n a number (one position kept free at the right, as a sheet keeps
// it), r and c right and centred labels, s a label that runs on to the right
// (cut by a box as wide as the blank cells it may cover, where a cell that
// holds something stops it).
const std::string kStyle =
    "body{margin:8px;background:#fff;color:#000}\n"
    "table{border-collapse:collapse;table-layout:fixed;width:0;font:14px/" + std::to_string(kRowHeight) +
    "px monospace}\n"
    "th,td{padding:0;border:1px solid #d8d8d8;white-space:pre;overflow:hidden;height:" + std::to_string(kRowHeight) +
    "px}\n"
    "th{background:#eee;color:#444;font-weight:normal;text-align:center}\n"
    "tbody th{text-align:right;padding-right:1ch}\n"
    "td[title]{cursor:help}\n"
    ".b{content-visibility:auto;contain-intrinsic-size:auto " + std::to_string(kBlockRows * kRowPitch) + "px}\n"
    ".b table{margin-top:-1px}\n"
    ".n{text-align:right;padding-right:1ch}.r{text-align:right}.c{text-align:center}\n"
    ".s{overflow:visible}.s div{overflow:hidden}\n";

// UTF-8 text for the page: markup characters as references, control
// characters (which a page cannot hold) as U+FFFD.
void append_escaped(std::string &out, const std::string &text) {
    for (const char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) out += "\xEF\xBF\xBD";
            else out += ch;
        }
    }
}

std::string column_letters(int col) {
    const std::string name = cell_name(col, 0);
    return name.substr(0, name.size() - 1);
}

// What a label cell shows in a column of width characters, and its class.
std::string label_text(const CellContent &c, int sheet_format, int width, const char *&cls) {
    std::string text = shown_text(c, sheet_format);
    const char prefix = c.text.empty() ? '\0' : c.text[0];
    cls = prefix == '"' ? "r" : prefix == '^' ? "c" : nullptr;
    if (prefix == '\\' && !text.empty()) {  // repeated to fill the column exactly
        std::string filled;
        while (filled.size() < static_cast<std::size_t>(width)) filled += text;
        filled.resize(static_cast<std::size_t>(width));
        text = filled;
    }
    return text;
}

class Page {
public:
    Page(const Layout &layout, Charset set) : layout_(layout), set_(set) {}

    void begin(const std::string &title) {
        out_ = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
        append_escaped(out_, title);
        out_ += "</title>\n<style>\n" + kStyle + "</style>\n</head>\n<body>\n";
        columns_ = "<colgroup><col style=\"width:" + std::to_string(std::to_string(layout_.rows).size() + 2) + "ch\">";
        for (int col = 0; col < layout_.cols; ++col)
            columns_ += "<col style=\"width:" + std::to_string(layout_.widths[static_cast<std::size_t>(col)]) + "ch\">";
        columns_ += "</colgroup>\n";
        out_ += "<table>\n" + columns_ + "<thead><tr><th></th>";
        for (int col = 0; col < layout_.cols; ++col) out_ += "<th>" + column_letters(col) + "</th>";
        out_ += "</tr></thead>\n<tbody>\n";
        flush();
    }

    void row(int row, const std::vector<CellContent> &cells, const std::vector<bool> &filled) {
        if (row > 0 && row % kBlockRows == 0)  // the next block: a table of its own with the same columns
            out_ += std::string(row > kBlockRows ? "</tbody></table></div>\n" : "</tbody></table>\n") +
                    "<div class=\"b\"><table>" + columns_ + "<tbody>\n";
        out_ += "<tr><th>" + std::to_string(row + 1) + "</th>";
        for (int col = 0; col < layout_.cols; ++col) {
            const auto at = static_cast<std::size_t>(col);
            if (!filled[at]) {
                out_ += "<td></td>";
                continue;
            }
            cell(col, cells[at], filled);
        }
        out_ += "</tr>\n";
        flush();
        rows_ = row + 1;
    }

    void end() {
        out_ += rows_ > kBlockRows ? "</tbody></table></div>\n" : "</tbody></table>\n";
        out_ += "</body>\n</html>\n";
        flush();
    }

private:
    void cell(int col, const CellContent &c, const std::vector<bool> &filled) {
        const int width = layout_.widths[static_cast<std::size_t>(col)];
        std::string text;
        std::string cls;
        const char *label_class = nullptr;
        if (shows_number(c, layout_.sheet_format)) {
            text = shown_in_column(c, layout_.sheet_format, width);
            cls = "n";
        } else {
            text = c.kind == Kind::kLabel ? label_text(c, layout_.sheet_format, width, label_class)
                                          : shown_text(c, layout_.sheet_format);
            if (label_class) cls = label_class;
        }
        // Text wider than its column starts at its left and runs on over
        // the blank cells after it, cut where a cell holds something.
        long reach = -1;  // characters to that cell
        if (cls != "n" && text.size() > static_cast<std::size_t>(width)) {
            cls = "s";
            long left = static_cast<long>(text.size()) - width, room = width;
            for (int next = col + 1; next < layout_.cols && left > 0; ++next) {
                if (filled[static_cast<std::size_t>(next)]) {
                    reach = room;
                    break;
                }
                left -= layout_.widths[static_cast<std::size_t>(next)];
                room += layout_.widths[static_cast<std::size_t>(next)];
            }
        }
        out_ += "<td";
        if (!cls.empty()) out_ += " class=\"" + cls + "\"";
        if (c.kind == Kind::kFormula) {
            out_ += " title=\"";
            append_escaped(out_, to_utf8(c.text, set_));
            out_ += "\"";
        }
        out_ += ">";
        if (reach >= 0) out_ += "<div style=\"width:" + std::to_string(reach) + "ch\">";
        append_escaped(out_, to_utf8(text, set_));
        out_ += reach >= 0 ? "</div></td>" : "</td>";
    }

    void flush() {
        std::fwrite(out_.data(), 1, out_.size(), stdout);
        out_.clear();
    }

    const Layout &layout_;
    const Charset set_;
    std::string columns_;  // the colgroup every block repeats
    std::string out_;
    int rows_ = 0;         // written
};

}  // namespace

int cmd_html(const Args &args) {
    Options o;
    Charset set;
    if (!parse_options("html", args, {"--compute"}, {"--encoding"}, o)) return kUsage;
    if (o.has("--help")) return std::fputs(kHelp, stdout), kOk;
    if (o.positional.size() != 1) return usage_error("html", "expects one FILE");
    if (!charset_option("html", o, set)) return kUsage;
    const std::string shown = shown_name(o.positional[0]);

    std::string path, why;
    if (!input_path(o.positional[0], path, why)) return fail(shown, why);
    Sheet sheet;
    if (!sheet.open(path)) return fail(shown, sheet.error());
    if (!sheet.load_names()) return fail(shown, sheet.error());  // formulas show the names of their ranges
    ComputedValues computed;
    if (o.has("--compute") && !computed.compute(path, why)) return fail(shown, why);
    const Layout layout = layout_of(sheet);
    if (!sheet.rewind()) return fail(shown, sheet.error());
    Problems problems(shown);
    Page page(layout, set);
    page.begin(shown);
    const int got = read_grid(sheet, layout, o.has("--compute") ? &computed : nullptr, problems,
                              [&](int row, const std::vector<CellContent> &cells, const std::vector<bool> &filled) {
                                  page.row(row, cells, filled);
                              });
    page.end();
    if (got < 0) fail(shown, sheet.error());
    return problems.finish() == kOk && got >= 0 ? kOk : kFailed;
}

}  // namespace tool
