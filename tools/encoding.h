/*
 * The 8-bit character sets a worksheet's labels, strings and range names
 * are written in, and their conversion to and from UTF-8.  Every set maps
 * each of the 256 bytes to its own character, so text read with one set and
 * written back with the same set keeps its bytes.
 */
#ifndef WKS_TOOL_ENCODING_H
#define WKS_TOOL_ENCODING_H

#include <cstdint>
#include <string>

namespace tool {

// The sets of calc/charsets.h, in its order.  kAuto, the default, is no set:
// the one a file's variant calls for (resolve_charset), cp437 (the DOS code
// page) for most, LICS for WK1 and Symphony files.
enum class Charset { kCp437, kCp850, kCp1252, kLatin1, kLics, kAuto };
// The WKS_CALC_CHARSET_* flag of a set, for wks_calc_file.
int32_t calc_charset_flag(Charset set);

// "cp437", "cp850", "cp1252", "latin1", "lics" or "auto" in any case; false
// for other names.
bool parse_charset(const std::string &name, Charset &out);
// The name of a set ("cp437", ...; "auto" for kAuto).
const char *charset_name(Charset set);
// True once to_utf8 has met a byte above 127 since the last call.
bool took_high_bytes();
// The names parse_charset takes, for help texts and errors.
extern const char kCharsetNames[];

// Appends the UTF-8 form of a character (up to U+10FFFF).
void append_utf8(std::string &out, uint32_t ch);

// Bytes 0..127 stay as they are (ASCII), the others become their character.
std::string to_utf8(const std::string &bytes, Charset set);
// The reverse: false for text that is not UTF-8 or holds a character the set
// has no byte for, with the reason in why.
bool from_utf8(const std::string &text, Charset set, std::string &bytes, std::string &why);

}  // namespace tool

#endif
