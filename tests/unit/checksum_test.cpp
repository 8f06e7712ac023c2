// The version-check file's checksum: the table, the update step, and the
// file reader's pieces and failures.
#include <string>

#include "install_check/checksum.h"
#include "test_machine.h"

namespace {

DWORD Bytes(const std::string &text, DWORD value = 0) {
    return ChecksumBytes(reinterpret_cast<const BYTE *>(text.data()), static_cast<DWORD>(text.size()), value);
}

// Entry i of the reflected CRC-32 table, computed the long way.
DWORD TableEntry(DWORD i) {
    for (int bit = 0; bit < 8; ++bit) i = (i & 1) ? (i >> 1) ^ 0xEDB88320u : i >> 1;
    return i;
}

TEST(ChecksumBytes, KnownValues) {
    EXPECT_EQ(0x3AB551CEu, Bytes("a"));
    EXPECT_EQ(0x4FDFF252u, Bytes("abc"));
    EXPECT_EQ(1340076626u, Bytes("abc"));
    EXPECT_EQ(0u, Bytes(std::string(1000, '\0')));
    EXPECT_EQ(0x12345678u, Bytes("", 0x12345678u));  // no bytes, no change
    // Not CRC-32, which gives 0x352441C2 for "abc".
    EXPECT_NE(0x352441C2u, Bytes("abc"));
}

// Every single byte from 0 lands on the table entry of that byte, which
// checks all 256 entries of the built-in table against the polynomial.
TEST(ChecksumBytes, SingleBytesReachTheirTableEntries) {
    for (DWORD b = 0; b < 256; ++b) EXPECT_EQ(TableEntry(b), Bytes(std::string(1, static_cast<char>(b)))) << b;
    EXPECT_EQ(0x77073096u, TableEntry(1));
    EXPECT_EQ(0xEDB88320u, TableEntry(128));
    EXPECT_EQ(0x2D02EF8Du, TableEntry(255));
    EXPECT_EQ(1281953886u, TableEntry(33));  // the shipped checksum
}

TEST(ChecksumBytes, PiecesGiveTheSameValueAsTheWhole) {
    std::string data;
    for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>((i * 7919) >> 3));
    const DWORD whole = Bytes(data);
    DWORD pieces = Bytes(data.substr(0, 4096));
    pieces = Bytes(data.substr(4096, 4096), pieces);
    pieces = Bytes(data.substr(8192), pieces);
    EXPECT_EQ(whole, pieces);
}

class FileChecksumTest : public MachineTest {};

TEST_F(FileChecksumTest, ReadsTheWholeFileInPieces) {
    std::string data;
    for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>(i * 31 + (i >> 8)));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", data));
    EXPECT_EQ(Bytes(data), FileChecksum("C:\\data.bin"));
    // Three reads: 4096, 4096 and 1808 bytes.
    EXPECT_EQ(3, winsim::CallCount("ReadFile"));
    EXPECT_EQ(1, winsim::CallCount("CloseHandle"));
}

TEST_F(FileChecksumTest, EmptyZeroAndUnreadableFilesAreZero) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\empty.bin", ""));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\zeros.bin", std::string(5000, '\0')));
    EXPECT_EQ(0u, FileChecksum("C:\\empty.bin"));
    EXPECT_EQ(0u, FileChecksum("C:\\zeros.bin"));
    EXPECT_EQ(0u, FileChecksum("C:\\missing.bin"));
}

TEST_F(FileChecksumTest, AFailedReadGivesZeroAndClosesTheFile) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", std::string(9000, 'q')));
    winsim::InjectFault({"ReadFile", "", 1, 1, ERROR_READ_FAULT});  // the second read
    EXPECT_EQ(0u, FileChecksum("C:\\data.bin"));
    EXPECT_EQ(1, winsim::CallCount("CloseHandle"));
    // The file is not held open afterwards.
    EXPECT_TRUE(DeleteFileA("C:\\data.bin"));
}

TEST_F(FileChecksumTest, AFileSizeThatCannotBeHadGivesZero) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", "abc"));
    winsim::InjectFault({"GetFileSize", "", 0, -1, ERROR_INVALID_HANDLE});
    EXPECT_EQ(0u, FileChecksum("C:\\data.bin"));
}

}  // namespace
