/*
 * Two small file functions exported with the converters: a whole-file copy
 * and a search for an unused temporary name beside a path.  The converters
 * themselves use neither.  The copy is written as the converters write
 * their results (pending_files.h): a failed copy leaves an existing
 * destination as it was.
 */
#include "convert/pending_files.h"
#include "platform/platform.h"
#include "wks.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace wks::convert {
namespace {

constexpr uint32_t kChunk = 4096;

// Copies in to the new file: 0, or the error code of the failed read or write.
int16_t copy_bytes(int32_t in, int32_t out) {
    unsigned char chunk[kChunk];
    for (;;) {
        const int32_t got = plat::read(in, chunk, kChunk);
        if (got == 0) return 0;
        if (got < 0) return WKS_E_READ;
        if (plat::write(out, chunk, static_cast<uint32_t>(got)) != got) return WKS_E_WRITE;
    }
}

}  // namespace
}  // namespace wks::convert

using namespace wks;
using namespace wks::convert;

extern "C" {

int32_t copy_file(const char *src, const char *dst) {
    if (!src || !dst) return -1;
    const int32_t in = plat::open(src, plat::kRead);
    if (in < 0) {
        wkswin_printf("Cannot open file \"%s\" for reading", src);
        return -1;
    }
    // Onto itself, under any spelling or through any link: nothing to do.
    if (plat::same_file(src, dst)) {
        plat::close(in);
        return 0;
    }
    PendingResult out;
    if (!out.create(dst)) {
        plat::close(in);
        wkswin_printf("Cannot open file \"%s\" for writing", dst);
        return -1;
    }
    int16_t code = copy_bytes(in, out.fd());
    if (code == 0) code = out.commit();
    plat::close(in);
    if (code == 0) return 0;
    if (code == WKS_E_OPEN)  // not put in place
        wkswin_printf("Cannot open file \"%s\" for writing", dst);
    else
        wkserr(code);
    return -1;
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
