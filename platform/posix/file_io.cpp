/*
 * Low-level file calls on POSIX systems, taking the Windows runtime's flag
 * values so that the rest of the library is written once.  Files are always
 * binary here; descriptors are not inherited by child processes.
 */
#include "platform/fault.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

int posix_flags(int flags) {
    int f = O_CLOEXEC;
    switch (flags & 3) {
        case kOpenWriteOnly: f |= O_WRONLY; break;
        case kOpenReadWrite: f |= O_RDWR; break;
        default: f |= O_RDONLY; break;
    }
    if (flags & kOpenCreate) f |= O_CREAT;
    if (flags & kOpenTruncate) f |= O_TRUNC;
    if (flags & kOpenExclusive) f |= O_EXCL;
    return f;
}

mode_t posix_mode(int perm) {
    mode_t m = 0;
    if (perm & 0x0100) m |= S_IRUSR;  // _S_IREAD
    if (perm & 0x0080) m |= S_IWUSR;  // _S_IWRITE
    return m;
}

}  // namespace

int32_t open(const char *path, int flags, int perm) {
    if (fault_hit(Op::Open)) {
        errno = EACCES;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, posix_flags(flags), posix_mode(perm));
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int32_t read(int32_t fd, void *buf, uint32_t count) {
    if (fault_hit(Op::Read)) {
        errno = EIO;
        return -1;
    }
    ssize_t n;
    do {
        n = ::read(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return static_cast<int32_t>(n);
}

int32_t write(int32_t fd, const void *buf, uint32_t count) {
    if (fault_hit(Op::Write)) {
        errno = EIO;
        return -1;
    }
    ssize_t n;
    do {
        n = ::write(fd, buf, count);
    } while (n < 0 && errno == EINTR);
    return static_cast<int32_t>(n);
}

int64_t lseek(int32_t fd, int64_t offset, int origin) {
    if (fault_hit(Op::Seek)) {
        errno = EINVAL;
        return -1;
    }
    int whence = origin == kSeekCur ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : SEEK_SET;
    return static_cast<int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

int32_t close(int32_t fd) {
    if (fault_hit(Op::Close)) {
        ::close(fd);  // the descriptor is gone either way, as after a real failed close
        errno = EIO;
        return -1;
    }
    return ::close(fd);
}

bool exists(const char *path) { return ::access(path, F_OK) == 0; }

int32_t remove(const char *path) {
    if (fault_hit(Op::Remove)) {
        errno = EACCES;
        return -1;
    }
    return std::remove(path);
}

int32_t rename(const char *from, const char *to) {
    if (fault_hit(Op::Rename)) {
        errno = EACCES;
        return -1;
    }
    return std::rename(from, to);
}

bool same_file(const char *a, const char *b) {
    struct stat sa, sb;
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace plat
