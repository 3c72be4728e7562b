/*
 * Large-block reading and writing for record streams whose file is read or
 * written by nobody else meanwhile: both handles of a converter, and a
 * reading handle whose host asked it to read ahead (read_ahead.h).
 *
 * A BlockReader answers every request exactly as one read call on the file
 * would (all the bytes asked for, fewer only where the file ends, -1 when a
 * read fails), but fetches the file in blocks; skip moves on as a relative
 * seek would.  A BlockWriter gathers what it is given and writes it a block
 * at a time; once a write has failed, it writes nothing more.  Without a
 * buffer both pass every request straight to the file, so a caller that has
 * no memory for one reads and writes the same bytes.  Nothing here
 * allocates.
 */
#ifndef WKS_BLOCK_IO_H
#define WKS_BLOCK_IO_H

#include <cstdint>

namespace wks {

class BlockReader {
public:
    // Reads fd from where it stands, through buffer (capacity bytes; none
    // when capacity is 0).
    void start(int32_t fd, unsigned char *buffer, uint32_t capacity);
    int32_t read(void *out, uint32_t count);
    void skip(int64_t count);
    // How far the file's position has moved since start.
    int64_t advanced() const { return advanced_; }

private:
    int32_t fd_ = -1;
    unsigned char *buffer_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t at_ = 0, end_ = 0;  // the buffered bytes not handed out yet
    int64_t advanced_ = 0;
};

class BlockWriter {
public:
    // Writes to fd through buffer: none (capacity 0), or room for at least
    // one whole record (WKS_RECORD_SIZE), the most one write gives it.
    void start(int32_t fd, unsigned char *buffer, uint32_t capacity);
    // False when this or an earlier block could not be written whole.
    bool write(const void *data, uint32_t count);
    // Writes what is gathered; false as write.
    bool flush();

private:
    bool put(const unsigned char *data, uint32_t count);

    int32_t fd_ = -1;
    unsigned char *buffer_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;
    bool failed_ = false;
};

}  // namespace wks

#endif
