// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER held in memory, the
// advapi32 calls the installer makes on them, and the REGEDIT4 text that
// tests use to set a machine up and to compare its end state with Wine's.
//
// Key and value names are case-insensitive and case-preserving, folded by the
// machine's code page so a double-byte trail byte never folds and a trail
// byte 0x5C never splits a path. Values keep the type and the bytes they were
// given, whatever the type says about them: a REG_SZ without terminator stays
// without one. The model follows NT 4; where Windows 95 differs in a way the
// installer can see, the API's comment says so and GetPlatform() decides.
//
// Not modelled: HKEY_CLASSES_ROOT and HKEY_USERS (every call on them fails
// with ERROR_INVALID_HANDLE), key classes, security descriptors, last-write
// times, volatile keys, enumeration, size limits on names and data.
//
// The registry functions return their error instead of setting the last
// error; an injected fault returns the fault's error the same way.
#include "internal.h"

#include "formats/regedit4.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

namespace winsim {
namespace {

// Access masks a caller may ask for besides the KEY_* bits.
constexpr REGSAM kGenericRead = 0x80000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kMaximumAllowed = 0x02000000u;

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct Key {
    std::string name;
    std::weak_ptr<Key> parent;                   // empty for a root key
    std::vector<std::shared_ptr<Key>> subkeys;   // in creation order
    std::vector<Value> values;                   // in the order first written
    bool deleted = false;
};
using KeyPtr = std::shared_ptr<Key>;

struct Handle {
    KeyPtr key;
    REGSAM access = 0;
    std::string path;  // full path with the stored spelling, for the call log
    bool predefined = false;
};

struct RootKey {
    const char *name;
    const char *shortName;  // as Wine's regedit also accepts it in files
    std::uintptr_t handle;
};
constexpr RootKey kRootKeys[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},
    {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
};

struct Registry {
    std::map<std::string, KeyPtr> roots;  // by folded name, short names too
    std::map<std::uintptr_t, Handle> handles;

    Registry() {
        for (const RootKey &root : kRootKeys) {
            KeyPtr key = std::make_shared<Key>();
            key->name = root.name;
            roots[detail::FoldCase(root.name)] = key;
            roots[detail::FoldCase(root.shortName)] = key;
            handles[root.handle] = Handle{key, KEY_ALL_ACCESS, root.name, true};
        }
    }
};

Registry &R() {
    static Registry registry;
    return registry;
}

// Key handle values: multiples of 4, never reused within the process, so a
// handle from an earlier machine stays invalid.
HKEY NewHandle(const KeyPtr &key, REGSAM access, const std::string &path) {
    static std::uintptr_t next = 0x3000;
    next += 4;
    R().handles[next] = Handle{key, access, path, false};
    return reinterpret_cast<HKEY>(next);
}

Handle *FindHandle(HKEY hKey) {
    auto it = R().handles.find(reinterpret_cast<std::uintptr_t>(hKey));
    return it == R().handles.end() ? nullptr : &it->second;
}

bool IsNT() { return GetPlatform() == Platform::WindowsNT; }

// What a handle opened with `sam` may do: generic rights become key rights.
REGSAM GrantedAccess(REGSAM sam) {
    REGSAM granted = sam & KEY_ALL_ACCESS;
    if (sam & kGenericRead) granted |= KEY_READ;
    if (sam & kGenericWrite) granted |= KEY_WRITE;
    if (sam & (kGenericAll | kMaximumAllowed)) granted |= KEY_ALL_ACCESS;
    return granted;
}

// The handle, when it is open, its key not deleted, and (on NT) it was
// opened with `rights`. Windows 95 keeps no security on the registry, so
// there every handle may do everything.
LONG Use(HKEY hKey, REGSAM rights, Handle **out) {
    Handle *handle = FindHandle(hKey);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (handle->key->deleted) return ERROR_KEY_DELETED;
    if (IsNT() && (handle->access & rights) != rights) return ERROR_ACCESS_DENIED;
    *out = handle;
    return ERROR_SUCCESS;
}

// The result of a call that an injected fault fails.
LONG FaultResult() { return static_cast<LONG>(GetLastError()); }

// The full path a call names, for the call log and fault matching: the
// handle's path and the subkey as the caller wrote it.
std::string CallPath(HKEY hKey, const char *subkey) {
    const Handle *handle = FindHandle(hKey);
    std::string path = handle ? handle->path : std::string();
    if (subkey && *subkey) {
        if (!path.empty()) path += '\\';
        path += subkey;
    }
    return path;
}

// Splits a key path at backslashes into names, skipping empty ones (a
// trailing or doubled backslash). A 0x5C trail byte does not split.
std::vector<std::string> SplitKeyPath(const std::string &path) {
    std::vector<std::string> names;
    std::string name;
    for (size_t i = 0; i < path.size(); ++i) {
        if (detail::IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            name += path[i];
            name += path[++i];
        } else if (path[i] == '\\') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += path[i];
        }
    }
    if (!name.empty()) names.push_back(name);
    return names;
}

// The names of a subkey argument. NT refuses a leading backslash with
// ERROR_BAD_PATHNAME; Windows 95 steps over it.
LONG SplitSubkey(const char *subkey, std::vector<std::string> *names) {
    names->clear();
    if (!subkey) return ERROR_SUCCESS;
    if (subkey[0] == '\\' && IsNT()) return ERROR_BAD_PATHNAME;
    *names = SplitKeyPath(subkey);
    return ERROR_SUCCESS;
}

KeyPtr FindSubkey(const Key &key, const std::string &name) {
    const std::string folded = detail::FoldCase(name);
    for (const KeyPtr &subkey : key.subkeys) {
        if (detail::FoldCase(subkey->name) == folded) return subkey;
    }
    return nullptr;
}

KeyPtr CreateSubkey(const KeyPtr &key, const std::string &name) {
    KeyPtr subkey = std::make_shared<Key>();
    subkey->name = name;
    subkey->parent = key;
    key->subkeys.push_back(subkey);
    return subkey;
}

// The key `names` lead to from `key`, or null where one is missing. With
// `create`, missing keys are made instead and *created (when given) says
// whether any was. *path (when given) gets "\name" for each step, in the
// stored spelling.
KeyPtr WalkKey(KeyPtr key, const std::vector<std::string> &names, bool create,
               std::string *path = nullptr, bool *created = nullptr) {
    if (created) *created = false;
    for (const std::string &name : names) {
        KeyPtr subkey = FindSubkey(*key, name);
        if (!subkey) {
            if (!create) return nullptr;
            subkey = CreateSubkey(key, name);
            if (created) *created = true;
        }
        key = subkey;
        if (path) *path += '\\' + key->name;
    }
    return key;
}

Value *FindValue(Key &key, const std::string &name) {
    const std::string folded = detail::FoldCase(name);
    for (Value &value : key.values) {
        if (detail::FoldCase(value.name) == folded) return &value;
    }
    return nullptr;
}

// A new value goes last; an existing one keeps its place and its name's
// first spelling, and takes the new type and bytes.
void SetValue(Key &key, const std::string &name, DWORD type, const std::string &data) {
    if (Value *value = FindValue(key, name)) {
        value->type = type;
        value->data = data;
        return;
    }
    key.values.push_back(Value{name, type, data});
}

bool RemoveValue(Key &key, const std::string &name) {
    const std::string folded = detail::FoldCase(name);
    auto it = std::find_if(key.values.begin(), key.values.end(), [&](const Value &value) {
        return detail::FoldCase(value.name) == folded;
    });
    if (it == key.values.end()) return false;
    key.values.erase(it);
    return true;
}

void MarkDeleted(Key &key) {
    key.deleted = true;
    for (const KeyPtr &subkey : key.subkeys) MarkDeleted(*subkey);
}

// Takes a key and everything below it out of the tree. Handles still open on
// any of them see a deleted key.
void DeleteTree(const KeyPtr &key) {
    MarkDeleted(*key);
    if (KeyPtr parent = key->parent.lock()) {
        auto &siblings = parent->subkeys;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
    }
}

// A full path ("HKEY_LOCAL_MACHINE\Software\X") split into its root key and
// the names below it. Null when the root is not one the machine has.
KeyPtr RootOf(const std::string &fullPath, std::vector<std::string> *names) {
    *names = SplitKeyPath(fullPath);
    if (names->empty()) return nullptr;
    auto root = R().roots.find(detail::FoldCase(names->front()));
    if (root == R().roots.end()) return nullptr;
    names->erase(names->begin());
    return root->second;
}

KeyPtr FindPath(const std::string &fullPath) {
    std::vector<std::string> names;
    KeyPtr key = RootOf(fullPath, &names);
    return key ? WalkKey(key, names, false) : nullptr;
}

// ---- REGEDIT4 text (formats/regedit4.h reads and writes it) -----------------

// Carries out what one [key] line and its values say. False with the
// reason when the path names no key the machine can have.
bool ApplyKey(const formats::RegTextKey &entry, std::string *why) {
    std::vector<std::string> names;
    KeyPtr key = RootOf(entry.path, &names);
    if (!key) {
        std::vector<std::string> all = SplitKeyPath(entry.path);
        *why = all.empty() ? std::string("empty key name") : "unknown root key \"" + all.front() + "\"";
        return false;
    }
    if (entry.remove) {
        if (names.empty()) {
            *why = "a root key cannot be deleted";
            return false;
        }
        if (KeyPtr found = WalkKey(key, names, false)) DeleteTree(found);
        return true;
    }
    key = WalkKey(key, names, true);
    for (const formats::RegTextValue &value : entry.values) {
        if (value.remove) {
            RemoveValue(*key, value.name);
        } else {
            SetValue(*key, value.name, value.type, value.data);
        }
    }
    return true;
}

struct ExportedKey {
    std::vector<std::string> order;  // folded names from the root down
    std::string path;
    const Key *key;
};

void Collect(const Key &key, const std::string &path, std::vector<std::string> order,
             std::vector<ExportedKey> *out) {
    order.push_back(detail::FoldCase(key.name));
    out->push_back(ExportedKey{order, path, &key});
    for (const KeyPtr &subkey : key.subkeys)
        Collect(*subkey, path + '\\' + subkey->name, order, out);
}

}  // namespace

// What the lines before a line that cannot be read did stays done, as with
// regedit.
bool ImportRegText(const std::string &text, std::string *error) {
    std::vector<formats::RegTextKey> keys;
    std::string parseError;
    const bool parsed = formats::ParseRegText(text, &keys, &parseError, detail::IsLeadByte);
    for (const formats::RegTextKey &key : keys) {
        std::string why;
        if (!ApplyKey(key, &why)) {
            if (error) *error = "line " + std::to_string(key.line) + ": " + why;
            return false;
        }
    }
    if (!parsed && error) *error = parseError;
    return parsed;
}

// `path` is a host path (the tests' fixtures), not one on the simulated drives.
bool ImportRegFile(const std::string &path, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ImportRegText(text, error);
}

// Keys in tree order (a key, then its subkeys), each level sorted by folded
// name; values sorted by folded name, so the default value comes first.
// Names keep their stored spelling; hex lists are not wrapped; LF line ends.
std::string ExportRegText(const std::vector<std::string> &keys) {
    std::vector<ExportedKey> exported;
    for (const std::string &wanted : keys) {
        KeyPtr key = FindPath(wanted);
        if (!key) continue;
        // The path down to the key, in stored spelling, for the header and
        // the sort order.
        std::vector<const Key *> chain;
        for (KeyPtr at = key; at; at = at->parent.lock()) chain.insert(chain.begin(), at.get());
        std::vector<std::string> order;
        std::string path;
        for (size_t i = 0; i + 1 < chain.size(); ++i) {
            order.push_back(detail::FoldCase(chain[i]->name));
            path += chain[i]->name + '\\';
        }
        Collect(*key, path + key->name, order, &exported);
    }
    std::sort(exported.begin(), exported.end(),
              [](const ExportedKey &a, const ExportedKey &b) { return a.order < b.order; });
    exported.erase(std::unique(exported.begin(), exported.end(),
                               [](const ExportedKey &a, const ExportedKey &b) {
                                   return a.key == b.key;
                               }),
                   exported.end());

    std::vector<formats::RegTextKey> text;
    for (const ExportedKey &entry : exported) {
        formats::RegTextKey key;
        key.path = entry.path;
        for (const Value &value : entry.key->values)
            key.values.push_back(formats::RegTextValue{value.name, value.type, value.data});
        std::stable_sort(key.values.begin(), key.values.end(),
                         [](const formats::RegTextValue &a, const formats::RegTextValue &b) {
                             return detail::FoldCase(a.name) < detail::FoldCase(b.name);
                         });
        text.push_back(key);
    }
    return formats::WriteRegText(text, "\n", detail::IsLeadByte);
}

namespace detail {

void ResetRegistry() { R() = Registry(); }

void CloseProcessKeys() {
    std::map<std::uintptr_t, Handle> &handles = R().handles;
    for (auto it = handles.begin(); it != handles.end();)
        it = it->second.predefined ? std::next(it) : handles.erase(it);
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;

// Both: a missing key fails with ERROR_FILE_NOT_FOUND; a NULL or empty subkey
// opens a new handle to the same key. NT sets *phkResult to NULL on failure
// (Windows 95 leaves it) and refuses a leading backslash. The access asked
// for is kept with the handle and checked by the calls that use it (NT
// only); the parent handle's own access is not checked, as on both.
LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult) {
    if (Enter("RegOpenKeyExA", winsim::CallPath(hKey, lpSubKey))) return winsim::FaultResult();
    (void)ulOptions;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (winsim::IsNT()) *phkResult = nullptr;
    winsim::Handle *base = nullptr;
    std::vector<std::string> names;
    if (LONG error = winsim::Use(hKey, 0, &base)) return error;
    if (LONG error = winsim::SplitSubkey(lpSubKey, &names)) return error;
    std::string path = base->path;
    winsim::KeyPtr key = winsim::WalkKey(base->key, names, false, &path);
    if (!key) return ERROR_FILE_NOT_FOUND;
    *phkResult = winsim::NewHandle(key, winsim::GrantedAccess(samDesired), path);
    return ERROR_SUCCESS;
}

// Both: missing keys along the path are created, the disposition says whether
// the last one was; a NULL or empty subkey opens the key itself. The parent
// handle's access is not checked (no Windows version does). NT refuses a
// leading backslash with ERROR_BAD_PATHNAME. Classes, options (volatile keys)
// and security attributes are accepted and ignored.
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                            DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    if (Enter("RegCreateKeyExA", winsim::CallPath(hKey, lpSubKey))) return winsim::FaultResult();
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    winsim::Handle *base = nullptr;
    std::vector<std::string> names;
    if (LONG error = winsim::Use(hKey, 0, &base)) return error;
    if (LONG error = winsim::SplitSubkey(lpSubKey, &names)) return error;
    std::string path = base->path;
    bool created = false;
    winsim::KeyPtr key = winsim::WalkKey(base->key, names, true, &path, &created);
    *phkResult = winsim::NewHandle(key, winsim::GrantedAccess(samDesired), path);
    if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// Both: a missing value fails with ERROR_FILE_NOT_FOUND (the default value,
// NULL or "", too, until it is set). Without a buffer the size is returned
// with success; a buffer smaller than the data fails with ERROR_MORE_DATA,
// the size needed in *lpcbData and the buffer left alone. The bytes come back
// as stored: a REG_SZ stored without terminator gets none. (NT adds a
// terminator after the data when the buffer has room, uncounted; Windows 95
// does not, and the installer must not rely on it, so winsim takes 95's side.)
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    const std::string name = lpValueName ? lpValueName : "";
    if (Enter("RegQueryValueExA", name)) return winsim::FaultResult();
    if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    winsim::Handle *handle = nullptr;
    if (LONG error = winsim::Use(hKey, KEY_QUERY_VALUE, &handle)) return error;
    const winsim::Value *value = winsim::FindValue(*handle->key, name);
    if (!value) return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>(value->data.size());
    if (lpType) *lpType = value->type;
    LONG result = ERROR_SUCCESS;
    if (lpData) {
        if (*lpcbData < size) {
            result = ERROR_MORE_DATA;
        } else if (size) {
            std::memcpy(lpData, value->data.data(), size);
        }
    }
    if (lpcbData) *lpcbData = size;
    return result;
}

// Both: the bytes are stored as given, cbData of them, whatever the type; a
// value of any type replaces an earlier one of any type. A NULL lpData with a
// non-zero size fails with ERROR_NOACCESS. (NT also adds a terminator to a
// REG_SZ whose cbData leaves it out when the byte after the data is one;
// winsim reads nothing beyond cbData and stores exactly what was counted.)
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                           const BYTE *lpData, DWORD cbData) {
    const std::string name = lpValueName ? lpValueName : "";
    if (Enter("RegSetValueExA", name)) return winsim::FaultResult();
    (void)Reserved;
    winsim::Handle *handle = nullptr;
    if (LONG error = winsim::Use(hKey, KEY_SET_VALUE, &handle)) return error;
    if (!lpData && cbData) return ERROR_NOACCESS;
    const std::string data = cbData ? std::string(reinterpret_cast<const char *>(lpData), cbData)
                                    : std::string();
    winsim::SetValue(*handle->key, name, dwType, data);
    return ERROR_SUCCESS;
}

// Both: a missing value fails with ERROR_FILE_NOT_FOUND; the handle needs
// KEY_SET_VALUE (NT).
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const std::string name = lpValueName ? lpValueName : "";
    if (Enter("RegDeleteValueA", name)) return winsim::FaultResult();
    winsim::Handle *handle = nullptr;
    if (LONG error = winsim::Use(hKey, KEY_SET_VALUE, &handle)) return error;
    return winsim::RemoveValue(*handle->key, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// NT refuses a key that has subkeys with ERROR_ACCESS_DENIED; Windows 95
// deletes the key with its whole tree. An empty subkey names the handle's own
// key; a root key cannot be deleted (ERROR_ACCESS_DENIED); a NULL subkey is
// ERROR_INVALID_PARAMETER. Handles still open on a deleted key fail every
// later call but RegCloseKey with ERROR_KEY_DELETED.
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (Enter("RegDeleteKeyA", winsim::CallPath(hKey, lpSubKey))) return winsim::FaultResult();
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    winsim::Handle *base = nullptr;
    std::vector<std::string> names;
    if (LONG error = winsim::Use(hKey, 0, &base)) return error;
    if (LONG error = winsim::SplitSubkey(lpSubKey, &names)) return error;
    winsim::KeyPtr key = winsim::WalkKey(base->key, names, false);
    if (!key) return ERROR_FILE_NOT_FOUND;
    if (key->parent.expired()) return ERROR_ACCESS_DENIED;
    if (winsim::IsNT() && !key->subkeys.empty()) return ERROR_ACCESS_DENIED;
    winsim::DeleteTree(key);
    return ERROR_SUCCESS;
}

// NT: counts of subkeys and values, the longest subkey and value names in
// characters without the terminator, the largest data in bytes; every out
// pointer may be NULL. Keys have no class (an empty one is returned), no
// security descriptor size and a zero last-write time. The handle needs
// KEY_QUERY_VALUE. Windows 95's lengths are not modelled.
LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                             LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                             LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    if (Enter("RegQueryInfoKeyA", winsim::CallPath(hKey, nullptr))) return winsim::FaultResult();
    if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
    winsim::Handle *handle = nullptr;
    if (LONG error = winsim::Use(hKey, KEY_QUERY_VALUE, &handle)) return error;
    const winsim::Key &key = *handle->key;
    DWORD maxSubkey = 0, maxName = 0, maxData = 0;
    for (const winsim::KeyPtr &subkey : key.subkeys)
        maxSubkey = std::max(maxSubkey, static_cast<DWORD>(subkey->name.size()));
    for (const winsim::Value &value : key.values) {
        maxName = std::max(maxName, static_cast<DWORD>(value.name.size()));
        maxData = std::max(maxData, static_cast<DWORD>(value.data.size()));
    }
    if (lpClass && *lpcchClass) lpClass[0] = '\0';
    if (lpcchClass) *lpcchClass = 0;
    if (lpcSubKeys) *lpcSubKeys = static_cast<DWORD>(key.subkeys.size());
    if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
    if (lpcValues) *lpcValues = static_cast<DWORD>(key.values.size());
    if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = maxName;
    if (lpcbMaxValueLen) *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

// Both: closing a root key does nothing and succeeds; an unknown or already
// closed handle fails with ERROR_INVALID_HANDLE. A handle on a deleted key
// closes normally.
LONG WINAPI RegCloseKey(HKEY hKey) {
    if (Enter("RegCloseKey", winsim::CallPath(hKey, nullptr))) return winsim::FaultResult();
    winsim::Handle *handle = winsim::FindHandle(hKey);
    if (!handle) return ERROR_INVALID_HANDLE;
    if (!handle->predefined) winsim::R().handles.erase(reinterpret_cast<std::uintptr_t>(hKey));
    return ERROR_SUCCESS;
}
