/*
 * Worksheet files the tool writes.  Every one goes through the library's
 * safe creation: the new file is written beside the destination and takes
 * its place only when complete.  On any failure, and when SIGINT, SIGTERM or
 * SIGHUP ends the tool (signals.h), the new file goes and the destination
 * stays as it was; a signal that comes while a file is being put in place
 * waits until that is done.
 */
#ifndef WKS_TOOL_OUTPUT_H
#define WKS_TOOL_OUTPUT_H

#include "tools/common.h"
#include "wks.h"

#include <string>

namespace tool {

// Why a new file for path could not be started, after the library refused
// with code (38: what path is, when that is the reason, else the directory
// that refuses it and the system's reason, which the library left in errno
// and the caller passes as reason).
std::string create_failure(const std::string &path, int code, int reason);

class Output {
public:
    Output(std::string path, Format format) : path_(std::move(path)), format_(format) {}
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Starts the new file; source names the file read, if any (a destination
    // that names it gets BOF version 1028).  An ORX file gets header_block,
    // or an empty one when it is null.  False with the reason in error().
    bool create(const std::string &source, const unsigned char *header_block);
    // The handle whose record buffer write_current() writes.
    WKS &handle() { return h_; }
    bool write_current();
    // Writes a record as it is.
    bool write(const WKS_RECORD &rec);
    // Writes a record given in the ORX cell layout, translated for a WK1 file.
    bool write_orx_layout(const WKS_RECORD &rec);
    // Writes the EOF record and puts the file in place.
    bool commit();
    // Drops the new file, if any; the destination stays as it was.
    void discard();
    const std::string &error() const { return error_; }
    const std::string &path() const { return path_; }
    Format format() const { return format_; }

private:
    std::string path_;
    Format format_;
    WKS h_{};
    bool pending_ = false;
    long records_ = 0;
    std::string error_;
};

}  // namespace tool

#endif
