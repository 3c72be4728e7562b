/*
 * Walks two formula codes side by side, item by item, and rebuilds the
 * second with the first one's reals.  Items are read with the code's one
 * reader (read_item), bounded by the code's length, so malformed code ends
 * the walk instead of reading past it; numbers are compared as the decoder
 * prints them (number_text.h).  Nothing here allocates.
 */
#include "convert/formula_constants.h"

#include "formula/code_tables.h"
#include "formula/number_text.h"
#include "formula/reference_words.h"
#include "wks/bytes.h"

#include <cstring>

namespace wks::convert {
namespace {

using namespace wks::formula;

constexpr unsigned char kSignBit = 0x80;

bool is_number(unsigned op) { return op == kReal || op == kInteger; }

// The constant as the decoder prints it.
void number_text(const unsigned char *item, char (&text)[kNumberTextSize]) {
    if (item[0] == kReal)
        print_real(get_f64(item + 1), text);
    else
        print_integer(get_i16(item + 1), text);
}

// How a former constant came back in the fresh code.
enum class Match { kSame, kNegated, kRegrouped, kDifferent };

// negated_next: the fresh item right after the number is a negation.
Match match(const unsigned char *former, const unsigned char *fresh, bool negated_next) {
    char old_text[kNumberTextSize], new_text[kNumberTextSize];
    number_text(former, old_text);
    number_text(fresh, new_text);
    if (std::strcmp(old_text, new_text) == 0) return Match::kSame;
    if (old_text[0] != '-' || std::strcmp(old_text + 1, new_text) != 0) return Match::kDifferent;
    return negated_next ? Match::kNegated : Match::kRegrouped;
}

// The real item at former with its sign bit flipped: -x exactly, -0.0 and
// 0.0 included.
void put_negated_real(const unsigned char *former, unsigned char *out) {
    std::memcpy(out, former, kRealItemSize);
    out[kRealItemSize - 1] ^= kSignBit;  // the sign is the top bit of the last byte
}

bool is_reference(unsigned op) { return op == kCell || op == kRange; }

// The cells a reference item names from a formula at (col, row): first
// column, first row, last column, last row.
struct Area {
    int c1, r1, c2, r2;
    bool operator==(const Area &o) const { return c1 == o.c1 && r1 == o.r1 && c2 == o.c2 && r2 == o.r2; }
};
Area area(const unsigned char *item, int col, int row) {
    const unsigned char *w = item + 1;
    const unsigned char *last = *item == kRange ? w + kCellBytes : w;
    return {resolve_column(get_u16(w), col), resolve_row(get_u16(w + kReferenceWordBytes), row),
            resolve_column(get_u16(last), col), resolve_row(get_u16(last + kReferenceWordBytes), row)};
}

class Walker {
public:
    Walker(const unsigned char *code, int32_t len) : p_(code), end_(code + len) {}
    // The next item, or null at the end item, the end of the code, or an
    // invalid item (then bad() is true).
    const unsigned char *next(int32_t &size) {
        if (p_ >= end_ || *p_ == kEnd) return nullptr;
        size = read_item(p_, end_).size;
        if (size == 0) {
            bad_ = true;
            return nullptr;
        }
        const unsigned char *item = p_;
        p_ += size;
        return item;
    }
    // The opcode of the item next() returns next; kEnd past the code.
    unsigned peek() const { return p_ < end_ ? *p_ : unsigned{kEnd}; }
    bool bad() const { return bad_; }

private:
    const unsigned char *p_;
    const unsigned char *end_;
    bool bad_ = false;
};

}  // namespace

int32_t carry_constants(const unsigned char *former, int32_t former_len, const unsigned char *fresh,
                        int32_t fresh_len, int16_t col, int16_t row, unsigned char *out, int32_t cap) {
    Walker old_items(former, former_len), new_items(fresh, fresh_len);
    int32_t n = 0;
    const unsigned char *item;
    int32_t size;
    unsigned char negated[kRealItemSize];
    auto put = [&](const unsigned char *bytes, int32_t count) {
        if (n + count > cap) return false;
        std::memcpy(out + n, bytes, static_cast<std::size_t>(count));
        n += count;
        return true;
    };
    while ((item = new_items.next(size))) {
        int32_t old_size;
        const unsigned char *old_item = old_items.next(old_size);
        if (!old_item) return old_items.bad() ? kConstantsDiffer : kRegrouped;
        if (is_number(*item)) {
            if (!is_number(*old_item)) return kRegrouped;
            switch (match(old_item, item, new_items.peek() == kNegate)) {
            case Match::kSame:
                if (*old_item == kReal) {
                    item = old_item;
                    size = old_size;
                }
                break;
            case Match::kNegated:
                if (*old_item == kReal) {
                    put_negated_real(old_item, negated);
                    item = negated;
                    size = kRealItemSize;
                }
                if (!put(item, size)) return kCodeTooLong;
                item = new_items.next(size);  // the negation, which the former code did not hold
                break;
            case Match::kRegrouped: return kRegrouped;
            case Match::kDifferent: return kConstantsDiffer;
            }
        } else if (*item == kString) {
            if (*old_item != kString) return kRegrouped;  // the rewriting changes strings only
        } else if (is_reference(*item) && is_reference(*old_item)) {
            // A reference printed as its range name comes back as the name's
            // range, relative: the same cells, other words.
            if (!(area(item, col, row) == area(old_item, col, row))) return kRegrouped;
        } else if (size != old_size || std::memcmp(item, old_item, static_cast<std::size_t>(size)) != 0) {
            return kRegrouped;  // the text did not keep the former code's structure
        }
        if (!put(item, size)) return kCodeTooLong;
    }
    int32_t ignored;
    const bool more = old_items.next(ignored) != nullptr;
    if (new_items.bad() || old_items.bad()) return kConstantsDiffer;
    if (more) return kRegrouped;
    const unsigned char end_item = kEnd;
    if (!put(&end_item, 1)) return kCodeTooLong;
    return n;
}

}  // namespace wks::convert
