/*
 * Owns the two prefix filters.  A printable character c has the index
 * k = c - 32 and is represented by bit (k mod 4) of word (k div 8), so the
 * characters k and k + 4 of each group of eight share a bit.  The
 * one-character filter is one row of 12 words; the two-character filter has
 * a row per first character, holding the second characters seen.  A test is
 * at most two bit tests.
 */
#include "names/prefix_filter.h"

#include <cstring>

namespace wks::names::prefix {
namespace {

constexpr int kWordsPerRow = 12;  // covers the 95 printable characters, 8 per word
constexpr int kRows = 96;         // one per possible first character

uint32_t g_single[kWordsPerRow];
uint32_t g_pairs[kRows][kWordsPerRow];

int index_of(char c) { return static_cast<unsigned char>(c) - kFirstPrintable; }
int word_of(int k) { return k / 8; }
uint32_t bit_of(int k) { return 1u << (k % 4); }

void set(uint32_t *row, char c) {
    const int k = index_of(c);
    row[word_of(k)] |= bit_of(k);
}

bool is_set(const uint32_t *row, char c) {
    const int k = index_of(c);
    return (row[word_of(k)] & bit_of(k)) != 0;
}

}  // namespace

void note(const char *name, std::size_t len) {
    if (len == 1)
        set(g_single, name[0]);
    else
        set(g_pairs[index_of(name[0])], name[1]);
}

int32_t test(const char *text) {
    if (!text || !printable(text[0])) return 0;
    if (printable(text[1]) && is_set(g_pairs[index_of(text[0])], text[1])) return 2;
    return is_set(g_single, text[0]) ? 1 : 0;
}

void clear() {
    std::memset(g_single, 0, sizeof g_single);
    std::memset(g_pairs, 0, sizeof g_pairs);
}

}  // namespace wks::names::prefix
