/*
 * The 8-bit character sets of a worksheet's labels, strings and range
 * names: the character of every byte (bytes below 128 are ASCII in every
 * set), and, made from those, each byte's letter case.  Adding a set is one
 * table of its characters and one row of kCharsets.  Header-only, so that the
 * tool's conversions to and from UTF-8 read the same tables as calculation.
 */
#ifndef WKS_CALC_CHARSETS_H
#define WKS_CALC_CHARSETS_H

#include <cstdint>

namespace wks::charsets {

constexpr int kHigh = 128;  // bytes from 128 on have a table entry

inline constexpr uint16_t kCp437[kHigh] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

inline constexpr uint16_t kCp850[kHigh] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// cp1252 differs from Latin-1 only in bytes 128..159; the five it leaves
// undefined stand for the C1 control characters of the same number, so
// that every set maps all 256 bytes one to one.
inline constexpr uint16_t kCp1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Charset {
    const char *name;
    const uint16_t *high;  // the characters of bytes 128, 129, ...
    int count;             // ... up to 128 + count; a byte above is the character of its own number
};

// In the order of the WKS_CALC_CHARSET_* numbers (wks.h); the first is the default.
inline constexpr Charset kCharsets[] = {
    {"cp437", kCp437, kHigh}, {"cp850", kCp850, kHigh}, {"cp1252", kCp1252, 32}, {"latin1", nullptr, 0}};
constexpr int kCharsetCount = sizeof kCharsets / sizeof kCharsets[0];

constexpr uint32_t character_of(unsigned char byte, int set) {
    const Charset &s = kCharsets[set];
    return byte >= kHigh && byte < kHigh + s.count ? s.high[byte - kHigh] : byte;
}

// Unicode's simple case mappings of the letters beyond ASCII these sets
// hold (Latin-1, Latin Extended-A, Greek); a letter whose other case is
// ASCII (dotless i, long s) keeps its case here.
constexpr bool latin_a_capital(uint32_t c) {
    return (c >= 0x100 && c <= 0x137 && c % 2 == 0 && c != 0x130) || (c >= 0x139 && c <= 0x148 && c % 2 == 1) ||
           (c >= 0x14A && c <= 0x177 && c % 2 == 0) || (c >= 0x179 && c <= 0x17E && c % 2 == 1);
}
constexpr uint32_t capital_of(uint32_t c) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (latin_a_capital(c - 1)) return c - 1;
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // final sigma too
    return c;
}
constexpr uint32_t small_of(uint32_t c) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if (latin_a_capital(c)) return c + 1;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    return c;
}
// Letters without a case pair: ordinal indicators, micro, sharp s, dotless
// i, kra, n preceded by apostrophe, long s, f with hook.
constexpr bool caseless_letter(uint32_t c) {
    return c == 0xAA || c == 0xB5 || c == 0xBA || c == 0xDF || c == 0x131 || c == 0x138 || c == 0x149 ||
           c == 0x17F || c == 0x192;
}

struct CaseTable {
    unsigned char upper[256];
    unsigned char lower[256];
    bool letter[256];
};

struct CaseTables {
    CaseTable set[kCharsetCount];
};

// The byte of the set whose character is ch, or `otherwise`.
constexpr unsigned char high_byte_of(uint32_t ch, int set, unsigned char otherwise) {
    for (int b = kHigh; b < 256; ++b)
        if (character_of(static_cast<unsigned char>(b), set) == ch) return static_cast<unsigned char>(b);
    return otherwise;
}

constexpr CaseTables make_case_tables() {
    CaseTables t{};
    for (int set = 0; set < kCharsetCount; ++set) {
        CaseTable &c = t.set[set];
        for (int b = 0; b < 256; ++b) {
            const auto byte = static_cast<unsigned char>(b);
            c.upper[b] = c.lower[b] = byte;
            if (b >= 'a' && b <= 'z') c.upper[b] = static_cast<unsigned char>(b - 32);
            if (b >= 'A' && b <= 'Z') c.lower[b] = static_cast<unsigned char>(b + 32);
            c.letter[b] = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
            if (b < kHigh) continue;
            const uint32_t ch = character_of(byte, set), capital = capital_of(ch), small = small_of(ch);
            if (capital != ch) c.upper[b] = high_byte_of(capital, set, byte);
            if (small != ch) c.lower[b] = high_byte_of(small, set, byte);
            c.letter[b] = capital != ch || small != ch || caseless_letter(ch);
        }
    }
    return t;
}

inline constexpr CaseTables kCaseTables = make_case_tables();

}  // namespace wks::charsets

#endif
