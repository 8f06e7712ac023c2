// The whole sample run on winsim, from the probe to the restart question
// (answered Yes, then No), beside the floor: writing the same bytes (the
// expanded payload and the staging copies) with plain file copies. Each
// iteration starts from a fresh copy of the sample machine; only the run,
// or the copies, are timed. A third benchmark records the heap the
// installer's own code takes during one run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_patch.h"
#include "staging/extract.h"
#include "manifest/manifest.h"
#include "winsim.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = WF_SAMPLE_DIR;
const char kInstallDir[] = "Program Files/Quenmark/Wayfront";

// A scratch folder that goes with its owner.
struct Scratch {
    fs::path path;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "wfbench-XXXXXX").string();
        if (!mkdtemp(&pattern[0])) std::abort();
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

// A winsim machine with the sample installed, as the tests make it.
void MakeSampleMachine(const fs::path &root) {
    winsim::Reset(root.string());
    if (!winsim::LoadResFile(WF_RES_PATH)) std::abort();
    SetPatchModule(winsim::ModuleInstance());
    fs::copy(kSample + "/before/drive_c", root / "c", fs::copy_options::recursive);
    if (!winsim::ImportRegFile(kSample + "/before/machine.reg")) std::abort();
    winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
    winsim::QueueAnswers({IDYES, IDNO});
}

void RunOnce(benchmark::State &state) {
    Scratch scratch;
    MakeSampleMachine(scratch.path);
    const auto start = std::chrono::steady_clock::now();
    const int exitCode = RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    const auto end = std::chrono::steady_clock::now();
    // The run must have reached the restart question, or the time means nothing.
    if (exitCode != 0 || winsim::MessageBoxes().size() != 2 ||
        !fs::exists(scratch.path / "c" / kInstallDir / "wayfront.exX")) {
        state.SkipWithError("the sample run did not complete");
        return;
    }
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
}

void BM_WholeRun(benchmark::State &state) {
    winsim::SetPlatform(state.range(0) ? winsim::Platform::WindowsNT : winsim::Platform::Windows95);
    for (auto _ : state) RunOnce(state);
}
BENCHMARK(BM_WholeRun)->Arg(0)->Arg(1)->ArgName("nt")->UseManualTime()->Unit(benchmark::kMillisecond);

// The files a run writes in the patch directory: each payload entry
// expanded (the new version's files, the patcher and its data) and the five
// installed files staged. Their sources are the build's own copies.
std::vector<fs::path> RunBytes() {
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(kSample + "/pe/new")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("qm", 0) == 0 || name == "wfspell.dll") files.push_back(entry.path());
    }
    files.push_back(kSample + "/patch.rtp");
    files.push_back(WF_PATCHER_EXE);
    for (const char *name : {"wayfront.exe", "wfcore.dll", "wfview.dll", "wfprint.dll", "wfnet.dll"})
        files.push_back(kSample + "/before/drive_c/" + kInstallDir + "/" + name);
    return files;
}

void BM_PlainCopyFloor(benchmark::State &state) {
    const std::vector<fs::path> files = RunBytes();
    std::uintmax_t bytes = 0;
    for (const fs::path &file : files) bytes += fs::file_size(file);
    for (auto _ : state) {
        Scratch scratch;
        const fs::path to = scratch.path / "PatchB2C";
        fs::create_directory(to);
        const auto start = std::chrono::steady_clock::now();
        for (const fs::path &file : files) fs::copy_file(file, to / file.filename());
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PlainCopyFloor)->UseManualTime()->Unit(benchmark::kMillisecond);

// The payload's part of the run alone: fourteen entries expanded into the
// patch directory (LZ32 over libmspack for the SZDD ones).
void BM_ExtractPayloads(benchmark::State &state) {
    for (auto _ : state) {
        Scratch scratch;
        MakeSampleMachine(scratch.path);
        const char patchDir[] = "C:\\Program Files\\Quenmark\\Wayfront\\PatchB2C";
        CreateDirectoryA(patchDir, nullptr);
        const auto start = std::chrono::steady_clock::now();
        const int ok = ExtractPayloads(patchDir);
        const auto end = std::chrono::steady_clock::now();
        if (!ok) {
            state.SkipWithError("the payload was not extracted");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}
BENCHMARK(BM_ExtractPayloads)->UseManualTime()->Unit(benchmark::kMillisecond);

// One run's heap: every block the installer's code asks winsim for.
void BM_RunHeap(benchmark::State &state) {
    for (auto _ : state) {
        Scratch scratch;
        MakeSampleMachine(scratch.path);
        RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        const winsim::HeapStats heap = winsim::GetHeapStats();
        state.counters["peak_bytes"] = static_cast<double>(heap.peakBytes);
        state.counters["allocations"] = static_cast<double>(heap.allocations);
        state.counters["live_bytes_after"] = static_cast<double>(heap.liveBytes);
        state.SetIterationTime(1e-3);
    }
}
BENCHMARK(BM_RunHeap)->UseManualTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
