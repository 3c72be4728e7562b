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
#include <cstring>

namespace wks {

// Copies a record's worth of bytes between two buffers that do not
// overlap.  Most records are a few dozen bytes: they go as two fixed-size
// moves that may overlap each other, without a call into the C library, and
// in pieces wide enough that the fields read from them next are read from
// one store.
inline void copy(void *to, const void *from, uint32_t count) {
    auto *t = static_cast<unsigned char *>(to);
    const auto *f = static_cast<const unsigned char *>(from);
    if (count > 64) {
        std::memcpy(t, f, count);
    } else if (count >= 32) {
        std::memcpy(t, f, 32);
        std::memcpy(t + count - 32, f + count - 32, 32);
    } else if (count >= 16) {
        std::memcpy(t, f, 16);
        std::memcpy(t + count - 16, f + count - 16, 16);
    } else if (count >= 8) {
        std::memcpy(t, f, 8);
        std::memcpy(t + count - 8, f + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(t, f, 4);
        std::memcpy(t + count - 4, f + count - 4, 4);
    } else {
        for (uint32_t i = 0; i < count; ++i) t[i] = f[i];
    }
}

class BlockReader {
public:
    // Reads fd from where it stands, through buffer (capacity bytes; none
    // when capacity is 0).
    void start(int32_t fd, unsigned char *buffer, uint32_t capacity);
    int32_t read(void *out, uint32_t count) {
        if (count > end_ - at_) return fetch(out, count);
        copy(out, buffer_ + at_, count);
        at_ += count;
        return static_cast<int32_t>(count);
    }
    void skip(int64_t count);
    // How far the file's position has moved since start.
    int64_t advanced() const { return advanced_; }

private:
    int32_t fetch(void *out, uint32_t count);  // read, when the buffer holds too little

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
    bool write(const void *data, uint32_t count) {
        if (count > capacity_ - used_) return write_through(data, count);
        copy(buffer_ + used_, data, count);
        used_ += count;
        return true;
    }
    // Writes what is gathered; false as write.
    bool flush();

private:
    bool write_through(const void *data, uint32_t count);  // write, when the buffer has too little room
    bool put(const unsigned char *data, uint32_t count);

    int32_t fd_ = -1;
    unsigned char *buffer_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;
    bool failed_ = false;
};

}  // namespace wks

#endif
