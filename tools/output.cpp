/*
 * Safe output for the wks tool, on the library's wks_create / wks_commit /
 * wks_discard.  The signal handler drops every pending file and any copy of
 * standard input, then ends the tool with the same signal; while a commit
 * runs it only notes the signal, and the commit raises it again once done,
 * so that a destination is never left under a temporary name.
 */
#include "tools/output.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

namespace tool {
namespace {

volatile std::sig_atomic_t g_committing = 0;
volatile std::sig_atomic_t g_deferred = 0;

extern "C" void on_signal(int sig) {
    if (g_committing) {
        g_deferred = sig;
        return;
    }
    wks_discard_all();
    remove_inputs();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Why wks_create refused path: what path is, when that is the reason, else
// the system's reason it left in errno.
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

}  // namespace

void install_signal_handlers() {
    for (int sig : {SIGINT, SIGTERM}) std::signal(sig, on_signal);
#ifdef SIGHUP
    std::signal(SIGHUP, on_signal);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);  // a file over the size limit is a write error to report, as a full disk is
#endif
}

SignalsWait::SignalsWait() { g_committing = 1; }

SignalsWait::~SignalsWait() {
    g_committing = 0;
    if (g_deferred) std::raise(g_deferred);
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
        SignalsWait wait;
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
