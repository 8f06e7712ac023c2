#include "common/registry.h"

int CreateKeyForWriting(HKEY root, LPCSTR path, HKEY *key)
{
    DWORD disposition = 0;
    char noClass[1] = "";
    return RegCreateKeyExA(root, path, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, key,
                           &disposition) == ERROR_SUCCESS;
}

int SetRegistryValue(HKEY key, LPCSTR name, DWORD type, const BYTE *data, DWORD size)
{
    return RegSetValueExA(key, name, 0, type, data, size) == ERROR_SUCCESS;
}

int SetRegistryText(HKEY key, LPCSTR name, LPCSTR text)
{
    return SetRegistryValue(key, name, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
}
