/*
 * Formula code into the formula syntax of today's spreadsheets (the
 * workbook's A1 syntax), written so that they compute the value the
 * formula language gives.  The code is read into an expression tree
 * (formula/code_tables.h's read_item walks it, as the decoder does) and
 * printed with the target's precedence; every function of the table has a
 * value-preserving form, or none, and then the cell keeps its value only.
 *
 * A form may depend on what the cells hold now: a reference to a label in
 * arithmetic reads N(A1), two strings compare ignoring case, a lookup of
 * a string matches exactly.  `kinds` tells the current kind of each cell.
 */
#ifndef WKS_EXPORT_TRANSLATE_H
#define WKS_EXPORT_TRANSLATE_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace wks::exporting {

// What a cell holds now (a formula: the kind of its computed value).
enum class Kind : uint8_t { kEmpty, kNumber, kString, kErr, kNa };

// What a cell a database function reads holds: its number, its label's
// text without the alignment character, or a formula.
struct Content {
    enum { kNumber, kLabel, kFormula } what;
    double number;
    std::string bytes;
};

class CellKinds {
public:
    CellKinds();
    Kind at(int col, int row) const { return kinds_[index(col, row)]; }
    void set(int col, int row, Kind k) { kinds_[index(col, row)] = k; }
    // Contents of the non-blank cells, kept only for a sheet with database
    // functions (their field names and criteria); null for a blank cell.
    const Content *content(int col, int row) const {
        const auto found = contents_.find(static_cast<uint32_t>(index(col, row)));
        return found == contents_.end() ? nullptr : &found->second;
    }
    void keep(int col, int row, Content c) { contents_[static_cast<uint32_t>(index(col, row))] = std::move(c); }

private:
    std::unordered_map<uint32_t, Content> contents_;
    static std::size_t index(int col, int row) { return static_cast<std::size_t>(row) * 256 + col; }
    std::vector<Kind> kinds_;
};

struct Translation {
    bool translated = false;       // false: no faithful form; the cell keeps its value
    bool array = false;            // an array formula (a database function's form)
    std::string formula;           // without the leading "="
    std::string reason;            // why not, when not translated
    std::vector<std::string> caveats;  // translated, with these reservations
};

// code: the formula code with its length word; col, row: the formula's cell.
// The workbook's defined names by the range names of the file (its bytes).
using NameMap = std::map<std::string, std::string>;

// decode: the file's 8-bit text as UTF-8; names: for @@ of a name.
Translation translate(const unsigned char *code, int col, int row, const CellKinds &kinds,
                      const std::function<std::string(const std::string &)> &decode, const NameMap &names);

// Whether code calls a database function (@DSUM ... @DSTD).
bool calls_database_function(const unsigned char *code, int32_t size);

// "B7" for column 1, row 6.
std::string cell_name(int col, int row);

}  // namespace wks::exporting

#endif
