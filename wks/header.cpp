/*
 * Owns the header mode (load, convert or probe) and the two lasting block
 * buffers: the host's and the converter's.  Each buffer is empty or holds one
 * 2652-byte block allocated here; a block leaves a buffer only by being
 * taken (GetOrxHeader), written (save_header), replaced or cleaned up.
 */
#include "wks/header.h"

#include "platform/platform.h"
#include "wks.h"
#include "wks/bytes.h"

#include <cstring>

namespace wks::header {
namespace {

int32_t g_mode = kLoad;
unsigned char *g_host_block = nullptr;
unsigned char *g_converter_block = nullptr;

// The lasting buffer a mode reads into and writes from, or null for probe
// and unknown modes.
unsigned char **buffer_of(int32_t m) {
    if (m == kLoad) return &g_host_block;
    if (m == kConvert) return &g_converter_block;
    return nullptr;
}

void drop(unsigned char *&block) {
    plat::release(block);
    block = nullptr;
}

bool has_magic(const unsigned char *block) {
    return get_u16(block + kMagicOffset1) == kMagic1 && get_u16(block + kMagicOffset2) == kMagic2;
}

void set_magic(unsigned char *block) {
    put_u16(block + kMagicOffset1, kMagic1);
    put_u16(block + kMagicOffset2, kMagic2);
}

unsigned char *new_block() {
    unsigned char *block = static_cast<unsigned char *>(plat::alloc(WKS_HEADER_SIZE));
    if (!block) wkswin_printf("Out of Memory!!!");
    return block;
}

// Fills a fresh block from fd (one read call; a short file leaves zeros,
// which fail the magic check).
void fill_from(int32_t fd, unsigned char *block) {
    std::memset(block, 0, WKS_HEADER_SIZE);
    plat::read(fd, block, WKS_HEADER_SIZE);
}

}  // namespace

int32_t mode() { return g_mode; }
void set_mode(int32_t m) { g_mode = m; }

int32_t write_block(int32_t fd) {
    unsigned char **buffer = buffer_of(g_mode);
    if (!buffer || !*buffer) return -1;
    if (plat::write(fd, *buffer, WKS_HEADER_SIZE) != WKS_HEADER_SIZE) return kSaveFailed;
    return 0;
}

void release_written_block() {
    if (unsigned char **buffer = buffer_of(g_mode)) drop(*buffer);
}

bool prepare_converter_block() {
    drop(g_converter_block);
    g_converter_block = static_cast<unsigned char *>(plat::alloc(WKS_HEADER_SIZE));
    if (!g_converter_block) return false;
    std::memset(g_converter_block, 0, WKS_HEADER_SIZE);
    set_magic(g_converter_block);
    return true;
}

void release_converter_block() { drop(g_converter_block); }

void reset() {
    drop(g_host_block);
    drop(g_converter_block);
    g_mode = kLoad;
}

}  // namespace wks::header

using namespace wks;
using namespace wks::header;

extern "C" {

int32_t read_header_not_load(int32_t fd) {
    unsigned char *block = new_block();
    if (!block) return -2;
    fill_from(fd, block);
    int32_t result = has_magic(block) ? 0 : -1;
    plat::release(block);
    return result;
}

int32_t read_header(int32_t fd) {
    if (g_mode == kProbe) return read_header_not_load(fd);
    unsigned char **buffer = buffer_of(g_mode);
    if (!buffer) return 0;
    drop(*buffer);  // a block still waiting is replaced
    unsigned char *block = new_block();
    if (!block) return -2;
    fill_from(fd, block);
    if (!has_magic(block)) {
        plat::release(block);
        return -1;
    }
    *buffer = block;
    return 0;
}

int32_t save_header(int32_t fd) {
    const int32_t result = write_block(fd);
    if (result == 0) release_written_block();
    return result;
}

int32_t GetOrxHeader(unsigned char *dst) {
    if (!g_host_block || !dst) return 0;
    std::memcpy(dst, g_host_block, WKS_HEADER_SIZE);
    drop(g_host_block);
    return 1;
}

int32_t SetOrxHeader(const unsigned char *src) {
    if (!src) return 0;
    if (!g_host_block) {
        g_host_block = new_block();
        if (!g_host_block) return 0;
    }
    std::memcpy(g_host_block, src, WKS_HEADER_SIZE);
    set_magic(g_host_block);
    return 1;
}

unsigned char *get_orx_header(void) { return g_host_block; }

void set_open_for_load(int32_t flag) { g_mode = flag ? kLoad : kProbe; }

void wks_cleanup(void) {
    drop(g_host_block);
    drop(g_converter_block);
}

int32_t get_header(void *, void *, void *, void *) { return 0; }

int32_t set_header(void *, void *, int32_t, int32_t) { return 0; }

}
