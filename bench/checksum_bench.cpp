// FileChecksum on a 64 MiB file of a winsim machine (a host file, in the
// page cache after it is written), beside the plain byte-at-a-time loop
// over the same table on the same bytes held in memory. Both results are
// checked equal before anything is timed.
//
// Times are CPU times of this process (user and system, so the reads
// count): the machine is shared, and wall-clock times swing with the load.
// The Google Benchmark table goes to stderr; the section's row, from the
// medians of this run, to stdout.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "install_check/checksum.h"
#include "winsim.h"

namespace {

const char kFile[] = "C:\\checksum.bin";
const std::size_t kFileSize = 64u << 20;

// The reflected CRC-32 table, built the long way.
std::array<DWORD, 256> MakeTable() {
    std::array<DWORD, 256> table{};
    for (DWORD i = 0; i < 256; ++i) {
        DWORD entry = i;
        for (int bit = 0; bit < 8; ++bit) entry = (entry & 1) ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
        table[i] = entry;
    }
    return table;
}

const std::array<DWORD, 256> kTable = MakeTable();

DWORD PlainLoop(const std::string &bytes) {
    DWORD value = 0;
    for (unsigned char b : bytes) value ^= kTable[(value ^ b) & 0xFF];
    return value;
}

std::string *g_bytes;  // the file's bytes, for the in-memory loop

void BM_FileChecksum(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(FileChecksum(kFile));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_FileChecksum)->Unit(benchmark::kMillisecond);

void BM_PlainByteLoop(benchmark::State &state) {
    for (auto _ : state) benchmark::DoNotOptimize(PlainLoop(*g_bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_PlainByteLoop)->Unit(benchmark::kMillisecond);

// Not in the row: ChecksumBytes alone on the bytes in memory, to tell the
// loop's speed from the reading's.
void BM_ChecksumBytesInMemory(benchmark::State &state) {
    const BYTE *bytes = reinterpret_cast<const BYTE *>(g_bytes->data());
    for (auto _ : state) benchmark::DoNotOptimize(ChecksumBytes(bytes, static_cast<DWORD>(g_bytes->size()), 0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}
BENCHMARK(BM_ChecksumBytesInMemory)->Unit(benchmark::kMillisecond);

// The console table, on stderr; keeps each benchmark's median rate.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.aggregate_name != "median" || run.error_occurred) continue;
            auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) continue;
            if (run.run_name.function_name == "BM_FileChecksum") ours = rate->second.value;
            if (run.run_name.function_name == "BM_PlainByteLoop") reference = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double ours = 0, reference = 0;
};

// A winsim machine in its own temporary folder, removed at the end.
struct Machine {
    std::filesystem::path root;
    Machine() {
        std::string pattern = (std::filesystem::temp_directory_path() / "wf-checksum-XXXXXX").string();
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        root = pattern;
        winsim::Reset(pattern);
    }
    ~Machine() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Machine machine;
    std::string bytes(kFileSize, '\0');
    std::mt19937 random(20240611);
    for (char &c : bytes) c = static_cast<char>(random());
    if (!winsim::WriteWholeFile(kFile, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", kFile);
        return 1;
    }
    g_bytes = &bytes;
    const DWORD expected = PlainLoop(bytes);
    const DWORD got = FileChecksum(kFile);
    if (got != expected) {
        std::fprintf(stderr, "FileChecksum gives %08lX, the byte loop %08lX\n", (unsigned long)got,
                     (unsigned long)expected);
        return 1;
    }

    MedianReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.ours <= 0 || reporter.reference <= 0) {
        std::fprintf(stderr, "no median for one of the two benchmarks\n");
        return 1;
    }
    const double ratio = reporter.ours / reporter.reference;
    std::printf("FileChecksum MB/s: 64 MiB winsim file (page cache) vs plain byte loop (in memory)\t"
                "%.0f MB/s\t%.0f MB/s\t%.1fx\t>= 5x\t%s\n",
                reporter.ours / 1e6, reporter.reference / 1e6, ratio, ratio >= 5.0 ? "met" : "not met");
    return 0;
}
