// Room for the patch's work files on the install directory's drive.
#include "install_check/free_space.h"

int CheckFreeSpace(LPCSTR path, DWORD requiredBytes)
{
    if (path == NULL)
        return 0;
    // Network paths ("\\server\share") and relative paths name no drive and
    // are not tested.
    if (path[0] == '\0' || path[1] != ':')
        return 1;
    char root[4] = "?:\\";
    root[0] = path[0];  // in the case it was written
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return 0;
    // In 64 bits: 4096-byte clusters of a large drive overflow 32.
    unsigned long long freeBytes =
        (unsigned long long)bytesPerSector * sectorsPerCluster * freeClusters;
    return freeBytes >= requiredBytes;
}
