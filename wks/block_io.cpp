/* Large-block reading and writing (block_io.h). */
#include "wks/block_io.h"

#include "platform/platform.h"

#include <cstring>

namespace wks {

void BlockReader::start(int32_t fd, unsigned char *buffer, uint32_t capacity) {
    fd_ = fd;
    buffer_ = buffer;
    capacity_ = buffer ? capacity : 0;
    at_ = end_ = 0;
    advanced_ = 0;
}

int32_t BlockReader::fetch(void *out, uint32_t count) {
    if (capacity_ == 0) {
        const int32_t got = plat::read(fd_, out, count);
        if (got > 0) advanced_ += got;
        return got;
    }
    auto *to = static_cast<unsigned char *>(out);
    uint32_t done = 0;
    while (done < count) {
        if (at_ == end_) {
            const int32_t got = plat::read(fd_, buffer_, capacity_);
            if (got < 0) return -1;
            if (got == 0) break;  // the end of the file
            at_ = 0;
            end_ = static_cast<uint32_t>(got);
            advanced_ += got;
        }
        const uint32_t n = count - done < end_ - at_ ? count - done : end_ - at_;
        copy(to + done, buffer_ + at_, n);
        at_ += n;
        done += n;
    }
    return static_cast<int32_t>(done);
}

void BlockReader::skip(int64_t count) {
    const uint32_t buffered = end_ - at_;
    if (count <= buffered) {
        at_ += static_cast<uint32_t>(count);
        return;
    }
    at_ = end_ = 0;
    plat::lseek(fd_, count - buffered, plat::kSeekCur);
    advanced_ += count - buffered;
}

void BlockWriter::start(int32_t fd, unsigned char *buffer, uint32_t capacity) {
    fd_ = fd;
    buffer_ = buffer;
    capacity_ = buffer ? capacity : 0;
    used_ = 0;
    failed_ = false;
}

bool BlockWriter::put(const unsigned char *data, uint32_t count) {
    while (count > 0) {
        const int32_t got = plat::write(fd_, data, count);
        if (got <= 0) {
            failed_ = true;
            capacity_ = used_ = 0;  // every later write goes to write_through, which refuses it
            return false;
        }
        data += got;
        count -= static_cast<uint32_t>(got);
    }
    return true;
}

bool BlockWriter::write_through(const void *data, uint32_t count) {
    if (failed_) return false;
    if (capacity_ == 0) return put(static_cast<const unsigned char *>(data), count);
    if (!flush()) return false;
    copy(buffer_, data, count);
    used_ = count;
    return true;
}

bool BlockWriter::flush() {
    if (failed_) return false;
    const uint32_t used = used_;
    used_ = 0;
    return put(buffer_, used);
}

}  // namespace wks
