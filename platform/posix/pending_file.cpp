/*
 * Pending files on POSIX systems (see platform.h): a whole file written
 * beside its destination and put in place in one step.
 *
 * Where the system has unnamed files (Linux O_TMPFILE, named through
 * /proc/self/fd), the new file gets a name only once it is complete: a link
 * creates a missing destination outright, or a link under a free temporary
 * name and a rename replace an existing one (a process killed between the
 * two is the only one that leaves a temporary file).  Elsewhere, and on file
 * systems that refuse unnamed files, it is created exclusively under a free
 * temporary name, ".NAME.wks-XXXXXX" beside the destination NAME, and renamed
 * over it.  Either way
 * it is flushed to the disk before it gets its final name, so the
 * destination never names a file whose bytes may not be there; files
 * placed as a group are flushed together first (syncfs on Linux).
 *
 * The destination's symbolic links are followed, so that a link stays a
 * link and the file it points to is replaced.  Cleaning up after a failure
 * uses the plain system calls: an injected fault never leaves a temporary
 * file behind that a real run would not.
 */
#include "platform/fault.h"
#include "platform/pending_place.h"
#include "platform/platform.h"
#include "platform/posix/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace wks::plat {
namespace {

constexpr int kMaxLinks = 40;     // as the kernel follows them
constexpr int kMaxNames = 100;    // temporary names tried before giving up
constexpr char kProcFds[] = "/proc/self/fd";

using Path = char[kPathCapacity];

// out = a + b; false when that would not fit.
bool join(Path &out, std::string_view a, std::string_view b = {}) {
    if (a.size() + b.size() + 1 > kPathCapacity) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (!a.empty()) std::memmove(out, a.data(), a.size());
    if (!b.empty()) std::memcpy(out + a.size(), b.data(), b.size());
    out[a.size() + b.size()] = '\0';
    return true;
}

// The path's directory with its last '/', or nothing for a bare name.
std::string_view directory_of(const char *path) {
    const std::string_view p(path);
    const std::size_t slash = p.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : p.substr(0, slash + 1);
}

// The path with its symbolic links followed as far as they lead; the last
// one may point to a file that does not exist yet.
bool follow_links(const char *path, Path &out) {
    if (!join(out, path)) return false;
    for (int i = 0; i < kMaxLinks; ++i) {
        struct stat st;
        if (::lstat(out, &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        Path link;
        const ssize_t n = ::readlink(out, link, sizeof link);
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) >= sizeof link) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string_view to(link, static_cast<std::size_t>(n));
        if (!(!to.empty() && to[0] == '/' ? join(out, to) : join(out, directory_of(out), to))) return false;
    }
    errno = ELOOP;
    return false;
}

// Whether the target may be replaced: it is missing, or a regular file the
// process may write.  existing tells which, st holds what it is.  A refusal
// leaves its reason in errno: EISDIR, EACCES (read-only, or not a regular
// file) or the system's own (EROFS on a read-only file system).
bool may_replace(const char *target, struct stat &st, bool &existing) {
    existing = ::stat(target, &st) == 0;
    if (!existing) return errno == ENOENT;
    if (S_ISDIR(st.st_mode) || !S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        return false;
    }
    return !posix::is_read_only(target, st);  // the process may not write it: faccessat's reason
}

// A new temporary name beside target (pending_place.h).
bool name_beside(Path &out, const char *target) {
    if (temporary_name(out, target, directory_of(target).size())) return true;
    errno = ENAMETOOLONG;
    return false;
}

bool unnamed_files_available() {
#if defined(O_TMPFILE)
    return !g_refuse_unnamed && ::access(kProcFds, X_OK) == 0;
#else
    return false;
#endif
}

int open_unnamed(const char *target) {
#if defined(O_TMPFILE)
    if (fault_hit(Op::Open)) return -1;
    Path dir;
    const std::string_view d = directory_of(target);
    if (!join(dir, d.empty() ? std::string_view(".") : d)) return -1;
    return posix::open_retrying(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, posix::kNewFileMode);
#else
    (void)target;
    return -1;
#endif
}

// Creates the file exclusively under a free temporary name.
bool open_named(PendingFile &file) {
    for (int tries = 0; tries < kMaxNames; ++tries) {
        if (!name_beside(file.name, file.target)) break;
        if (fault_hit(Op::Open)) break;
        file.fd = posix::open_retrying(file.name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, posix::kNewFileMode);
        if (file.fd >= 0) return true;
        if (errno != EEXIST) break;
    }
    file.name[0] = '\0';
    return false;
}

// The destination's permission bits, and its owner and group where the
// process may give them away; where it may not (EPERM), the file stays the
// writer's.  The owner changes first, since that clears the set-user-ID bit.
bool take_over_permissions(int fd, const struct stat &st) {
    if (::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) return false;
    return ::fchmod(fd, st.st_mode & 07777) == 0;
}

int flush(int fd) {
    if (fault_hit(Op::Flush)) {
        errno = EIO;
        return -1;
    }
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Gives an unnamed file a name: the target itself when it is missing (then
// true in at_target), else a free temporary name.
bool link_unnamed(PendingFile &file, bool &at_target) {
    char fd_path[sizeof kProcFds + 16];
    std::snprintf(fd_path, sizeof fd_path, "%s/%d", kProcFds, file.fd);
    if (fault_hit(Op::Rename)) return false;
    at_target = ::linkat(AT_FDCWD, fd_path, AT_FDCWD, file.target, AT_SYMLINK_FOLLOW) == 0;
    if (at_target) return true;
    if (errno != EEXIST) return false;
    for (int tries = 0; tries < kMaxNames; ++tries) {
        if (!name_beside(file.name, file.target)) break;
        if (::linkat(AT_FDCWD, fd_path, AT_FDCWD, file.name, AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) break;
    }
    file.name[0] = '\0';
    return false;
}

Placed place_unnamed(PendingFile &file) {
    bool at_target = false;
    if (!link_unnamed(file, at_target)) {
        discard_pending(file);
        return Placed::kNotPlaced;
    }
    if (!at_target) return close_and_rename(file);  // linked under a temporary name
    const int32_t fd = file.fd;
    file.fd = -1;
    if (plat::close(fd) != 0) {
        ::unlink(file.target);
        discard_pending(file);
        return Placed::kNotClosed;
    }
    return Placed::kDone;
}

}  // namespace

bool create_pending(PendingFile &file, const char *destination) {
    file.fd = -1;
    file.name[0] = '\0';
    struct stat st;
    bool existing = false;
    if (!follow_links(destination, file.target) || !may_replace(file.target, st, existing)) return false;
    if (unnamed_files_available()) file.fd = open_unnamed(file.target);
    if (file.fd < 0 && !open_named(file)) return false;
    if (existing && !take_over_permissions(file.fd, st)) {
        discard_pending(file);
        return false;
    }
    return true;
}

Placed place_pending(PendingFile &file) {
    if (flush(file.fd) != 0) {
        discard_pending(file);
        return Placed::kNotFlushed;
    }
    return place_flushed(file);
}

void start_writing_pending(PendingFile &file) {
#if defined(__linux__)
    // Writeback begins while the caller goes on; a failure shows at the flush.
    if (file.fd >= 0) (void)::sync_file_range(file.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

bool flush_pending_files(PendingFile *const files[], std::size_t n) {
#if defined(__linux__)
    // syncfs once for each file system: the files' data, and every other
    // write waiting there, on the disk in one go.
    for (std::size_t i = 0; i < n; ++i) {
        struct stat st;
        if (::fstat(files[i]->fd, &st) != 0) return false;
        bool seen = false;
        for (std::size_t j = 0; j < i && !seen; ++j) {
            struct stat other;
            seen = ::fstat(files[j]->fd, &other) == 0 && other.st_dev == st.st_dev;
        }
        if (seen) continue;
        if (fault_hit(Op::Flush)) {
            errno = EIO;
            return false;
        }
        if (::syncfs(files[i]->fd) != 0) return false;
    }
    return true;
#else
    for (std::size_t i = 0; i < n; ++i)
        if (flush(files[i]->fd) != 0) return false;
    return true;
#endif
}

Placed place_flushed(PendingFile &file) {
    if (file.name[0] == '\0') return place_unnamed(file);
    return close_and_rename(file);
}

void discard_pending(PendingFile &file) {
    if (file.fd >= 0) ::close(file.fd);
    if (file.name[0] != '\0') ::unlink(file.name);
    file.fd = -1;
    file.name[0] = '\0';
}

}  // namespace wks::plat
