/*
 * Formula compile (wksfe) and decode (wksfr) rates: on a mix of short and
 * long formulas (formulas and text bytes per second), on A1+B1*2 alone, and
 * decoding with 10,000 range names in the table against none.
 */
#include "bench/bench_files.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kFile = 1;
constexpr int16_t kCol = 2, kRow = 2;  // the formulas' cell, C3
constexpr int kNames = 10000;
constexpr int kCodeSize = 2048;
constexpr int kTextSize = 4096;

const char *const kMix[] = {
    "A1+B1*2",
    "@SUM(A1..A10)",
    "$C$3/2",
    "B2*C2-D2",
    "@IF(@SUM(A1..D20)>1000#AND#$B$9<0.5,@ROUND(@AVG(B2..B50)*1.19,2),@MAX(C1..C100)-@MIN(C1..C100))",
    "(A1+B2+C3+D4+E5+F6+G7+H8)/(I9-J10)*@SQRT(@ABS(K11))",
    "@VLOOKUP($A$1,$D$2..$H$200,3)+@NPV(0.05,B1..B12)",
    "@UPPER(\"total\")",
};
const char *const kSimple[] = {"A1+B1*2"};

struct Compiled {
    std::vector<std::vector<unsigned char>> codes;
    std::size_t text_bytes = 0;
};

template <std::size_t N>
Compiled compile_all(const char *const (&texts)[N]) {
    Compiled c;
    for (const char *t : texts) {
        std::vector<unsigned char> code(kCodeSize);
        wksfe(kFile, kCol, kRow, t, code.data(), kCodeSize);
        code.resize(2 + (code[0] | code[1] << 8));
        c.codes.push_back(code);
        c.text_bytes += std::strlen(t);
    }
    return c;
}

template <std::size_t N>
void compile(benchmark::State &state, const char *const (&texts)[N]) {
    wkscs();
    unsigned char out[kCodeSize];
    std::size_t bytes = 0;
    for (const char *t : texts) bytes += std::strlen(t);
    for (auto _ : state) {
        for (const char *t : texts) {
            if (wksfe(kFile, kCol, kRow, t, out, kCodeSize) != 0) state.SkipWithError("does not compile");
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(N));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

void decode(benchmark::State &state, const Compiled &c) {
    char out[kTextSize];
    for (auto _ : state) {
        for (const auto &code : c.codes) {
            if (wksfr(kFile, kCol, kRow, code.data(), out, kTextSize) != 0) state.SkipWithError("does not decode");
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.codes.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.text_bytes));
}

void BM_Compile_Mix(benchmark::State &state) { compile(state, kMix); }
void BM_Compile_Simple(benchmark::State &state) { compile(state, kSimple); }

void BM_Decode_Mix(benchmark::State &state) {
    wkscs();
    decode(state, compile_all(kMix));
}
void BM_Decode_Simple(benchmark::State &state) {
    wkscs();
    decode(state, compile_all(kSimple));
}

// The mix decoded with none or kNames range names under the file number in
// the table: names on cells and ranges far below the ones the mix refers to,
// so the text stays the same and every lookup misses.
void BM_Decode_Names(benchmark::State &state) {
    bench::quiet();
    wkscs();
    const Compiled c = compile_all(kMix);
    for (int i = 0; i < state.range(0); ++i) {
        const std::string name = "N" + std::to_string(i);
        const auto col = static_cast<int16_t>(i % 256), row = static_cast<int16_t>(1000 + i / 256);
        const bool range = i % 2 != 0;
        wksir(kFile, name.c_str(), col, row, range ? static_cast<int16_t>((col + 1) % 256) : col,
              range ? static_cast<int16_t>(row + 1) : row);
    }
    decode(state, c);
    wkscs();
}

}  // namespace

BENCHMARK(BM_Compile_Mix);
BENCHMARK(BM_Compile_Simple);
BENCHMARK(BM_Decode_Mix);
BENCHMARK(BM_Decode_Simple);
BENCHMARK(BM_Decode_Names)->Arg(0)->Arg(kNames);
