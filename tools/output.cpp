/*
 * Safe output for the wks tool, on the library's wks_create / wks_commit /
 * wks_discard.  The commit runs as Committing (signals.h): a signal waits
 * until the new file is in place.
 */
#include "tools/output.h"

#include "tools/signals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {

std::string create_failure(const std::string &path, int code, int reason) {
    if (code != WKS_E_OPEN) return "cannot write its first records: " + error_text(code);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "cannot create: is a directory";
        if (!S_ISREG(st.st_mode)) return "cannot create: is not a regular file";
        if ((st.st_mode & 0222) == 0) return "cannot create: the file is read-only";
    }
    // Otherwise it is the directory that refuses the new file beside path.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return "cannot create a file in " + dir + ": " + std::strerror(reason);
}

namespace {

// The system's reason for a failed write of a record, which a write that
// took only part of it does not give: asked again for room after the
// file's end (the new file goes anyway).  0 when it cannot be told.
int write_failure_reason(int fd) {
    if (errno != 0) return errno;
#ifdef _WIN32
    (void)fd;
    return 0;
#else
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end < 0 ? 0 : ::posix_fallocate(fd, end, WKS_RECORD_SIZE);
#endif
}

}  // namespace

Output::~Output() { discard(); }

bool Output::create(const std::string &source, const unsigned char *header_block) {
    std::memset(&h_, 0, sizeof h_);
    const bool orx = format_ == Format::kOrx;
    if (orx) {
        unsigned char empty[WKS_HEADER_SIZE] = {};  // the library sets the magic words
        set_open_for_load(1);
        if (!SetOrxHeader(header_block ? header_block : empty)) {
            error_ = "no memory for the header block";
            return false;
        }
    }
    errno = 0;
    pending_ = wks_create(&h_, path_.c_str(), orx ? WKS_FORMAT_ORX : WKS_FORMAT_WK1, source.c_str()) != nullptr;
    const int reason = errno;
    if (orx) wks_cleanup();  // a block the file did not take
    if (!pending_) error_ = create_failure(path_, h_.error, reason);
    return pending_;
}

bool Output::write_current() {
    ++records_;
    const int length = h_.rec.length[0] | h_.rec.length[1] << 8;
    if (length > WKS_MAX_READ_BODY) {  // the library would write it, but no reader could read it back
        error_ = "record " + std::to_string(records_) + " would have a body of " + std::to_string(length) +
                 " bytes, more than a record can be read back with (" + std::to_string(WKS_MAX_READ_BODY) + ")";
        discard();
        return false;
    }
    errno = 0;
    if (wkswrec(&h_) == 0) return true;
    if (const int reason = write_failure_reason(h_.fd)) {  // says more than the library's Write Error
        error_ = "writing record " + std::to_string(records_) + " failed: " + std::strerror(reason);
        take_messages();
    } else {
        error_ = "writing record " + std::to_string(records_) + " failed: " + error_text(h_.error);
    }
    discard();
    return false;
}

bool Output::write(const WKS_RECORD &rec) {
    h_.rec = rec;
    return write_current();
}

bool Output::write_orx_layout(const WKS_RECORD &rec) {
    if (format_ == Format::kOrx) return write(rec);
    if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(&rec),
                                  reinterpret_cast<unsigned char *>(&h_.rec)) != 0) {
        error_ = "record " + std::to_string(records_ + 1) + " does not fit a WK1 file";
        discard();
        return false;
    }
    return write_current();
}

bool Output::commit() {
    if (!pending_) return false;
    pending_ = false;
    int16_t code;
    {
        Committing committing;
        code = wks_commit(&h_);
    }
    if (code == 0) return true;
    error_ = code == WKS_E_OPEN ? std::string("cannot put the new file in place: ") + std::strerror(errno)
                                : "cannot finish the new file: " + error_text(code);
    return false;
}

void Output::discard() {
    if (pending_) wks_discard(&h_);
    pending_ = false;
}

}  // namespace tool
