// Bounded joining of directories and names.
#include "common/paths.h"

// Whether a non-empty path needs a "\" appended. The last character starts
// where the final step of the walk began, so a trail byte that equals "\" is
// never taken for one.
static int NeedsBackslash(LPCSTR path)
{
    if (path[0] == '\0')
        return 0;
    LPCSTR last = path;
    LPCSTR p = path;
    while (*p != '\0') {
        last = p;
        p = CharNextA(p);
    }
    return !(*last == '\\' && p == last + 1);
}

int AppendBackslash(LPSTR path, int capacity)
{
    if (path == NULL || !NeedsBackslash(path))
        return 1;
    int length = lstrlenA(path);
    if (length + 2 > capacity)
        return 0;
    path[length] = '\\';
    path[length + 1] = '\0';
    return 1;
}

int CopyString(LPSTR dest, int capacity, LPCSTR source)
{
    if (dest == NULL || source == NULL || lstrlenA(source) >= capacity)
        return 0;
    lstrcpynA(dest, source, capacity);
    return 1;
}

int AppendString(LPSTR dest, int capacity, LPCSTR source)
{
    if (dest == NULL || source == NULL)
        return 0;
    int length = lstrlenA(dest);
    if (length >= capacity || lstrlenA(source) >= capacity - length)
        return 0;
    lstrcpynA(dest + length, source, capacity - length);
    return 1;
}

int JoinPath(LPSTR dest, int capacity, LPCSTR directory, LPCSTR name)
{
    if (dest == NULL || directory == NULL || name == NULL)
        return 0;
    int needed = lstrlenA(directory) + NeedsBackslash(directory) + lstrlenA(name);
    if (needed >= capacity)
        return 0;
    lstrcpynA(dest, directory, capacity);
    AppendBackslash(dest, capacity);
    AppendString(dest, capacity, name);
    return 1;
}

int ReplaceLastCharacter(LPSTR path, char c)
{
    if (path == NULL || path[0] == '\0')
        return 0;
    LPSTR last = path;
    for (LPSTR p = path; *p != '\0'; p = CharNextA(p))
        last = p;
    last[0] = c;
    last[1] = '\0';
    return 1;
}

void ShortForm(LPCSTR path, LPSTR out)
{
    DWORD length = GetShortPathNameA(path, out, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        lstrcpynA(out, path, MAX_PATH);
}
