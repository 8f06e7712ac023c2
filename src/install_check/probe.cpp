// The installation probe: the first step of a run, before any window exists.
// It finds the product and the maker's shared directory in the registry and
// proves that the installation is the one the patch was built for. It
// changes nothing, except that it undoes a run that was cut off before its
// commit point. Every refusal shows its own box without an owner.
#include "install_check/probe.h"
#include "commit/commit.h"
#include "common/paths.h"
#include "common/registry_keys.h"
#include "common/version_info.h"
#include "install_check/checksum.h"
#include "manifest/manifest.h"

// Reads a directory from a REG_SZ value into buffer. The value is read
// straight into the buffer, one byte short of its capacity, and terminated
// after what was read, so a value stored without its terminator still ends
// inside the buffer. A value of another type, or one that does not fit, is
// not used: the buffer stays empty.
static void ReadDirectoryValue(LPCSTR keyPath, LPCSTR valueName, LPSTR buffer, int capacity)
{
    HKEY key;
    buffer[0] = '\0';
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD type = REG_NONE;
    DWORD size = (DWORD)(capacity - 1);
    LONG result = RegQueryValueExA(key, valueName, NULL, &type, (LPBYTE)buffer, &size);
    if (result == ERROR_SUCCESS && type == REG_SZ && size <= (DWORD)(capacity - 1) && buffer[0] != '\0')
        buffer[size] = '\0';
    else
        buffer[0] = '\0';
    RegCloseKey(key);
}

static int Refuse(UINT message)
{
    ShowMessage(NULL, message, STR_CAPTION, MB_OK);
    return 0;
}

int ProbeInstallation(LPSTR installDir, int installCapacity, LPSTR sharedDir, int sharedCapacity)
{
    char productName[VALUE_NAME_CAPACITY];
    char fileName[SHORT_STRING_CAPACITY];
    char expectedVersion[SHORT_STRING_CAPACITY];
    char foundVersion[SHORT_STRING_CAPACITY];
    char checksumText[SHORT_STRING_CAPACITY];
    char versionPath[MAX_PATH];
    char marker[MAX_PATH];

    if (installDir == NULL || sharedDir == NULL || installCapacity <= 0 || sharedCapacity <= 0)
        return 0;
    installDir[0] = '\0';
    sharedDir[0] = '\0';

    // Without the product's registry name there is no value to look for.
    if (LoadManifestString(STR_PRODUCT_NAME, productName, sizeof(productName)))
        ReadDirectoryValue(INSTALLED_APPS_KEY, productName, installDir, installCapacity);
    ReadDirectoryValue(SHARED_USAGE_KEY, SHARED_LOCATION_VALUE, sharedDir, sharedCapacity);
    if (installDir[0] == '\0' || sharedDir[0] == '\0')
        return Refuse(MSG_NOT_INSTALLED);

    if (!LoadManifestString(STR_VERSION_FILE, fileName, sizeof(fileName)))
        return Refuse(MSG_CORRUPT_PATCH);
    // A path that does not fit cannot be read: it counts as a file without
    // a version.
    int pathFits = JoinPath(versionPath, sizeof(versionPath), installDir, fileName);
    if (!LoadManifestString(STR_EXPECTED_VERSION, expectedVersion, sizeof(expectedVersion)))
        return Refuse(MSG_CORRUPT_PATCH);
    if (!pathFits || !GetProductVersion(versionPath, foundVersion, sizeof(foundVersion)))
        return Refuse(MSG_UNKNOWN_VERSION);
    if (lstrcmpiA(foundVersion, expectedVersion) != 0) {
        // The box names the version found and the one expected.
        ShowFormattedMessage(NULL, MSG_WRONG_VERSION, STR_CAPTION, MB_OK, foundVersion, expectedVersion);
        return 0;
    }

    // A manifest without a checksum trusts the version alone.
    if (LoadManifestString(STR_EXPECTED_CHECKSUM, checksumText, sizeof(checksumText)) &&
        (DWORD)ParseCount(checksumText) != FileChecksum(versionPath))
        return Refuse(MSG_NOT_ENGLISH);

    // A run cut off before its commit point is undone first, so that this
    // one starts from the machine as it was; its leftovers, the marker
    // among them, are gone then. What cannot be undone stays journaled, and
    // nothing more is done until it can be.
    if (!RecoverInterruptedRun(installDir))
        return Refuse(MSG_SCHEDULE_FAILED);
    lstrcpynA(marker, versionPath, sizeof(marker));
    // The marker: the version-check path with its last character made
    // "x". A new file waiting to replace the version-check file carries the
    // same name with "X", and names compare without case.
    ReplaceLastCharacter(marker, 'x');
    if (GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES)
        return Refuse(MSG_RESTART_PENDING);
    return 1;
}
