/*
 * Safe output for the wks tool: the new file in a scratch file, put in
 * place by the library's copy_file.  The copy runs as Committing
 * (signals.h): a signal waits until the destination is whole.
 */
#include "tools/output.h"

#include "tools/signals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {
namespace {

constexpr std::size_t kBlockBytes = 128 * 1024;
constexpr int kRecordHeader = 4;

}  // namespace

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

std::vector<unsigned char> empty_header_block() {
    std::vector<unsigned char> block(WKS_HEADER_SIZE, 0);
    set_open_for_load(1);
    // The library sets the magic words in the block it keeps.
    if (!SetOrxHeader(block.data()) || !GetOrxHeader(block.data())) block.clear();
    return block;
}

ScratchFile::~ScratchFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ScratchFile::open(std::string &why) {
    block_.reserve(kBlockBytes);
    return scratch_file(fd_, path_, why);
}

void ScratchFile::write(const void *bytes, std::size_t n) {
    const auto *p = static_cast<const unsigned char *>(bytes);
    while (n > 0) {
        const std::size_t part = std::min(n, kBlockBytes - block_.size());
        block_.insert(block_.end(), p, p + part);
        p += part;
        n -= part;
        if (block_.size() == kBlockBytes) {
            std::string ignored;
            flush(ignored);
        }
    }
}

bool ScratchFile::flush(std::string &why) {
    std::size_t done = 0;
    while (errno_ == 0 && done < block_.size()) {
        const ssize_t got = ::write(fd_, block_.data() + done, block_.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) errno_ = got < 0 ? errno : ENOSPC;
        else done += static_cast<std::size_t>(got);
    }
    block_.clear();
    if (errno_ == 0) return true;
    why = std::string("cannot write the new file: ") + std::strerror(errno_);
    return false;
}

bool Output::create(const unsigned char *header_block, int bof_version) {
    WKS probe{};
    errno = 0;
    if (!wks_create(&probe, path_.c_str(), format_ == Format::kOrx ? WKS_FORMAT_ORX : WKS_FORMAT_WK1, nullptr)) {
        error_ = create_failure(path_, probe.error, errno);
        return false;
    }
    wks_discard(&probe);
    std::string why;
    if (!file_.open(why)) return error_ = why, false;
    if (format_ == Format::kOrx) {
        const std::vector<unsigned char> empty = header_block ? std::vector<unsigned char>() : empty_header_block();
        if (!header_block && empty.empty()) return error_ = "no memory for the header block", false;
        file_.write(header_block ? header_block : empty.data(), WKS_HEADER_SIZE);
    }
    if (bof_version == 0) return true;
    WKS_RECORD bof;
    wksni(bof.type, WKS_BOF);
    wksni(bof.length, 2);
    wksni(bof.body, static_cast<int16_t>(bof_version));
    return write(bof);
}

bool Output::write(const WKS_RECORD &rec) {
    ++records_;
    const int length = rec.length[0] | rec.length[1] << 8;
    if (length > WKS_MAX_READ_BODY) {  // no reader could read it back
        error_ = "record " + std::to_string(records_) + " would have a body of " + std::to_string(length) +
                 " bytes, more than a record can be read back with (" + std::to_string(WKS_MAX_READ_BODY) + ")";
        return false;
    }
    file_.write(&rec, static_cast<std::size_t>(kRecordHeader + length));
    return true;
}

bool Output::write_orx_layout(const WKS_RECORD &rec) {
    if (format_ == Format::kOrx) return write(rec);
    WKS_RECORD translated;
    if (orx_rec_to_wk1_rec(reinterpret_cast<const unsigned char *>(&rec),
                           reinterpret_cast<unsigned char *>(&translated)) != 0) {
        error_ = "record " + std::to_string(records_ + 1) + " does not fit a WK1 file";
        return false;
    }
    return write(translated);
}

namespace {

bool is_quota(int reason) {
#ifdef EDQUOT
    return reason == EDQUOT;
#else
    (void)reason;
    return false;
#endif
}

}  // namespace

bool Output::commit(bool eof) {
    if (eof) {
        WKS_RECORD end;
        wksni(end.type, WKS_EOF);
        wksni(end.length, 0);
        write(end);
    }
    std::string why;
    if (!file_.flush(why)) return error_ = why, false;
    int32_t got;
    int reason;
    {
        Committing committing;
        errno = 0;
        got = copy_file(file_.path().c_str(), path_.c_str());
        reason = errno;
        if (got == 0) committing.placed(path_);
    }
    if (got == 0) return true;
    if (reason != 0) take_messages();  // the system's reason says more than the library's notice
    if (reason == ENOSPC || reason == EFBIG || reason == EIO || is_quota(reason))
        error_ = std::string("writing the new file failed: ") + std::strerror(reason) + "; nothing written";
    else
        error_ = create_failure(path_, WKS_E_OPEN, reason ? reason : EIO);
    return false;
}

}  // namespace tool
