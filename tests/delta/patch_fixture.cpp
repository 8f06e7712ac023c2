#include "patch_fixture.h"

#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>

#include "diff_delta_encode.h"
#include "formats/crc32.h"
#include "patch_data.h"
#include "patch_data_writer.h"
#include "scratch_dir.h"

extern char **environ;

namespace {

std::vector<std::uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }

}  // namespace

std::string MakeDelta(const std::string &oldBytes, const std::string &newBytes) {
    const ScratchDir scratch("patchtest");
    std::vector<std::string> args = {WF_XDELTA3, "-e", "-S", "none", "-f", "-s", scratch.Put("old", oldBytes),
                                     scratch.Put("new", newBytes), scratch.File("delta")};
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    const bool ran = posix_spawn(&pid, WF_XDELTA3, nullptr, nullptr, argv.data(), environ) == 0 &&
                     waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ran) throw std::runtime_error("xdelta3 -e failed");
    return scratch.Get("delta");
}

std::string BuildPatchData(const std::vector<FilePair> &files, int kind) {
    std::vector<patchbuild::PatchDataFile> entries;
    for (const FilePair &pair : files) {
        patchbuild::PatchDataFile entry;
        entry.name = pair.name;
        entry.oldBytes = Bytes(pair.oldBytes);
        entry.newBytes = Bytes(pair.newBytes);
        entry.kind = kind;
        std::string error;
        if (kind == PATCH_DELTA_VCDIFF)
            entry.delta = Bytes(MakeDelta(pair.oldBytes, pair.newBytes));
        else if (!diffdelta::Encode(entry.oldBytes, entry.newBytes, &entry.delta, &error))
            throw std::runtime_error(error);
        entries.push_back(entry);
    }
    std::string data, error;
    if (!patchbuild::EncodePatchData(entries, &data, &error)) throw std::runtime_error(error);
    return data;
}

void Reseal(std::string *data) {
    if (data->size() < PATCH_HEADER_SIZE) return;
    const DWORD crc = Crc32(reinterpret_cast<const BYTE *>(data->data()) + PATCH_HEADER_SIZE,
                            static_cast<DWORD>(data->size() - PATCH_HEADER_SIZE));
    for (int i = 0; i < 4; ++i) (*data)[PATCH_HEADER_CRC + i] = static_cast<char>(crc >> (8 * i));
}

std::string SampleBytes(unsigned seed, size_t size) {
    std::string bytes;
    unsigned state = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        if ((state >> 16) % 4 == 0 && bytes.size() > 64) {
            // Repeat an earlier stretch, as code and tables do.
            const size_t from = (state >> 8) % (bytes.size() - 32);
            bytes += bytes.substr(from, 32);
        } else {
            bytes += static_cast<char>(state >> 24);
        }
    }
    bytes.resize(size);
    return bytes;
}
