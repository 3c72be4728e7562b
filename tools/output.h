/*
 * Worksheet files the tool writes.  A new file's bytes go through a block
 * buffer into a scratch file of the tool's (common.h: it has no name, so
 * nothing of it outlives the tool), and the library's copy_file puts them
 * in the destination's place once they are complete: written beside the
 * destination, which a failure leaves as it was.  When SIGINT, SIGTERM or
 * SIGHUP ends the tool (signals.h), the copy under way goes too; a signal
 * that comes while the copy runs waits until it is done.
 */
#ifndef WKS_TOOL_OUTPUT_H
#define WKS_TOOL_OUTPUT_H

#include "tools/common.h"
#include "wks.h"

#include <cstddef>
#include <utility>
#include <string>
#include <vector>

namespace tool {

// Why a new file for path could not be started, after the library refused
// with code (38: what path is, when that is the reason, else the directory
// that refuses it and the system's reason, which the library left in errno
// and the caller passes as reason).
std::string create_failure(const std::string &path, int code, int reason);

// A file's bytes written through a block of 128 KiB into a scratch file.
class ScratchFile {
public:
    ScratchFile() = default;
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    // False with the reason in why.
    bool open(std::string &why);
    void write(const void *bytes, std::size_t n);
    // Writes what the block holds; false (the system's reason in why) when
    // any write so far failed.
    bool flush(std::string &why);
    // The path the library reads the file under.
    const std::string &path() const { return path_; }

private:
    int fd_ = -1;
    int errno_ = 0;  // of the first failed write
    std::string path_;
    std::vector<unsigned char> block_;
};

class Output {
public:
    Output(std::string path, Format format) : path_(std::move(path)), format_(format) {}
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // Checks that a new file can be made in path's place (the library's
    // wks_create, dropped at once) and starts the new file: an ORX file's
    // header block (header_block, or an empty one when it is null), then a
    // BOF record of bof_version unless that is 0.  False with the reason in
    // error().
    bool create(const unsigned char *header_block, int bof_version);
    // Writes a record as it is.
    bool write(const WKS_RECORD &rec);
    // Writes a record given in the ORX cell layout, translated for a WK1 file.
    bool write_orx_layout(const WKS_RECORD &rec);
    // Writes bytes that are no record (what follows a file's last record).
    void write_bytes(const void *bytes, std::size_t n) { file_.write(bytes, n); }
    // Puts the file in place, after an EOF record unless eof is false.
    bool commit(bool eof = true);
    const std::string &error() const { return error_; }
    const std::string &path() const { return path_; }
    Format format() const { return format_; }

private:
    std::string path_;
    Format format_;
    ScratchFile file_;
    long records_ = 0;
    std::string error_;
};

// The header block of an ORX file that holds nothing but the magic words.
std::vector<unsigned char> empty_header_block();

}  // namespace tool

#endif
