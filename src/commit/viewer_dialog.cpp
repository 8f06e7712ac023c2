// The outside viewer's file-open dialog: its owner's window class, its own
// class, and the ids of its drive, folder and file-name controls (the
// common dialog's cmb2, stc1 and edt1).
#include "commit/viewer_dialog.h"
#include "common/bytes.h"
#include "common/registry.h"

#define VIEWER_DIALOG_KEY "Software\\Quenmark\\Wayfront\\Snapdesk\\Dialogs\\Quick View Plus 4.0"

static int SetNumber(HKEY key, LPCSTR name, DWORD number)
{
    BYTE bytes[4];
    StoreDword(bytes, number);
    return SetRegistryValue(key, name, REG_DWORD, bytes, 4);
}

int RegisterViewerDialog(void)
{
    HKEY key;
    if (!CreateKeyForWriting(HKEY_CURRENT_USER, VIEWER_DIALOG_KEY, &key))
        return 0;
    int result = SetRegistryText(key, "OwnerClassName", "OIWin95Frame") &&
                 SetRegistryText(key, "WindowClassName", "#32770") &&
                 SetNumber(key, "DriveNameCtrlId", 1137) &&
                 SetNumber(key, "FolderNameCtrlId", 1088) &&
                 SetNumber(key, "FileNameCtrlId", 1152);
    RegCloseKey(key);
    return result;
}
