/*
 * Path splitting by the Windows rules and case-insensitive compare.
 * Worksheet paths and the file names inside formula texts are Windows paths
 * whatever the host system, so both separators count everywhere.  The
 * splitter is our own on every system (views into the caller's string, no
 * length limit); on Windows it agrees with the runtime's _splitpath, which a
 * Windows test checks.  The compare is the runtime's _stricmp on Windows.
 */
#include "platform/platform.h"

#include <cstring>  // _stricmp too, on Windows

namespace wks::plat {

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
#if defined(_WIN32)
    return ::_stricmp(a, b);
#else
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (;; ++a, ++b) {
        int ca = lower(static_cast<unsigned char>(*a));
        int cb = lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
#endif
}

}  // namespace wks::plat
