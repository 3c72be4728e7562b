/*
 * ORX file bytes -> the three openings of wksopen.
 *
 * Input: flags (1 byte: bit 0 load mode, bit 1 read cells only with wksnextc
 * instead of every record with wksnextr), then the file's bytes.
 *
 *   read:   open, read to the end (or the first failure), close;
 *   copy:   open the file into a second path, close; when both succeed the
 *           output is the input's records, byte for byte, without header
 *           block, then an EOF record;
 *   append: open a copy of the file in append mode, close; when both
 *           succeed the file is what it was with the EOF record the opening
 *           met (the first record of type 1) replaced by a well-formed one,
 *           01 00 00 00, whatever its length field held; the bytes after
 *           those 4 stay.  A well-formed file comes out as it was.
 * Every handle is closed, every header block taken back, every range name
 * dropped before the next input, and no descriptor may stay open.
 */
#include "fuzz_support.h"

#include "wks/layout.h"

#include <cstring>
#include <string>

using namespace wksfuzz;

namespace {

constexpr std::size_t kHeaderBlock = WKS_HEADER_SIZE;
constexpr std::size_t kRecordHead = wks::kRecordHeaderSize;
const uint8_t kEof[kRecordHead] = {1, 0, 0, 0};

void read_through(const std::string &file, bool cells_only, std::size_t size) {
    WKS h;
    std::memset(&h, 0, sizeof h);
    if (!wksopen(&h, file.c_str(), "")) return;
    read_to_end(h, cells_only ? wksnextc : wksnextr, size, WKS_E_UNSORTED);  // order is checked, not required
    wksclose(&h);
}

void copy(const std::string &file, const Bytes &input) {
    const std::string out = path("copy.orx");
    WKS h;
    std::memset(&h, 0, sizeof h);
    const bool opened = wksopen(&h, file.c_str(), out.c_str()) != nullptr;
    if (opened && wksclose(&h) == 0) {
        const Bytes got = read_file(out);
        if (got.size() < kRecordHead || input.size() < kHeaderBlock + got.size() - kRecordHead)
            fail("copy: output size", std::to_string(got.size()));
        if (std::memcmp(got.data(), input.data() + kHeaderBlock, got.size() - kRecordHead) != 0 ||
            std::memcmp(got.data() + got.size() - kRecordHead, kEof, kRecordHead) != 0)
            fail("copy: output is not the input's records");
    }
    wkscs();
}

// Where the first record of type 1 starts, walking record heads from the
// start of data; size when the walk runs out of bytes first.
std::size_t eof_offset(const uint8_t *data, std::size_t size) {
    std::size_t at = 0;
    while (at + kRecordHead <= size && (data[at] | data[at + 1] << 8) != WKS_EOF)
        at += kRecordHead + static_cast<std::size_t>(data[at + 2] | data[at + 3] << 8);
    // A final EOF record cut short after its type word.
    return at + 2 <= size && (data[at] | data[at + 1] << 8) == WKS_EOF ? at : size;
}

void append(const uint8_t *data, std::size_t size) {
    const std::string file = path("append.orx");
    write_file(file, data, size);
    WKS h;
    std::memset(&h, 0, sizeof h);
    const bool opened = wksopen(&h, file.c_str(), file.c_str()) != nullptr;
    if (opened && wksclose(&h) == 0) {
        const std::size_t eof = eof_offset(data, size);
        if (eof == size) fail("append: opened a file without an EOF record");
        Bytes want(data, data + size);
        if (want.size() < eof + kRecordHead) want.resize(eof + kRecordHead);
        std::memcpy(want.data() + eof, kEof, kRecordHead);
        if (read_file(file) != want) fail("append: file changed beyond its EOF record");
    }
    wkscs();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    const uint8_t flags = in.u8();
    const std::string file = path("input.orx");
    const Bytes input = write_rest(in, file);

    set_open_for_load(flags & 1);
    read_through(file, flags & 2, input.size());
    wks_cleanup();
    copy(file, input);
    wks_cleanup();
    append(input.data(), input.size());
    end_input();
    return 0;
}
