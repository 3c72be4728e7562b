/*
 * A file that takes a destination's place only when it is complete: made
 * beside the destination under a clearly temporary name
 * (".NAME.wks-XXXXXX", as the library names its own), written by whoever
 * holds its path, flushed to the disk and renamed into place by commit();
 * removed when never committed, so a failure leaves the destination as it
 * was and nothing beside it.
 */
#ifndef WKS_EXPORT_NEW_FILE_H
#define WKS_EXPORT_NEW_FILE_H

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace wks::exporting {

class NewFile {
public:
    explicit NewFile(const std::string &dst) : dst_(dst) {
        const std::size_t slash = dst.rfind('/');
        const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
        path_ = dst.substr(0, name) + "." + dst.substr(name) + ".wks-XXXXXX";
        const int fd = ::mkstemp(&path_[0]);
        if (fd < 0) {
            path_.clear();
            return;
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
    }
    ~NewFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;

    bool made() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    // Its bytes on the disk before its name is: a crash leaves the old
    // destination or the whole new one, never an empty or partial file.
    bool commit() {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool flushed = ::fsync(fd) == 0;
        ::close(fd);
        if (!flushed || ::rename(path_.c_str(), dst_.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string dst_, path_;
};

}  // namespace wks::exporting

#endif
