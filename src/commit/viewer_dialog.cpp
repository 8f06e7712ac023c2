// The outside viewer's file-open dialog (registry_keys.h holds its key
// and what is recorded there).
#include "commit/viewer_dialog.h"
#include "common/bytes.h"
#include "common/registry.h"
#include "common/registry_keys.h"

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
    int result = SetRegistryText(key, "OwnerClassName", VIEWER_OWNER_CLASS) &&
                 SetRegistryText(key, "WindowClassName", VIEWER_WINDOW_CLASS) &&
                 SetNumber(key, "DriveNameCtrlId", VIEWER_DRIVE_CONTROL) &&
                 SetNumber(key, "FolderNameCtrlId", VIEWER_FOLDER_CONTROL) &&
                 SetNumber(key, "FileNameCtrlId", VIEWER_FILE_CONTROL);
    RegCloseKey(key);
    return result;
}
