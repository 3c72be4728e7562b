/*
 * Internal side of the formula text rewriting: the cursor pair the rewrite
 * helpers work through, and the two whole-text scans.
 *
 * A scan reads a NUL-terminated text and writes into a buffer of known
 * size; every write is checked against the buffer's end, and a result that
 * does not fit is reported instead of written past it.  Look-behind (the
 * characters before the source or destination cursor) stops at the start of
 * the text being read or written.
 */
#ifndef WKS_CONVERT_REWRITE_TEXT_H
#define WKS_CONVERT_REWRITE_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wks::convert {

struct TextCursor {
    const char *src;        // next character to read
    const char *src_begin;  // start of the text being read
    char *dst;              // next character to write
    char *dst_begin;        // start of the text being written
    char *dst_end;          // one past the last writable byte; null: unbounded
    bool overflow;          // a write found no room

    void put(char ch) {
        if (dst_end && dst >= dst_end) {
            overflow = true;
            return;
        }
        *dst++ = ch;
    }
    void put(std::string_view text) {
        for (char ch : text) put(ch);
    }
    // Copies up to n characters of the source, never past its NUL.
    void copy(int n) {
        for (; n > 0 && *src; --n) put(*src++);
    }
};

// Writes the reference base name of path: its file name without drive,
// directory and extension (Windows rules: "\" and "/" both separate
// directories, whatever the host), upper-cased.  Never longer than path.
void put_base_name(TextCursor &c, std::string_view path);

// The rewrite helpers, on a cursor (their exported twins wrap these).
int32_t drop_sheet_prefix(TextCursor &c);
int32_t drop_reference_path(TextCursor &c);
int32_t copy_string_after_paren(TextCursor &c);
int32_t copy_cell_id(TextCursor &c);
int32_t copy_range(TextCursor &c);
int32_t wrap_reference(TextCursor &c);
int32_t copy_reference(TextCursor &c);

// Rewrites text into out (size bytes) and ends it with a NUL.  Returns the
// length of the result, or -1 when it does not fit (out then holds no
// usable text).
int32_t rewrite_wk1_to_orx(const char *text, char *out, std::size_t size);
int32_t rewrite_orx_to_wk1(const char *text, char *out, std::size_t size);

}  // namespace wks::convert

#endif
