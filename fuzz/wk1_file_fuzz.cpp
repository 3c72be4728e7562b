/*
 * WK1 file bytes -> wksopen_wk1 and reading, then both converters on the
 * same bytes, to another file and onto the file itself.
 *
 * Input: flags (1 byte: bit 0 also converts onto the source itself), then
 * the file's bytes.
 *
 *   read:     open, wksnextr_wk1 to the end (or the first failure), close;
 *   wk1_to_orx and orx_to_wk1 of the bytes to a second file: the source is
 *             untouched, the result one of the documented ones, an ORX
 *             result opens as an ORX file, and a failed conversion creates
 *             no destination;
 *   same path (bit 0): a failed conversion leaves the file byte for byte as
 *             it was; no temporary file outlives the call either way.
 * The converters run in the harness's private directory, where they put
 * their temporary files.
 */
#include "fuzz_support.h"

#include <cstring>
#include <filesystem>
#include <string>

using namespace wksfuzz;
namespace fs = std::filesystem;

namespace {

void read_through(const std::string &file, std::size_t size) {
    WKS h;
    std::memset(&h, 0, sizeof h);
    if (!wksopen_wk1(&h, file.c_str(), "")) return;
    read_to_end(h, wksnextr_wk1, size);
    wksclose_wk1(&h);
}

bool known_wk1_to_orx(int32_t r) { return r <= WKS_CONVERTED && r >= WKS_CONVERT_OUTPUT_FAILED; }
bool known_orx_to_wk1(int32_t r) { return known_wk1_to_orx(r) && r != WKS_CONVERT_NO_MEMORY; }
// A result that wrote the destination: converted, with or without a cut text.
bool converted(int32_t r) { return r == WKS_CONVERTED || r == WKS_CONVERT_TEXT_CUT; }

// Only the files the target itself made may be in the directory.
void expect_no_strays(std::initializer_list<const char *> known) {
    for (const auto &entry : fs::directory_iterator(path(""))) {
        const std::string name = entry.path().filename().string();
        bool ok = false;
        for (const char *k : known) ok = ok || name == k;
        if (!ok) fail("a temporary file was left behind", name);
    }
}

void to_another_file(const std::string &in, const Bytes &input) {
    const std::string orx = path("out.orx"), wk1 = path("out.wk1");
    const int32_t a = wk1_to_orx(in.c_str(), orx.c_str());
    if (!known_wk1_to_orx(a)) fail("wk1_to_orx result", std::to_string(a));
    if (read_file(in) != input) fail("wk1_to_orx changed its source");
    if (converted(a) && wks_open_close(orx.c_str()) != 1) fail("wk1_to_orx wrote no ORX file");
    if (!converted(a) && file_exists(orx)) fail("a failed wk1_to_orx left a destination", std::to_string(a));
    const int32_t b = orx_to_wk1(in.c_str(), wk1.c_str());
    if (!known_orx_to_wk1(b)) fail("orx_to_wk1 result", std::to_string(b));
    if (read_file(in) != input) fail("orx_to_wk1 changed its source");
    if (!converted(b) && file_exists(wk1)) fail("a failed orx_to_wk1 left a destination", std::to_string(b));
    if (converted(a)) {
        // What one converter wrote, the other reads.
        const int32_t c = orx_to_wk1(orx.c_str(), wk1.c_str());
        if (!converted(c)) fail("orx_to_wk1 refuses wk1_to_orx's output", std::to_string(c));
        if (is_wk1_file(wk1.c_str()) != 1) fail("orx_to_wk1 wrote no WK1 file");
    }
    expect_no_strays({"in.wk1", "out.orx", "out.wk1"});
}

void onto_itself(const Bytes &input) {
    const std::string same = path("same.wk1");
    write_file(same, input.data(), input.size());
    const int32_t a = wk1_to_orx(same.c_str(), same.c_str());
    if (!known_wk1_to_orx(a)) fail("wk1_to_orx onto itself: result", std::to_string(a));
    if (!converted(a) && read_file(same) != input) fail("failed wk1_to_orx onto itself lost the source");
    if (converted(a) && wks_open_close(same.c_str()) != 1) fail("wk1_to_orx onto itself wrote no ORX file");

    write_file(same, input.data(), input.size());
    const int32_t b = orx_to_wk1(same.c_str(), same.c_str());
    if (!known_orx_to_wk1(b)) fail("orx_to_wk1 onto itself: result", std::to_string(b));
    if (!converted(b) && read_file(same) != input) fail("failed orx_to_wk1 onto itself lost the source");
    expect_no_strays({"in.wk1", "out.orx", "out.wk1", "same.wk1"});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    const uint8_t flags = in.u8();
    const std::string file = path("in.wk1");
    const Bytes input = write_rest(in, file);
    {
        InWorkDir here;
        read_through(file, input.size());
        to_another_file(file, input);
        if (flags & 1) onto_itself(input);
    }
    end_input();
    return 0;
}
