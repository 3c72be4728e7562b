/*
 * Internal side of the header block: the process-wide header mode and the
 * converter's access to its buffer.  Hosts use the exported functions of
 * wks.h; the converters and the format probe use these.
 */
#ifndef WKS_HEADER_H
#define WKS_HEADER_H

#include "wks.h"

#include <cstdint>

namespace wks::header {

enum Mode : int32_t {
    kLoad = 1,     // a block read goes to the host buffer
    kConvert = 2,  // ... to the converter buffer
    kProbe = 3,    // ... nowhere: checked and dropped
};

// save_header's result when the block could not be written whole; the block
// then stays waiting.
constexpr int32_t kSaveFailed = -2;

constexpr int kMagicOffset1 = WKS_HEADER_SIZE - 4;  // the block's last two 16-bit words
constexpr int kMagicOffset2 = WKS_HEADER_SIZE - 2;
constexpr uint16_t kMagic1 = 3634;  // 0x0E32
constexpr uint16_t kMagic2 = 3810;  // 0x0EE2

int32_t mode();
void set_mode(int32_t mode);

// Convert mode for as long as it lives, then the mode as it was: the host's
// mode survives a conversion, a probe or a calculation of a file.
class ConvertMode {
public:
    ConvertMode() : saved_(mode()) { set_mode(kConvert); }
    ~ConvertMode() { set_mode(saved_); }
    ConvertMode(const ConvertMode &) = delete;
    ConvertMode &operator=(const ConvertMode &) = delete;

private:
    int32_t saved_;
};

// The two halves of save_header, for a create that must not lose the block
// when it fails after writing it: write_block writes the block waiting for
// the current mode and keeps it (0, -1 when none waits, kSaveFailed);
// release_written_block then drops it once the file is made.
int32_t write_block(int32_t fd);
void release_written_block();

// Replaces the converter buffer's block with 2648 zero bytes and the two
// magic words.  False when memory ran out (nothing shown; the buffer is then
// empty).
bool prepare_converter_block();

// Releases the converter buffer's block, if any.
void release_converter_block();

// Both blocks released, load mode: the state at load (the reset seam).
void reset();

}  // namespace wks::header

#endif
