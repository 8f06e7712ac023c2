// The planned registry changes and the originals they replace. Both live in
// fixed tables in static storage: the plan of a large patch would not fit
// the stack, and a plan that does not fit the tables fails its stage before
// anything is changed.
#include "commit/registry_plan.h"
#include "common/paths.h"
#include "common/registry.h"

#define MAX_PLANNED_CHANGES 256
#define MAX_ORIGINALS 256

#define CHANGE_SET_VALUE 0
#define CHANGE_DELETE_VALUE 1
#define CHANGE_CREATE_KEY 2
#define CHANGE_DELETE_KEY 3

struct PlannedChange {
    LONG kind;
    char key[MAX_PATH];
    char name[MAX_PATH];
    DWORD type;
    DWORD size;
    BYTE data[PLANNED_DATA_SIZE];
};

struct Original {
    LONG isKey;    // a key's existence, or a value
    LONG existed;
    char key[MAX_PATH];
    char name[MAX_PATH];
    DWORD type;
    DWORD size;
    BYTE data[PLANNED_DATA_SIZE];
};

static PlannedChange g_changes[MAX_PLANNED_CHANGES];
static int g_changeCount;
static Original g_originals[MAX_ORIGINALS];
static int g_originalCount;

void ResetRegistryPlan(void)
{
    g_changeCount = 0;
    g_originalCount = 0;
}

int RegistryPlanIsEmpty(void) { return g_changeCount == 0; }

static void CopyBytes(BYTE *to, const BYTE *from, DWORD size)
{
    for (DWORD i = 0; i < size; i++)
        to[i] = from[i];
}

static int SameName(LPCSTR a, LPCSTR b) { return lstrcmpiA(a, b) == 0; }

// The value as the registry holds it now: 1 read, 0 absent (or its key),
// -1 unreadable.
static int ReadValueNow(LPCSTR key, LPCSTR name, DWORD *type, BYTE *data, DWORD *size)
{
    HKEY handle;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle);
    if (opened == ERROR_FILE_NOT_FOUND)
        return 0;
    if (opened != ERROR_SUCCESS)
        return -1;
    *type = REG_NONE;
    *size = PLANNED_DATA_SIZE;
    LONG result = RegQueryValueExA(handle, name, NULL, type, data, size);
    RegCloseKey(handle);
    if (result == ERROR_FILE_NOT_FOUND)
        return 0;
    return result == ERROR_SUCCESS && *size <= PLANNED_DATA_SIZE ? 1 : -1;
}

int CanOpenKey(LPCSTR key, REGSAM access)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, access, &handle) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(handle);
    return 1;
}

static int RememberValue(LPCSTR key, LPCSTR name)
{
    for (int i = 0; i < g_originalCount; i++) {
        if (!g_originals[i].isKey && SameName(g_originals[i].key, key) && SameName(g_originals[i].name, name))
            return 1;
    }
    if (g_originalCount == MAX_ORIGINALS)
        return 0;
    Original *original = &g_originals[g_originalCount];
    if (!CopyString(original->key, MAX_PATH, key) || !CopyString(original->name, MAX_PATH, name))
        return 0;
    int read = ReadValueNow(key, name, &original->type, original->data, &original->size);
    if (read < 0)
        return 0;
    original->isKey = 0;
    original->existed = read;
    if (!read)
        original->type = original->size = 0;
    g_originalCount++;
    return 1;
}

static int RememberKey(LPCSTR key)
{
    for (int i = 0; i < g_originalCount; i++) {
        if (g_originals[i].isKey && SameName(g_originals[i].key, key))
            return 1;
    }
    if (g_originalCount == MAX_ORIGINALS)
        return 0;
    Original *original = &g_originals[g_originalCount];
    if (!CopyString(original->key, MAX_PATH, key))
        return 0;
    original->name[0] = '\0';
    original->isKey = 1;
    original->existed = CanOpenKey(key, KEY_READ);
    original->type = original->size = 0;
    g_originalCount++;
    return 1;
}

int PlannedValue(LPCSTR key, LPCSTR name, DWORD *type, BYTE *data, DWORD *size)
{
    for (int i = g_changeCount - 1; i >= 0; i--) {
        const PlannedChange *change = &g_changes[i];
        if (!SameName(change->key, key))
            continue;
        if (change->kind == CHANGE_DELETE_KEY)
            return 0;
        if (change->kind == CHANGE_CREATE_KEY || !SameName(change->name, name))
            continue;
        if (change->kind == CHANGE_DELETE_VALUE)
            return 0;
        *type = change->type;
        *size = change->size;
        CopyBytes(data, change->data, change->size);
        return 1;
    }
    return ReadValueNow(key, name, type, data, size);
}

int PlannedKeyExists(LPCSTR key)
{
    for (int i = g_changeCount - 1; i >= 0; i--) {
        if (!SameName(g_changes[i].key, key))
            continue;
        if (g_changes[i].kind == CHANGE_CREATE_KEY)
            return 1;
        if (g_changes[i].kind == CHANGE_DELETE_KEY)
            return 0;
    }
    return CanOpenKey(key, KEY_READ);
}

static PlannedChange *NewChange(LONG kind, LPCSTR key, LPCSTR name)
{
    if (g_changeCount == MAX_PLANNED_CHANGES)
        return NULL;
    PlannedChange *change = &g_changes[g_changeCount];
    if (!CopyString(change->key, MAX_PATH, key) || !CopyString(change->name, MAX_PATH, name))
        return NULL;
    change->kind = kind;
    change->type = REG_NONE;
    change->size = 0;
    g_changeCount++;
    return change;
}

int PlanSetValue(LPCSTR key, LPCSTR name, DWORD type, const BYTE *data, DWORD size)
{
    if (size > PLANNED_DATA_SIZE || !RememberValue(key, name))
        return 0;
    PlannedChange *change = NewChange(CHANGE_SET_VALUE, key, name);
    if (change == NULL)
        return 0;
    change->type = type;
    change->size = size;
    CopyBytes(change->data, data, size);
    return 1;
}

int PlanSetText(LPCSTR key, LPCSTR name, LPCSTR text)
{
    return PlanSetValue(key, name, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
}

int PlanDeleteValue(LPCSTR key, LPCSTR name)
{
    return RememberValue(key, name) && NewChange(CHANGE_DELETE_VALUE, key, name) != NULL;
}

int PlanCreateKey(LPCSTR key) { return RememberKey(key) && NewChange(CHANGE_CREATE_KEY, key, "") != NULL; }

int PlanDeleteKey(LPCSTR key) { return RememberKey(key) && NewChange(CHANGE_DELETE_KEY, key, "") != NULL; }

static int ApplyChange(const PlannedChange *change)
{
    HKEY handle;
    if (change->kind == CHANGE_DELETE_KEY)
        return RegDeleteKeyA(HKEY_LOCAL_MACHINE, change->key) == ERROR_SUCCESS;
    if (change->kind == CHANGE_CREATE_KEY) {
        if (!CreateKeyForWriting(HKEY_LOCAL_MACHINE, change->key, &handle))
            return 0;
        RegCloseKey(handle);
        return 1;
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, change->key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        return 0;
    int done = change->kind == CHANGE_SET_VALUE
                   ? SetRegistryValue(handle, change->name, change->type, change->data, change->size)
                   : RegDeleteValueA(handle, change->name) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return done;
}

int ApplyRegistryPlan(void)
{
    for (int i = 0; i < g_changeCount; i++) {
        if (!ApplyChange(&g_changes[i]))
            return 0;
    }
    return 1;
}

int JournalRegistryOriginals(int (*emit)(LPCSTR line))
{
    static const char kHex[] = "0123456789abcdef";
    // "V", the flags, the type, the data as hex, the key and the name, with
    // their tabs and the line end.
    char line[16 + 2 * PLANNED_DATA_SIZE + 2 * MAX_PATH + 8];
    for (int i = 0; i < g_originalCount; i++) {
        const Original *original = &g_originals[i];
        int length;
        if (original->isKey) {
            length = wsprintfA(line, "K\t%d\t", (int)original->existed);
        } else {
            length = wsprintfA(line, "V\t%d\t%lu\t", (int)original->existed, (unsigned long)original->type);
            for (DWORD b = 0; b < original->size; b++) {
                line[length++] = kHex[original->data[b] >> 4];
                line[length++] = kHex[original->data[b] & 15];
            }
            line[length++] = '\t';
        }
        line[length] = '\0';
        lstrcpynA(line + length, original->key, MAX_PATH);
        if (!original->isKey) {
            length = lstrlenA(line);
            line[length++] = '\t';
            lstrcpynA(line + length, original->name, MAX_PATH);
        }
        length = lstrlenA(line);
        line[length++] = '\r';
        line[length++] = '\n';
        line[length] = '\0';
        if (!emit(line))
            return 0;
    }
    return 1;
}
