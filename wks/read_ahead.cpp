/* The table of handles that read ahead (read_ahead.h), and wks_read_ahead. */
#include "wks/read_ahead.h"

#include "platform/platform.h"
#include "wks/stream.h"

namespace wks {
namespace {

constexpr int32_t kSmallestBlock = 4096;
constexpr int32_t kLargestBlock = 1 << 24;

struct Slot {
    const WKS *owner = nullptr;  // null: free
    int32_t fd = -1;             // the descriptor the reader reads
    unsigned char *buffer = nullptr;
    BlockReader reader;
};

Slot g_slots[WKS_READ_AHEAD_MAX];
int g_taken = 0;

Slot *slot_of(const WKS *h) {
    for (Slot &s : g_slots)
        if (s.owner == h) return &s;
    return nullptr;
}

void free_slot(Slot &s) {
    plat::release(s.buffer);
    s = Slot();
    --g_taken;
}

}  // namespace

BlockReader *read_ahead_of(const WKS *h) {
    if (g_taken == 0) return nullptr;
    Slot *s = slot_of(h);
    return s && s->fd == h->fd ? &s->reader : nullptr;
}

void end_read_ahead(const WKS *h) {
    if (g_taken == 0) return;
    if (Slot *s = slot_of(h)) free_slot(*s);
}

void reset_read_ahead() {
    for (Slot &s : g_slots)
        if (s.owner) free_slot(s);
}

}  // namespace wks

using namespace wks;

extern "C" {

int16_t wks_read_ahead(WKS *h, int32_t bytes) {
    if (!h) return WKS_E_OPEN;
    if (h->mode != 'r' || h->fd < 0) return set_error(h, WKS_E_OPEN);
    if (read_ahead_of(h)) return set_error(h, 0);
    end_read_ahead(h);  // a slot left from an earlier descriptor of the handle
    Slot *s = slot_of(nullptr);
    const int32_t size = bytes < kSmallestBlock ? kSmallestBlock : bytes > kLargestBlock ? kLargestBlock : bytes;
    auto *buffer = s ? static_cast<unsigned char *>(plat::alloc(static_cast<std::size_t>(size))) : nullptr;
    if (!buffer) return set_error(h, WKS_E_NO_FORMULA_MEMORY);
    s->owner = h;
    s->fd = h->fd;
    s->buffer = buffer;
    s->reader.start(h->fd, buffer, static_cast<uint32_t>(size));
    ++g_taken;
    return set_error(h, 0);
}

}
