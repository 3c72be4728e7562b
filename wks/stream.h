/*
 * Internal side of the record stream, shared by the ORX functions, the copy
 * and append openings and the WK1 twins.  The two formats frame records the
 * same way and differ only in where a cell record keeps its column and row.
 */
#ifndef WKS_STREAM_H
#define WKS_STREAM_H

#include "wks.h"
#include "wks/bytes.h"

namespace wks {

constexpr int kOrxCellColumn = 12;  // body offsets of column and row, ORX cell layout
constexpr int kWk1CellColumn = 1;   // ... WK1 cell layout
constexpr int kOrxCellPrefix = 11;  // bytes in front of the WK1 cell body in an ORX cell

constexpr uint16_t kVersion1028 = 1028;
constexpr uint16_t kVersion1030 = 1030;

inline uint16_t rec_type(const WKS *h) { return get_u16(h->rec.type); }
inline uint16_t rec_length(const WKS *h) { return get_u16(h->rec.length); }
inline void set_rec(WKS *h, uint16_t type, uint16_t length) {
    put_u16(h->rec.type, type);
    put_u16(h->rec.length, length);
}

// Types 13, 14, 15, 16 and 51: the cells whose position the stream tracks.
inline bool is_cell_type(uint16_t type) { return (type >= WKS_INTEGER && type <= WKS_FORMULA) || type == WKS_STRING; }

// A BOF record of length 2 and version 1028 or 1030.
inline bool is_valid_bof(const WKS *h) {
    if (rec_type(h) != WKS_BOF || rec_length(h) != 2) return false;
    uint16_t version = get_u16(h->rec.body);
    return version == kVersion1028 || version == kVersion1030;
}

// Sets the code in the handle and returns it.
inline int16_t set_error(WKS *h, int16_t code) {
    h->error = code;
    return code;
}

// wksnextr with the cell position taken from body offset cell_column (and
// the row two bytes after it).
int16_t read_record(WKS *h, int cell_column);

// Writes the record in the buffer: 0 or 32 (shown).
int16_t write_record(WKS *h);

// Closes h's descriptor and marks the handle as holding none.
int32_t close_descriptor(WKS *h);

// Puts a BOF record of the given version in the buffer.
void put_bof(WKS *h, uint16_t version);

// True when the extension of path (Windows rules) equals ext, ignoring case.
bool has_extension(const char *path, const char *ext);

// The copy and append openings (both paths given).
WKS *open_copy(WKS *h, const char *in_path, const char *out_path);
WKS *open_append(WKS *h, const char *path);

}  // namespace wks

#endif
