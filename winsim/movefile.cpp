// MoveFileExA: moves now, or (Windows NT) registers a rename or deletion for
// the next boot in PendingFileRenameOperations, the way NT's kernel32 writes
// it; Restart() (restart.cpp) carries the list out. Also HoldOpen, the tests'
// way to keep a file in use.
//
// The session manager's value is read and written through the REGEDIT4 text
// of registry.cpp, so that a delayed move shows in the call log as the one
// MoveFileExA call it is, as on NT, where kernel32 writes the value without
// going through advapi32.
#include "internal.h"

#include <set>
#include <sstream>

namespace winsim {
namespace {

const char kSessionManagerKey[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

// Handles HoldOpen gave out that are still open, so a restart can close them.
std::set<HANDLE> &HeldHandles() {
    static std::set<HANDLE> handles;
    return handles;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes of an exported value's data ("hex(7):5c,3f,..." or "hex:..."; a
// quoted REG_SZ as its text and terminator). False for anything else.
bool ParseExportedData(const std::string &data, std::string *bytes) {
    bytes->clear();
    if (!data.empty() && data[0] == '"') {
        for (size_t i = 1; i < data.size() && data[i] != '"'; ++i) {
            if (data[i] == '\\' && i + 1 < data.size()) ++i;
            *bytes += data[i];
        }
        *bytes += '\0';
        return true;
    }
    if (data.compare(0, 3, "hex") != 0) return false;
    const size_t colon = data.find(':');
    if (colon == std::string::npos) return false;
    std::istringstream items(data.substr(colon + 1));
    for (std::string item; std::getline(items, item, ',');) {
        if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) return false;
        *bytes += static_cast<char>(HexDigit(item[0]) * 16 + HexDigit(item[1]));
    }
    return true;
}

std::string HexList(const std::string &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string list;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (i) list += ',';
        list += kDigits[c >> 4];
        list += kDigits[c & 0xF];
    }
    return list;
}

void ImportPendingLine(const std::string &data) {
    ImportRegText(std::string("REGEDIT4\n\n[") + kSessionManagerKey + "]\n\"" + kPendingValue +
                  "\"=" + data + "\n");
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The path made absolute as NT's RtlDosPathNameToNtPathName does it: joined
// to the (drive's) current directory, "." and ".." applied, "/" made "\";
// the names keep the spelling the caller gave, short names stay short, and
// a separator that ends the path stays ("Work\" gives "C:\wf\Work\", as a
// probe under Wine showed). The current directory comes in its on-disk
// spelling. False, with the error, for a malformed path or a drive the
// machine lacks.
bool FullPathAsGiven(const std::string &path, std::string *full, DWORD *error) {
    detail::FileLookup lookup;
    if (!detail::LookUpPath(path, &lookup, error)) return false;
    std::string rest = path;
    std::string base;
    if (path.size() >= 2 && path[1] == ':') {
        rest = path.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            detail::FileLookup drive;
            if (!detail::LookUpPath(path.substr(0, 2), &drive, error)) return false;
            base = drive.winPath;
        } else {
            base = lookup.winPath.substr(0, 2);
        }
    } else if (IsSeparator(path[0])) {
        base = lookup.winPath.substr(0, 2);
    } else {
        detail::FileLookup current;
        if (!detail::LookUpPath(".", &current, error)) return false;
        base = current.winPath;
    }

    std::vector<std::string> parts;
    bool trailing = false;  // the last thing split was a separator
    auto split = [&parts, &trailing](const std::string &text, bool dots) {
        std::string name;
        auto flush = [&]() {
            if (dots && name == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!name.empty() && !(dots && name == ".")) {
                parts.push_back(name);
            }
            name.clear();
        };
        for (size_t i = 0; i < text.size(); ++i) {
            trailing = false;
            if (detail::IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
                name += text.substr(i++, 2);
            } else if (IsSeparator(text[i])) {
                flush();
                trailing = true;
            } else {
                name += text[i];
            }
        }
        flush();
    };
    split(base.substr(2), false);
    trailing = false;
    split(rest, true);
    *full = base.substr(0, 2);
    if (parts.empty()) *full += '\\';
    for (const std::string &part : parts) *full += '\\' + part;
    if (trailing && !parts.empty()) *full += '\\';
    return true;
}

// A delayed operation: the value as it stands with its last byte taken off
// (the list's closing NUL, in a well-formed list), then the new pair and a
// new closing NUL. As under Wine (a probe decided), the last byte goes
// whatever it is: a list a program wrote back without its closing NUL has
// its last string run into the new source. An empty value (no bytes at all)
// makes Wine drop the first character of the new source instead; winsim
// does the same, so that a program leaving such a value behind finds out.
bool RegisterForBoot(const char *from, const char *to, DWORD flags) {
    DWORD error = 0;
    detail::FileLookup source;
    if (!detail::LookUpPath(from, &source, &error)) return detail::SetError(error), false;
    if (!source.exists) return detail::SetError(source.missingError), false;
    std::string fromFull, toFull;
    if (!FullPathAsGiven(from, &fromFull, &error)) return detail::SetError(error), false;
    if (to && !FullPathAsGiven(to, &toFull, &error)) return detail::SetError(error), false;

    std::string added = "\\??\\" + fromFull + '\0';
    if (to) added += ((flags & MOVEFILE_REPLACE_EXISTING) ? "!\\??\\" : "\\??\\") + toFull;
    added += '\0';
    added += '\0';
    std::string list;
    if (detail::ReadPendingRenames(&list)) {
        if (list.empty())
            added.erase(0, 1);
        else
            list.pop_back();
    }
    detail::WritePendingRenames(list + added);
    return true;
}

}  // namespace

namespace detail {

bool ReadPendingRenames(std::string *multiSz) {
    std::istringstream text(ExportRegText({kSessionManagerKey}));
    std::string line;
    // The key's own section comes first; its values end at a blank line.
    while (std::getline(text, line) && (line.empty() || line[0] != '[')) {
    }
    while (std::getline(text, line) && !line.empty() && line[0] != '[') {
        if (line[0] != '"') continue;
        size_t end = 1;
        std::string name;
        for (; end < line.size() && line[end] != '"'; ++end) {
            if (line[end] == '\\' && end + 1 < line.size()) ++end;
            name += line[end];
        }
        if (FoldCase(name) != FoldCase(kPendingValue) || end + 1 >= line.size() ||
            line[end + 1] != '=')
            continue;
        return ParseExportedData(line.substr(end + 2), multiSz);
    }
    return false;
}

void WritePendingRenames(const std::string &multiSz) {
    ImportPendingLine("hex(7):" + HexList(multiSz));
}

void DeletePendingRenames() { ImportPendingLine("-"); }

void DropHeldFiles() {
    for (HANDLE handle : HeldHandles()) CloseFileQuietly(handle);
    HeldHandles().clear();
}

bool IsHeldFile(HANDLE file) { return HeldHandles().count(file) != 0; }

}  // namespace detail

HeldFile &HeldFile::operator=(HeldFile &&other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

bool HeldFile::Held() const { return handle_ && detail::HostDescriptor(handle_) >= 0; }

void HeldFile::Release() {
    if (!handle_) return;
    if (HeldHandles().erase(handle_)) detail::CloseFileQuietly(handle_);
    handle_ = nullptr;
}

HeldFile HoldOpen(const std::string &winPath) {
    const DWORD lastError = GetLastError();
    HANDLE handle = detail::OpenFileQuietly(winPath, GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    detail::SetError(lastError);
    if (handle == INVALID_HANDLE_VALUE) return HeldFile();
    HeldHandles().insert(handle);
    return HeldFile(handle);
}

}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// Windows 95 has no MoveFileExA (ERROR_CALL_NOT_IMPLEMENTED); its programs
// use WININIT.INI instead. On NT:
// - MOVEFILE_DELAY_UNTIL_REBOOT appends "\??\" + the source, then "" (no
//   destination: a deletion) or "\??\" + the destination, with "!" before it
//   for MOVEFILE_REPLACE_EXISTING, to PendingFileRenameOperations
//   (REG_MULTI_SZ, the list's closing NUL kept last; see RegisterForBoot
//   for a value a program wrote back itself). Paths are made
//   absolute but keep the caller's spelling (short names stay short), as on
//   NT and in Wine. The source must exist (ERROR_FILE_NOT_FOUND or
//   ERROR_PATH_NOT_FOUND) and may be a directory (to be removed at the boot
//   when it is empty by then); the destination need not exist. With
//   MOVEFILE_COPY_ALLOWED the call fails with ERROR_INVALID_PARAMETER, as
//   documented. Wine checks neither the source nor that flag. NT wants an
//   administrator to write the value; winsim lets anyone.
// - Otherwise the move happens now, through MoveFileA (which the call log
//   shows): an existing destination gives ERROR_ALREADY_EXISTS unless
//   MOVEFILE_REPLACE_EXISTING, which deletes it first (DeleteFileA's errors:
//   a destination in use or read-only stays, a directory gives
//   ERROR_ACCESS_DENIED); another drive needs MOVEFILE_COPY_ALLOWED
//   (ERROR_NOT_SAME_DEVICE). No destination deletes the source now, as Wine
//   does.
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (Enter("MoveFileExA", std::string(lpExistingFileName ? lpExistingFileName : "") + " -> " +
                                 (lpNewFileName ? lpNewFileName : "")))
        return FALSE;
    if (winsim::GetPlatform() == winsim::Platform::Windows95)
        return SetError(ERROR_CALL_NOT_IMPLEMENTED), FALSE;
    const DWORD known =
        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_DELAY_UNTIL_REBOOT;
    if (!lpExistingFileName || (dwFlags & ~known)) return SetError(ERROR_INVALID_PARAMETER), FALSE;

    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (dwFlags & MOVEFILE_COPY_ALLOWED) return SetError(ERROR_INVALID_PARAMETER), FALSE;
        return winsim::RegisterForBoot(lpExistingFileName, lpNewFileName, dwFlags) ? TRUE : FALSE;
    }
    if (!lpNewFileName) return DeleteFileA(lpExistingFileName);

    DWORD error = 0;
    winsim::detail::FileLookup from, to;
    if (!winsim::detail::LookUpPath(lpExistingFileName, &from, &error) ||
        !winsim::detail::LookUpPath(lpNewFileName, &to, &error))
        return SetError(error), FALSE;
    if (!from.exists) return SetError(from.missingError), FALSE;
    if (from.winPath[0] != to.winPath[0] && !(dwFlags & MOVEFILE_COPY_ALLOWED))
        return SetError(ERROR_NOT_SAME_DEVICE), FALSE;
    if (to.exists && to.host != from.host) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) return SetError(ERROR_ALREADY_EXISTS), FALSE;
        if (to.isDir || from.isDir) return SetError(ERROR_ACCESS_DENIED), FALSE;
        if (!DeleteFileA(lpNewFileName)) return FALSE;
    }
    return MoveFileA(lpExistingFileName, lpNewFileName);
}
