// Preparing the PIF from the template the program carries.
#include "patcher/pif.h"
#include "common/bytes.h"
#include "common/resource_file.h"
#include "manifest/manifest.h"

int WritePifTemplate(LPCSTR path)
{
    if (path == NULL)
        return 0;
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 1;
    return WriteResourceFile(ID_PIF_TEMPLATE, path, CREATE_NEW, 1);
}

// The fields written, in order: where each lies and how many bytes of it
// are written (the string and zeros after it; always less than the field).
static const struct {
    DWORD offset;
    DWORD count;
    int source;  // 0 program name, 1 start-up directory, 2 parameters
} g_pifFields[] = {
    {PIF_PROGRAM, PIF_PROGRAM_WRITTEN, 0},
    {PIF_DIRECTORY, PIF_DIRECTORY_WRITTEN, 1},
    {PIF_PARAMETERS, PIF_PARAMETERS_WRITTEN, 2},
    {PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_WRITTEN, 2},
};

int PatchPifFields(LPCSTR path, LPCSTR startupDir, LPCSTR programName, LPCSTR parameters)
{
    LPCSTR sources[3];
    sources[0] = programName;
    sources[1] = startupDir;
    sources[2] = parameters;
    // A cut name or directory would start another program, or none.
    for (int i = 0; i < 4; i++) {
        LPCSTR text = sources[g_pifFields[i].source];
        if (text != NULL && (DWORD)lstrlenA(text) >= g_pifFields[i].count)
            return 0;
    }
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int result = 1;
    for (int i = 0; i < 4 && result; i++) {
        BYTE field[MAX_PATH];
        ZeroBytes(field, sizeof(field));
        LPCSTR text = sources[g_pifFields[i].source];
        if (text != NULL)
            lstrcpynA((LPSTR)field, text, (int)g_pifFields[i].count);
        SetFilePointer(file, (LONG)g_pifFields[i].offset, NULL, FILE_BEGIN);
        DWORD written = 0;
        result = WriteFile(file, field, g_pifFields[i].count, &written, NULL) &&
                 written == g_pifFields[i].count;
    }
    CloseHandle(file);
    return result;
}
