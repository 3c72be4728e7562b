/*
 * Path splitting by the Windows rules and ASCII case-insensitive compare.
 * Worksheet paths and the file names inside formula texts are Windows paths
 * whatever the host system, so both separators count everywhere.
 */
#include "platform/platform.h"

#include <cstring>

namespace plat {

SplitPath split_path(const char *path) { return split_path(std::string_view(path)); }

SplitPath split_path(std::string_view p) {
    SplitPath s;
    if (p.size() >= 2 && p[1] == ':') {
        s.drive = p.substr(0, 2);
        p.remove_prefix(2);
    }
    std::size_t slash = p.find_last_of("\\/");
    if (slash != std::string_view::npos) {
        s.dir = p.substr(0, slash + 1);
        p.remove_prefix(slash + 1);
    }
    std::size_t dot = p.rfind('.');
    if (dot != std::string_view::npos) {
        s.fname = p.substr(0, dot);
        s.ext = p.substr(dot);
    } else {
        s.fname = p;
    }
    return s;
}

int stricmp(const char *a, const char *b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        int ca = lower(static_cast<unsigned char>(*a));
        int cb = lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

}  // namespace plat
