/*
 * Character set tables for bytes 128..255 and the UTF-8 conversions.  The
 * five bytes cp1252 leaves undefined stand for the C1 control characters of
 * the same number, so that every set maps all 256 bytes one to one.
 */
#include "tools/encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <strings.h>

namespace tool {
namespace {

constexpr int kHigh = 128;  // bytes 128..255 have a table row

const uint16_t kCp437[kHigh] = {
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

const uint16_t kCp850[kHigh] = {
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

// cp1252 differs from Latin-1 only in bytes 128..159.
constexpr int kCp1252Special = 32;
const uint16_t kCp1252[kCp1252Special] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t character_of(unsigned char byte, Charset set) {
    if (byte < kHigh) return byte;
    switch (set) {
    case Charset::kCp437: return kCp437[byte - kHigh];
    case Charset::kCp850: return kCp850[byte - kHigh];
    case Charset::kCp1252: return byte < kHigh + kCp1252Special ? kCp1252[byte - kHigh] : byte;
    case Charset::kLatin1: break;
    }
    return byte;
}

// The byte of a character, or -1.
int byte_of(uint32_t ch, Charset set) {
    if (ch < kHigh) return static_cast<int>(ch);
    for (int b = kHigh; b < 256; ++b)
        if (character_of(static_cast<unsigned char>(b), set) == ch) return b;
    return -1;
}

// The character starting at text[i], advancing i; false for bytes that are
// not UTF-8 (overlong forms and surrogates included).
bool next_utf8(const std::string &text, std::size_t &i, uint32_t &ch) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    int extra = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) return false;
    ch = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return false;
        ch = ch << 6 | (byte(i + k) & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (ch < kLeast[extra] || ch > 0x10FFFF || (ch >= 0xD800 && ch < 0xE000)) return false;
    i += static_cast<std::size_t>(extra) + 1;
    return true;
}

}  // namespace

const char kCharsetNames[] = "cp437, cp850, cp1252, latin1";

void append_utf8(std::string &out, uint32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
        return;
    }
    const int extra = ch < 0x800 ? 1 : ch < 0x10000 ? 2 : 3;
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[extra] | ch >> (6 * extra));
    for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | (ch >> (6 * k) & 0x3F));
}

bool parse_charset(const std::string &name, Charset &out) {
    static const struct {
        const char *name;
        Charset set;
    } kSets[] = {{"cp437", Charset::kCp437}, {"cp850", Charset::kCp850}, {"cp1252", Charset::kCp1252},
                 {"latin1", Charset::kLatin1}};
    for (const auto &s : kSets)
        if (!strcasecmp(name.c_str(), s.name)) return out = s.set, true;
    return false;
}

std::string to_utf8(const std::string &bytes, Charset set) {
    if (std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b < kHigh; })) return bytes;
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) append_utf8(out, character_of(b, set));
    return out;
}

bool from_utf8(const std::string &text, Charset set, std::string &bytes, std::string &why) {
    bytes.clear();
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        uint32_t ch = 0;
        if (!next_utf8(text, i, ch)) {
            why = "byte " + std::to_string(at + 1) + " of the text is not UTF-8";
            return false;
        }
        const int b = byte_of(ch, set);
        if (b < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(ch));
            why = std::string("character ") + code + " has no byte in this character set";
            return false;
        }
        bytes += static_cast<char>(b);
    }
    return true;
}

}  // namespace tool
