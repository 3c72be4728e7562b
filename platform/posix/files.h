/*
 * What the POSIX file calls and pending files share: the Windows runtime's
 * idea of a read-only file, and calls retried when a signal interrupts them.
 */
#ifndef WKS_PLATFORM_POSIX_FILES_H
#define WKS_PLATFORM_POSIX_FILES_H

#include <sys/stat.h>
#include <sys/types.h>

namespace wks::plat::posix {

// Files are created readable and writable by all, less the umask, as the
// Windows runtime's files that are not read-only.
constexpr mode_t kNewFileMode = 0666;

// A file without any write permission bit, or one the process may not write.
// The first half is what the Windows read-only attribute means; it holds even
// for a process whose privileges let it write anything.
bool is_read_only(const char *path, const struct stat &st);

int open_retrying(const char *path, int flags, mode_t mode);

}  // namespace wks::plat::posix

#endif
