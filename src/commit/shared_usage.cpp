// Shared file usage accounting. The counts live under SharedDLLs, keyed by
// the shared file's full path, as decimal text; the maker's record has one
// subkey per file name under SharedUsage, whose default value is the shared
// directory and which holds one value per product that uses the file.
//
// Within an entry every step runs even after one has failed (the usage
// subkey is still kept right); the next entry and the addition pass are
// skipped once the stage has failed. Nothing is undone.
#include "commit/shared_usage.h"
#include "commit/pending_ops.h"
#include "install_check/version_info.h"
#include "manifest/manifest.h"
#include "manifest/paths.h"

#define SHARED_DLLS_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
#define SHARED_USAGE_KEY "Software\\Quenmark\\SharedUsage"

// How a count read went.
#define COUNT_MISSING 0  // no value, or one too long for the 10-byte buffer
#define COUNT_READ 1
#define COUNT_BAD_TYPE 2

static int ReadCount(HKEY sharedDlls, LPCSTR countPath, LONG *count)
{
    char text[11];  // 10 bytes offered, one more for a terminator of our own
    DWORD type = REG_NONE;
    DWORD size = 10;
    if (RegQueryValueExA(sharedDlls, countPath, NULL, &type, (LPBYTE)text, &size) != ERROR_SUCCESS)
        return COUNT_MISSING;
    if (type != REG_SZ)
        return COUNT_BAD_TYPE;
    text[size <= 10 ? size : 10] = '\0';
    *count = ParseCount(text);
    return COUNT_READ;
}

static int WriteCount(HKEY sharedDlls, LPCSTR countPath, LONG count)
{
    char text[16];
    int length = wsprintfA(text, "%d", count);
    return RegSetValueExA(sharedDlls, countPath, 0, REG_SZ, (const BYTE *)text, (DWORD)length + 1) ==
           ERROR_SUCCESS;
}

static void SetText(HKEY key, LPCSTR name, LPCSTR text)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
}

// One entry of block 3100: one use fewer. The last use deletes the count
// and queues the shared copy's deletion; the product leaves the file's usage
// subkey, which goes when only its default value is left.
static int RemoveUse(HKEY sharedDlls, HKEY usage, LPCSTR product, LPCSTR sharedDir, LPCSTR name)
{
    char countPath[MAX_PATH];
    int ok = 1;
    if (!JoinPath(countPath, sizeof(countPath), sharedDir, name)) {
        ok = 0;
    } else {
        LONG old = 0;
        int read = ReadCount(sharedDlls, countPath, &old);
        if (read == COUNT_BAD_TYPE) {
            ok = 0;
        } else if (read == COUNT_READ) {
            if ((long long)old - 1 > 0) {
                ok = WriteCount(sharedDlls, countPath, old - 1);
            } else if (RegDeleteValueA(sharedDlls, countPath) != ERROR_SUCCESS) {
                ok = 0;
            } else {
                PushPendingOp(countPath, NULL, Delete);  // no memory: left out
            }
        }
    }
    HKEY fileKey;
    if (RegOpenKeyExA(usage, name, 0, KEY_ALL_ACCESS, &fileKey) != ERROR_SUCCESS)
        return 0;
    RegDeleteValueA(fileKey, product);
    DWORD values = 0;
    LONG info = RegQueryInfoKeyA(fileKey, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(fileKey);
    if (info == ERROR_SUCCESS && values == 1)
        RegDeleteKeyA(usage, name);
    return ok;
}

// One entry of block 3000: one use more, and the payload's copy queued to
// replace the shared copy when its file version is higher, or to be
// deleted when not. The product joins the file's usage subkey.
static int AddUse(HKEY sharedDlls, HKEY usage, LPCSTR product, LPCSTR patchDir, LPCSTR installDir,
                  LPCSTR sharedDir, LPCSTR name)
{
    char countPath[MAX_PATH];
    char newCopy[MAX_PATH];
    int ok = JoinPath(countPath, sizeof(countPath), sharedDir, name) &&
             JoinPath(newCopy, sizeof(newCopy), patchDir, name);
    if (ok) {
        char newVersion[128];
        LONG count = 0;
        int read = ReadCount(sharedDlls, countPath, &count);
        if (read == COUNT_BAD_TYPE)
            ok = 0;
        // In unsigned arithmetic, so a count at the top of the range wraps
        // rather than overflowing.
        LONG raised = read == COUNT_READ ? (LONG)((DWORD)count + 1u) : 1;
        if (ok && !WriteCount(sharedDlls, countPath, raised))
            ok = 0;
        if (ok && !GetFileVersion(newCopy, newVersion, sizeof(newVersion)))
            ok = 0;
        if (ok) {
            // The shared copy is the count's path. No copy, or one without a
            // version, counts as version "0".
            char sharedVersion[128];
            if (!GetFileVersion(countPath, sharedVersion, sizeof(sharedVersion)))
                lstrcpynA(sharedVersion, "0", sizeof(sharedVersion));
            if (CompareVersions(newVersion, sharedVersion) > 0)
                PushPendingOp(newCopy, countPath, Replace);
            else
                PushPendingOp(newCopy, NULL, Delete);
        }
    }
    HKEY fileKey;
    DWORD disposition = 0;
    char noClass[1] = "";
    if (RegCreateKeyExA(usage, name, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &fileKey,
                        &disposition) != ERROR_SUCCESS)
        return 0;
    if (disposition == REG_CREATED_NEW_KEY)
        SetText(fileKey, NULL, sharedDir);
    SetText(fileKey, product, installDir);
    RegCloseKey(fileKey);
    return ok;
}

int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    char product[256];
    char name[MAX_PATH];
    HKEY sharedDlls;
    HKEY usage;
    LONG count;

    LoadManifestString(STR_PRODUCT_NAME, product, sizeof(product));
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, 0, KEY_ALL_ACCESS, &sharedDlls) != ERROR_SUCCESS)
        return 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_USAGE_KEY, 0, KEY_ALL_ACCESS, &usage) != ERROR_SUCCESS) {
        RegCloseKey(sharedDlls);
        return 1;
    }
    int success = 1;
    if (LoadBlockCount(BLOCK_SHARED_REMOVED, &count)) {
        for (LONG i = 1; i <= count && success; i++) {
            if (LoadManifestString(BLOCK_SHARED_REMOVED + i, name, sizeof(name)))
                success = RemoveUse(sharedDlls, usage, product, sharedDir, name);
        }
    }
    if (success && LoadBlockCount(BLOCK_SHARED_ADDED, &count)) {
        for (LONG i = 1; i <= count && success; i++) {
            if (LoadManifestString(BLOCK_SHARED_ADDED + i, name, sizeof(name)))
                success = AddUse(sharedDlls, usage, product, patchDir, installDir, sharedDir, name);
        }
    }
    RegCloseKey(usage);
    RegCloseKey(sharedDlls);
    return success;
}

// Steps over the number at the position, then over what separates it from
// the next one.
static LPCSTR NextNumber(LPCSTR p)
{
    while (*p >= '0' && *p <= '9')
        p++;
    while (*p != '\0' && !(*p >= '0' && *p <= '9'))
        p = CharNextA(p);
    return p;
}

LONG CompareVersions(LPCSTR first, LPCSTR second)
{
    if (first == NULL || second == NULL)
        return 0;
    while (*first != '\0' && *second != '\0') {
        long long difference = (long long)ParseCount(first) - (long long)ParseCount(second);
        if (difference > 0x7FFFFFFFLL)
            difference = 0x7FFFFFFFLL;
        if (difference < -0x7FFFFFFFLL - 1)
            difference = -0x7FFFFFFFLL - 1;
        if (difference != 0)
            return (LONG)difference;
        first = NextNumber(first);
        second = NextNumber(second);
    }
    return 0;
}
