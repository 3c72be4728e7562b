/*
 * Pending files on Windows (see platform.h): a whole file written beside
 * its destination and put in place in one step.  Windows has no unnamed
 * files, so the new file is created exclusively under a free temporary
 * name beside the destination (".NAME.wks-XXXXXX"), flushed to the disk, closed, and
 * moved over the destination with MoveFileEx, which replaces it in one step.
 *
 * A destination that is a directory or carries the read-only attribute is
 * refused before anything is created, as the runtime refuses to open or
 * remove it.  A new file is not read-only; an existing destination cannot
 * be, so the new file's attributes match it.  Cleaning up after a failure
 * uses the plain runtime calls: an injected fault never leaves a temporary
 * file behind that a real run would not.
 */
#include "platform/fault.h"
#include "platform/pending_place.h"
#include "platform/platform.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace wks::plat {
namespace {

constexpr int kMaxNames = 100;  // temporary names tried before giving up

// A new temporary name beside target (pending_place.h).
bool name_beside(char (&out)[kPathCapacity], const char *target) {
    const SplitPath parts = split_path(target);
    return temporary_name(out, target, parts.drive.size() + parts.dir.size());
}

// Whether the target may be replaced: it is missing, or a file that is
// neither a directory nor read-only.
bool may_replace(const char *target) {
    const DWORD attributes = ::GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // missing; a bad path fails at creation
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

}  // namespace

bool create_pending(PendingFile &file, const char *destination) {
    file.fd = -1;
    file.name[0] = '\0';
    if (std::strlen(destination) + 1 > kPathCapacity) return false;
    std::strcpy(file.target, destination);
    if (!may_replace(file.target)) {
        errno = (::GetFileAttributesA(file.target) & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EACCES;
        return false;
    }
    for (int tries = 0; tries < kMaxNames; ++tries) {
        if (!name_beside(file.name, file.target)) break;
        if (fault_hit(Op::Open)) break;
        file.fd = ::_open(file.name, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (file.fd >= 0) return true;
        if (errno != EEXIST) break;
    }
    file.name[0] = '\0';
    return false;
}

Placed place_pending(PendingFile &file) {
    if (fault_hit(Op::Flush) || ::_commit(file.fd) != 0) {
        discard_pending(file);
        return Placed::kNotFlushed;
    }
    return close_and_rename(file);
}

void start_writing_pending(PendingFile &) {}  // the runtime has no way to start writeback alone

bool flush_pending_files(PendingFile *const files[], std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (fault_hit(Op::Flush)) {
            errno = EIO;  // as a failing disk would report it
            return false;
        }
        if (::_commit(files[i]->fd) != 0) return false;
    }
    return true;
}

Placed place_flushed(PendingFile &file) { return close_and_rename(file); }

void discard_pending(PendingFile &file) {
    if (file.fd >= 0) ::_close(file.fd);
    if (file.name[0] != '\0') ::_unlink(file.name);
    file.fd = -1;
    file.name[0] = '\0';
}

}  // namespace wks::plat
