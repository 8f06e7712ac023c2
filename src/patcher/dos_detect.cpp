#include "patcher/dos_detect.h"
#include "common/bytes.h"

// Reads `count` bytes at `offset`; nonzero only when all of them came.
static int ReadAt(HANDLE file, DWORD offset, BYTE *bytes, DWORD count)
{
    DWORD got = 0;
    if (SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    return ReadFile(file, bytes, count, &got, NULL) && got == count;
}

// A program with a relocation table at 0x40 or beyond may have a new-style
// header, whose offset is at 60. "PE\0\0" is a Windows program; so is "NE"
// whose target system (byte 0x36 of the header) is Windows (2) or Windows
// 386 (4). Everything else (an OS/2-family "NE" bound with a DOS loader, an
// unreadable or absent header) runs as a DOS program.
static int NewHeaderKind(HANDLE file)
{
    BYTE offsetBytes[4];
    BYTE header[0x38];
    if (!ReadAt(file, 60, offsetBytes, 4))
        return EXECUTABLE_DOS;
    DWORD at = ReadDword(offsetBytes);
    if (at < 64 || !ReadAt(file, at, header, 4))
        return EXECUTABLE_DOS;
    if (header[0] == 'P' && header[1] == 'E' && header[2] == 0 && header[3] == 0)
        return EXECUTABLE_WINDOWS;
    if (header[0] == 'N' && header[1] == 'E' && ReadAt(file, at, header, sizeof(header)) &&
        (header[0x36] == 2 || header[0x36] == 4))
        return EXECUTABLE_WINDOWS;
    return EXECUTABLE_DOS;
}

int IsDosExecutable(LPCSTR path, int *kind)
{
    if (path == NULL || kind == NULL)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BYTE bytes[2];
    int result = 0;
    if (ReadAt(file, 0, bytes, 2) && bytes[0] == 'M' && bytes[1] == 'Z') {
        *kind = EXECUTABLE_DOS;
        if (ReadAt(file, 24, bytes, 1)) {
            result = 1;
            if (bytes[0] >= 0x40)
                *kind = NewHeaderKind(file);
        }
    }
    CloseHandle(file);
    return result;
}
