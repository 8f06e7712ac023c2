// The outside viewer's file-open dialog: its owner's window class, its own
// class, and the ids of its drive, folder and file-name controls (the
// common dialog's cmb2, stc1 and edt1).
#include "commit/viewer_dialog.h"

#define VIEWER_DIALOG_KEY "Software\\Quenmark\\Wayfront\\Snapdesk\\Dialogs\\Quick View Plus 4.0"

static int SetString(HKEY key, LPCSTR name, LPCSTR text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1) ==
           ERROR_SUCCESS;
}

static int SetNumber(HKEY key, LPCSTR name, DWORD number)
{
    BYTE bytes[4];
    bytes[0] = (BYTE)number;
    bytes[1] = (BYTE)(number >> 8);
    bytes[2] = (BYTE)(number >> 16);
    bytes[3] = (BYTE)(number >> 24);
    return RegSetValueExA(key, name, 0, REG_DWORD, bytes, 4) == ERROR_SUCCESS;
}

int RegisterViewerDialog(void)
{
    HKEY key;
    DWORD disposition;
    char noClass[1] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, VIEWER_DIALOG_KEY, 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return 0;
    int result = SetString(key, "OwnerClassName", "OIWin95Frame") &&
                 SetString(key, "WindowClassName", "#32770") &&
                 SetNumber(key, "DriveNameCtrlId", 1137) &&
                 SetNumber(key, "FolderNameCtrlId", 1088) &&
                 SetNumber(key, "FileNameCtrlId", 1152);
    RegCloseKey(key);
    return result;
}
