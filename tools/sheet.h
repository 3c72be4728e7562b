/*
 * Reads a worksheet file of either kind record by record and describes each
 * record in one shape: its type, WK1 record name, byte offset and body, and
 * for cell records the format byte, address and value, whichever cell layout
 * the file uses.  Range-name records are registered in the library's table
 * under one file number of the tool's, so that decoded formulas show the
 * names.  Where the record stream breaks off, the file's own bytes tell
 * where and why, and a record that is whole before the break is still
 * delivered.
 */
#ifndef WKS_TOOL_SHEET_H
#define WKS_TOOL_SHEET_H

#include "tools/common.h"
#include "wks.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// The file number the tool registers a file's range names under.
constexpr int32_t kToolFile = 1;

// kTrailing: bytes after a file's EOF record that make no whole record.
enum class Kind { kOther, kBof, kEof, kBlank, kInteger, kNumber, kLabel, kFormula, kString, kRangeName, kBad, kTrailing };

struct Record {
    int index = 0;
    long offset = 0;                 // of the record's header in the file
    int type = 0;
    int length = 0;
    const unsigned char *body = nullptr;
    Kind kind = Kind::kOther;
    int version = 0;                 // BOF
    bool cell = false;               // format, col and row were read
    int format = 0, col = 0, row = 0;
    const unsigned char *value = nullptr;  // number, integer, label, string, formula: the value area
    double number = 0;               // number, and the stored value of a formula
    int integer = 0;
    std::string text;                // label and string bytes, formula text (exact constants), range name
    const unsigned char *code = nullptr;   // formula code from its length word, code_bytes long
    int code_bytes = 0;
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

    // Opens path (any variant wks_open_family reads); false with the reason
    // in error() otherwise.
    bool open(const std::string &path);
    // Formulas are decoded into text unless this is turned off.
    void decode_formulas(bool on) { decode_ = on; }
    // False for a formula read while that was off whose code does not decode
    // (next() would have made it kBad), true for any other record.
    bool decodes(const Record &r);
    // Records after the EOF record are read too (those the file holds whole,
    // then any bytes that make no record, as one kTrailing record) unless
    // this is off, as it is at first: the library's readers end at the EOF
    // record.
    void read_past_end(bool on) { past_end_ = on; }
    // Registers the file's range names (a first pass over the file, up to any
    // damage), then reopens it at its first record.
    bool load_names();
    // Reopens the file at its first record; false with the reason in error().
    bool rewind();
    // The next record: 1 a record, 0 after the EOF record, -1 when the file
    // is damaged there (error() says where and how).
    int next(Record &r);
    // The record layout: kOrx, kWk1 for every other variant read.
    Format format() const { return format_; }
    // The variant, as wks_identify tells it (after open(), also a failed one).
    const WKS_FAMILY &family() const { return family_; }
    // An ORX file's header block (empty for a WK1 file).
    const std::vector<unsigned char> &header_block() const { return header_; }
    // Where the next record starts.
    long offset() const { return offset_; }
    // Closes the file; next() then reports its end.
    void close();
    const std::string &error() const { return error_; }

private:
    void describe(Record &r);
    void describe_cell(Record &r);
    int16_t decode(const Record &r);
    std::string diagnose();
    int next_past_end(Record &r);

    std::string path_;
    Format format_ = Format::kNeither;
    WKS_FAMILY family_{};
    WKS h_{};
    bool open_ = false;
    bool at_eof_ = false;
    bool broken_ = false;  // a record from the file's bytes went out; the break comes next
    bool decode_ = true;
    bool past_end_ = false;
    std::FILE *tail_ = nullptr;  // the file read on after its EOF record
    bool tail_done_ = false;     // the bytes that make no record went out
    int index_ = 0;
    long offset_ = 0;
    std::vector<unsigned char> header_;
    std::vector<unsigned char> raw_;  // the record read from the file's bytes after the stream broke off
    std::string error_;
    static constexpr int kDecodeSize = 16384;
    char decoded_[kDecodeSize];  // a formula's text from the decoder
};

}  // namespace tool

#endif
