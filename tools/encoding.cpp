/*
 * The UTF-8 conversions, over the character set tables calculation uses
 * (calc/charsets.h).
 */
#include "tools/encoding.h"

#include "calc/charsets.h"
#include "wks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <strings.h>

namespace tool {
namespace {

using wks::charsets::kHigh;

uint32_t character_of(unsigned char byte, Charset set) {
    return wks::charsets::character_of(byte, static_cast<int>(set));
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

const char kCharsetNames[] = "cp437, cp850, cp1252, latin1, lics, auto";

const char *charset_name(Charset set) {
    return set == Charset::kAuto ? "auto" : wks::charsets::kCharsets[static_cast<int>(set)].name;
}

namespace {
bool g_high_bytes = false;
}  // namespace

bool took_high_bytes() {
    const bool took = g_high_bytes;
    g_high_bytes = false;
    return took;
}

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
    for (int i = 0; i < wks::charsets::kCharsetCount; ++i)
        if (!strcasecmp(name.c_str(), wks::charsets::kCharsets[i].name)) return out = static_cast<Charset>(i), true;
    if (strcasecmp(name.c_str(), "auto") != 0) return false;
    out = Charset::kAuto;
    return true;
}

int32_t calc_charset_flag(Charset set) {
    static_assert(WKS_CALC_CHARSET_CP850 == 1 << 4 && WKS_CALC_CHARSET_CP1252 == 2 << 4 &&
                      WKS_CALC_CHARSET_LATIN1 == 3 << 4 && WKS_CALC_CHARSET_LICS == 4 << 4 &&
                      static_cast<int>(Charset::kAuto) == wks::charsets::kCharsetCount,
                  "the flags number the sets as Charset does");
    return static_cast<int32_t>(set) << 4;
}

std::string to_utf8(const std::string &bytes, Charset set) {
    if (std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b < kHigh; })) return bytes;
    g_high_bytes = true;
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
