/*
 * The two prefix filters behind wkslp: which one-character names and which
 * first-two-character pairs may exist.  Bits are only set by insertion and
 * cleared all at once, so a filter can report a prefix no name has, never
 * miss one that a name has.
 */
#ifndef WKS_NAMES_PREFIX_FILTER_H
#define WKS_NAMES_PREFIX_FILTER_H

#include <cstddef>
#include <cstdint>

namespace wks::names::prefix {

constexpr unsigned char kFirstPrintable = 32;
constexpr unsigned char kLastPrintable = 126;

inline bool printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= kFirstPrintable && u <= kLastPrintable;
}

// Records a name of length len >= 1 whose first two characters (the first
// only, for a one-character name) are printable.
void note(const char *name, std::size_t len);

// 2: a name of two or more characters may start with text[0] text[1];
// 1: the one-character name text[0] may exist; 0: neither.
int32_t test(const char *text);

void clear();

}  // namespace wks::names::prefix

#endif
