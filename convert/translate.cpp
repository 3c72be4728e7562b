/*
 * Translation of one record between the WK1 cell layout (format, column,
 * row, value area) and the ORX cell layout (the same behind an 11-byte
 * prefix).  Records that are not cells are copied whole.
 *
 * The functions take the starts of full record buffers (WKS_RECORD) and
 * never read or write outside them: a record whose translation would not
 * fit, or that has no complete cell position, is refused with a nonzero
 * result and the destination is left untouched.  The exported ones move a
 * cell's value area as one block of the body area, the converters' own
 * (translate.h) only the value bytes the record holds.
 */
#include "convert/translate.h"
#include "wks/stream.h"

#include <cstring>

namespace wks {
namespace {

constexpr int kOrxPositionBytes = WKS_ORX_CELL_PREFIX + kCellPositionSize;
constexpr int kValueBlock = WKS_BODY_SIZE - kOrxPositionBytes;        // 2062, moved whole
constexpr int kLongestWk1Cell = WKS_BODY_SIZE - WKS_ORX_CELL_PREFIX;  // 2067

constexpr int32_t kRefused = 1;

// Blank, integer, number, label and formula cells and formula strings; the
// type is compared as a signed number, so 32768 and above are no cells.
bool is_translated(const unsigned char *rec) {
    const int16_t type = get_i16(rec);
    return (type >= WKS_BLANK && type <= WKS_FORMULA) || type == WKS_STRING;
}

int32_t copy_whole(const unsigned char *src, unsigned char *dst) {
    const uint16_t length = get_u16(src + kRecordLengthOffset);
    if (length > WKS_BODY_SIZE) return kRefused;
    std::memmove(dst, src, static_cast<std::size_t>(length) + kRecordHeaderSize);
    return 0;
}

// How much of the value area a translation moves.
enum class Value { kWholeBlock, kOwnBytes };

int32_t to_orx(const unsigned char *src, unsigned char *dst, Value value) {
    if (!src || !dst) return kRefused;
    if (!is_translated(src)) return copy_whole(src, dst);
    const uint16_t length = get_u16(src + kRecordLengthOffset);
    if (length < kCellPositionSize || length > kLongestWk1Cell) return kRefused;

    // The value first: src and dst may be one buffer, and the value moves
    // towards the end.
    const std::size_t moved = value == Value::kWholeBlock ? kValueBlock : length - kCellPositionSize;
    std::memmove(dst + kRecordHeaderSize + kOrxPositionBytes, src + kRecordHeaderSize + kCellPositionSize, moved);
    unsigned char position[kCellPositionSize];
    std::memcpy(position, src + kRecordHeaderSize, kCellPositionSize);
    put_u16(dst, get_u16(src));
    put_u16(dst + kRecordLengthOffset, static_cast<uint16_t>(length + WKS_ORX_CELL_PREFIX));
    unsigned char *body = dst + kRecordHeaderSize;
    std::memset(body, 0, WKS_ORX_CELL_PREFIX - 1);
    body[WKS_ORX_CELL_PREFIX - 1] = WKS_ORX_PREFIX_MARK;
    std::memcpy(body + WKS_ORX_CELL_PREFIX, position, kCellPositionSize);
    return 0;
}

int32_t to_wk1(const unsigned char *src, unsigned char *dst, Value value) {
    if (!src || !dst) return kRefused;
    if (!is_translated(src)) return copy_whole(src, dst);
    const uint16_t length = get_u16(src + kRecordLengthOffset);
    if (length < kOrxPositionBytes || length > WKS_BODY_SIZE) return kRefused;

    const uint16_t type = get_u16(src);
    unsigned char position[kCellPositionSize];
    std::memcpy(position, src + kRecordHeaderSize + WKS_ORX_CELL_PREFIX, kCellPositionSize);
    const std::size_t moved = value == Value::kWholeBlock ? kValueBlock : length - kOrxPositionBytes;
    std::memmove(dst + kRecordHeaderSize + kCellPositionSize, src + kRecordHeaderSize + kOrxPositionBytes, moved);
    put_u16(dst, type);
    put_u16(dst + kRecordLengthOffset, static_cast<uint16_t>(length - WKS_ORX_CELL_PREFIX));
    std::memcpy(dst + kRecordHeaderSize, position, kCellPositionSize);
    return 0;
}

const unsigned char *bytes_of(const WKS_RECORD &rec) { return reinterpret_cast<const unsigned char *>(&rec); }
unsigned char *bytes_of(WKS_RECORD &rec) { return reinterpret_cast<unsigned char *>(&rec); }

}  // namespace

namespace convert {

int32_t translate_to_orx(const WKS_RECORD &src, WKS_RECORD &dst) {
    return to_orx(bytes_of(src), bytes_of(dst), Value::kOwnBytes);
}

int32_t translate_to_wk1(const WKS_RECORD &src, WKS_RECORD &dst) {
    return to_wk1(bytes_of(src), bytes_of(dst), Value::kOwnBytes);
}

}  // namespace convert
}  // namespace wks

using namespace wks;

extern "C" {

int32_t wk1_rec_to_orx_rec(const unsigned char *src, unsigned char *dst) { return to_orx(src, dst, Value::kWholeBlock); }

int32_t orx_rec_to_wk1_rec(const unsigned char *src, unsigned char *dst) { return to_wk1(src, dst, Value::kWholeBlock); }

}
