/*
 * Low-level file calls on Windows: the C runtime's descriptor functions
 * (_open, _read, _write, _lseeki64, _close, _filelengthi64, _access,
 * remove), which take our flag values as they are, since these are the
 * runtime's own values.  One bit is added to every open: _O_NOINHERIT, so
 * that a process the host starts while a worksheet is open does not keep
 * the file busy (the POSIX layer opens with O_CLOEXEC for the same reason).
 *
 * Descriptors belong to the C runtime this DLL is linked with (msvcrt.dll):
 * a host that passes descriptors of its own (read_header, save_header) must
 * have opened them with that runtime.
 *
 * The runtime refuses to open a directory, to open a read-only file for
 * writing and to remove either, and MoveFileEx to replace them.  The
 * read-only attribute is also checked here before opening for writing and
 * renaming, so that this holds where an emulation of the runtime lets a
 * privileged process through.  Renaming replaces an existing target and
 * returns once the move is on the disk.  File identity is the volume serial
 * number plus the file index, the Windows counterpart of device and inode.
 */
#include "platform/fault.h"
#include "platform/platform.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace wks::plat {

static_assert(kOpenReadOnly == _O_RDONLY && kOpenWriteOnly == _O_WRONLY && kOpenReadWrite == _O_RDWR,
              "access modes are the runtime's");
static_assert(kOpenCreate == _O_CREAT && kOpenTruncate == _O_TRUNC && kOpenExclusive == _O_EXCL &&
                  kOpenBinary == _O_BINARY,
              "open flags are the runtime's");
static_assert(kPermReadWrite == (_S_IREAD | _S_IWRITE), "permission bits are the runtime's");
static_assert(kSeekSet == SEEK_SET && kSeekCur == SEEK_CUR && kSeekEnd == SEEK_END, "seek origins");

namespace {

constexpr int kAccessExists = 0;  // _access mode: existence only

bool is_read_only(const char *path) {
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

int32_t open(const char *path, int flags, int perm) {
    if (fault_hit(Op::Open)) {
        errno = EACCES;
        return -1;
    }
    if ((flags & (_O_WRONLY | _O_RDWR)) != 0 && is_read_only(path)) {
        errno = EACCES;
        return -1;
    }
    return ::_open(path, flags | _O_BINARY | _O_NOINHERIT, perm);
}

int32_t read(int32_t fd, void *buf, uint32_t count) {
    if (fault_hit(Op::Read)) {
        errno = EIO;
        return -1;
    }
    return ::_read(fd, buf, count);
}

int32_t write(int32_t fd, const void *buf, uint32_t count) {
    if (fault_hit(Op::Write)) {
        errno = EIO;
        return -1;
    }
    return ::_write(fd, buf, count);
}

int64_t lseek(int32_t fd, int64_t offset, int origin) {
    if (fault_hit(Op::Seek)) {
        errno = EINVAL;
        return -1;
    }
    return ::_lseeki64(fd, offset, origin);
}

int32_t close(int32_t fd) {
    if (fault_hit(Op::Close)) {
        ::_close(fd);  // the descriptor is gone either way, as after a real failed close
        errno = EIO;
        return -1;
    }
    return ::_close(fd);
}

int64_t size_of(int32_t fd) { return ::_filelengthi64(fd); }

bool exists(const char *path) { return ::_access(path, kAccessExists) == 0; }

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
    if (is_read_only(to)) {
        errno = EACCES;
        return -1;
    }
    if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    DWORD error = ::GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return -1;
}

namespace {

// Volume serial number and file index of an existing file or directory.
bool identity(const char *path, BY_HANDLE_FILE_INFORMATION &info) {
    HANDLE h = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    return ok;
}

}  // namespace

bool same_file(const char *a, const char *b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identity(a, ia) || !identity(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace wks::plat
