/*
 * The missing-file notices.  While the host has Open_for_atat set, a file
 * that cannot be opened or is not an ORX file is reported once per file name
 * (names compared without regard to case) instead of through an error code.
 * Owns the list of names already reported: at most 64 owned copies, emptied
 * only by cleanup_file_list.
 */
#include "platform/platform.h"
#include "wks.h"

#include <cstring>

namespace plat = wks::plat;

namespace {

constexpr int kMaxListedFiles = 64;

char *g_files[kMaxListedFiles];
int g_file_count = 0;

}  // namespace

extern "C" {

int32_t in_file_list(const char *name) {
    if (!name) return 1;  // nothing to record, and no notice to give
    for (int i = 0; i < g_file_count; ++i)
        if (plat::stricmp(g_files[i], name) == 0) return 1;
    if (g_file_count == kMaxListedFiles) return 0;  // full: reported every time from now on
    std::size_t size = std::strlen(name) + 1;
    char *copy = static_cast<char *>(plat::alloc(size));
    if (!copy) {
        wkswin_printf("Out of Memory!!!");
        return 1;  // no notice follows
    }
    std::memcpy(copy, name, size);
    g_files[g_file_count++] = copy;
    return 0;
}

void cleanup_file_list(void) {
    for (int i = 0; i < g_file_count; ++i) {
        plat::release(g_files[i]);
        g_files[i] = nullptr;
    }
    g_file_count = 0;
}

int16_t msg_for_atat(const char *path, const char *what) {
    if (Open_for_atat != 0 && in_file_list(path) == 0)
        wkswin_printf("File '%s' %s\n\nProcess will continue but the results may be incorrect.", path,
                      what ? what : "");
    return Open_for_atat;
}

}
