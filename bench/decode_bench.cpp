// Helpers of the decoding benchmark (bench/decode.sh), one per command:
//
//   decode_bench make-pair SIZE_MIB SEED OLD NEW
//       A generated "old" file and a "new" one made from it by the edits a
//       rebuild makes: blocks changed in place, inserted, deleted, moved.
//   decode_bench pack NAME OLD NEW DELTA OUT
//       Patch data (patch.rtp) of one entry whose delta is the given file,
//       so that the patcher and xdelta3 apply the very same delta.
//   decode_bench delta OLD NEW OUT
//       The delta patchbuild would put in patch.rtp for the pair (the
//       smaller of VCDIFF and the difference delta, each checked with the
//       patcher's decoder); prints its kind, "vcdiff" or "difference".
//   decode_bench decode OLD DELTA OUT
//       What `xdelta3 -d -s OLD DELTA OUT` does, with our decoder, the way
//       the patcher runs it: the source and the delta read at offsets, the
//       target written as it is decoded, through one window and the read
//       buffers the patcher has (delta_io.h), and read back for repeats
//       that reach further. Exit 1 with a message
//       when the delta does not decode. A delta that is not VCDIFF is taken
//       for a difference delta.
//   decode_bench difference OLD NEW OUT
//       The difference delta of the pair, whatever its size beside VCDIFF.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diff_delta.h"
#include "diff_delta_encode.h"
#include "patch_data.h"
#include "patch_data_writer.h"
#include "vcdiff.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A file mapped read-only, as a decoding program reads its inputs: no copy,
// the page cache's own pages. Empty when the file is empty.
struct MappedFile {
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    MappedFile() = default;
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    ~MappedFile() {
        if (data) munmap(const_cast<std::uint8_t *>(data), size);
    }
    bool Open(const char *path) {
        const int fd = open(path, O_RDONLY);
        if (fd < 0) return false;
        struct stat info;
        bool ok = fstat(fd, &info) == 0;
        if (ok && info.st_size > 0) {
            void *mapped = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            ok = mapped != MAP_FAILED;
            if (ok) {
                data = static_cast<const std::uint8_t *>(mapped);
                size = static_cast<std::size_t>(info.st_size);
            }
        }
        close(fd);
        return ok;
    }
};

bool ReadFileBytes(const char *path, Bytes *bytes) {
    MappedFile file;
    if (!file.Open(path)) return false;
    bytes->assign(file.data, file.data + file.size);
    return true;
}

bool WriteFileBytes(const char *path, const void *data, std::size_t size) {
    std::FILE *out = std::fopen(path, "wb");
    if (!out) return false;
    const bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

// Program-like content: runs of code-like random bytes, zero padding,
// tables of small increasing numbers and repeated text, so that the
// encoder finds copies within the file as well as from the source.
Bytes MakeOld(std::size_t size, std::mt19937 &random) {
    Bytes out;
    out.reserve(size);
    const std::string text = "component resource string table entry; ";
    while (out.size() < size) {
        const std::size_t run = 512 + random() % 16384;
        switch (random() % 4) {
        case 0:  // code: random bytes
            for (std::size_t i = 0; i < run; ++i) out.push_back(static_cast<std::uint8_t>(random()));
            break;
        case 1:  // padding
            out.insert(out.end(), run % 2048, 0);
            break;
        case 2: {  // a table of DWORDs
            std::uint32_t v = random();
            for (std::size_t i = 0; i < run / 4; ++i, v += 4 + random() % 64)
                for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
            break;
        }
        default:  // text
            for (std::size_t i = 0; i < run; ++i) out.push_back(static_cast<std::uint8_t>(text[i % text.size()]));
        }
    }
    out.resize(size);
    return out;
}

// The new version: walks the old file and, every few tens of kilobytes,
// changes bytes in place (fixed-up addresses), inserts or drops a block,
// or takes a block from elsewhere in the file (code that moved).
Bytes MakeNew(const Bytes &old, std::mt19937 &random) {
    Bytes out;
    out.reserve(old.size() + old.size() / 8);
    std::size_t at = 0;
    while (at < old.size()) {
        const std::size_t keep = std::min<std::size_t>(old.size() - at, 4096 + random() % 65536);
        out.insert(out.end(), old.begin() + at, old.begin() + at + keep);
        at += keep;
        const std::size_t block = 16 + random() % 8192;
        switch (random() % 4) {
        case 0:  // a few DWORDs changed in the block just kept
            for (int i = 0; i < 8 && keep >= 4; ++i) {
                const std::size_t p = out.size() - keep + random() % (keep - 3);
                for (int b = 0; b < 4; ++b) out[p + b] = static_cast<std::uint8_t>(random());
            }
            break;
        case 1:  // new bytes inserted
            for (std::size_t i = 0; i < block; ++i) out.push_back(static_cast<std::uint8_t>(random()));
            break;
        case 2:  // old bytes dropped
            at = std::min(old.size(), at + block);
            break;
        default: {  // a block from elsewhere
            const std::size_t from = random() % old.size();
            const std::size_t n = std::min(block, old.size() - from);
            out.insert(out.end(), old.begin() + from, old.begin() + from + n);
        }
        }
    }
    return out;
}

int MakePair(const char *sizeMib, const char *seed, const char *oldPath, const char *newPath) {
    std::mt19937 random(static_cast<unsigned>(std::strtoul(seed, nullptr, 10)));
    const Bytes old = MakeOld(std::strtoul(sizeMib, nullptr, 10) << 20, random);
    const Bytes changed = MakeNew(old, random);
    if (!WriteFileBytes(oldPath, old.data(), old.size()) || !WriteFileBytes(newPath, changed.data(), changed.size())) {
        std::fprintf(stderr, "decode_bench: cannot write %s or %s\n", oldPath, newPath);
        return 1;
    }
    return 0;
}

int Pack(const char *name, const char *oldPath, const char *newPath, const char *deltaPath, const char *outPath) {
    patchbuild::PatchDataFile file;
    file.name = name;
    if (!ReadFileBytes(oldPath, &file.oldBytes) || !ReadFileBytes(newPath, &file.newBytes) ||
        !ReadFileBytes(deltaPath, &file.delta)) {
        std::fprintf(stderr, "decode_bench: cannot read the files of %s\n", name);
        return 1;
    }
    std::string data, error;
    if (!patchbuild::EncodePatchData({file}, &data, &error)) {
        std::fprintf(stderr, "decode_bench: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFileBytes(outPath, data.data(), data.size())) {
        std::fprintf(stderr, "decode_bench: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}

int Delta(const char *oldPath, const char *newPath, const char *outPath) {
    patchbuild::PatchDataFile file;
    file.name = "file";
    if (!ReadFileBytes(oldPath, &file.oldBytes) || !ReadFileBytes(newPath, &file.newBytes)) {
        std::fprintf(stderr, "decode_bench: cannot read %s or %s\n", oldPath, newPath);
        return 1;
    }
    std::string error;
    if (!patchbuild::MakeDelta(&file, &error)) {
        std::fprintf(stderr, "decode_bench: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFileBytes(outPath, file.delta.data(), file.delta.size())) {
        std::fprintf(stderr, "decode_bench: cannot write %s\n", outPath);
        return 1;
    }
    std::printf("%s\n", file.kind == PATCH_DELTA_DIFFERENCE ? "difference" : "vcdiff");
    return 0;
}

int Difference(const char *oldPath, const char *newPath, const char *outPath) {
    Bytes oldBytes, newBytes, delta;
    std::string error;
    if (!ReadFileBytes(oldPath, &oldBytes) || !ReadFileBytes(newPath, &newBytes)) {
        std::fprintf(stderr, "decode_bench: cannot read %s or %s\n", oldPath, newPath);
        return 1;
    }
    if (!diffdelta::Encode(oldBytes, newBytes, &delta, &error)) {
        std::fprintf(stderr, "decode_bench: %s\n", error.c_str());
        return 1;
    }
    if (!WriteFileBytes(outPath, delta.data(), delta.size())) {
        std::fprintf(stderr, "decode_bench: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}

// The decoders' files on POSIX descriptors: reads at offsets, the target
// appended and read back.
BOOL ReadAtFd(void *context, DWORD offset, BYTE *buffer, DWORD length) {
    const int fd = *static_cast<const int *>(context);
    for (DWORD done = 0; done < length;) {
        const ssize_t got = pread(fd, buffer + done, length - done, static_cast<off_t>(offset) + done);
        if (got <= 0) return FALSE;
        done += static_cast<DWORD>(got);
    }
    return TRUE;
}

BOOL AppendFd(void *context, const BYTE *data, DWORD length) {
    const int fd = *static_cast<const int *>(context);
    for (DWORD done = 0; done < length;) {
        const ssize_t put = write(fd, data + done, length - done);
        if (put <= 0) return FALSE;
        done += static_cast<DWORD>(put);
    }
    return TRUE;
}

// A descriptor closed on the way out.
struct Fd {
    int fd;
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    DWORD Size() const {
        struct stat info;
        return fstat(fd, &info) == 0 ? static_cast<DWORD>(info.st_size) : 0;
    }
};

int Decode(const char *oldPath, const char *deltaPath, const char *outPath) {
    Fd source(open(oldPath, O_RDONLY)), delta(open(deltaPath, O_RDONLY));
    Fd out(open(outPath, O_RDWR | O_CREAT | O_TRUNC, 0644));
    if (source.fd < 0 || delta.fd < 0 || out.fd < 0) {
        std::fprintf(stderr, "decode_bench: cannot open %s, %s or %s\n", oldPath, deltaPath, outPath);
        return 1;
    }
    BYTE magic[3] = {0, 0, 0};
    const bool vcdiff = delta.Size() >= 3 && ReadAtFd(&delta.fd, 0, magic, 3) && magic[0] == 0xD6 &&
                        magic[1] == 0xC3 && magic[2] == 0xC4;
    const DeltaFile sourceFile{nullptr, source.Size(), ReadAtFd, &source.fd};
    const DeltaFile deltaFile{nullptr, delta.Size(), ReadAtFd, &delta.fd};
    std::unique_ptr<BYTE[]> window(new BYTE[DELTA_WINDOW_MAX]), buffers(new BYTE[DELTA_READ_BUFFERS]);
    DeltaTarget target;
    DeltaTargetInMemory(&target, nullptr, 0);
    target.capacity = 0xFFFFFFFF;  // VCDIFF records no total size
    target.write = AppendFd;
    target.readBack = ReadAtFd;
    target.context = &out.fd;
    target.window = window.get();
    target.windowSize = DELTA_WINDOW_MAX;
    target.buffers = buffers.get();
    target.buffersSize = DELTA_READ_BUFFERS;
    DWORD size = 0;
    const int r = vcdiff ? VcdiffDecodeFiles(&sourceFile, &deltaFile, &target, &size)
                         : DiffDeltaDecodeFiles(&sourceFile, &deltaFile, &target, &size);
    if (r != 0) {  // VCDIFF_OK and DIFFDELTA_OK alike
        std::fprintf(stderr, "decode_bench: %s\n", vcdiff ? VcdiffResultText(r) : DiffDeltaResultText(r));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make-pair" && argc == 6) return MakePair(argv[2], argv[3], argv[4], argv[5]);
    if (command == "pack" && argc == 7) return Pack(argv[2], argv[3], argv[4], argv[5], argv[6]);
    if (command == "decode" && argc == 5) return Decode(argv[2], argv[3], argv[4]);
    if (command == "delta" && argc == 5) return Delta(argv[2], argv[3], argv[4]);
    if (command == "difference" && argc == 5) return Difference(argv[2], argv[3], argv[4]);
    std::fprintf(stderr,
                 "usage: decode_bench make-pair SIZE_MIB SEED OLD NEW\n"
                 "       decode_bench pack NAME OLD NEW DELTA OUT\n"
                 "       decode_bench decode OLD DELTA OUT\n"
                 "       decode_bench delta OLD NEW OUT\n"
                 "       decode_bench difference OLD NEW OUT\n");
    return 2;
}
