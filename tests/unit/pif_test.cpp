// DOS program detection and the PIF: the template, its fields, and what a
// failed preparation leaves behind.
#include <string>

#include "common/contract.h"
#include "patcher/dos_detect.h"
#include "patcher/pif.h"
#include "test_machine.h"

namespace {

// A program file of `size` bytes starting with `start`, the rest zero.
std::string Program(const std::string &start, size_t size) {
    std::string bytes = start;
    bytes.resize(size, '\0');
    return bytes;
}

// An "MZ" file whose relocation byte is 0x40 and whose new-style header at
// 0x80 begins with `signature`; `targetSystem` goes to byte 0x36 of it.
std::string NewStyleProgram(const std::string &signature, char targetSystem) {
    std::string bytes = Program("MZ", 0x100);
    bytes[24] = 0x40;
    bytes[60] = static_cast<char>(0x80);
    bytes.replace(0x80, signature.size(), signature);
    bytes[0x80 + 0x36] = targetSystem;
    return bytes;
}

class DosDetectTest : public MachineTest {};

TEST_F(DosDetectTest, KindsOfProgramFile) {
    struct Case {
        const char *what;
        std::string bytes;
        int result;
        int kind;
    };
    std::string dos = Program("MZ", 64);
    dos[24] = 0x1C;
    std::string headerPastTheEnd = Program("MZ", 64);
    headerPastTheEnd[24] = 0x40;
    headerPastTheEnd[60] = static_cast<char>(0xF0);
    const Case cases[] = {
        {"DOS program", dos, 1, EXECUTABLE_DOS},
        {"MZ and exactly 24 bytes", Program("MZ", 24), 0, EXECUTABLE_DOS},  // kind set before the read
        {"letters the other way round", Program("ZM", 64), 0, 0},
        {"empty", "", 0, 0},
        {"one byte", "M", 0, 0},
        {"PE program", NewStyleProgram(std::string("PE\0\0", 4), 0), 1, EXECUTABLE_WINDOWS},
        {"NE program for Windows", NewStyleProgram("NE", 2), 1, EXECUTABLE_WINDOWS},
        {"NE program for Windows 386", NewStyleProgram("NE", 4), 1, EXECUTABLE_WINDOWS},
        {"NE program for OS/2 with a DOS loader", NewStyleProgram("NE", 1), 1, EXECUTABLE_DOS},
        {"new-style header past the end", headerPastTheEnd, 1, EXECUTABLE_DOS},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\prog.exe", c.bytes));
        int kind = 0;
        EXPECT_EQ(c.result, IsDosExecutable("C:\\prog.exe", &kind)) << c.what;
        EXPECT_EQ(c.kind, kind) << c.what;
    }
    // Every file opened was closed again.
    EXPECT_EQ(winsim::CallCount("CreateFileA"), winsim::CallCount("CloseHandle"));
    int kind = 0;
    EXPECT_EQ(0, IsDosExecutable("C:\\missing.exe", &kind));
    EXPECT_EQ(0, kind);
    EXPECT_EQ(0, IsDosExecutable(nullptr, &kind));
    EXPECT_EQ(0, IsDosExecutable("C:\\prog.exe", nullptr));
}

class PifTest : public MachineTest {
protected:
    static std::string Template() {
        std::string bytes;
        EXPECT_TRUE(winsim::GetResource(10, ID_PIF_TEMPLATE, &bytes));
        return bytes;
    }
};

const char kPif[] = "C:\\PatchB2C\\pcpcwf.pif";

TEST_F(PifTest, TheTemplateIsWrittenOnlyWhereNothingIs) {
    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C", nullptr));
    ASSERT_EQ(967u, Template().size());
    EXPECT_EQ(1, WritePifTemplate(kPif));
    EXPECT_EQ(Template(), SimFile(kPif));

    ASSERT_TRUE(winsim::WriteWholeFile(kPif, "left by an earlier run"));
    EXPECT_EQ(1, WritePifTemplate(kPif));
    EXPECT_EQ("left by an earlier run", SimFile(kPif));

    // A directory of that name counts as there; the fields then cannot be
    // written into it.
    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C\\dir.pif", nullptr));
    EXPECT_EQ(1, WritePifTemplate("C:\\PatchB2C\\dir.pif"));
    EXPECT_EQ(0, PatchPifFields("C:\\PatchB2C\\dir.pif", "C:\\", "PATCH.EXE", nullptr));
}

// A short write would leave a damaged PIF that every later run reuses.
TEST_F(PifTest, AFailedTemplateWriteLeavesNoFile) {
    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C", nullptr));
    winsim::InjectFault({"WriteFile", "pcpcwf", 0, -1, ERROR_DISK_FULL});
    EXPECT_EQ(0, WritePifTemplate(kPif));
    EXPECT_FALSE(winsim::Exists(kPif));

    // A full FAT disk under Windows 95: the write says TRUE but is short.
    winsim::ClearFaults();
    winsim::SetPlatform(winsim::Platform::Windows95);
    winsim::SetRoomLeft('C', 500);
    EXPECT_EQ(0, WritePifTemplate(kPif));
    EXPECT_FALSE(winsim::Exists(kPif));

    winsim::RemoveResource(10, ID_PIF_TEMPLATE);
    EXPECT_EQ(0, WritePifTemplate(kPif));
    EXPECT_FALSE(winsim::Exists(kPif));
}

TEST_F(PifTest, FieldsAreWrittenWithZerosAfterThem) {
    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C", nullptr));
    ASSERT_EQ(1, WritePifTemplate(kPif));
    const std::string directory = "C:\\PROGRA~1\\QUENMARK\\WAYFRO~1\\";  // 30 characters
    ASSERT_EQ(30u, directory.size());
    EXPECT_EQ(1, PatchPifFields(kPif, directory.c_str(), "PATCH.EXE", nullptr));

    const std::string pif = SimFile(kPif);
    ASSERT_EQ(size_t{PIF_TEMPLATE_SIZE}, pif.size());
    EXPECT_EQ("PATCH.EXE", pif.substr(PIF_PROGRAM, 9));
    EXPECT_EQ(std::string(PIF_PROGRAM_WRITTEN - 9, '\0'), pif.substr(PIF_PROGRAM + 9, PIF_PROGRAM_WRITTEN - 9));
    EXPECT_EQ(directory, pif.substr(PIF_DIRECTORY, 30));
    EXPECT_EQ(std::string(PIF_DIRECTORY_WRITTEN - 30, '\0'), pif.substr(PIF_DIRECTORY + 30, PIF_DIRECTORY_WRITTEN - 30));
    EXPECT_EQ(std::string(PIF_PARAMETERS_WRITTEN, '\0'), pif.substr(PIF_PARAMETERS, PIF_PARAMETERS_WRITTEN));
    EXPECT_EQ(std::string(PIF_WIN386_PARAMETERS_WRITTEN, '\0'),
              pif.substr(PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_WRITTEN));
    EXPECT_EQ('\x78', pif[1]);  // the checksum is not recomputed
    // Nothing else changed.
    std::string expected = Template();
    expected.replace(PIF_PROGRAM, PIF_PROGRAM_WRITTEN, pif.substr(PIF_PROGRAM, PIF_PROGRAM_WRITTEN));
    expected.replace(PIF_DIRECTORY, PIF_DIRECTORY_WRITTEN, pif.substr(PIF_DIRECTORY, PIF_DIRECTORY_WRITTEN));
    expected.replace(PIF_PARAMETERS, PIF_PARAMETERS_WRITTEN, std::string(PIF_PARAMETERS_WRITTEN, '\0'));
    expected.replace(PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_WRITTEN,
                     std::string(PIF_WIN386_PARAMETERS_WRITTEN, '\0'));
    EXPECT_EQ(expected, pif);
}

// Each field takes a string with its terminator within the written count;
// one character more is refused before anything is written.
TEST_F(PifTest, StringsThatDoNotFitAreRefusedWhole) {
    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C", nullptr));
    ASSERT_EQ(1, WritePifTemplate(kPif));
    const std::string before = SimFile(kPif);
    const std::string longestName(PIF_PROGRAM_WRITTEN - 1, 'n'), longestDir(PIF_DIRECTORY_WRITTEN - 1, 'd'),
        longestParams(PIF_PARAMETERS_WRITTEN - 1, 'p');
    EXPECT_EQ(0, PatchPifFields(kPif, longestDir.c_str(), (longestName + "n").c_str(), nullptr));
    EXPECT_EQ(0, PatchPifFields(kPif, (longestDir + "d").c_str(), longestName.c_str(), nullptr));
    EXPECT_EQ(0, PatchPifFields(kPif, longestDir.c_str(), longestName.c_str(), (longestParams + "p").c_str()));
    EXPECT_EQ(before, SimFile(kPif));

    EXPECT_EQ(1, PatchPifFields(kPif, longestDir.c_str(), longestName.c_str(), longestParams.c_str()));
    const std::string pif = SimFile(kPif);
    EXPECT_EQ(longestName + '\0', pif.substr(PIF_PROGRAM, PIF_PROGRAM_WRITTEN));
    EXPECT_EQ(longestDir + '\0', pif.substr(PIF_DIRECTORY, PIF_DIRECTORY_WRITTEN));
    EXPECT_EQ(longestParams + '\0', pif.substr(PIF_PARAMETERS, PIF_PARAMETERS_WRITTEN));
    EXPECT_EQ(longestParams + '\0', pif.substr(PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_WRITTEN));
}

TEST_F(PifTest, AMissingFileIsNotCreatedAndAFailedWriteStops) {
    EXPECT_EQ(0, PatchPifFields("C:\\nowhere.pif", "C:\\", "PATCH.EXE", nullptr));
    EXPECT_FALSE(winsim::Exists("C:\\nowhere.pif"));

    ASSERT_TRUE(CreateDirectoryA("C:\\PatchB2C", nullptr));
    ASSERT_EQ(1, WritePifTemplate(kPif));
    winsim::InjectFault({"WriteFile", "", 2, 1, ERROR_DISK_FULL});  // the third field
    EXPECT_EQ(0, PatchPifFields(kPif, "C:\\DIR\\", "PATCH.EXE", "abc"));
    const std::string pif = SimFile(kPif);
    EXPECT_EQ("PATCH.EXE", pif.substr(PIF_PROGRAM, 9));
    EXPECT_EQ("C:\\DIR\\", pif.substr(PIF_DIRECTORY, 7));
    EXPECT_EQ(std::string(PIF_PARAMETERS_WRITTEN, '\0'), pif.substr(PIF_PARAMETERS, PIF_PARAMETERS_WRITTEN));  // not reached
    EXPECT_EQ(std::string(PIF_WIN386_PARAMETERS_WRITTEN, '\0'),
              pif.substr(PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_WRITTEN));
}

}  // namespace
