// Reading the manifest from the module's string table.
#include "manifest/manifest.h"

// Block entries are read into MAX_PATH buffers throughout the installer.
static_assert(NAME_CAPACITY == MAX_PATH, "the builder's name limit is the installer's path buffer");

static HINSTANCE g_module;

void SetPatchModule(HINSTANCE module) { g_module = module; }

HINSTANCE GetPatchModule(void) { return g_module; }

int LoadManifestString(UINT id, LPSTR buffer, int capacity)
{
    if (buffer == NULL || capacity <= 0)
        return 0;
    buffer[0] = '\0';
    int loaded = LoadStringA(g_module, id, buffer, capacity);
    if (loaded <= 0) {
        buffer[0] = '\0';  // not every system clears it for a missing string
        return 0;
    }
    return loaded;
}

int LoadBlockCount(UINT baseId, LONG *count)
{
    char text[SHORT_STRING_CAPACITY];
    *count = 0;
    if (!LoadManifestString(baseId, text, sizeof(text)))
        return 0;
    *count = ParseCount(text);
    return 1;
}

int ForEachBlockEntry(UINT baseId, int required, BlockEntryVisitor visit, const void *context)
{
    char name[NAME_CAPACITY];
    LONG count;
    if (!LoadBlockCount(baseId, &count))
        return !required;
    for (LONG k = 1; k <= count; k++) {
        if (!LoadManifestString(baseId + (UINT)k, name, sizeof(name))) {
            if (required)
                return 0;
        } else if (!visit(name, k, context)) {
            return 0;
        }
    }
    return 1;
}
