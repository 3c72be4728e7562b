/* The evaluation scratch arena: a chain of chunks filled front to back. */
#include "calc/text_arena.h"

#include "platform/platform.h"

namespace wks::calc {

namespace {
char *bytes_of(void *chunk, std::size_t header) { return static_cast<char *>(chunk) + header; }
}  // namespace

TextArena::~TextArena() {
    for (Chunk *c = first_, *next; c; c = next) {
        next = c->next;
        plat::release(c);
    }
}

char *TextArena::take(std::size_t n) {
    constexpr std::size_t kHeader = (sizeof(Chunk) + 15) / 16 * 16;
    if (n == 0) n = 1;
    // Go on in the current chunk, or in the next kept one that is big enough.
    while (current_ && used_ + n > current_->size) {
        Chunk *next = current_->next;
        if (!next) break;
        current_ = next;
        used_ = 0;
    }
    if (!current_ || used_ + n > current_->size) {
        const std::size_t size = n > kChunkBytes ? n : kChunkBytes;
        auto *chunk = static_cast<Chunk *>(plat::alloc(kHeader + size));
        if (!chunk) return nullptr;
        chunk->size = size;
        chunk->next = nullptr;
        if (current_) {
            chunk->next = current_->next;
            current_->next = chunk;
        } else {
            first_ = chunk;
        }
        current_ = chunk;
        used_ = 0;
    }
    char *p = bytes_of(current_, kHeader) + used_;
    used_ += n;
    return p;
}

void TextArena::reset() {
    current_ = first_;
    used_ = 0;
}

}  // namespace wks::calc
