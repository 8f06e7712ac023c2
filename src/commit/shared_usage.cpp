// Shared file usage accounting. The counts live under SharedDLLs, keyed by
// the shared file's full path; the maker's record has one subkey per file
// name under SharedUsage, whose default value is the shared directory and
// which holds one value per product that uses the file.
//
// The stage changes nothing itself: it works out every change (registry
// plan) and every file operation (pending-operation list), and checks what
// can be checked, so that a refusal leaves the machine as it was. The commit
// makes the changes under the protection of its journal.
//
// Within an entry every step runs even after one has failed; the next entry
// and the addition pass are skipped once the stage has failed.
#include "commit/shared_usage.h"
#include "common/bytes.h"
#include "commit/registry_plan.h"
#include "common/paths.h"
#include "common/pending_ops.h"
#include "common/registry_keys.h"
#include "common/version_info.h"
#include "manifest/manifest.h"

// How a count read went.
#define COUNT_MISSING 0  // no value, or text too long for the 10-byte buffer
#define COUNT_READ 1
#define COUNT_BAD_TYPE 2

// A use count: decimal text (up to 9 characters and a terminator, or 10
// without), or, as some installers store it, a 32-bit number (REG_DWORD, or
// REG_BINARY of four bytes). Read as the planned changes leave it.
static int ReadCount(LPCSTR countPath, LONG *count, DWORD *type)
{
    BYTE data[PLANNED_DATA_SIZE + 1];
    DWORD size = 0;
    int read = PlannedValue(SHARED_DLLS_KEY, countPath, type, data, &size);
    if (read == 0)
        return COUNT_MISSING;
    if (read < 0)
        return *type == REG_SZ ? COUNT_MISSING : COUNT_BAD_TYPE;
    if (*type == REG_SZ) {
        if (size > 10)
            return COUNT_MISSING;
        data[size] = '\0';
        *count = ParseCount((LPCSTR)data);
        return COUNT_READ;
    }
    if ((*type == REG_DWORD || *type == REG_BINARY) && size == 4) {
        *count = (LONG)ReadDword(data);
        return COUNT_READ;
    }
    return COUNT_BAD_TYPE;
}

// Writes a count back in the type it had; a new count is decimal text.
static int PlanCount(LPCSTR countPath, DWORD type, LONG count)
{
    if (type == REG_DWORD || type == REG_BINARY) {
        BYTE data[4];
        StoreDword(data, (DWORD)count);
        return PlanSetValue(SHARED_DLLS_KEY, countPath, type, data, 4);
    }
    char text[16];
    wsprintfA(text, "%d", count);
    return PlanSetText(SHARED_DLLS_KEY, countPath, text);
}

// The number of values the usage subkey holds now, or -1.
static LONG ValueCount(LPCSTR usageKey)
{
    HKEY key;
    DWORD values = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, usageKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    LONG info = RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return info == ERROR_SUCCESS ? (LONG)values : -1;
}

static int ValueExists(LPCSTR key, LPCSTR name)
{
    BYTE data[PLANNED_DATA_SIZE];
    DWORD type, size;
    return PlannedValue(key, name, &type, data, &size) != 0;
}

// A shared file that this run drops and then adds again stays: its last
// use's deletion is cancelled, whichever copy the addition keeps.
static void CancelDeletion(LPCSTR sharedCopy)
{
    for (PendingFileOp *record = FirstPendingOp(); record != NULL; record = record->next) {
        if (record->kind == Delete && lstrcmpiA(record->source, sharedCopy) == 0)
            record->source[0] = '\0';
    }
}

// What every entry of blocks 3100 and 3000 is worked out against.
struct UsageRun {
    LPCSTR product;
    LPCSTR patchDir;
    LPCSTR installDir;
    LPCSTR sharedDir;
};

// One entry of block 3100: one use fewer. The last use deletes the count
// and queues the shared copy's deletion; the product leaves the file's usage
// subkey, which goes when only its default value is left.
static int RemoveUse(LPCSTR name, LONG number, const void *context)
{
    const UsageRun *run = (const UsageRun *)context;
    LPCSTR product = run->product;
    char countPath[MAX_PATH];
    char usageKey[MAX_PATH];
    (void)number;
    if (!JoinPath(countPath, sizeof(countPath), run->sharedDir, name) ||
        !JoinPath(usageKey, sizeof(usageKey), SHARED_USAGE_KEY, name))
        return 0;
    int ok = 1;
    LONG old = 0;
    DWORD type = REG_SZ;
    int read = ReadCount(countPath, &old, &type);
    if (read == COUNT_BAD_TYPE) {
        ok = 0;
    } else if (read == COUNT_READ) {
        if ((long long)old - 1 > 0)
            ok = PlanCount(countPath, type, old - 1);
        else
            ok = PlanDeleteValue(SHARED_DLLS_KEY, countPath) && PushPendingOp(countPath, NULL, Delete);
    }
    if (!PlannedKeyExists(usageKey))
        return 0;
    // Values once this product's is gone. The subkey goes only when what
    // is left is its default value: another product's value keeps it.
    LONG left = ValueCount(usageKey);
    if (ValueExists(usageKey, product)) {
        if (!PlanDeleteValue(usageKey, product))
            return 0;
        left--;
    }
    if (left == 1 && ValueExists(usageKey, "")) {
        if (!PlanDeleteValue(usageKey, "") || !PlanDeleteKey(usageKey))
            return 0;
    }
    return ok;
}

// One entry of block 3000: one use more, and the payload's copy queued to
// replace the shared copy when there is none or its file version is lower,
// or to be deleted when not. The product joins the file's usage subkey.
static int AddUse(LPCSTR name, LONG number, const void *context)
{
    const UsageRun *run = (const UsageRun *)context;
    char countPath[MAX_PATH];
    char newCopy[MAX_PATH];
    char usageKey[MAX_PATH];
    (void)number;
    if (!JoinPath(countPath, sizeof(countPath), run->sharedDir, name) ||
        !JoinPath(newCopy, sizeof(newCopy), run->patchDir, name) ||
        !JoinPath(usageKey, sizeof(usageKey), SHARED_USAGE_KEY, name))
        return 0;
    char newVersion[128];
    LONG count = 0;
    DWORD type = REG_SZ;
    int read = ReadCount(countPath, &count, &type);
    int ok = read != COUNT_BAD_TYPE;
    if (read != COUNT_READ)
        type = REG_SZ;
    // In unsigned arithmetic, so a count at the top of the range wraps
    // rather than overflowing.
    LONG raised = read == COUNT_READ ? (LONG)((DWORD)count + 1u) : 1;
    if (ok && !PlanCount(countPath, type, raised))
        ok = 0;
    if (ok && !GetFileVersion(newCopy, newVersion, sizeof(newVersion)))
        ok = 0;
    if (ok) {
        // The shared copy is the count's path. Where there is none the new
        // file is always installed (a version of "0.9" must not read as
        // equal to a missing file); a copy without a version counts as "0".
        int install = GetFileAttributesA(countPath) == INVALID_FILE_ATTRIBUTES;
        if (!install) {
            char sharedVersion[128];
            if (!GetFileVersion(countPath, sharedVersion, sizeof(sharedVersion)))
                lstrcpynA(sharedVersion, "0", sizeof(sharedVersion));
            install = CompareVersions(newVersion, sharedVersion) > 0;
        }
        CancelDeletion(countPath);
        ok = install ? PushPendingOp(newCopy, countPath, Replace) : PushPendingOp(newCopy, NULL, Delete);
    }
    if (!PlannedKeyExists(usageKey) && (!PlanCreateKey(usageKey) || !PlanSetText(usageKey, "", run->sharedDir)))
        return 0;
    if (!PlanSetText(usageKey, run->product, run->installDir))
        return 0;
    return ok;
}

int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir)
{
    char product[VALUE_NAME_CAPACITY];
    UsageRun run = {product, patchDir, installDir, sharedDir};

    ResetRegistryPlan();
    LoadManifestString(STR_PRODUCT_NAME, product, sizeof(product));
    // Without the right to change the counts nothing could be installed:
    // refused before anything changes.
    if (!CanOpenKey(SHARED_DLLS_KEY, KEY_ALL_ACCESS) || !CanOpenKey(SHARED_USAGE_KEY, KEY_ALL_ACCESS))
        return 0;
    return ForEachBlockEntry(BLOCK_SHARED_REMOVED, BLOCK_OPTIONAL, RemoveUse, &run) &&
           ForEachBlockEntry(BLOCK_SHARED_ADDED, BLOCK_OPTIONAL, AddUse, &run);
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
