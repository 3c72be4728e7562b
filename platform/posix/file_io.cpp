/*
 * Low-level file calls on POSIX systems, taking the Windows runtime's flag
 * values so that the rest of the library is written once, and refusing what
 * that runtime refuses: a directory is never opened or removed, and a
 * read-only file is never opened for writing, removed or replaced.  Files
 * are always binary here; descriptors are not inherited by child processes.
 */
#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wks::plat {

namespace posix {

bool is_read_only(const char *path, const struct stat &st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0;
}

int open_retrying(const char *path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace posix

namespace {

// Truncation is left out: it waits until the file is known to be one that
// may be written.
int posix_flags(int flags) {
    int f = O_CLOEXEC;
    switch (flags & 3) {
        case kOpenWriteOnly: f |= O_WRONLY; break;
        case kOpenReadWrite: f |= O_RDWR; break;
        default: f |= O_RDONLY; break;
    }
    if (flags & kOpenCreate) f |= O_CREAT;
    if (flags & kOpenExclusive) f |= O_EXCL;
    return f;
}

// _S_IREAD and _S_IWRITE stand for everybody's read and write bits; the
// umask then takes its share, as for any program's files.
mode_t posix_mode(int perm) {
    mode_t m = 0;
    if (perm & 0x0100) m |= S_IRUSR | S_IRGRP | S_IROTH;  // _S_IREAD
    if (perm & 0x0080) m |= S_IWUSR | S_IWGRP | S_IWOTH;  // _S_IWRITE
    return m;
}

bool is_writing(int flags) { return (flags & 3) != kOpenReadOnly; }

// A directory, or a read-only file: what the Windows runtime neither removes
// nor replaces.  A symbolic link counts as itself, whatever it points to.
bool is_protected(const char *path) {
    struct stat st;
    if (::lstat(path, &st) != 0) return false;
    return S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && posix::is_read_only(path, st));
}

}  // namespace

int32_t open(const char *path, int flags, int perm) {
    if (fault_hit(Op::Open)) {
        errno = EACCES;
        return -1;
    }
    const int fd = posix::open_retrying(path, posix_flags(flags), posix_mode(perm));
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (is_writing(flags) && posix::is_read_only(path, st))) {
        ::close(fd);
        errno = EACCES;  // what the Windows runtime says for both
        return -1;
    }
    if ((flags & kOpenTruncate) && is_writing(flags) && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
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

int64_t size_of(int32_t fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool exists(const char *path) { return ::access(path, F_OK) == 0; }

int32_t remove(const char *path) {
    if (fault_hit(Op::Remove)) {
        errno = EACCES;
        return -1;
    }
    if (is_protected(path)) {
        errno = EACCES;
        return -1;
    }
    return ::unlink(path);
}

int32_t rename(const char *from, const char *to) {
    if (fault_hit(Op::Rename)) {
        errno = EACCES;
        return -1;
    }
    if (is_protected(to)) {
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

}  // namespace wks::plat
