/*
 * A cell as the sheet shows it: a number in the form its format byte asks
 * for, a label without its alignment character, a formula by its value.
 * The value of a formula is the one the file stores, or the one it computes
 * to (ComputedValues puts it into CellContent in place of the stored one).
 */
#ifndef WKS_TOOL_CELL_VIEW_H
#define WKS_TOOL_CELL_VIEW_H

#include "tools/sheet.h"

#include <map>
#include <string>
#include <utility>

namespace tool {

// The format byte of a cell that has none of its own (bits 0-6 all set), and
// the sheet default where a file gives none.
constexpr int kDefaultFormat = 0x7F;

struct CellContent {
    Kind kind = Kind::kBlank;  // kInteger, kNumber, kLabel or kFormula
    int format = kDefaultFormat;
    double number = 0;         // the integer or number; a formula's value
    std::string text;          // a label's bytes (alignment character first), a formula's text
    bool is_string = false;    // a formula whose value is a string:
    std::string string;        // its bytes
};

// What the cell shows, in the file's 8-bit characters.  sheet_format: the
// format byte the sheet gives cells of the default format.
std::string shown_text(const CellContent &cell, int sheet_format);

// Whether the cell shows a number (to the right of its column): a number
// cell, or a formula whose value is a number and whose format is not text.
bool shows_number(const CellContent &cell, int sheet_format);

// What the cell shows on screen in a column width characters wide: dates
// and times in the sheet's own forms (19-Feb-14, 02:30 PM, 02/19/14) rather
// than ISO 8601.  A number keeps one position free at the right; one that
// does not fit shows, in general format, with fewer decimals or in
// scientific form where that fits, else as asterisks.  Anything else shows
// as shown_text gives it.
std::string shown_in_column(const CellContent &cell, int sheet_format, int width);

// The sheet's default format byte when r is a WINDOW1 record, else -1.
int sheet_format_of(const Record &window);

// The values a file's formulas compute to (wks_calc_file; the file is left
// as it is), for files that hold none of their own.
class ComputedValues {
public:
    // False with the reason in why.
    bool compute(const std::string &path, std::string &why);
    // Puts the computed value of the formula at (col, row) into its content.
    void apply(int col, int row, CellContent &cell) const;

private:
    std::map<std::pair<int, int>, CellContent> values_;  // by (col, row): number, is_string, string
};

}  // namespace tool

#endif
