// The version-check file's checksum: the table, the update step, and the
// file reader's pieces and failures. ChecksumBytes folds most bytes
// together rather than stepping through each, so it is held against the
// builder's byte-at-a-time loop (formats/checksum.h, the host's copy that
// computes the manifest's values) on random data of every short length,
// start and initial value.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "formats/checksum.h"
#include "install_check/checksum.h"
#include "test_machine.h"

namespace {

DWORD Bytes(const std::string &text, DWORD value = 0) {
    return ChecksumBytes(reinterpret_cast<const BYTE *>(text.data()), static_cast<DWORD>(text.size()), value);
}

// The builder's checksum of the same bytes.
DWORD Model(const BYTE *bytes, size_t count, DWORD value) { return formats::ChecksumBytes(bytes, count, value); }

std::vector<BYTE> RandomBytes(size_t count, std::mt19937 *random) {
    std::vector<BYTE> bytes(count);
    for (BYTE &b : bytes) b = static_cast<BYTE>((*random)());
    return bytes;
}

TEST(ChecksumBytes, KnownValues) {
    EXPECT_EQ(0x3AB551CEu, Bytes("a"));
    EXPECT_EQ(0x4FDFF252u, Bytes("abc"));
    EXPECT_EQ(0u, Bytes(std::string(1000, '\0')));
    EXPECT_EQ(0x12345678u, Bytes("", 0x12345678u));  // no bytes, no change
    // Not CRC-32, which gives 0x352441C2 for "abc".
    EXPECT_NE(0x352441C2u, Bytes("abc"));
}

// Every single byte from 0 lands on the table entry of that byte, which
// checks all 256 entries of the built-in table against the builder's.
TEST(ChecksumBytes, SingleBytesReachTheirTableEntries) {
    for (DWORD b = 0; b < 256; ++b)
        EXPECT_EQ(formats::ChecksumTableEntry(static_cast<std::uint8_t>(b)),
                  Bytes(std::string(1, static_cast<char>(b))))
            << b;
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

// Every length up to past the seventh group of 28 folded bytes (folding
// starts at 30), from every start within a DWORD and a few more, with
// initial values of every kind: the folding must not depend on any of them.
TEST(ChecksumBytes, MatchesTheByteLoopAtEveryShortLengthAndStart) {
    std::mt19937 random(1);
    const std::vector<BYTE> data = RandomBytes(256, &random);
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length = 0; start + length <= 9 + 200; ++length) {
            for (DWORD value : {0u, 0xFFFFFFFFu, static_cast<DWORD>(random())}) {
                ASSERT_EQ(Model(&data[start], length, value), ChecksumBytes(&data[start], static_cast<DWORD>(length), value))
                    << "start " << start << ", length " << length << ", value " << value;
            }
        }
    }
}

// The start's low byte enters every byte; the folded ones leave it out,
// where it adds up to nothing. With one, two and three groups folded and
// every length of what is left after them, each of the 256 must give the
// byte loop's result.
TEST(ChecksumBytes, EveryLowByteOfTheStartWithOneTwoAndThreeGroups) {
    std::mt19937 random(2);
    const std::vector<BYTE> data = RandomBytes(1000, &random);
    for (size_t length : {30u, 31u, 57u, 58u, 86u, 1000u}) {
        for (DWORD low = 0; low < 256; ++low) {
            const DWORD value = (static_cast<DWORD>(random()) & 0xFFFFFF00u) | low;
            ASSERT_EQ(Model(data.data(), length, value), ChecksumBytes(data.data(), static_cast<DWORD>(length), value))
                << "length " << length << ", value " << value;
        }
    }
}

TEST(ChecksumBytes, MatchesTheByteLoopOnLongerRuns) {
    std::mt19937 random(3);
    const std::vector<BYTE> data = RandomBytes(70000, &random);
    for (size_t length : {255u, 4095u, 4096u, 4097u, 65535u, 65536u, 69999u}) {
        const DWORD value = static_cast<DWORD>(random());
        EXPECT_EQ(Model(&data[1], length, value), ChecksumBytes(&data[1], static_cast<DWORD>(length), value))
            << "length " << length;
    }
    // All zeros and all ones: every sum folds to 0 or to one value.
    for (BYTE fill : {0x00, 0xFF}) {
        const std::vector<BYTE> same(4321, fill);
        EXPECT_EQ(Model(same.data(), same.size(), 0x5A5A5A5Au), ChecksumBytes(same.data(), 4321, 0x5A5A5A5Au))
            << "fill " << int(fill);
    }
}

// Callers chain calls: pieces of any size, each starting from the value the
// one before it ended with, give the value of the whole.
TEST(ChecksumBytes, ChainedPiecesOfAnySizeGiveTheWhole) {
    std::mt19937 random(4);
    const std::vector<BYTE> data = RandomBytes(20000, &random);
    for (int round = 0; round < 20; ++round) {
        const DWORD start = static_cast<DWORD>(random());
        DWORD chained = start;
        for (size_t at = 0; at < data.size();) {
            const size_t piece = std::min<size_t>(random() % 100, data.size() - at);
            chained = ChecksumBytes(&data[at], static_cast<DWORD>(piece), chained);
            at += piece;
        }
        EXPECT_EQ(Model(data.data(), data.size(), start), chained) << "round " << round;
    }
}

class FileChecksumTest : public MachineTest {};

TEST_F(FileChecksumTest, ReadsTheWholeFileInPieces) {
    std::string data;
    for (int i = 0; i < 150000; ++i) data.push_back(static_cast<char>(i * 31 + (i >> 8)));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", data));
    EXPECT_EQ(Bytes(data), FileChecksum("C:\\data.bin"));
    // Three reads: 65536, 65536 and 18928 bytes.
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
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", std::string(70000, 'q')));
    winsim::InjectFault({"ReadFile", "", 1, 1, ERROR_READ_FAULT});  // the second read
    EXPECT_EQ(0u, FileChecksum("C:\\data.bin"));
    EXPECT_EQ(1, winsim::CallCount("CloseHandle"));
    // The file is not held open afterwards.
    EXPECT_TRUE(DeleteFileA("C:\\data.bin"));
}

TEST_F(FileChecksumTest, AFewMegabytesGiveTheByteLoopsValue) {
    std::mt19937 random(5);
    const std::vector<BYTE> data = RandomBytes(3 * 1024 * 1024 + 17, &random);
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\big.bin", std::string(data.begin(), data.end())));
    EXPECT_EQ(Model(data.data(), data.size(), 0), FileChecksum("C:\\big.bin"));
    EXPECT_EQ(49, winsim::CallCount("ReadFile"));  // 48 whole pieces and 17 bytes
}

TEST_F(FileChecksumTest, AFileSizeThatCannotBeHadGivesZero) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\data.bin", "abc"));
    winsim::InjectFault({"GetFileSize", "", 0, -1, ERROR_INVALID_HANDLE});
    EXPECT_EQ(0u, FileChecksum("C:\\data.bin"));
}

}  // namespace
