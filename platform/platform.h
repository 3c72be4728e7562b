/*
 * Our stand-ins for the platform services the library is written against:
 * the runtime's low-level file calls (with the Windows flag values), the
 * Windows path splitter, an ASCII case-insensitive compare, the message box
 * and the heap.  Everything the library does to the outside world goes
 * through here, which is also where tests inject failures (fault.h).
 *
 * This is the only place that knows which operating system it runs on:
 * platform/posix/ and platform/win32/ hold the two implementations of the
 * file calls and the message box; the build takes one of them.
 */
#ifndef WKS_PLATFORM_H
#define WKS_PLATFORM_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wks::plat {

// Open flags with the values of the Windows runtime's _open.
constexpr int kOpenReadOnly  = 0x0000;
constexpr int kOpenWriteOnly = 0x0001;
constexpr int kOpenReadWrite = 0x0002;
constexpr int kOpenCreate    = 0x0100;
constexpr int kOpenTruncate  = 0x0200;
constexpr int kOpenExclusive = 0x0400;  // with kOpenCreate: never opens an existing file or link
constexpr int kOpenBinary    = 0x8000;  // always in effect here: no newline translation

// The combinations the library uses.
constexpr int kRead        = kOpenBinary | kOpenReadOnly;                  // 0x8000
constexpr int kReadWrite   = kOpenBinary | kOpenReadWrite;                 // 0x8002
constexpr int kCreateRW    = kOpenBinary | kOpenReadWrite | kOpenCreate;   // 0x8102
constexpr int kCreateWrite = kOpenBinary | kOpenWriteOnly | kOpenCreate;   // 0x8101

// Permission of a created file: _S_IREAD | _S_IWRITE, a file that is not
// read-only (0666 less the umask on POSIX systems).
constexpr int kPermReadWrite = 0x0180;

// Seek origins, as in lseek.
constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

// Low-level descriptor calls; -1 on failure, like the runtime's.  As with the
// Windows runtime, opening a directory fails, and so does opening a read-only
// file for writing (a file without any write permission bit counts as
// read-only, whoever the process runs as).
int32_t open(const char *path, int flags, int perm = 0);
int32_t read(int32_t fd, void *buf, uint32_t count);
int32_t write(int32_t fd, const void *buf, uint32_t count);
int64_t lseek(int32_t fd, int64_t offset, int origin);
int32_t close(int32_t fd);
// The size of an open file in bytes, or -1.
int64_t size_of(int32_t fd);

// File-system calls.  remove never deletes a directory or a read-only file;
// rename replaces an existing `to` unless it is one of those.
bool    exists(const char *path);
int32_t remove(const char *path);
int32_t rename(const char *from, const char *to);
// True when both paths exist and name the same file (same device and inode,
// or the Windows equivalent).
bool    same_file(const char *a, const char *b);

// A whole file written beside its destination and put in its place in one
// step once it is complete, so that the destination holds either its old
// bytes or the new ones, never a part.  Until then the new file has no name
// where the system allows (a process killed half-way leaves nothing), or the
// first free name of "$_$", "file0", "file1", ... beside the destination,
// created exclusively.  A destination that exists must be a regular file the
// process may write; the new file takes its permission bits (and, where the
// process may, its owner), a new destination gets those of a created file.
constexpr std::size_t kPathCapacity = 4096;
struct PendingFile {
    int32_t fd = -1;                  // open for reading and writing while pending
    char target[kPathCapacity] = {};  // what it replaces or becomes: the destination, links followed
    char name[kPathCapacity] = {};    // its own name meanwhile; empty while it has none
};
enum class Placed { kDone, kNotFlushed, kNotClosed, kNotPlaced };
// False, with nothing created, when the destination may not be replaced or
// the new file cannot be made.
bool   create_pending(PendingFile &file, const char *destination);
// Flushes the file to the disk, closes it and puts it in place.  Whatever
// fails, the pending file is gone and the destination as it was.
Placed place_pending(PendingFile &file);
// Asks the system to start writing a complete pending file to the disk, so
// that a later flush waits for less; nothing is waited for or reported.
void   start_writing_pending(PendingFile &file);
// Flushes n pending files to the disk together (one flush of each file
// system they lie on where the system has it, else each file's own): false
// when any flush failed.  The files stay pending either way.
bool   flush_pending_files(PendingFile *const files[], std::size_t n);
// place_pending for a file flush_pending_files has flushed: closes it and
// puts it in place (kNotClosed or kNotPlaced with the file gone).
Placed place_flushed(PendingFile &file);
// Closes and removes a pending file; nothing to do for one placed or discarded.
void   discard_pending(PendingFile &file);

// Heap; alloc returns null on failure (real or injected).
void *alloc(std::size_t size);
void  release(void *p);
// Blocks handed out by alloc and not released yet: lets tests check that an
// operation, or a cleanup call, leaves nothing of its own behind.
long  live_allocations();

// A path split by the Windows rules on every platform: drive "X:" when the
// second character is ':', directory up to and including the last '\' or
// '/', extension from the last '.' of the file name on.  Views into the
// caller's string.
struct SplitPath {
    std::string_view drive, dir, fname, ext;
};
SplitPath split_path(const char *path);
SplitPath split_path(std::string_view path);  // the same, for a path that is not NUL-terminated

// Case-insensitive compare, <0, 0, >0 like strcmp: ASCII letters here, the
// runtime's _stricmp on Windows (the same unless the host changes the C
// runtime's locale).
int stricmp(const char *a, const char *b);

// Formats a message into out by the platform's rules (printf here, wvsprintfA
// on Windows), cut to size - 1 characters and always terminated.
void format_message(char *out, std::size_t size, const char *format, std::va_list args);

// Presents a message the default way (standard error here, the modal
// warning box on Windows) and returns what the user answered (1 = OK).
int32_t message_box(const char *caption, const char *text);

}  // namespace wks::plat

#endif
