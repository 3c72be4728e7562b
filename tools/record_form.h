/*
 * Records the tool builds from text: the cell a CSV field gives, and the
 * records of the JSON form 'wks dump --json' writes and 'wks import --json'
 * reads back.  Cells are built in the ORX cell layout (formula text compiled
 * by wksform) and translated for a WK1 file by the writer.
 */
#ifndef WKS_TOOL_RECORD_FORM_H
#define WKS_TOOL_RECORD_FORM_H

#include "tools/common.h"
#include "tools/json.h"
#include "wks.h"

#include <string>
#include <vector>

namespace tool {

// The formula text a message quotes: UTF-8, at most 80 characters.
std::string quoted_formula(const std::string &bytes, Charset set);

// The cell for one non-empty CSV field (8-bit text) in cell.rec, in the ORX
// cell layout; false with the reason in why.
bool csv_cell(WKS &cell, const std::string &field, int16_t col, int16_t row, Charset set, std::string &why);

// Records from the objects of the JSON form, one at a time.
class JsonRecords {
public:
    explicit JsonRecords(Charset set) : set_(set) {}

    // The first object, the BOF record's: the layout the objects were
    // dumped from (file_format, when given) and an ORX file's header block
    // (block left empty when not given).  False with the reason in why.
    bool header(const JsonObject &bof, std::vector<unsigned char> &block, std::string &why);
    // The layout the records go into: the records made are in it.
    void set_target(Format target) { target_ = target; }
    void set_source(Format source) { source_ = source; }
    Format source() const { return source_; }

    // What an object makes.
    enum Made { kRefused, kRecord, kTrailing };
    // The record of one object in rec, in the target's layout, or for the
    // bytes that follow a file's last record (kind "trailing") those bytes
    // in trailing; kRefused with the reason in why.
    Made record(const JsonObject &o, WKS_RECORD &rec, std::vector<unsigned char> &trailing, std::string &why);

private:
    bool cell(const JsonObject &o, const std::string &kind, WKS_RECORD &rec, std::string &why);
    bool raw(const JsonObject &o, bool malformed, WKS_RECORD &rec, std::string &why);
    bool range_name(const JsonObject &o, WKS_RECORD &rec, std::string &why);

    Charset set_;
    Format source_ = Format::kNeither;  // the cell layout the objects were dumped from, when told
    Format target_ = Format::kOrx;
    WKS scratch_{};                     // formulas compiled from text; names are looked up under it
};

struct Record;

// The JSON form of a record (one line, without its LF) of a file in format,
// which has header_block (empty for a WK1 file): the record's body is added
// where the other fields would not make it again as check makes records.
std::string record_json(const Record &r, Format format, const std::vector<unsigned char> &header_block, Charset set,
                        JsonRecords &check);

}  // namespace tool

#endif
