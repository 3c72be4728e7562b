/*
 * A sheet's cells as a grid, from A1 to the last row and column that hold
 * something (blank cells do not count), given row by row to whoever writes
 * it (csv, html).  A first pass finds the grid's size, the sheet's default
 * format and its column widths; the second gives each row as soon as the
 * next one starts, so memory holds one row.  A file whose cells do not come
 * row by row is held whole and given at the end.
 */
#ifndef WKS_TOOL_GRID_H
#define WKS_TOOL_GRID_H

#include "tools/cell_view.h"
#include "tools/common.h"
#include "tools/sheet.h"

#include <functional>
#include <vector>

namespace tool {

// The width of a column the file gives no width for, in characters.
constexpr int kDefaultWidth = 9;

// What the first pass tells.
struct Layout {
    int rows = 0, cols = 0;
    int sheet_format = kDefaultFormat;
    std::vector<int> widths = std::vector<int>(kColumns, kDefaultWidth);  // of every column, in characters
    bool row_major = true;
};

// The first pass, over a sheet open at its first record; the sheet is at its
// end afterwards (rewind it).
Layout layout_of(Sheet &sheet);

// One row of the grid: cells[col] holds something where filled[col].
using RowSink = std::function<void(int row, const std::vector<CellContent> &cells, const std::vector<bool> &filled)>;

// The second pass, over the sheet rewound: every row of layout goes to sink
// in order, formulas by their computed values where computed is given.
// Malformed cells and cells off the sheet go to problems.  Returns what the
// sheet's last next() returned: 0 at its end, -1 where it is damaged.
int read_grid(Sheet &sheet, const Layout &layout, const ComputedValues *computed, Problems &problems,
              const RowSink &sink);

}  // namespace tool

#endif
