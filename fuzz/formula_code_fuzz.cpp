/*
 * Formula code bytes -> wksfr, for any cell and any output size.
 *
 * Input: column (2 bytes), row (2), output size (2, taken modulo 4100),
 * flags (1: bit 0 defines range names first, bit 1 takes the length word from
 * the next 2 bytes instead of the code's own size), then the code items.
 *
 * The code lies in a buffer exactly its length word long, and the output in
 * one exactly `size` long, so a read or write past either is seen.  On
 * success the text must end with its NUL inside the output; after a failure
 * the code must be one of the decoder's own (15, 18, 19).
 */
#include "fuzz_support.h"

#include "wks/bytes.h"
#include "wks/layout.h"

#include <cstring>
#include <memory>
#include <string>

using namespace wksfuzz;

namespace {

constexpr int32_t kFile = 7;
constexpr uint16_t kSizeModulus = 4100;

void define_names() {
    wksir(kFile, "TOTAL", 0, 0, 3, 9);
    wksir(kFile, "ONE", 1, 1, 1, 1);
    wksir(kFile, "Q", 2, 4, 2, 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    const int16_t col = in.i16();
    const int16_t row = in.i16();
    const int32_t out_size = in.u16() % kSizeModulus;
    const uint8_t flags = in.u8();
    std::size_t length = flags & 2 ? in.u16() : 0xFFFF;
    if (length > in.left()) length = in.left();
    if (flags & 1) define_names();

    std::unique_ptr<unsigned char[]> codebuf(new unsigned char[wks::kCodeLengthSize + length]);
    wks::put_u16(codebuf.get(), static_cast<uint16_t>(length));
    std::memcpy(codebuf.get() + wks::kCodeLengthSize, in.rest(), length);
    std::unique_ptr<char[]> out(new char[out_size > 0 ? out_size : 1]);

    const int16_t rc = wksfr(kFile, col, row, codebuf.get(), out.get(), out_size);
    if (rc == 0) {
        if (out_size < 1 || std::memchr(out.get(), 0, static_cast<std::size_t>(out_size)) == nullptr)
            fail("decoded text has no NUL inside the output");
    } else if (rc != WKS_E_BAD_FUNCTION && rc != WKS_E_DECODE_SPACE && rc != WKS_E_DECODE_DEPTH) {
        fail("unexpected decoder code", std::to_string(rc));
    }
    end_input();
    return 0;
}
