// The free-space check before the patch directory is made.
#include "install_check/free_space.h"
#include "test_machine.h"

namespace {

class FreeSpaceTest : public MachineTest {
protected:
    // A drive with `freeClusters` clusters of 8 sectors of 512 bytes.
    static void SetFree(char drive, DWORD freeClusters, DWORD sectorsPerCluster = 8) {
        winsim::DiskGeometry geometry;
        geometry.sectorsPerCluster = sectorsPerCluster;
        geometry.bytesPerSector = 512;
        geometry.freeClusters = freeClusters;
        geometry.totalClusters = freeClusters + 100;
        winsim::SetDiskGeometry(drive, geometry);
    }
};

const DWORD kFiveMegabytes = 5u * 1024 * 1024;

TEST_F(FreeSpaceTest, ExactlyFiveMegabytesIsEnough) {
    SetFree('C', kFiveMegabytes / 512, 1);  // 10240 one-sector clusters
    EXPECT_EQ(1, CheckFreeSpace("C:\\Program Files\\Tolvane", kFiveMegabytes));
    SetFree('C', kFiveMegabytes / 512 - 1, 1);
    EXPECT_EQ(0, CheckFreeSpace("C:\\Program Files\\Tolvane", kFiveMegabytes));
    // One byte more than the drive has.
    SetFree('C', kFiveMegabytes / 512, 1);
    EXPECT_EQ(0, CheckFreeSpace("C:\\x", kFiveMegabytes + 1));
}

// 6 GB on 4096-byte clusters: the product overflows 32 bits.
TEST_F(FreeSpaceTest, LargeDrivesAreCountedIn64Bits) {
    SetFree('C', 1572864u, 8);  // 1572864 * 4096 = 6 GiB
    EXPECT_EQ(1, CheckFreeSpace("C:\\Wayfront", kFiveMegabytes));
    SetFree('C', 1048576u + 1, 8);  // 4 GiB + 4096: wraps to 4096 in 32 bits
    EXPECT_EQ(1, CheckFreeSpace("C:\\Wayfront", kFiveMegabytes));
}

TEST_F(FreeSpaceTest, TheRootIsAskedInTheCaseWritten) {
    SetFree('C', 0);
    EXPECT_EQ(0, CheckFreeSpace("c:\\wayfront", 1));
    ASSERT_NE(-1, winsim::FindCall("GetDiskFreeSpaceA"));
    const winsim::Call &call = winsim::Calls()[winsim::FindCall("GetDiskFreeSpaceA")];
    EXPECT_EQ("c:\\", call.arg);
}

TEST_F(FreeSpaceTest, PathsWithoutADriveLetterAreNotTested) {
    SetFree('C', 0);
    for (const char *path : {"\\\\server\\share\\Wayfront", "Wayfront\\sub", "", "x"}) {
        EXPECT_EQ(1, CheckFreeSpace(path, kFiveMegabytes)) << path;
    }
    EXPECT_EQ(-1, winsim::FindCall("GetDiskFreeSpaceA"));
    EXPECT_EQ(0, CheckFreeSpace(nullptr, kFiveMegabytes));
}

TEST_F(FreeSpaceTest, ADriveThatDoesNotAnswerHasNoSpace) {
    winsim::DiskGeometry noMedium;
    noMedium.answers = false;
    winsim::MapDrive('A', Root() + "/a");
    winsim::SetDiskGeometry('A', noMedium);
    EXPECT_EQ(0, CheckFreeSpace("A:\\Wayfront", 1));
    EXPECT_EQ(0, CheckFreeSpace("Q:\\Wayfront", 1));  // no such drive
}

}  // namespace
