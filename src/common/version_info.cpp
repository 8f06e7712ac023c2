// Reading one string value of a file's version resource. Only the first
// entry of the translation list counts: a file whose string block is stored
// under another language than the one its translation names has no version
// to read here.
#include "common/version_info.h"

static int GetVersionString(LPCSTR path, LPCSTR valueName, LPSTR out, int capacity)
{
    if (path == NULL || out == NULL || capacity <= 0)
        return 0;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return 0;
    LPVOID block = HeapAlloc(GetProcessHeap(), 0, size);
    if (block == NULL)
        return 0;
    int result = 0;
    LPVOID found = NULL;
    UINT length = 0;
    if (GetFileVersionInfoA(path, handle, size, block) &&
        VerQueryValueA(block, "\\VarFileInfo\\Translation", &found, &length) && found != NULL &&
        length >= 4) {
        // Language in the low word, code page in the high word; read as bytes
        // since the entry need not be aligned.
        const BYTE *entry = (const BYTE *)found;
        UINT language = entry[0] | (entry[1] << 8);
        UINT codePage = entry[2] | (entry[3] << 8);
        char query[64];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", language, codePage, valueName);
        if (VerQueryValueA(block, query, &found, &length) && found != NULL) {
            lstrcpynA(out, (LPCSTR)found, capacity);
            result = out[0] != '\0';
        }
    }
    HeapFree(GetProcessHeap(), 0, block);
    return result;
}

int GetProductVersion(LPCSTR path, LPSTR out, int capacity)
{
    return GetVersionString(path, "ProductVersion", out, capacity);
}

int GetFileVersion(LPCSTR path, LPSTR out, int capacity)
{
    return GetVersionString(path, "FileVersion", out, capacity);
}
