// Files and directories: drive letters mapped onto host folders, Win32 path
// parsing, case-insensitive lookup, file handles, the attribute table and the
// disk geometry GetDiskFreeSpaceA reports.
//
// The model follows Windows NT; Windows 95 differences are left out unless an
// API's comment names them. Every path argument is parsed the same way: drive
// letters, drive-relative and relative paths, "." and "..", either separator,
// double-byte characters of code page 932. Attributes live in winsim's own
// table, keyed by host path, because the tests run as root and host permission
// bits would not stop anything - except a file's read-only attribute, which is
// kept as Wine keeps it: a file without write permission bits is read-only.
// So it travels with the file (a rename, a copy, a restart's replacement), and
// a host twin started on the same folder (patch_twin) meets it too. File
// contents live on the host.
#include "internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace winsim {
namespace {

// Attribute bits SetFileAttributesA and CreateFileA store.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
// CreateDirectoryA refuses paths longer than MAX_PATH less room for an 8.3 name.
constexpr size_t kMaxDirectoryPath = MAX_PATH - 12;

struct OpenFile {
    int fd = -1;
    std::string host;     // key of the file: its host path
    std::string winPath;  // the file as a Windows path, for the call log
    DWORD access = 0;
    DWORD share = 0;
    std::int64_t position = 0;
};

struct FileState {
    std::map<char, fs::path> drives;  // 'C' -> host folder
    std::map<char, DiskGeometry> geometry;
    std::map<std::string, DWORD> attributes;  // host path -> stored bits
    std::set<char> withoutShortNames;         // volumes with 8.3 names turned off
    std::map<char, std::uint64_t> room;       // bytes files may still grow by (SetRoomLeft)
    std::map<std::uintptr_t, OpenFile> handles;
    char currentDrive = 'C';
    std::vector<std::string> currentParts;  // as the caller wrote them
};

FileState &F() {
    static FileState state;
    return state;
}

// File handle values: multiples of 4 like the kernel's, never reused within
// the process so a stale handle from an earlier machine stays invalid.
HANDLE NewFileHandle() {
    static std::uintptr_t next = 0x1000;
    next += 4;
    return reinterpret_cast<HANDLE>(next);
}

// ---- Paths -----------------------------------------------------------------

struct WinPath {
    char drive = 0;
    std::vector<std::string> parts;
    bool trailingSeparator = false;
};

std::string Join(char drive, const std::vector<std::string> &parts) {
    std::string text{drive, ':', '\\'};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) text += '\\';
        text += parts[i];
    }
    return text;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsInvalidNameByte(unsigned char c) { return c < 32 || std::strchr("<>:\"|?*", c) != nullptr; }

// Splits a Windows path into an absolute drive and components, applying the
// current directory, "." and "..". A separator byte that is the trail byte of
// a double-byte character does not split. Returns the Win32 error, or 0.
DWORD ParsePath(const std::string &path, WinPath *out) {
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
        return ERROR_PATH_NOT_FOUND;  // network paths are not part of the machine

    const FileState &state = F();
    WinPath result;
    size_t pos = 0;
    bool absolute = false;
    const unsigned char first = static_cast<unsigned char>(path[0]);
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(first)) {
        result.drive = static_cast<char>(std::toupper(first));
        pos = 2;
        absolute = pos < path.size() && IsSeparator(path[pos]);
        // "D:name" is relative to D:'s current directory, which is the root
        // for every drive but the current one.
        if (!absolute && result.drive == state.currentDrive) result.parts = state.currentParts;
    } else {
        result.drive = state.currentDrive;
        absolute = IsSeparator(path[0]);
        if (!absolute) result.parts = state.currentParts;
    }

    std::string component;
    auto flush = [&]() -> DWORD {
        if (component.empty() || component == ".") {
        } else if (component == "..") {
            if (!result.parts.empty()) result.parts.pop_back();
        } else {
            for (size_t i = 0; i < component.size(); ++i) {
                const unsigned char c = static_cast<unsigned char>(component[i]);
                if (detail::IsLeadByte(c) && i + 1 < component.size()) {
                    ++i;
                    continue;
                }
                if (IsInvalidNameByte(c)) return ERROR_INVALID_NAME;
            }
            result.parts.push_back(component);
        }
        component.clear();
        return 0;
    };
    for (size_t i = pos; i < path.size(); ++i) {
        const char c = path[i];
        if (detail::IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            component += c;
            component += path[++i];
            result.trailingSeparator = false;
            continue;
        }
        if (IsSeparator(c)) {
            if (DWORD error = flush()) return error;
            result.trailingSeparator = true;
        } else {
            component += c;
            result.trailingSeparator = false;
        }
    }
    if (DWORD error = flush()) return error;
    *out = result;
    return 0;
}

// ---- Short (8.3) names --------------------------------------------------------
//
// Every entry whose name is not already a valid 8.3 name has an alias in the
// Windows style: up to six characters of its name, upper-cased, without blanks
// and dots, then "~n", then a dot and the first three characters of its last
// extension ("Program Files" -> PROGRA~1, "Readme first.html" -> README~1.HTM).
// Host folders keep no record of creation order, so n is dealt out in the
// order of the long names (case-folded) in the directory: the first name of a
// prefix gets ~1, the next ~2, skipping any alias that a real 8.3 entry of the
// directory already spells. Past ~9 the prefix gives up characters (PROGR~10);
// NT's hashed form after ~4 is left out. Unlike on Windows, an alias can
// change when a name that sorts before it appears in the same directory.

// Characters of an 8.3 name besides letters and digits; code-page characters
// (0x80 and above) count as valid.
bool IsShortNameByte(unsigned char c) {
    return std::isalnum(c) || c >= 0x80 || (c && std::strchr("!#$%&'()-@^_`{}~", c));
}

// A name that FAT could store as it stands, ignoring case: one to eight
// characters, at most one dot, and at most three after it.
bool IsValidShortName(const std::string &name) {
    size_t base = 0, extension = 0;
    bool dot = false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        size_t width = 1;
        if (detail::IsLeadByte(c) && i + 1 < name.size()) {
            width = 2;
            ++i;
        } else if (c == '.') {
            if (dot || base == 0) return false;
            dot = true;
            continue;
        } else if (!IsShortNameByte(c)) {
            return false;
        }
        (dot ? extension : base) += width;
    }
    return base >= 1 && base <= 8 && extension <= 3 && !(dot && extension == 0);
}

// Up to `limit` bytes of `text` for an alias: upper-cased, blanks and dots
// dropped, other characters FAT refuses made "_", double-byte characters kept
// whole.
std::string AliasPart(const std::string &text, size_t limit) {
    std::string part;
    for (size_t i = 0; i < text.size() && part.size() < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (detail::IsLeadByte(c) && i + 1 < text.size()) {
            if (part.size() + 2 > limit) break;
            part += text.substr(i++, 2);
        } else if (c == ' ' || c == '.') {
        } else if (!IsShortNameByte(c)) {
            part += '_';
        } else {
            part += static_cast<char>(std::toupper(c));
        }
    }
    return part;
}

// Aliases of the entries of one host directory, both ways.
struct DirectoryAliases {
    std::map<std::string, std::string> aliasOf;  // entry -> alias
    std::map<std::string, std::string> entryOf;  // folded alias -> entry
};

DirectoryAliases AliasesOf(const fs::path &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        const std::string fa = detail::FoldCase(a), fb = detail::FoldCase(b);
        return fa != fb ? fa < fb : a < b;
    });
    std::set<std::string> taken;  // folded 8.3 names in use
    for (const std::string &name : names)
        if (IsValidShortName(name)) taken.insert(detail::FoldCase(name));

    DirectoryAliases aliases;
    for (const std::string &name : names) {
        if (IsValidShortName(name)) continue;
        // Leading dots do not start an extension (".profile" -> PROFIL~1).
        const size_t start = name.find_first_not_of('.');
        const std::string stem = start == std::string::npos ? std::string() : name.substr(start);
        const size_t lastDot = stem.rfind('.');
        std::string base = AliasPart(stem.substr(0, lastDot), 8);
        const std::string extension =
            lastDot == std::string::npos ? std::string() : AliasPart(stem.substr(lastDot + 1), 3);
        if (base.empty()) base = "_";
        for (unsigned n = 1;; ++n) {
            const std::string number = "~" + std::to_string(n);
            const std::string prefix = AliasPart(base, std::min<size_t>(6, 8 - number.size()));
            std::string alias = prefix + number + (extension.empty() ? "" : "." + extension);
            if (taken.insert(detail::FoldCase(alias)).second) {
                aliases.aliasOf[name] = alias;
                aliases.entryOf[detail::FoldCase(alias)] = name;
                break;
            }
        }
    }
    return aliases;
}

// The 8.3 name of an existing entry: its own name when that is valid 8.3.
std::string ShortNameOf(const fs::path &dir, const std::string &entry) {
    if (IsValidShortName(entry)) return entry;
    return AliasesOf(dir).aliasOf[entry];
}

// The entry of a host directory whose name matches `name` without regard to
// case: the exact spelling when present, else the first in name order, else
// the entry whose 8.3 alias `name` is.
std::optional<std::string> FindEntry(const fs::path &dir, const std::string &name,
                                     bool shortNames) {
    std::error_code ec;
    fs::file_status exact = fs::symlink_status(dir / name, ec);
    if (!ec && fs::exists(exact)) return name;
    const std::string folded = detail::FoldCase(name);
    std::optional<std::string> found;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (detail::FoldCase(entry) == folded && (!found || entry < *found)) found = entry;
    }
    if (!found && shortNames && name.find('~') != std::string::npos && IsValidShortName(name)) {
        DirectoryAliases aliases = AliasesOf(dir);
        auto alias = aliases.entryOf.find(folded);
        if (alias != aliases.entryOf.end()) found = alias->second;
    }
    return found;
}

struct Resolved {
    char drive = 0;
    std::vector<std::string> parts;  // on-disk spelling for the part that exists
    fs::path host;
    bool exists = false;
    bool isDir = false;
    bool parentIsDir = false;  // every component but the last is an existing directory
    bool trailingSeparator = false;
    std::string writtenName;  // the last component as the caller wrote it

    std::string Win() const { return Join(drive, parts); }
    std::string Key() const { return host.string(); }
    bool IsRoot() const { return parts.empty(); }
    DWORD MissingError() const { return parentIsDir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }
};

std::optional<Resolved> Resolve(const WinPath &path) {
    auto drive = F().drives.find(path.drive);
    if (drive == F().drives.end()) return std::nullopt;
    Resolved r;
    r.drive = path.drive;
    r.parts = path.parts;
    r.trailingSeparator = path.trailingSeparator;
    if (!path.parts.empty()) r.writtenName = path.parts.back();
    fs::path current = drive->second;
    std::error_code ec;
    bool currentIsDir = fs::is_directory(current, ec);
    size_t existing = 0;
    const bool shortNames = !F().withoutShortNames.count(path.drive);
    while (existing < r.parts.size() && currentIsDir) {
        std::optional<std::string> entry = FindEntry(current, r.parts[existing], shortNames);
        if (!entry) break;
        r.parts[existing] = *entry;
        current /= *entry;
        currentIsDir = fs::is_directory(current, ec);
        ++existing;
    }
    r.host = current;
    for (size_t i = existing; i < r.parts.size(); ++i) r.host /= r.parts[i];
    r.exists = existing == r.parts.size() && (r.IsRoot() ? currentIsDir : fs::exists(current, ec));
    r.isDir = r.exists && currentIsDir;
    r.parentIsDir = r.IsRoot() || existing == r.parts.size() ||
                    (existing + 1 == r.parts.size() && currentIsDir);
    return r;
}

// Parses and resolves a caller's path; on failure sets the last error.
std::optional<Resolved> Locate(LPCSTR path) {
    if (!path) {
        detail::SetError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    WinPath parsed;
    if (DWORD error = ParsePath(path, &parsed)) {
        detail::SetError(error);
        return std::nullopt;
    }
    std::optional<Resolved> r = Resolve(parsed);
    if (!r) detail::SetError(ERROR_PATH_NOT_FOUND);
    return r;
}

// Resolution for the tests' helpers: no last error, no call log.
std::optional<Resolved> LocateQuietly(const std::string &path) {
    WinPath parsed;
    if (ParsePath(path, &parsed)) return std::nullopt;
    return Resolve(parsed);
}

// ---- Attributes and busy files ---------------------------------------------

// A regular host file without any write permission bit: read-only.
bool HostReadOnly(const fs::path &host) {
    struct stat info {};
    return ::stat(host.c_str(), &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & 0222);
}

// Sets or clears a file's read-only attribute in its permission bits, as
// Wine's SetFileAttributesA does (clearing gives the owner write access).
void SetHostReadOnly(const fs::path &host, bool readOnly) {
    struct stat info {};
    if (::stat(host.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    const mode_t mode = info.st_mode & 07777;
    ::chmod(host.c_str(), readOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | 0200));
}

DWORD AttributesOf(const Resolved &r) {
    auto it = F().attributes.find(r.Key());
    if (r.isDir) return (it == F().attributes.end() ? 0 : it->second) | FILE_ATTRIBUTE_DIRECTORY;
    DWORD bits = it == F().attributes.end() ? FILE_ATTRIBUTE_ARCHIVE
                                            : it->second & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (HostReadOnly(r.host)) bits |= FILE_ATTRIBUTE_READONLY;
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

// Stores a file's attributes: read-only in its permission bits, the rest in
// the table.
void StoreFileAttributes(const std::string &key, const fs::path &host, DWORD bits) {
    F().attributes[key] = bits & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetHostReadOnly(host, (bits & FILE_ATTRIBUTE_READONLY) != 0);
}

bool IsUnder(const std::string &key, const std::string &dirKey) {
    return key.size() > dirKey.size() && key.compare(0, dirKey.size(), dirKey) == 0 &&
           key[dirKey.size()] == '/';
}

// Moves the stored attributes of an entry, and of everything under it, to
// a new host path.
void RekeyAttributes(const std::string &from, const std::string &to) {
    std::map<std::string, DWORD> &table = F().attributes;
    std::map<std::string, DWORD> moved;
    for (auto it = table.begin(); it != table.end();) {
        if (it->first == from || IsUnder(it->first, from)) {
            moved[to + it->first.substr(from.size())] = it->second;
            it = table.erase(it);
        } else {
            ++it;
        }
    }
    for (auto &entry : moved) table[entry.first] = entry.second;
}

// Drops the stored attributes of an entry and of everything under it.
void ForgetAttributes(const std::string &key) {
    std::map<std::string, DWORD> &table = F().attributes;
    for (auto it = table.begin(); it != table.end();)
        it = (it->first == key || IsUnder(it->first, key)) ? table.erase(it) : std::next(it);
}

constexpr DWORD kDataAccess = GENERIC_READ | GENERIC_WRITE;

// Whether a handle with read or write access is open on a file. Handles
// opened without either take no part in sharing, and do not keep a file
// from being deleted or renamed.
bool IsInUse(const std::string &key) {
    for (const auto &entry : F().handles)
        if (entry.second.host == key && (entry.second.access & kDataAccess)) return true;
    return false;
}

// Whether an open handle, or the current directory, lies inside a directory.
bool HasBusyDescendant(const std::string &dirKey) {
    for (const auto &entry : F().handles)
        if (IsUnder(entry.second.host, dirKey)) return true;
    std::optional<Resolved> cwd = Resolve(WinPath{F().currentDrive, F().currentParts, false});
    return cwd && IsUnder(cwd->Key(), dirKey);
}

bool IsCurrentDirectory(const Resolved &dir) {
    std::optional<Resolved> cwd = Resolve(WinPath{F().currentDrive, F().currentParts, false});
    return cwd && cwd->Key() == dir.Key();
}

// Whether opening with `access` and `share` clashes with a handle already open:
// the new access must be allowed by every open handle's share mode, and every
// open handle's access by the new share mode. Opens without read or write
// access are neither checked nor counted.
bool SharingConflict(const std::string &key, DWORD access, DWORD share) {
    if (!(access & kDataAccess)) return false;
    for (const auto &entry : F().handles) {
        const OpenFile &open = entry.second;
        if (open.host != key || !(open.access & kDataAccess)) continue;
        if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
        if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
        if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
        if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
    }
    return false;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EIO:
        return ERROR_WRITE_FAULT;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

OpenFile *FindHandle(HANDLE handle) {
    auto it = F().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == F().handles.end() ? nullptr : &it->second;
}

std::string PathOfHandle(HANDLE handle) {
    const OpenFile *open = FindHandle(handle);
    return open ? open->winPath : std::string();
}

// The part of CreateFileA that CopyFileA shares. Returns the handle, or
// INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenResolved(const Resolved &r, DWORD access, DWORD share, DWORD disposition,
                    DWORD flagsAndAttributes) {
    auto fail = [](DWORD error) {
        detail::SetError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return fail(ERROR_INVALID_PARAMETER);
    if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))
        return fail(ERROR_INVALID_PARAMETER);
    if (r.exists && disposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS);
    if (r.isDir) return fail(ERROR_ACCESS_DENIED);
    if (r.trailingSeparator) return fail(ERROR_INVALID_NAME);
    if (!r.exists && !r.parentIsDir) return fail(ERROR_PATH_NOT_FOUND);
    if (!r.exists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
        return fail(ERROR_FILE_NOT_FOUND);

    const bool overwrite =
        r.exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (r.exists) {
        const DWORD attributes = AttributesOf(r);
        if ((attributes & FILE_ATTRIBUTE_READONLY) && ((access & GENERIC_WRITE) || overwrite))
            return fail(ERROR_ACCESS_DENIED);
        // Overwriting a hidden or system file must restate those attributes.
        const DWORD guarded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (disposition == CREATE_ALWAYS && (attributes & guarded & ~flagsAndAttributes))
            return fail(ERROR_ACCESS_DENIED);
        if (SharingConflict(r.Key(), access | (overwrite ? GENERIC_WRITE : 0), share))
            return fail(ERROR_SHARING_VIOLATION);
    }

    int flags = (access & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
    // Write-through: each write reaches the disk before WriteFile returns.
    if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
    if (!r.exists) flags |= O_CREAT | O_EXCL;
    if (overwrite) flags |= O_TRUNC | ((access & GENERIC_WRITE) ? 0 : O_RDWR);
    const int fd = ::open(r.host.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return fail(ErrorFromErrno(errno));

    if (!r.exists || disposition == CREATE_ALWAYS)
        StoreFileAttributes(r.Key(), r.host,
                            (flagsAndAttributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
        detail::SetError(r.exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);

    HANDLE handle = NewFileHandle();
    OpenFile open;
    open.fd = fd;
    open.host = r.Key();
    open.winPath = r.Win();
    open.access = access;
    open.share = share;
    F().handles[reinterpret_cast<std::uintptr_t>(handle)] = open;
    return handle;
}

bool CloseFileHandle(HANDLE handle) {
    auto it = F().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == F().handles.end()) return false;
    ::close(it->second.fd);
    F().handles.erase(it);
    return true;
}

bool CopyHostFile(const fs::path &from, const fs::path &to) {
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) detail::SetError(ErrorFromErrno(ec.value()));
    return !ec;
}

}  // namespace

namespace detail {

void ResetFiles(const std::string &hostRoot) {
    for (auto &entry : F().handles) ::close(entry.second.fd);
    F() = FileState();
    MapDrive('C', (fs::path(hostRoot) / "c").string());
}

void EndProcessFiles() {
    for (auto it = F().handles.begin(); it != F().handles.end();) {
        if (IsHeldFile(reinterpret_cast<HANDLE>(it->first))) {
            ++it;
            continue;
        }
        ::close(it->second.fd);
        it = F().handles.erase(it);
    }
    F().currentDrive = 'C';
    F().currentParts.clear();
}

bool LookUpPath(const std::string &path, FileLookup *out, DWORD *error) {
    WinPath parsed;
    if (DWORD parseError = ParsePath(path, &parsed)) return *error = parseError, false;
    std::optional<Resolved> r = Resolve(parsed);
    if (!r) return *error = ERROR_PATH_NOT_FOUND, false;
    out->host = r->host.string();
    out->winPath = r->Win();
    out->exists = r->exists;
    out->isDir = r->isDir;
    out->attributes = r->exists ? AttributesOf(*r) : 0;
    out->missingError = r->MissingError();
    return true;
}

HANDLE OpenFileQuietly(const std::string &path, DWORD access, DWORD share, DWORD disposition) {
    std::optional<Resolved> r = Locate(path.c_str());
    if (!r) return INVALID_HANDLE_VALUE;
    return OpenResolved(*r, access, share, disposition, FILE_ATTRIBUTE_NORMAL);
}

int HostDescriptor(HANDLE file) {
    const OpenFile *open = FindHandle(file);
    return open ? open->fd : -1;
}

std::string PathOfFileHandle(HANDLE file) { return PathOfHandle(file); }

bool FullPathQuietly(const std::string &path, std::string *full, DWORD *error) {
    WinPath parsed;
    if (DWORD parseError = ParsePath(path, &parsed)) return *error = parseError, false;
    *full = Join(parsed.drive, parsed.parts);
    if (parsed.trailingSeparator && !parsed.parts.empty()) *full += '\\';
    return true;
}

bool CloseFileQuietly(HANDLE file) { return CloseFileHandle(file); }

}  // namespace detail

// ---- The tests' side -------------------------------------------------------------

void MapDrive(char letter, const std::string &hostDir) {
    std::error_code ec;
    fs::create_directories(hostDir, ec);
    fs::path root = fs::absolute(hostDir, ec).lexically_normal();
    if (root.filename().empty()) root = root.parent_path();
    F().drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = root;
}

std::string HostPath(const std::string &winPath) {
    std::optional<Resolved> r = LocateQuietly(winPath);
    return r ? r->host.string() : std::string();
}

void SetRoomLeft(char letter, std::uint64_t bytes) {
    F().room[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = bytes;
}

void SetShortNames(char letter, bool enabled) {
    const char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (enabled)
        F().withoutShortNames.erase(drive);
    else
        F().withoutShortNames.insert(drive);
}

void SetDiskGeometry(char letter, const DiskGeometry &geometry) {
    F().geometry[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = geometry;
}

// Creates missing parent directories; overwrites regardless of attributes.
bool WriteWholeFile(const std::string &winPath, const std::string &bytes) {
    std::optional<Resolved> r = LocateQuietly(winPath);
    if (!r || r->isDir || r->IsRoot()) return false;
    std::error_code ec;
    fs::create_directories(r->host.parent_path(), ec);
    if (ec) return false;
    if (!r->exists) F().attributes.erase(r->Key());
    const bool readOnly = r->exists && HostReadOnly(r->host);
    if (readOnly) SetHostReadOnly(r->host, false);  // a test running as another user than root
    std::ofstream out(r->host, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (readOnly) SetHostReadOnly(r->host, true);
    return static_cast<bool>(out);
}

bool ReadWholeFile(const std::string &winPath, std::string *bytes) {
    std::optional<Resolved> r = LocateQuietly(winPath);
    if (!r || !r->exists || r->isDir) return false;
    std::ifstream in(r->host, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *bytes = content.str();
    return true;
}

bool Exists(const std::string &winPath) {
    std::optional<Resolved> r = LocateQuietly(winPath);
    return r && r->exists;
}

std::vector<std::string> ListTree(const std::string &winDir) {
    std::vector<std::string> entries;
    std::optional<Resolved> r = LocateQuietly(winDir);
    if (!r || !r->isDir) return entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(r->host, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string relative = it->path().lexically_relative(r->host).string();
        std::replace(relative.begin(), relative.end(), '/', '\\');
        std::error_code kindError;
        if (it->is_directory(kindError)) relative += '\\';
        entries.push_back(relative);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// ---- Directories ---------------------------------------------------------------

// NT (95 alike): ERROR_ALREADY_EXISTS for any existing entry,
// ERROR_PATH_NOT_FOUND for a missing parent, and the 248-character directory
// path limit. Security attributes are ignored.
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (Enter("CreateDirectoryA", lpPathName ? lpPathName : "")) return FALSE;
    std::optional<winsim::Resolved> r = winsim::Locate(lpPathName);
    if (!r) return FALSE;
    if (r->exists) return SetError(ERROR_ALREADY_EXISTS), FALSE;
    if (!r->parentIsDir) return SetError(ERROR_PATH_NOT_FOUND), FALSE;
    if (r->Win().size() > winsim::kMaxDirectoryPath)
        return SetError(ERROR_FILENAME_EXCED_RANGE), FALSE;
    std::error_code ec;
    fs::create_directory(r->host, ec);
    if (ec) return SetError(winsim::ErrorFromErrno(ec.value())), FALSE;
    winsim::ForgetAttributes(r->Key());
    return TRUE;
}

// NT only: a directory that is a process's current directory is open and cannot
// go (ERROR_SHARING_VIOLATION); then the read-only attribute (ERROR_ACCESS_DENIED)
// and emptiness (ERROR_DIR_NOT_EMPTY) are checked. A file gives ERROR_DIRECTORY.
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    if (Enter("RemoveDirectoryA", lpPathName ? lpPathName : "")) return FALSE;
    std::optional<winsim::Resolved> r = winsim::Locate(lpPathName);
    if (!r) return FALSE;
    if (!r->exists) return SetError(r->MissingError()), FALSE;
    if (!r->isDir) return SetError(ERROR_DIRECTORY), FALSE;
    if (r->IsRoot()) return SetError(ERROR_ACCESS_DENIED), FALSE;
    if (winsim::IsCurrentDirectory(*r)) return SetError(ERROR_SHARING_VIOLATION), FALSE;
    if (winsim::AttributesOf(*r) & FILE_ATTRIBUTE_READONLY)
        return SetError(ERROR_ACCESS_DENIED), FALSE;
    std::error_code ec;
    if (!fs::is_empty(r->host, ec)) return SetError(ERROR_DIR_NOT_EMPTY), FALSE;
    fs::remove(r->host, ec);
    if (ec) return SetError(winsim::ErrorFromErrno(ec.value())), FALSE;
    winsim::ForgetAttributes(r->Key());
    return TRUE;
}

// NT and 95: one current directory for the process, kept as the caller spelled
// it (drive letter upper-cased); a file gives ERROR_DIRECTORY. Drive-relative paths on other drives
// start at their root, as for a process that never set per-drive directories.
BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (Enter("SetCurrentDirectoryA", lpPathName ? lpPathName : "")) return FALSE;
    if (!lpPathName) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    winsim::WinPath parsed;
    if (DWORD error = winsim::ParsePath(lpPathName, &parsed)) return SetError(error), FALSE;
    std::optional<winsim::Resolved> r = winsim::Resolve(parsed);
    if (!r) return SetError(ERROR_PATH_NOT_FOUND), FALSE;
    if (!r->exists) return SetError(r->MissingError()), FALSE;
    if (!r->isDir) return SetError(ERROR_DIRECTORY), FALSE;
    winsim::F().currentDrive = parsed.drive;
    winsim::F().currentParts = parsed.parts;
    return TRUE;
}

// NT and 95: too small a buffer (or none) leaves it alone and returns the
// size needed including the terminator; otherwise the length without it.
DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    if (Enter("GetCurrentDirectoryA")) return 0;
    const std::string current = winsim::Join(winsim::F().currentDrive, winsim::F().currentParts);
    return winsim::detail::CopyOutOrSizeNeeded(current, lpBuffer, nBufferLength);
}

// ---- Files ---------------------------------------------------------------------

// NT: dispositions, GENERIC_READ/GENERIC_WRITE and FILE_SHARE_READ/WRITE.
// Sharing is checked both ways against the handles open on the file. The
// read-only attribute refuses write access and overwriting; CREATE_ALWAYS over
// a hidden or system file must restate those attributes. Directories cannot be
// opened (no backup semantics). CREATE_ALWAYS and OPEN_ALWAYS leave
// ERROR_ALREADY_EXISTS or 0 behind on success. FILE_FLAG_WRITE_THROUGH makes
// every write reach the disk before it returns. Template files are ignored.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    if (Enter("CreateFileA", lpFileName ? lpFileName : "")) return INVALID_HANDLE_VALUE;
    std::optional<winsim::Resolved> r = winsim::Locate(lpFileName);
    if (!r) return INVALID_HANDLE_VALUE;
    return winsim::OpenResolved(*r, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                                dwFlagsAndAttributes);
}

// NT and 95, synchronous reads only; reading at or past the end succeeds with 0 bytes.
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (Enter("ReadFile", winsim::PathOfHandle(hFile))) return FALSE;
    winsim::OpenFile *open = winsim::FindHandle(hFile);
    if (!open) return SetError(ERROR_INVALID_HANDLE), FALSE;
    if (lpOverlapped || !lpNumberOfBytesRead || (!lpBuffer && nNumberOfBytesToRead))
        return SetError(ERROR_INVALID_PARAMETER), FALSE;
    *lpNumberOfBytesRead = 0;
    if (!(open->access & GENERIC_READ)) return SetError(ERROR_ACCESS_DENIED), FALSE;
    char *buffer = static_cast<char *>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        const ssize_t got = ::pread(open->fd, buffer + done, nNumberOfBytesToRead - done,
                                    static_cast<off_t>(open->position));
        if (got < 0) return SetError(ERROR_READ_FAULT), FALSE;
        if (got == 0) break;
        done += static_cast<DWORD>(got);
        open->position += got;
    }
    *lpNumberOfBytesRead = done;
    return TRUE;
}

// NT and 95, synchronous writes at the file pointer; writing past the end fills the gap
// with zeros. A write of at least one byte sets the archive attribute. On a
// drive given a room (SetRoomLeft), a write that would grow its file past the
// room writes what fits and returns TRUE with the short count on Windows 95, as
// on a full FAT disk; NT writes nothing and fails with ERROR_DISK_FULL.
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (Enter("WriteFile", winsim::PathOfHandle(hFile))) return FALSE;
    winsim::OpenFile *open = winsim::FindHandle(hFile);
    if (!open) return SetError(ERROR_INVALID_HANDLE), FALSE;
    if (lpOverlapped || !lpNumberOfBytesWritten || (!lpBuffer && nNumberOfBytesToWrite))
        return SetError(ERROR_INVALID_PARAMETER), FALSE;
    *lpNumberOfBytesWritten = 0;
    if (!(open->access & GENERIC_WRITE)) return SetError(ERROR_ACCESS_DENIED), FALSE;
    DWORD count = nNumberOfBytesToWrite;
    auto room = winsim::F().room.find(open->winPath.empty() ? 0 : open->winPath[0]);
    std::uint64_t growth = 0;
    if (room != winsim::F().room.end()) {
        struct stat info {};
        if (::fstat(open->fd, &info) != 0) return SetError(ERROR_INVALID_HANDLE), FALSE;
        const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t start = static_cast<std::uint64_t>(open->position);
        const std::uint64_t fits =
            size + room->second > start ? size + room->second - start : 0;
        if (count > fits) {
            if (winsim::GetPlatform() == winsim::Platform::WindowsNT)
                return SetError(ERROR_DISK_FULL), FALSE;
            count = static_cast<DWORD>(fits);
        }
        const std::uint64_t end = start + count;
        growth = end > size ? end - size : 0;
    }
    const char *buffer = static_cast<const char *>(lpBuffer);
    DWORD done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(open->fd, buffer + done, count - done,
                                     static_cast<off_t>(open->position));
        if (put <= 0) {
            *lpNumberOfBytesWritten = done;
            return SetError(put < 0 && errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT),
                   FALSE;
        }
        done += static_cast<DWORD>(put);
        open->position += put;
    }
    *lpNumberOfBytesWritten = done;
    if (room != winsim::F().room.end()) room->second -= std::min(growth, room->second);
    if (done) {
        auto it = winsim::F().attributes.find(open->host);
        if (it != winsim::F().attributes.end()) it->second |= FILE_ATTRIBUTE_ARCHIVE;
    }
    return TRUE;
}

// NT: 64-bit positions through the optional high part (95 stops at 4 GB,
// which the machine's files never reach). Without it the distance is
// a signed 32-bit value and the result must fit in 32 bits. Moving before the
// start fails with ERROR_NEGATIVE_SEEK; moving past the end is allowed. A
// successful result whose low part is 0xFFFFFFFF clears the last error.
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    if (Enter("SetFilePointer", winsim::PathOfHandle(hFile))) return INVALID_SET_FILE_POINTER;
    winsim::OpenFile *open = winsim::FindHandle(hFile);
    if (!open) return SetError(ERROR_INVALID_HANDLE), INVALID_SET_FILE_POINTER;
    std::int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
            static_cast<DWORD>(lDistanceToMove));
    std::int64_t base = 0;
    switch (dwMoveMethod) {
    case FILE_BEGIN:
        break;
    case FILE_CURRENT:
        base = open->position;
        break;
    case FILE_END: {
        struct stat info {};
        if (::fstat(open->fd, &info) != 0)
            return SetError(ERROR_INVALID_HANDLE), INVALID_SET_FILE_POINTER;
        base = info.st_size;
        break;
    }
    default:
        return SetError(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
    }
    const std::int64_t target = base + distance;
    if (target < 0) return SetError(ERROR_NEGATIVE_SEEK), INVALID_SET_FILE_POINTER;
    if (!lpDistanceToMoveHigh && target > 0xFFFFFFFFll)
        return SetError(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
    open->position = target;
    const DWORD low = static_cast<DWORD>(target & 0xFFFFFFFFu);
    if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    if (low == INVALID_SET_FILE_POINTER) SetError(ERROR_SUCCESS);
    return low;
}

// NT and 95: needs no access rights. A size whose low part is 0xFFFFFFFF clears the last error.
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    if (Enter("GetFileSize", winsim::PathOfHandle(hFile))) return INVALID_FILE_SIZE;
    winsim::OpenFile *open = winsim::FindHandle(hFile);
    if (!open) return SetError(ERROR_INVALID_HANDLE), INVALID_FILE_SIZE;
    struct stat info {};
    if (::fstat(open->fd, &info) != 0) return SetError(ERROR_INVALID_HANDLE), INVALID_FILE_SIZE;
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    const DWORD low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    if (low == INVALID_FILE_SIZE) SetError(ERROR_SUCCESS);
    return low;
}

// NT and 95: writes what the file's buffers hold to the disk. Needs write
// access (ERROR_ACCESS_DENIED on a handle opened for reading only); a handle
// that is not an open file fails with ERROR_INVALID_HANDLE.
BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    if (Enter("FlushFileBuffers", winsim::PathOfHandle(hFile))) return FALSE;
    winsim::OpenFile *open = winsim::FindHandle(hFile);
    if (!open) return SetError(ERROR_INVALID_HANDLE), FALSE;
    if (!(open->access & GENERIC_WRITE)) return SetError(ERROR_ACCESS_DENIED), FALSE;
    if (::fdatasync(open->fd) != 0) return SetError(ERROR_WRITE_FAULT), FALSE;
    return TRUE;
}

// NT and 95: file handles here; any other handle goes to the family that owns it
// (CloseNonFileHandle). A handle nobody owns fails with ERROR_INVALID_HANDLE.
BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (Enter("CloseHandle", winsim::PathOfHandle(hObject))) return FALSE;
    if (winsim::CloseFileHandle(hObject)) return TRUE;
    if (winsim::detail::CloseNonFileHandle(hObject)) return TRUE;
    return SetError(ERROR_INVALID_HANDLE), FALSE;
}

// NT and 95, from winsim's table: files default to FILE_ATTRIBUTE_ARCHIVE, a file with
// no attributes reports FILE_ATTRIBUTE_NORMAL, directories always carry
// FILE_ATTRIBUTE_DIRECTORY (the root reports nothing else).
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (Enter("GetFileAttributesA", lpFileName ? lpFileName : "")) return INVALID_FILE_ATTRIBUTES;
    std::optional<winsim::Resolved> r = winsim::Locate(lpFileName);
    if (!r) return INVALID_FILE_ATTRIBUTES;
    if (!r->exists) return SetError(r->MissingError()), INVALID_FILE_ATTRIBUTES;
    return winsim::AttributesOf(*r);
}

// NT and 95: stores read-only, hidden, system and archive; FILE_ATTRIBUTE_NORMAL clears
// them, the directory bit and unknown bits are ignored. Allowed on open files.
BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (Enter("SetFileAttributesA", lpFileName ? lpFileName : "")) return FALSE;
    std::optional<winsim::Resolved> r = winsim::Locate(lpFileName);
    if (!r) return FALSE;
    if (!r->exists) return SetError(r->MissingError()), FALSE;
    const DWORD bits = dwFileAttributes & winsim::kSettableAttributes;
    if (r->isDir)
        winsim::F().attributes[r->Key()] = bits;
    else
        winsim::StoreFileAttributes(r->Key(), r->host, bits);
    return TRUE;
}

// NT. The call log and faults see "source -> destination". The source is opened
// for reading with FILE_SHARE_READ, so a file open for writing cannot be
// copied; the destination is created as CreateFileA would with the source's
// attributes plus archive, so a read-only (or unmatched hidden/system)
// destination refuses, and bFailIfExists gives ERROR_FILE_EXISTS. A probe
// under Wine (run as a user other than root) decided the read-only cases: a
// read-only source gives a read-only copy (0x21), a read-only destination
// refuses with ERROR_ACCESS_DENIED. Wine leaves an existing destination's
// attributes as they were; Windows gives it the source's, and so does winsim.
BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    if (Enter("CopyFileA", std::string(lpExistingFileName ? lpExistingFileName : "") + " -> " +
                               (lpNewFileName ? lpNewFileName : "")))
        return FALSE;
    std::optional<winsim::Resolved> from = winsim::Locate(lpExistingFileName);
    if (!from) return FALSE;
    if (!from->exists) return SetError(from->MissingError()), FALSE;
    if (from->isDir) return SetError(ERROR_ACCESS_DENIED), FALSE;
    if (winsim::SharingConflict(from->Key(), GENERIC_READ, FILE_SHARE_READ))
        return SetError(ERROR_SHARING_VIOLATION), FALSE;
    std::optional<winsim::Resolved> to = winsim::Locate(lpNewFileName);
    if (!to) return FALSE;
    if (to->exists && to->Key() == from->Key()) return SetError(ERROR_SHARING_VIOLATION), FALSE;
    const DWORD attributes = winsim::AttributesOf(*from);
    // Read-only is given to the copy once it is written.
    HANDLE out = winsim::OpenResolved(*to, GENERIC_WRITE, 0,
                                      bFailIfExists ? CREATE_NEW : CREATE_ALWAYS,
                                      attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (out == INVALID_HANDLE_VALUE) return FALSE;
    winsim::CloseFileHandle(out);
    if (!winsim::CopyHostFile(from->host, to->host)) return FALSE;
    winsim::StoreFileAttributes(to->Key(), to->host,
                                (attributes & winsim::kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    SetError(ERROR_SUCCESS);
    return TRUE;
}

// NT. The call log and faults see "source -> destination". Renames files and
// directories within a drive (a change of case alone included) and moves
// files across drives by copying. An existing destination gives
// ERROR_ALREADY_EXISTS; a file with an open handle ERROR_SHARING_VIOLATION; a
// directory holding open files or the current directory ERROR_ACCESS_DENIED,
// one that is the current directory ERROR_SHARING_VIOLATION; a directory to
// another drive ERROR_NOT_SAME_DEVICE. Read-only files may be moved and stay
// read-only; a read-only destination is refused like any existing one
// (ERROR_ALREADY_EXISTS). A probe under Wine, run as a user other than root,
// showed both.
BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    if (Enter("MoveFileA", std::string(lpExistingFileName ? lpExistingFileName : "") + " -> " +
                               (lpNewFileName ? lpNewFileName : "")))
        return FALSE;
    std::optional<winsim::Resolved> from = winsim::Locate(lpExistingFileName);
    if (!from) return FALSE;
    if (!from->exists) return SetError(from->MissingError()), FALSE;
    if (from->IsRoot()) return SetError(ERROR_ACCESS_DENIED), FALSE;
    std::optional<winsim::Resolved> to = winsim::Locate(lpNewFileName);
    if (!to) return FALSE;
    const bool sameEntry = to->exists && to->Key() == from->Key();
    if (to->exists && !sameEntry) return SetError(ERROR_ALREADY_EXISTS), FALSE;
    if (!to->parentIsDir || to->IsRoot()) return SetError(ERROR_PATH_NOT_FOUND), FALSE;

    if (from->isDir) {
        if (winsim::IsCurrentDirectory(*from)) return SetError(ERROR_SHARING_VIOLATION), FALSE;
        if (winsim::HasBusyDescendant(from->Key())) return SetError(ERROR_ACCESS_DENIED), FALSE;
        if (winsim::IsUnder(to->Key(), from->Key()))
            return SetError(ERROR_SHARING_VIOLATION), FALSE;
        if (to->drive != from->drive) return SetError(ERROR_NOT_SAME_DEVICE), FALSE;
    } else if (winsim::IsInUse(from->Key())) {
        return SetError(ERROR_SHARING_VIOLATION), FALSE;
    }

    // The new name as the caller wrote it, in the directory as it exists.
    const fs::path target = to->host.parent_path() / to->writtenName;
    std::error_code ec;
    if (to->drive != from->drive) {
        if (!winsim::CopyHostFile(from->host, target)) return FALSE;
        fs::remove(from->host, ec);
    } else {
        fs::rename(from->host, target, ec);
    }
    if (ec) return SetError(winsim::ErrorFromErrno(ec.value())), FALSE;
    winsim::RekeyAttributes(from->Key(), target.string());
    return TRUE;
}

// NT (95 differences left out), in NT's order: a directory is refused (ERROR_ACCESS_DENIED), then a
// file with an open handle (ERROR_SHARING_VIOLATION, as no handle here can share delete access),
// then a read-only file (ERROR_ACCESS_DENIED, as a probe under Wine run as a user other than
// root showed).
BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (Enter("DeleteFileA", lpFileName ? lpFileName : "")) return FALSE;
    std::optional<winsim::Resolved> r = winsim::Locate(lpFileName);
    if (!r) return FALSE;
    if (!r->exists) return SetError(r->MissingError()), FALSE;
    if (r->isDir) return SetError(ERROR_ACCESS_DENIED), FALSE;
    if (winsim::IsInUse(r->Key())) return SetError(ERROR_SHARING_VIOLATION), FALSE;
    if (winsim::AttributesOf(*r) & FILE_ATTRIBUTE_READONLY)
        return SetError(ERROR_ACCESS_DENIED), FALSE;
    std::error_code ec;
    fs::remove(r->host, ec);
    if (ec) return SetError(winsim::ErrorFromErrno(ec.value())), FALSE;
    winsim::ForgetAttributes(r->Key());
    return TRUE;
}

// ---- Disks -----------------------------------------------------------------------

// Reports the drive's geometry from SetDiskGeometry. NULL, "\" and "/" mean
// the current drive; a root ("C:\", "c:/") or an existing directory selects
// a drive. An unmapped drive fails with ERROR_PATH_NOT_FOUND on NT and
// ERROR_INVALID_DRIVE on Windows 95. A drive without a medium (its geometry
// does not answer) fails with ERROR_NOT_READY before any path on it is
// looked at. Null output pointers are skipped.
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster,
                              LPDWORD lpBytesPerSector, LPDWORD lpNumberOfFreeClusters,
                              LPDWORD lpTotalNumberOfClusters) {
    if (Enter("GetDiskFreeSpaceA", lpRootPathName ? lpRootPathName : "")) return FALSE;
    winsim::WinPath parsed;
    if (DWORD error = winsim::ParsePath(lpRootPathName ? lpRootPathName : "\\", &parsed))
        return SetError(error), FALSE;
    if (!winsim::F().drives.count(parsed.drive)) {
        const bool nt = winsim::GetPlatform() == winsim::Platform::WindowsNT;
        return SetError(nt ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_DRIVE), FALSE;
    }
    winsim::DiskGeometry geometry;
    auto it = winsim::F().geometry.find(parsed.drive);
    if (it != winsim::F().geometry.end()) geometry = it->second;
    if (!geometry.answers) return SetError(ERROR_NOT_READY), FALSE;
    std::optional<winsim::Resolved> r = winsim::Resolve(parsed);
    if (!r || !r->isDir) return SetError(ERROR_PATH_NOT_FOUND), FALSE;
    if (lpSectorsPerCluster) *lpSectorsPerCluster = geometry.sectorsPerCluster;
    if (lpBytesPerSector) *lpBytesPerSector = geometry.bytesPerSector;
    if (lpNumberOfFreeClusters) *lpNumberOfFreeClusters = geometry.freeClusters;
    if (lpTotalNumberOfClusters) *lpTotalNumberOfClusters = geometry.totalClusters;
    return TRUE;
}

// ---- Short and full path names ---------------------------------------------------

// NT: each component of the path is replaced by its 8.3 name (see AliasesOf);
// components that are valid 8.3 names come back in their stored spelling. The
// path keeps the form it was given in: a relative path stays relative, the
// drive, separators, "." and ".." stay as written. Every component must exist
// (ERROR_FILE_NOT_FOUND for the last, ERROR_PATH_NOT_FOUND for one before it).
// Too small a buffer gets nothing and the result is the size needed, including
// the terminator. Source and destination may be the same buffer. On a volume
// without 8.3 names (SetShortNames) a name has no alias: it comes back long,
// blanks and all, and an alias spelling names nothing.
DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (Enter("GetShortPathNameA", lpszLongPath ? lpszLongPath : "")) return 0;
    if (!lpszLongPath) return SetError(ERROR_INVALID_PARAMETER), 0;
    if (!*lpszLongPath) return SetError(ERROR_BAD_PATHNAME), 0;
    std::optional<winsim::Resolved> whole = winsim::Locate(lpszLongPath);
    if (!whole) return 0;
    if (!whole->exists) return SetError(whole->MissingError()), 0;

    const std::string text = lpszLongPath;
    std::string result;
    size_t i = 0;
    if (text.size() >= 2 && text[1] == ':') {
        result = text.substr(0, 2);
        i = 2;
    }
    while (i < text.size()) {
        if (winsim::IsSeparator(text[i])) {
            result += text[i++];
            continue;
        }
        size_t end = i;
        while (end < text.size() && !winsim::IsSeparator(text[end]))
            end += (winsim::detail::IsLeadByte(static_cast<unsigned char>(text[end])) &&
                    end + 1 < text.size())
                       ? 2
                       : 1;
        const std::string component = text.substr(i, end - i);
        if (component == "." || component == "..") {
            result += component;
        } else {
            std::optional<winsim::Resolved> r = winsim::LocateQuietly(text.substr(0, end));
            if (!r || !r->exists || r->IsRoot())
                return SetError(ERROR_PATH_NOT_FOUND), 0;
            result += winsim::F().withoutShortNames.count(r->drive)
                          ? r->parts.back()
                          : winsim::ShortNameOf(r->host.parent_path(), r->parts.back());
        }
        i = end;
    }
    return winsim::detail::CopyOutOrSizeNeeded(result, lpszShortPath, cchBuffer);
}

// NT and 95: joins the path to the current directory and applies "." and
// "..", without looking at the disk; components keep their spelling. The file
// part points at the last component, or is NULL when the result ends in "\".
// Too small a buffer gets nothing and the result is the size needed, including
// the terminator. Characters that no file name may hold fail here with
// ERROR_INVALID_NAME, which Windows leaves to the call that uses the path.
DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR *lpFilePart) {
    if (Enter("GetFullPathNameA", lpFileName ? lpFileName : "")) return 0;
    if (!lpFileName) return SetError(ERROR_INVALID_PARAMETER), 0;
    winsim::WinPath parsed;
    if (DWORD error = winsim::ParsePath(lpFileName, &parsed)) return SetError(error), 0;
    std::string full = winsim::Join(parsed.drive, parsed.parts);
    const bool endsInSeparator = parsed.parts.empty() || parsed.trailingSeparator;
    if (parsed.trailingSeparator && !parsed.parts.empty()) full += '\\';
    const DWORD length = static_cast<DWORD>(full.size());
    const DWORD result = winsim::detail::CopyOutOrSizeNeeded(full, lpBuffer, nBufferLength);
    if (result == length && lpFilePart)
        *lpFilePart = endsInSeparator ? nullptr : lpBuffer + (length - parsed.parts.back().size());
    return result;
}
