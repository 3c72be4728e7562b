/*
 * Scratch room for the strings one evaluation makes (concatenations, @MID,
 * @STRING...).  Handed-out text never moves until reset(), so values on the
 * evaluation stack may point into it.  Chunks are kept across resets, so a
 * steady stream of evaluations allocates nothing once the arena has grown to
 * the largest formula's need.
 */
#ifndef WKS_CALC_TEXT_ARENA_H
#define WKS_CALC_TEXT_ARENA_H

#include <cstddef>

namespace wks::calc {

class TextArena {
public:
    TextArena() = default;
    ~TextArena();
    TextArena(const TextArena &) = delete;
    TextArena &operator=(const TextArena &) = delete;

    // n bytes that stay put until reset(), or null when the heap refuses.
    char *take(std::size_t n);
    // Makes all room free again; keeps the chunks.
    void reset();

private:
    struct Chunk {
        Chunk *next;
        std::size_t size;
        // the bytes follow
    };
    static constexpr std::size_t kChunkBytes = 16384;

    Chunk *first_ = nullptr;
    Chunk *current_ = nullptr;
    std::size_t used_ = 0;  // bytes taken from current_
};

}  // namespace wks::calc

#endif
