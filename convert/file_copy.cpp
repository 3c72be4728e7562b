/*
 * Two small file functions exported with the converters: a whole-file copy
 * and a search for an unused temporary name beside a path.  The converters
 * themselves use neither.
 */
#include "platform/platform.h"
#include "wks.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kChunk = 4096;
constexpr int16_t kReadError = 27;
constexpr int16_t kWriteError = 32;
constexpr int16_t kCloseError = 25;
constexpr int kCreateTruncate =
    plat::kOpenBinary | plat::kOpenWriteOnly | plat::kOpenCreate | plat::kOpenTruncate;

}  // namespace

extern "C" {

int32_t copy_file(const char *src, const char *dst) {
    if (!src || !dst) return -1;
    const int32_t in = plat::open(src, plat::kRead);
    if (in < 0) {
        wkswin_printf("Cannot open file \"%s\" for reading", src);
        return -1;
    }
    const int32_t out = plat::open(dst, kCreateTruncate, plat::kOwnerReadWrite);
    if (out < 0) {
        plat::close(in);
        wkswin_printf("Cannot open file \"%s\" for writing", dst);
        return -1;
    }
    unsigned char chunk[kChunk];
    bool ok = true;
    for (;;) {
        const int32_t got = plat::read(in, chunk, kChunk);
        if (got == 0) break;
        if (got < 0) {
            ok = false;
            wkserr(kReadError);
            break;
        }
        if (plat::write(out, chunk, static_cast<uint32_t>(got)) != got) {
            ok = false;
            wkserr(kWriteError);
            break;
        }
    }
    if (plat::close(out) != 0) {
        if (ok) wkserr(kCloseError);  // the last bytes may not have reached the file
        ok = false;
    }
    plat::close(in);
    return ok ? 0 : -1;
}

void get_tempname(const char *path, char *out) {
    if (!out) return;
    out[0] = '\0';
    if (!path) return;
    const plat::SplitPath parts = plat::split_path(path);
    const std::size_t dir = parts.drive.size() + parts.dir.size();  // the path's first characters
    std::memcpy(out, path, dir);
    constexpr std::size_t kLeaf = 16;  // "f_$", at most ten digits, NUL
    for (int32_t n = 0; n < INT32_MAX; ++n) {
        std::snprintf(out + dir, kLeaf, "f_$%d", static_cast<int>(n));
        if (!plat::exists(out)) return;
    }
}

}
