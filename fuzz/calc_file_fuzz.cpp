/*
 * WK1 or ORX file bytes -> wks_calc_file, checking and then (when asked)
 * writing in place.
 *
 * Input: flags (1 byte: bit 0 also writes the values into the file; bits
 * 1-2 the iterations, 0 to 3; bits 3-4 the character set), then the
 * file's bytes.
 *
 *   check:  the result is one of the documented ones, the file keeps its
 *           bytes, the counts are consistent;
 *   write:  a failure leaves the file as it was; a success leaves a file
 *           that opens and checks again, with the same number of formulas,
 *           and nothing beside it; when the sheet has no circular reference
 *           (and its rounds of @@ settled), that check finds no difference:
 *           the values depend on the stored ones only through circular
 *           references (both runs are reproducible: @NOW and @RAND fixed).
 * Time per input is bounded by the run's timeout, which counts as a
 * finding: no formula may cost more than quadratic work in its ranges.
 */
#include "fuzz_support.h"

#include "calc/recalc.h"

#include <filesystem>
#include <string>

using namespace wksfuzz;
namespace fs = std::filesystem;

namespace {

bool known(int16_t r) {
    return r == 0 || r == WKS_E_OPEN || r == WKS_E_READ || r == WKS_E_WRITE || r == WKS_E_CLOSE ||
           r == WKS_E_NO_FORMULA_MEMORY;
}

void check_counts(const WKS_CALC &s) {
    if (s.formulas < 0 || s.differences < 0 || s.differences > s.formulas || s.circular < 0 ||
        s.circular > s.formulas || s.passes < 1)
        fail("wks_calc_file counts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    begin_input();
    Reader in(data, size);
    const uint8_t flags = in.u8();
    const int32_t iterations = (flags >> 1) & 3;
    const int32_t mode = WKS_CALC_REPRODUCIBLE | ((flags >> 3) & 3) << 4;  // WKS_CALC_CHARSET_*
    const std::string file = path("book");
    const Bytes input = write_rest(in, file);
    {
        InWorkDir here;
        WKS_CALC summary{};
        const int16_t r = wks_calc_file(file.c_str(), WKS_CALC_CHECK | mode, iterations, nullptr,
                                        nullptr, &summary);
        if (!known(r)) fail("wks_calc_file --check result", std::to_string(r));
        if (read_file(file) != input) fail("wks_calc_file --check changed the file");
        if (r == 0) check_counts(summary);
        if (r == 0 && (flags & 1)) {
            WKS_CALC written{};
            const int16_t w = wks_calc_file(file.c_str(), mode, iterations, nullptr, nullptr, &written);
            if (!known(w)) fail("wks_calc_file result", std::to_string(w));
            if (w != 0 && read_file(file) != input) fail("a failed wks_calc_file changed the file");
            WKS_CALC again{};
            if (w == 0 && wks_calc_file(file.c_str(), WKS_CALC_CHECK | mode, iterations, nullptr,
                                        nullptr, &again) != 0)
                fail("wks_calc_file wrote a file it cannot read back");
            if (w == 0 && again.formulas != summary.formulas) fail("the formulas changed in number");
            if (w == 0 && written.circular == 0 && written.passes < wks::calc::kMaxRounds && again.differences != 0)
                fail("a second calculation changed values", std::to_string(again.differences));
            for (const auto &entry : fs::directory_iterator(path("")))
                if (entry.path().filename().string() != "book") fail("a file was left behind", entry.path().string());
        }
    }
    end_input();
    return 0;
}
