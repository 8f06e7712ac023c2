// The probe's version reading on any file: the bytes are written to
// C:\f.exe on a winsim machine, then read back through GetProductVersion
// and GetFileVersion, and through the version API directly with a few
// queries, on a block of the size asked for and on one cut short. Blocks are
// exact-size heap buffers, so a read or write past one is caught; pointers
// VerQueryValueA returns must lie inside the block with their length.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "common/version_info.h"
#include "winsim.h"

namespace {

const char kFile[] = "C:\\f.exe";
std::string g_root;

void RemoveRoot() { std::filesystem::remove_all(g_root); }

void Query(const std::vector<BYTE> &block, const char *path, bool binary)
{
    LPVOID found = reinterpret_cast<LPVOID>(1);
    UINT length = 12345;
    if (!VerQueryValueA(block.data(), path, &found, &length))
        return;
    FUZZ_CHECK(found != nullptr, "%s: success without a pointer", path);
    const BYTE *p = static_cast<const BYTE *>(found);
    const BYTE *begin = block.data();
    const size_t capacity = block.size();
    FUZZ_CHECK(p >= begin && p <= begin + capacity, "%s: pointer outside the block", path);
    const size_t room = (size_t)(begin + capacity - p);
    if (binary) {
        FUZZ_CHECK(length <= room, "%s: %u bytes at offset %zu of %zu", path, length,
                   (size_t)(p - begin), capacity);
    } else {
        const void *end = std::memchr(p, 0, room);
        FUZZ_CHECK(end != nullptr, "%s: text without a terminator in the block", path);
        const size_t text = (size_t)(static_cast<const BYTE *>(end) - p);
        FUZZ_CHECK(length == 0 || length == text + 1, "%s: length %u for %zu characters", path,
                   length, text);
    }
}

void ReadBlock(DWORD capacity)
{
    std::vector<BYTE> block(capacity);
    if (GetFileVersionInfoA(kFile, 0, capacity, block.data())) {
        Query(block, "\\", true);
        Query(block, "\\VarFileInfo\\Translation", true);
        Query(block, "\\StringFileInfo\\040904b0\\ProductVersion", false);
        Query(block, "\\StringFileInfo\\040904E4\\FileVersion", false);
        Query(block, "\\StringFileInfo", false);
        Query(block, "StringFileInfo\\\\040904b0\\", false);
    }
    // Makes winsim forget the block before it is freed (a failed fill
    // drops what it knew of the address), so that no record piles up.
    GetFileVersionInfoA("C:\\missing.exe", 0, capacity, block.data());
}

void CheckFile(const uint8_t *bytes, size_t size)
{
    const std::string data(reinterpret_cast<const char *>(bytes), size);
    FUZZ_CHECK(winsim::WriteWholeFile(kFile, data), "cannot write %s", kFile);

    char product[64], file[8];
    if (GetProductVersion(kFile, product, sizeof product))
        FUZZ_CHECK(std::memchr(product, 0, sizeof product) && product[0] != '\0', "ProductVersion");
    if (GetFileVersion(kFile, file, sizeof file))
        FUZZ_CHECK(std::memchr(file, 0, sizeof file) && file[0] != '\0', "FileVersion");

    DWORD handle = 77;
    const DWORD wanted = GetFileVersionInfoSizeA(kFile, &handle);
    FUZZ_CHECK(handle == 0, "handle %u", handle);
    if (wanted == 0 || wanted > (1u << 22))
        return;
    ReadBlock(wanted);
    // A block cut short, by an amount the file's last byte decides.
    const DWORD cut = wanted - (DWORD)(bytes[size - 1] % wanted);
    if (cut != wanted)
        ReadBlock(cut);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // winsim keeps state between inputs (its call log, its record of filled
    // blocks), which libFuzzer's leak check takes for a leak after every
    // input and then scans the heap for, slowing the run twentyfold. The
    // heap the code under test uses is checked above instead. Flags are
    // parsed after this returns, so a -detect_leaks given on the command
    // line still wins.
    static std::vector<char *> args;
    static char noLeaks[] = "-detect_leaks=0";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, noLeaks);
    args.push_back(nullptr);
    *argv = args.data();
    ++*argc;

    const char *tmp = getenv("TMPDIR");
    g_root = std::string(tmp ? tmp : "/tmp") + "/wf_fuzz_version_" + std::to_string(getpid());
    std::atexit(RemoveRoot);
    winsim::Reset(g_root);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > (1u << 20))
        return 0;
    CheckFile(bytes, size);
    const winsim::HeapStats heap = winsim::GetHeapStats();
    FUZZ_CHECK(heap.liveBytes == 0 && heap.allocations == heap.frees,
               "%llu bytes in %llu blocks left on the heap", (unsigned long long)heap.liveBytes,
               (unsigned long long)(heap.allocations - heap.frees));
    // A fresh machine for the next input: winsim's call log goes.
    winsim::Reset(g_root);
    return 0;
}
