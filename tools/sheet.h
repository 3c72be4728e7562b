/*
 * Reads a worksheet file of either kind record by record and describes each
 * record in one shape: its type, WK1 record name and body, and for cell
 * records the format byte, address and value, whichever cell layout the
 * file uses.  Range-name records are registered in the library's table under
 * one file number of the tool's, so that decoded formulas show the names.
 */
#ifndef WKS_TOOL_SHEET_H
#define WKS_TOOL_SHEET_H

#include "tools/common.h"
#include "wks.h"

#include <cstdint>
#include <string>

namespace tool {

// The file number the tool registers a file's range names under.
constexpr int32_t kToolFile = 1;

enum class Kind { kOther, kBof, kEof, kBlank, kInteger, kNumber, kLabel, kFormula, kString, kRangeName, kBad };

struct Record {
    int index = 0;
    int type = 0;
    int length = 0;
    const unsigned char *body = nullptr;
    Kind kind = Kind::kOther;
    int version = 0;                 // BOF
    bool cell = false;               // format, col and row were read
    int format = 0, col = 0, row = 0;
    double number = 0;               // number, and the stored value of a formula
    int integer = 0;
    std::string text;                // label/string text, formula text, range name
    int c1 = 0, r1 = 0, c2 = 0, r2 = 0;  // range name
    std::string problem;             // why a record is kBad
};

// WK1 name of a record type, or NULL.
const char *record_name(int type);

class Sheet {
public:
    Sheet() = default;
    ~Sheet();
    Sheet(const Sheet &) = delete;
    Sheet &operator=(const Sheet &) = delete;

    // Opens path (ORX or WK1); false with a message in error() otherwise.
    bool open(const std::string &path);
    // Registers the file's range names (a first pass over the file), then
    // reopens it at its first record.
    bool load_names();
    // The next record: 1 a record, 0 after the EOF record, -1 read error
    // (error() says which).
    int next(Record &r);
    Format format() const { return format_; }
    const std::string &error() const { return error_; }

private:
    bool start();
    void close();
    void describe(Record &r);
    void describe_cell(Record &r);

    std::string path_;
    Format format_ = Format::kNeither;
    WKS h_{};
    bool open_ = false;
    bool at_eof_ = false;
    int index_ = 0;
    std::string error_;
};

}  // namespace tool

#endif
