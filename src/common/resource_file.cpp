// The program's raw-data resources written out to files.
#include "common/resource_file.h"
#include "manifest/manifest.h"

int WriteResourceFile(WORD id, LPCSTR path, DWORD creation, int deleteIfShort)
{
    HMODULE module = GetPatchModule();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), RT_RCDATA);
    if (found == NULL)
        return 0;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == NULL)
        return 0;
    LPVOID bytes = LockResource(loaded);
    if (bytes == NULL)
        return 0;
    DWORD size = SizeofResource(module, found);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, creation, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // A short write (a full disk) is a failure: the stored file would
    // expand to a damaged file.
    DWORD written = 0;
    int ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
    CloseHandle(file);
    if (!ok && deleteIfShort)
        DeleteFileA(path);
    return ok;
}

int WriteResourceToFile(WORD id, LPCSTR path)
{
    return WriteResourceFile(id, path, CREATE_ALWAYS, 0);
}
