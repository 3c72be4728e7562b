/*
 * The record stream against its floor: reading 1,000,000 small records with
 * wksnextr against a bare loop of the same read calls (one per record: its
 * body and the next record's 4-byte header), and writing them with wkswrec
 * against bare write calls.  Each iteration is one whole file.
 */
#include "bench/bench_files.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int kRecordBytes = 4 + bench::kSmallBody;
constexpr int kBofRecord = 6;

void BM_ReadFloor(benchmark::State &state) {
    const std::string &path = bench::small_records_file();
    unsigned char buf[WKS_HEADER_SIZE];
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        // The header block and the BOF record with the first record's header, as the open reads them.
        if (::read(fd, buf, WKS_HEADER_SIZE) < 0 || ::read(fd, buf, kBofRecord + 4) < 0)
            state.SkipWithError("read failed");
        for (int i = 0; i < bench::kSmallRecords; ++i) benchmark::DoNotOptimize(::read(fd, buf, kRecordBytes));
        ::close(fd);
    }
    state.SetItemsProcessed(state.iterations() * bench::kSmallRecords);
}

void BM_ReadWksnextr(benchmark::State &state) {
    const std::string &path = bench::small_records_file();
    bench::quiet();
    set_open_for_load(0);  // check the header block, keep nothing
    WKS h;
    for (auto _ : state) {
        std::memset(&h, 0, sizeof h);
        if (!wksopen(&h, path.c_str(), "")) state.SkipWithError("open failed");
        int n = 0;
        while (wksnextr(&h) == 0) ++n;
        wksclose(&h);
        if (n != bench::kSmallRecords) state.SkipWithError("wrong record count");
    }
    set_open_for_load(1);
    state.SetItemsProcessed(state.iterations() * bench::kSmallRecords);
}

void BM_WriteFloor(benchmark::State &state) {
    const std::string path = bench::scratch("write-floor.orx");
    WKS_RECORD rec;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        bench::small_record(rec, 0);  // BOF-sized first write
        if (::write(fd, &rec, kBofRecord) < 0) state.SkipWithError("write failed");
        for (int i = 0; i < bench::kSmallRecords; ++i) {
            bench::small_record(rec, i);
            benchmark::DoNotOptimize(::write(fd, &rec, kRecordBytes));
        }
        if (::write(fd, &rec, 4) < 0) state.SkipWithError("write failed");  // EOF record
        ::close(fd);
    }
    state.SetItemsProcessed(state.iterations() * bench::kSmallRecords);
}

void BM_WriteWkswrec(benchmark::State &state) {
    const std::string path = bench::scratch("write.orx");
    bench::quiet();
    WKS h;
    for (auto _ : state) {
        std::memset(&h, 0, sizeof h);
        if (!wksopen(&h, "", path.c_str())) state.SkipWithError("create failed");
        for (int i = 0; i < bench::kSmallRecords; ++i) {
            bench::small_record(h.rec, i);
            wkswrec(&h);
        }
        wksclose(&h);
    }
    state.SetItemsProcessed(state.iterations() * bench::kSmallRecords);
}

}  // namespace

BENCHMARK(BM_ReadFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWksnextr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteWkswrec)->Unit(benchmark::kMillisecond);
