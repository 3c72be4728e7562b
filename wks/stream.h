/*
 * Internal side of the record stream, shared by the ORX functions, the copy
 * and append openings, the WK1 twins and the converters.  The two formats
 * frame records the same way and differ only in the header block in front
 * of an ORX file's records and in where a cell record keeps its column and
 * row (layout.h).  Every stream starts here: a new file through
 * start_stream, an ORX input through open_input.
 */
#ifndef WKS_STREAM_H
#define WKS_STREAM_H

#include "wks.h"
#include "wks/block_io.h"
#include "wks/bytes.h"
#include "wks/layout.h"

#include <cstdint>

namespace wks {

constexpr uint16_t kVersion1028 = 1028;
constexpr uint16_t kVersion1030 = 1030;

// A path that is null or has no characters.
inline bool is_empty(const char *path) { return !path || path[0] == '\0'; }

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

// The mode letter of a handle wks_create started once wks_commit or
// wks_discard has ended it: wksclose, wkswrec and wkswrec_wk1 then do
// nothing but answer 25, silently.
constexpr char kModeEnded = 'c';

// Sets the code in the handle and returns it.
inline int16_t set_error(WKS *h, int16_t code) {
    h->error = code;
    return code;
}

// Where every opening starts: no cell passed yet, nothing read ahead (and
// no read-ahead buffer left from an earlier stream of the handle).
void reset_position(WKS *h);

// wksnextr for either cell layout: the position of a cell record passed is
// taken from the layout's column and row.  The file is read one call per
// record, or through the handle's read-ahead buffer when it has one.
int16_t read_record(WKS *h, Layout layout);
// The same through a reader of the caller's, which reads h's descriptor.
int16_t read_record(WKS *h, Layout layout, BlockReader &source);

// Writes the record in the buffer: 0 or 32 (shown).
int16_t write_record(WKS *h);
// The same into a writer of the caller's, which writes h's descriptor; 32
// also when an earlier block of the writer could not be written.
int16_t write_record(WKS *h, BlockWriter &sink);

// Closes h's descriptor and marks the handle as holding none.
int32_t close_descriptor(WKS *h);

// True when the extension of path (Windows rules) equals ext, ignoring case.
bool has_extension(const char *path, const char *ext);

// Deletes path and creates it anew with flags (a create flag among them):
// the new descriptor, or -1.
int32_t replace_file(const char *path, int flags);

// Starts a write stream on fd, a new empty file: for an ORX file the header
// block waiting for the header mode, then a BOF record of the given version.
// The block is released only once the BOF record is out, so a start that
// fails never costs the host its block.  Returns h (error 0, mode 'w'), or
// null with h->error 32 (shown); the descriptor stays open and the caller's
// either way.
WKS *start_stream(WKS *h, int32_t fd, Layout layout, uint16_t version);

// What differs between opening an ORX file to read it and to copy it.
struct InputRules {
    const char *cannot_open;  // the notice's words for a file that does not open
    bool notice_for_bof;      // a first record that is no BOF record gets the notice, or only 39
    char mode;                // the mode letter once the header block is accepted
    int32_t aside;            // a descriptor closed with the input on a failure (the copy's output), or -1
};

// Opens path for reading into h and accepts it as an ORX file: its header
// block read into the buffer of the header mode, its first record read and
// checked to be a BOF record, which stays current.  On a failure reports as
// rules say, closes h's descriptor and rules.aside, and returns false.
bool open_input(WKS *h, const char *path, const InputRules &rules);

// The copy and append openings (both paths given).
WKS *open_copy(WKS *h, const char *in_path, const char *out_path);
WKS *open_append(WKS *h, const char *path);

}  // namespace wks

#endif
