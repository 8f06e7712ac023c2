// The registry locations the installer reads and writes: all under
// HKEY_LOCAL_MACHINE but the viewer's dialog, under HKEY_CURRENT_USER.
#ifndef WF_COMMON_REGISTRY_KEYS_H
#define WF_COMMON_REGISTRY_KEYS_H

// The product's install directory, under its registry name (string 8000).
#define INSTALLED_APPS_KEY "Software\\Quenmark\\InstalledApps"
// The maker's record of its shared files: the shared directory as
// "Location1", and one usage subkey per shared file.
#define SHARED_USAGE_KEY "Software\\Quenmark\\SharedUsage"
#define SHARED_LOCATION_VALUE "Location1"
// The platform's use counts of shared files, one value per full path.
#define SHARED_DLLS_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
// NT's list of file operations for the next restart.
#define SESSION_MANAGER_KEY "SYSTEM\\CurrentControlSet\\Control\\Session Manager"
#define PENDING_RENAMES_VALUE "PendingFileRenameOperations"
// The outside viewer's file-open dialog, which a good run records: its
// owner's window class, its own class, and the ids of its drive, folder and
// file-name controls (the common dialog's cmb2, stc1 and edt1).
#define VIEWER_DIALOG_KEY "Software\\Quenmark\\Wayfront\\Snapdesk\\Dialogs\\Quick View Plus 4.0"
#define VIEWER_OWNER_CLASS "OIWin95Frame"
#define VIEWER_WINDOW_CLASS "#32770"
#define VIEWER_DRIVE_CONTROL 1137
#define VIEWER_FOLDER_CONTROL 1088
#define VIEWER_FILE_CONTROL 1152

#endif
