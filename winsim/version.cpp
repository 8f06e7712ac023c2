// Version information: the VS_VERSIONINFO resource (RT_VERSION) of a real
// 32-bit PE file, read straight from the host file, and VerQueryValueA over
// the block GetFileVersionInfoA fills.
//
// The files come from anywhere (the product's old files, a damaged install),
// so nothing in them is trusted: the resource and the tree are read by
// formats/pe_version.h, which checks every offset and length against what
// was read before anything is touched (the builder reads versions with the
// same code). The model follows NT's version.dll; Windows 95's differences
// (its 16-bit resources, its smaller block) are left out. The file is read without regard to handles the
// program holds open on it, and a relative name resolves against the current
// directory only, not along LoadLibrary's search path.
#include "internal.h"

#include "formats/pe_version.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {
namespace {

// Written after the Unicode tree when the caller's block has room: NT's mark
// that the rest of the block is the area for ANSI copies.
constexpr char kAnsiAreaMark[4] = {'F', 'E', '2', 'X'};

using formats::Bytes;
using formats::VersionFault;
using formats::VersionNode;
using formats::VersionResource;

// Reads the file a Windows path names and finds its version resource.
// Returns 0 or the error the API reports.
DWORD LoadVersionResource(LPCSTR path, std::string *bytes, VersionResource *resource) {
    if (!path) return ERROR_INVALID_PARAMETER;
    if (!*path) return ERROR_BAD_PATHNAME;
    const std::string host = HostPath(path);
    if (host.empty()) return ERROR_PATH_NOT_FOUND;
    std::error_code ec;
    if (fs::is_directory(host, ec)) return ERROR_ACCESS_DENIED;
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        const fs::path parent = fs::path(host).parent_path();
        return fs::is_directory(parent, ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return ERROR_READ_FAULT;
    const Bytes file(reinterpret_cast<const unsigned char *>(bytes->data()), bytes->size());
    switch (formats::FindVersionResource(file, resource)) {
    case VersionFault::None: return 0;
    case VersionFault::BadFormat: return ERROR_BAD_FORMAT;
    case VersionFault::TypeNotFound: return ERROR_RESOURCE_TYPE_NOT_FOUND;
    case VersionFault::NameNotFound: return ERROR_RESOURCE_NAME_NOT_FOUND;
    case VersionFault::DataNotFound: break;
    }
    return ERROR_RESOURCE_DATA_NOT_FOUND;
}

// ---- Blocks GetFileVersionInfoA filled ------------------------------------------

// What winsim knows of a caller's block, so that queries on a block shorter
// than the size asked for fail instead of reading or writing past it (where
// Windows would). Keyed by address; the first bytes tell a block that was
// freed and reused for something else.
struct FilledBlock {
    DWORD copied = 0;    // bytes of the resource in the block
    DWORD capacity = 0;  // the caller's dwLen
    std::string head;
};

std::map<const void *, FilledBlock> &Blocks() {
    static std::map<const void *, FilledBlock> blocks;
    return blocks;
}

constexpr size_t kHeadBytes = 16;

std::string HeadOf(const void *block, size_t available) {
    return std::string(static_cast<const char *>(block), std::min(available, kHeadBytes));
}

// ---- The version tree ---------------------------------------------------------------

bool SameKey(const std::string &a, const std::string &b) {
    return detail::FoldCase(a) == detail::FoldCase(b);
}

// The components of a query path: "\StringFileInfo\040904e4\ProductVersion"
// gives three; "\" none. Separators inside double-byte characters do not split.
std::vector<std::string> SplitQuery(const std::string &query) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < query.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(query[i]);
        if (detail::IsLeadByte(c) && i + 1 < query.size()) {
            parts.back() += query.substr(i++, 2);
        } else if (c == '\\') {
            if (!parts.back().empty()) parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(c);
        }
    }
    if (parts.back().empty()) parts.pop_back();
    return parts;
}

}  // namespace
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT: the size of the block the caller must allocate: twice the resource and
// four bytes (as Windows 2000 and XP ask, and Wine after them), the second
// half holding the ANSI copies VerQueryValueA makes.
// A file without a version resource gives ERROR_RESOURCE_TYPE_NOT_FOUND (a
// damaged resource tree ERROR_RESOURCE_DATA_NOT_FOUND), a missing file
// ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND for a missing folder), a file
// that is no 32-bit PE ERROR_BAD_FORMAT. *lpdwHandle, when given, is set to 0.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (Enter("GetFileVersionInfoSizeA", lptstrFilename ? lptstrFilename : "")) return 0;
    if (lpdwHandle) *lpdwHandle = 0;
    std::string bytes;
    winsim::VersionResource resource;
    if (DWORD error = winsim::LoadVersionResource(lptstrFilename, &bytes, &resource))
        return SetError(error), 0;
    return resource.size * 2 + 4;
}

// NT: copies the resource into the block, cut to dwLen bytes, and when the
// block has four bytes to spare after the tree, marks the ANSI area there
// ("FE2X"). A shorter block still succeeds with what fits. A block of zero
// bytes fails with ERROR_RESOURCE_DATA_NOT_FOUND (as under Wine), a null one
// with ERROR_INVALID_PARAMETER; other errors as GetFileVersionInfoSizeA.
// dwHandle is ignored.
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (Enter("GetFileVersionInfoA", lptstrFilename ? lptstrFilename : "")) return FALSE;
    if (!lpData) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    winsim::Blocks().erase(lpData);
    std::string bytes;
    winsim::VersionResource resource;
    if (DWORD error = winsim::LoadVersionResource(lptstrFilename, &bytes, &resource))
        return SetError(error), FALSE;
    if (dwLen == 0) return SetError(ERROR_RESOURCE_DATA_NOT_FOUND), FALSE;

    const DWORD copied = std::min(dwLen, resource.size);
    std::memcpy(lpData, bytes.data() + resource.offset, copied);
    if (dwLen >= resource.length + 4u)
        std::memcpy(static_cast<char *>(lpData) + resource.length, winsim::kAnsiAreaMark, 4);
    winsim::Blocks()[lpData] = winsim::FilledBlock{copied, dwLen, winsim::HeadOf(lpData, copied)};
    return TRUE;
}

// NT's ANSI query. "\" gives the VS_FIXEDFILEINFO and "\VarFileInfo\Translation"
// the translation array, both pointing into the Unicode tree with *puLen in
// bytes. Any other path names a string: it is converted to code page 1252
// into the block's ANSI area (at the tree's length plus four, plus the
// string's own offset, as NT places it) and *puLen counts its characters
// with the terminator (0 for a value stored without even that). Keys match
// without regard to case, whole components only; empty components are
// skipped. A path that does not exist fails with
// ERROR_RESOURCE_TYPE_NOT_FOUND. A block GetFileVersionInfoA filled is read
// no further than it copied, and a string whose copy would not fit the
// caller's dwLen fails with ERROR_INSUFFICIENT_BUFFER; any other block is
// trusted as Windows trusts it.
BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID *lplpBuffer, UINT *puLen) {
    if (Enter("VerQueryValueA", lpSubBlock ? lpSubBlock : "")) return FALSE;
    if (!pBlock || !lpSubBlock || !lplpBuffer) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    *lplpBuffer = nullptr;
    if (puLen) *puLen = 0;

    // How much of the block may be read, and written from its start.
    auto known = winsim::Blocks().find(pBlock);
    if (known != winsim::Blocks().end() &&
        known->second.head != winsim::HeadOf(pBlock, known->second.copied))
        known = winsim::Blocks().end();
    std::uint32_t rootLength = 0;
    const winsim::Bytes header(static_cast<const unsigned char *>(pBlock),
                               known == winsim::Blocks().end() ? 2 : known->second.copied);
    header.U16(0, &rootLength);
    std::uint64_t readable = rootLength;
    std::uint64_t capacity = static_cast<std::uint64_t>(rootLength) * 2 + 4;
    if (known != winsim::Blocks().end()) {
        readable = std::min<std::uint64_t>(readable, known->second.copied);
        capacity = known->second.capacity;
    }
    const winsim::Bytes block(static_cast<const unsigned char *>(pBlock), readable);

    const std::vector<std::string> parts = winsim::SplitQuery(lpSubBlock);
    formats::VersionNode node;
    bool found = formats::ReadVersionNode(block, 0, readable, true, &node);
    for (size_t i = 0; found && i < parts.size(); ++i) {
        formats::VersionNode child;
        found = formats::FindVersionChild(block, node, parts[i], &child, winsim::SameKey);
        node = child;
    }
    if (!found) return SetError(ERROR_RESOURCE_TYPE_NOT_FOUND), FALSE;

    const bool binary = parts.empty() || (parts.size() == 2 &&
                                          winsim::SameKey(parts[0], "VarFileInfo") &&
                                          winsim::SameKey(parts[1], "Translation"));
    if (binary) {
        if (node.valueEnd - node.value < node.valueLength)
            return SetError(ERROR_RESOURCE_TYPE_NOT_FOUND), FALSE;
        *lplpBuffer = const_cast<unsigned char *>(block.At(node.value));
        if (puLen) *puLen = node.valueLength;
        return TRUE;
    }

    const std::string text = formats::VersionNodeText(block, node);
    const std::uint64_t target = static_cast<std::uint64_t>(rootLength) + 4 + node.value;
    if (target > capacity || text.size() + 1 > capacity - target)
        return SetError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    char *copy = static_cast<char *>(const_cast<void *>(pBlock)) + target;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *lplpBuffer = copy;
    if (puLen) *puLen = node.valueLength == 0 ? 0 : static_cast<UINT>(text.size() + 1);
    return TRUE;
}
