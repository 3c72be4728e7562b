/*
 * Safe output for the wks tool, on the library's wks_create / wks_commit /
 * wks_discard.  The commit runs as Committing (signals.h): a signal waits
 * until the new file is in place.
 */
#include "tools/output.h"

#include "tools/signals.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace tool {

std::string create_failure(const std::string &path, int code, int reason) {
    if (code != WKS_E_OPEN) return "cannot write its first records: " + error_text(code);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "cannot create: is a directory";
        if (!S_ISREG(st.st_mode)) return "cannot create: is not a regular file";
        if ((st.st_mode & 0222) == 0) return "cannot create: the file is read-only";
    }
    return std::string("cannot create: ") + std::strerror(reason);
}

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
    if (wkswrec(&h_) == 0) return true;
    error_ = "writing record " + std::to_string(records_) + " failed: " + error_text(h_.error);
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
        if (code == 0) committing.placed(path_);
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
