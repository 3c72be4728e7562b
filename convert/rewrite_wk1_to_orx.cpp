/*
 * Formula text rewriting from WK1 to ORX spelling: an external reference
 * "<<" path ">>" cell becomes the string argument of "@@(" with the file's
 * upper-cased base name and ".ORX", and sheet prefixes such as "A:" are
 * dropped where a cell id follows them.  A string constant directly after
 * "(" is carried over verbatim, unless it is the "@@(" argument that starts
 * with an external reference.
 *
 * Each helper reads at the source cursor and writes at the destination
 * cursor of one TextCursor and advances both.  Reads stop at the source's
 * NUL; writes stop at the destination's end (TextCursor::put).  Nothing
 * here allocates.
 */
#define WKS_FORMULA_INTERNALS
#include "convert/rewrite_text.h"

#include "platform/platform.h"
#include "wks.h"

#include <cstring>

namespace wks::convert {
namespace {

constexpr std::string_view kOpenWrapper = "@@(\"";
constexpr std::string_view kCloseWrapper = "\")";
constexpr std::string_view kOrxExtension = ".ORX";

bool is_letter(char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
bool starts_with(const char *s, std::string_view prefix) { return std::strncmp(s, prefix.data(), prefix.size()) == 0; }

// Length of the sheet prefix at s ("A:" or "$A:", followed by a letter or
// by "$" and a letter), or 0.  Every test stops at the first mismatch, so
// nothing past the NUL is read.
int sheet_prefix_length(const char *s) {
    const int lead = s[0] == '$' ? 1 : 0;
    if (!is_letter(s[lead]) || s[lead + 1] != ':') return 0;
    const char *after = s + lead + 2;
    return is_letter(after[0]) || (after[0] == '$' && is_letter(after[1])) ? lead + 2 : 0;
}

// Length of the cell id at s ("$A$1", "IV8192"; no sheet prefix) when no
// letter or digit follows it, or 0.
int whole_cell_id_length(const char *s) {
    int n = s[0] == '$' ? 1 : 0;
    if (!is_letter(s[n])) return 0;
    ++n;
    if (is_letter(s[n])) ++n;
    if (s[n] == '$') ++n;
    if (!is_digit(s[n])) return 0;
    while (is_digit(s[n])) ++n;
    return is_letter(s[n]) ? 0 : n;
}

// Length of the sheet prefix at the source cursor that the whole-text scan
// drops, or 0: one that starts a word (no letter, digit or "$" right before
// it) and is followed by a cell id.  Words in string constants such as
// "Note:Bob", "Re:B2" or "x:y" are no sheet prefixes.
int scan_prefix_length(const TextCursor &c) {
    if (c.src > c.src_begin) {
        const char before = c.src[-1];
        if (is_letter(before) || is_digit(before) || before == '$') return 0;
    }
    const int n = sheet_prefix_length(c.src);
    return n && whole_cell_id_length(c.src + n) ? n : 0;
}

void copy_one(TextCursor &c) { c.put(*c.src++); }

bool ends_with_open_wrapper(const TextCursor &c) {
    return c.dst - c.dst_begin >= static_cast<std::ptrdiff_t>(kOpenWrapper.size()) &&
           std::memcmp(c.dst - kOpenWrapper.size(), kOpenWrapper.data(), kOpenWrapper.size()) == 0;
}

// An optional ".." and a second cell id, copied as far as they match.
void copy_range_end(TextCursor &c) {
    if (!starts_with(c.src, "..")) return;
    c.copy(2);
    copy_cell_id(c);
}

}  // namespace

void put_base_name(TextCursor &c, std::string_view path) {
    for (char ch : plat::split_path(path).fname) c.put(ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch);
}

int32_t drop_sheet_prefix(TextCursor &c) {
    if (*c.src == '\0') {
        // The end: a NUL at the destination, neither cursor moves.
        char *at = c.dst;
        c.put('\0');
        c.dst = at;
        return 0;
    }
    const int n = sheet_prefix_length(c.src);
    if (n == 0) return -1;
    c.src += n;
    return 1;
}

int32_t drop_reference_path(TextCursor &c) {
    const char *path = c.src;
    for (int i = 0; i < 2 && *path; ++i) ++path;  // the "<<", unexamined
    const char *close = std::strstr(path, ">>");
    if (!close) {
        c.copy(static_cast<int>(path - c.src));
        return 0;
    }
    c.put("<<");
    put_base_name(c, std::string_view(path, static_cast<std::size_t>(close - path)));
    c.put(kOrxExtension);
    c.put(">>");
    c.src = close + 2;
    return 1;
}

int32_t copy_string_after_paren(TextCursor &c) {
    const char *paren = c.src;
    c.copy(2);  // "(" and the double quote, unexamined
    const bool after_atat = paren - c.src_begin >= 2 && paren[-2] == '@' && paren[-1] == '@';
    if (after_atat && starts_with(c.src, "<<") && std::strstr(c.src + 2, ">>")) return 1;

    const char *src_mark = c.src;
    char *dst_mark = c.dst;
    const bool overflow_mark = c.overflow;
    while (*c.src) {
        if (c.src[0] == '"' && c.src[1] == ')') {
            copy_one(c);  // the ")" is left to the scan
            return 1;
        }
        copy_one(c);
    }
    // No closing quote: the text after the opening is scanned as usual.
    c.src = src_mark;
    c.dst = dst_mark;
    c.overflow = overflow_mark;
    return 0;
}

int32_t copy_cell_id(TextCursor &c) {
    c.src += sheet_prefix_length(c.src);
    if (*c.src == '$') copy_one(c);
    if (!is_letter(*c.src)) return 0;
    copy_one(c);
    if (is_letter(*c.src)) copy_one(c);
    if (*c.src == '$') copy_one(c);
    if (!is_digit(*c.src)) return 0;
    while (is_digit(*c.src)) copy_one(c);
    return 1;
}

int32_t copy_range(TextCursor &c) {
    const int32_t first = copy_cell_id(c);
    if (starts_with(c.src, "..")) c.copy(2);
    const int32_t second = copy_cell_id(c);
    return first && second ? 1 : 0;
}

int32_t copy_reference(TextCursor &c) {
    if (!drop_reference_path(c) || !copy_cell_id(c)) return 0;
    copy_range_end(c);
    return 1;
}

int32_t wrap_reference(TextCursor &c) {
    const char *src_mark = c.src;
    char *dst_mark = c.dst;
    const bool overflow_mark = c.overflow;
    const bool opens = !ends_with_open_wrapper(c);
    if (opens) c.put(kOpenWrapper);
    if (!drop_reference_path(c) || !copy_cell_id(c)) {
        // No reference after all: only its "<<" is taken, as it stands.
        c.src = src_mark;
        c.dst = dst_mark;
        c.overflow = overflow_mark;
        c.copy(2);
        return 0;
    }
    copy_range_end(c);
    if (opens) c.put(kCloseWrapper);
    return 1;
}

int32_t rewrite_wk1_to_orx(const char *text, char *out, std::size_t size) {
    TextCursor c{text, text, out, out, out + size, false};
    while (*c.src) {
        if (c.src[0] == '(' && c.src[1] == '"') {
            copy_string_after_paren(c);
        } else if (const int prefix = scan_prefix_length(c)) {
            c.src += prefix;  // dropped
        } else if (c.src[0] == '<' && c.src[1] == '<') {
            if (c.src[2] == '<') copy_one(c);  // the first of three is an operator
            wrap_reference(c);
        } else {
            copy_one(c);
        }
    }
    c.put('\0');
    return c.overflow ? -1 : static_cast<int32_t>(c.dst - out - 1);
}

}  // namespace wks::convert

// --- the exported helpers ----------------------------------------------------
//
// A host calls them on its own texts: the cursors it passes are taken as the
// starts of both texts (nothing before them is looked at), and the
// destination is not bounded.

using namespace wks::convert;

namespace {

template <typename Helper>
int32_t on_host_texts(char **src, char **dst, int32_t refused, Helper helper) {
    if (!src || !*src || !dst || !*dst) return refused;
    TextCursor c{*src, *src, *dst, *dst, nullptr, false};
    const int32_t result = helper(c);
    *src = const_cast<char *>(c.src);
    *dst = c.dst;
    return result;
}

}  // namespace

extern "C" {

int32_t drop_dollar(char **, char **) { return -1; }

int32_t drop_Acolon(char **src, char **dst) { return on_host_texts(src, dst, -1, drop_sheet_prefix); }

int32_t drop_path(char **src, char **dst) { return on_host_texts(src, dst, 0, drop_reference_path); }

int32_t copy_double_quotes(char **src, char **dst) { return on_host_texts(src, dst, 0, copy_string_after_paren); }

int32_t legal_cellID(char **src, char **dst) { return on_host_texts(src, dst, 0, copy_cell_id); }

int32_t legal_range(char **src, char **dst) { return on_host_texts(src, dst, 0, copy_range); }

int32_t add_atat_Jr(char **src, char **dst) { return on_host_texts(src, dst, 0, copy_reference); }

int32_t add_atat(char **src, char **dst) { return on_host_texts(src, dst, 0, wrap_reference); }

}
