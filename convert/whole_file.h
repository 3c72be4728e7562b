/*
 * A whole file written safely: the new bytes go to a pending file beside
 * the destination (platform.h), which takes the destination's place only
 * once it is complete.  Until commit, and after any failure, an existing
 * destination keeps its bytes and its permissions, and nothing of the new
 * file remains; an object that goes away uncommitted discards its file.
 * Every one lives in the table of pending files (pending_files.h).
 */
#ifndef WKS_CONVERT_WHOLE_FILE_H
#define WKS_CONVERT_WHOLE_FILE_H

#include "platform/platform.h"
#include "wks/layout.h"

#include <cstdint>

namespace wks::convert {

// One file when the names match without regard to case, or when both exist
// and are the same file; two different existing files never are.
bool one_file(const char *a, const char *b);

// The BOF version of a new file written for destination: 1028 when it
// replaces source (a file converted onto itself always carries 1028,
// whatever its name: hosts have always found that version in files
// converted in place), else 1030 for the layout's own extension (".ORX",
// ".WK1") and 1028 for any other.  source may be null.
uint16_t new_file_version(const char *destination, Layout layout, const char *source);

class WholeFile {
public:
    WholeFile() = default;
    ~WholeFile() { abandon(); }
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // Starts the new file for destination.  False, with nothing created, when
    // the destination is a directory, a read-only file or anything but a
    // regular file, or when no file can be made beside it.
    bool create(const char *destination) { return plat::create_pending(file_, destination); }

    // The new file's descriptor, open for reading and writing until commit.
    int32_t fd() const { return file_.fd; }

    // Closes the new file and puts it in the destination's place: 0, or the
    // error code of what failed, for the caller to show: 32 (not flushed to
    // the disk), 25 (not closed), 38 (not put in place; silent).
    int16_t commit();

    // Drops the new file, if any.
    void abandon() { plat::discard_pending(file_); }

    // Takes over other's new file, which other no longer has.
    void take(WholeFile &other) {
        file_ = other.file_;
        other.file_.fd = -1;
        other.file_.name[0] = '\0';
    }
    plat::PendingFile &pending() { return file_; }

private:
    plat::PendingFile file_;
};

}  // namespace wks::convert

#endif
