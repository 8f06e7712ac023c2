// The simulated registry where it is not obvious: names, the RegQueryValueExA
// size protocol, access rights, deleted keys, the 95/NT split of
// RegDeleteKeyA, and the REGEDIT4 text that sets machines up and compares
// them with Wine.
#include <cstring>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {


class RegistryTest : public MachineTest {
protected:
    // Creates (or opens) a key below HKEY_LOCAL_MACHINE.
    static HKEY Create(const char *path, REGSAM sam = KEY_ALL_ACCESS) {
        HKEY key = nullptr;
        LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, sam, nullptr,
                                      &key, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, result) << path;
        return key;
    }
    static LONG Open(const char *path, REGSAM sam, HKEY *key) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, sam, key);
    }
    static LONG SetBytes(HKEY key, const char *name, DWORD type, const std::string &bytes) {
        return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                              static_cast<DWORD>(bytes.size()));
    }
    // A string with its terminator counted, as the installer writes them.
    static LONG SetString(HKEY key, const char *name, const char *text) {
        return SetBytes(key, name, REG_SZ, std::string(text, std::strlen(text) + 1));
    }
    // The stored type and bytes of a value, asking for the size first.
    static LONG Query(HKEY key, const char *name, DWORD *type, std::string *bytes) {
        DWORD size = 0;
        LONG result = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
        if (result != ERROR_SUCCESS) return result;
        std::vector<BYTE> buffer(size + 1);
        result = RegQueryValueExA(key, name, nullptr, type, buffer.data(), &size);
        bytes->assign(reinterpret_cast<const char *>(buffer.data()), size);
        return result;
    }
    static bool Import(const std::string &text) {
        std::string error;
        const bool ok = winsim::ImportRegText(text, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    static std::string Export(const std::string &key = "HKEY_LOCAL_MACHINE\\Software") {
        return winsim::ExportRegText({key});
    }
};

// ---- Keys and names --------------------------------------------------------

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    HKEY key = Create("Software\\Quenmark");
    Create("SOFTWARE\\QUENMARK\\Wayfront");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "DisplayName", "first"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "DISPLAYNAME", "second"));
    DWORD type = 0;
    std::string bytes;
    EXPECT_EQ(ERROR_SUCCESS, Query(key, "displayname", &type, &bytes));
    EXPECT_EQ(std::string("second", 7), bytes);
    EXPECT_EQ("REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark]\n"
              "\"DisplayName\"=\"second\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\n\n",
              winsim::ExportRegText({"hkey_local_machine\\software\\QUENMARK"}));
}

TEST_F(RegistryTest, DoubleByteNamesKeepTheirTrailBytes) {
    winsim::SetCodePage(932);
    // 0x95 0x5C is one character whose trail byte is a backslash; 0x83 0x41
    // and 0x83 0x61 differ only in a trail byte that looks like a letter.
    HKEY key = Create("Software\\\x95\x5C");
    Create("Software\\\x83\x41");
    Create("Software\\\x83\x61");
    DWORD subkeys = 0;
    HKEY software = Create("Software");
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(software, nullptr, nullptr, nullptr, &subkeys,
                                              nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr));
    EXPECT_EQ(3u, subkeys);
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "\x95\x5C", "\x95\x5C"));
    const std::string exported = Export("HKEY_LOCAL_MACHINE\\Software\\\x95\x5C");
    EXPECT_EQ("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\\x95\x5C]\n"
              "\"\x95\x5C\"=\"\x95\x5C\"\n\n",
              exported);
    // Read back, the trail byte is not taken for an escape.
    SetUp();
    winsim::SetCodePage(932);
    ASSERT_TRUE(Import(exported));
    EXPECT_EQ(exported, Export("HKEY_LOCAL_MACHINE\\Software\\\x95\x5C"));
}

TEST_F(RegistryTest, OpenKeyResults) {
    HKEY quenmark = Create("Software\\Quenmark");
    struct Case {
        winsim::Platform platform;
        const char *subkey;
        LONG result;
    } cases[] = {
        {winsim::Platform::WindowsNT, "Software\\Quenmark", ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, "SOFTWARE\\quenmark\\\\", ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, "Software\\Missing", ERROR_FILE_NOT_FOUND},
        {winsim::Platform::WindowsNT, "Software\\Quenmark\\Missing\\Deeper", ERROR_FILE_NOT_FOUND},
        {winsim::Platform::WindowsNT, "\\Software", ERROR_BAD_PATHNAME},
        {winsim::Platform::Windows95, "\\Software", ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, "", ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, nullptr, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.subkey ? c.subkey : "(null)") << " on "
                     << (c.platform == winsim::Platform::WindowsNT ? "NT" : "95"));
        winsim::SetPlatform(c.platform);
        HKEY key = quenmark;  // NT clears it on failure
        EXPECT_EQ(c.result, Open(c.subkey, KEY_READ, &key));
        if (c.result == ERROR_SUCCESS) {
            EXPECT_NE(nullptr, key);
            EXPECT_NE(HKEY_LOCAL_MACHINE, key);
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        } else {
            EXPECT_EQ(nullptr, key);
        }
    }
}

TEST_F(RegistryTest, EmptySubkeyOpensASecondHandleToTheSameKey) {
    HKEY first = Create("Software\\Quenmark");
    for (const char *subkey : {static_cast<const char *>(nullptr), ""}) {
        HKEY second = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first, subkey, 0, KEY_ALL_ACCESS, &second));
        EXPECT_NE(first, second);
        ASSERT_EQ(ERROR_SUCCESS, SetString(second, "Via", subkey ? "empty" : "null"));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(second));
        DWORD type = 0;
        std::string bytes;
        EXPECT_EQ(ERROR_SUCCESS, Query(first, "Via", &type, &bytes)) << "first still open";
        EXPECT_EQ(std::string(subkey ? "empty" : "null") + '\0', bytes);
    }
}

TEST_F(RegistryTest, CreateMakesTheMissingKeysAndSaysWhetherItDid) {
    struct Case {
        const char *subkey;
        LONG result;
        DWORD disposition;
    } cases[] = {
        {"Software\\Quenmark\\Wayfront\\95", ERROR_SUCCESS, REG_CREATED_NEW_KEY},
        {"software\\QUENMARK\\wayfront\\95\\", ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
        {"Software\\Quenmark", ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},  // made on the way
        {"Software\\Quenmark\\Other", ERROR_SUCCESS, REG_CREATED_NEW_KEY},
        {"\\Software\\Lead", ERROR_BAD_PATHNAME, 0xDEAD},  // NT
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subkey);
        HKEY key = nullptr;
        DWORD disposition = 0xDEAD;
        EXPECT_EQ(c.result, RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.subkey, 0, nullptr, 0,
                                            KEY_ALL_ACCESS, nullptr, &key, &disposition));
        EXPECT_EQ(c.disposition, disposition);
        if (c.result == ERROR_SUCCESS) RegCloseKey(key);
    }
    EXPECT_EQ("REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Other]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront\\95]\n\n",
              Export());
}

TEST_F(RegistryTest, HandlesThatAreNotOpenOrNotModelled) {
    HKEY key = nullptr;
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(bogus));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(HKEY_USERS, "x", "y"));
    // Closing a root key is harmless; it stays usable.
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    // A handle from an earlier machine means nothing to a new one.
    HKEY earlier = Create("Software");
    SetUp();
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(earlier));
}

// ---- Values ----------------------------------------------------------------

TEST_F(RegistryTest, QueryValueSizeProtocolNeverWritesPastTheBuffer) {
    HKEY key = Create("Software\\Quenmark");
    const std::string stored("C:\\WF", 6);  // with its terminator
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Path", "C:\\WF"));
    const DWORD size = static_cast<DWORD>(stored.size());
    struct Case {
        const char *what;
        bool buffer;
        DWORD given;
        LONG result;
    } cases[] = {
        {"no buffer", false, 0, ERROR_SUCCESS},
        {"zero size", true, 0, ERROR_MORE_DATA},
        {"one byte short", true, size - 1, ERROR_MORE_DATA},
        {"exact", true, size, ERROR_SUCCESS},
        {"larger", true, size + 4, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 0xDEAD, got = c.given;
        EXPECT_EQ(c.result, RegQueryValueExA(key, "PATH", nullptr, &type,
                                             c.buffer ? reinterpret_cast<BYTE *>(buffer) : nullptr,
                                             &got));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(size, got);
        // Whatever a refused call left in the buffer, nothing from `given` on.
        const size_t untouched = c.result == ERROR_SUCCESS && c.buffer ? size : c.given;
        if (c.result == ERROR_SUCCESS && c.buffer) {
            EXPECT_EQ(stored, std::string(buffer, size));
        }
        EXPECT_EQ(std::string(sizeof buffer - untouched, '#'),
                  std::string(buffer + untouched, sizeof buffer - untouched));
    }
    // Existence alone, and a value that is not there.
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Path", nullptr, nullptr, nullptr, nullptr));
    DWORD got = 77;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &got));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, nullptr, nullptr, nullptr, nullptr, &got))
        << "the default value is not set";
}

TEST_F(RegistryTest, UnterminatedStringIsStoredAndReadBackAsItWas) {
    HKEY key = Create("Software\\Quenmark");
    const char source[] = "abcX";  // cbData stops before the X: no terminator stored
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE *>(source), 3));
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    DWORD type = 0, size = sizeof buffer;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "Raw", nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ("abc#####", std::string(buffer, sizeof buffer));
    // It survives export and import byte for byte.
    const std::string exported = Export();
    EXPECT_NE(std::string::npos, exported.find("\"Raw\"=hex(1):61,62,63\n")) << exported;
    SetUp();
    ASSERT_TRUE(Import(exported));
    std::string bytes;
    ASSERT_EQ(ERROR_SUCCESS, Query(Create("Software\\Quenmark"), "Raw", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ("abc", bytes);
}

TEST_F(RegistryTest, AValueOfAnyTypeReplacesOneOfAnyType) {
    HKEY key = Create("Software\\Quenmark");
    const std::string multi("a\0b\0\0", 5);
    const std::string dword("\x0a\0\0\0", 4);
    struct Step {
        DWORD type;
        std::string bytes;
    } steps[] = {{REG_DWORD, dword}, {REG_SZ, std::string("x\0", 2)}, {REG_MULTI_SZ, multi},
                 {REG_BINARY, ""}, {REG_NONE, "\x01"}, {REG_EXPAND_SZ, std::string("%W%\0", 4)}};
    for (const Step &step : steps) {
        ASSERT_EQ(ERROR_SUCCESS, SetBytes(key, "Value", step.type, step.bytes));
        DWORD type = 0xDEAD;
        std::string bytes;
        EXPECT_EQ(ERROR_SUCCESS, Query(key, "value", &type, &bytes));
        EXPECT_EQ(step.type, type);
        EXPECT_EQ(step.bytes, bytes);
    }
    DWORD values = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, &values, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, values);
}

TEST_F(RegistryTest, DeleteValue) {
    HKEY key = Create("Software\\Quenmark");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Gone", "x"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "GONE"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "Gone"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Gone", nullptr, nullptr, nullptr, &size));
}

TEST_F(RegistryTest, HandleAccessRightsOnNtOnly) {
    HKEY full = Create("Software\\Quenmark");
    struct Case {
        winsim::Platform platform;
        REGSAM sam;
        LONG set, remove, query;
    } cases[] = {
        {winsim::Platform::WindowsNT, KEY_READ, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
         ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, KEY_SET_VALUE, ERROR_SUCCESS, ERROR_SUCCESS,
         ERROR_ACCESS_DENIED},
        {winsim::Platform::WindowsNT, KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
        {winsim::Platform::WindowsNT, GENERIC_READ, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
         ERROR_SUCCESS},
        // Windows 95 has no security on the registry.
        {winsim::Platform::Windows95, KEY_READ, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "access " << std::hex << c.sam << " on "
                     << (c.platform == winsim::Platform::WindowsNT ? "NT" : "95"));
        winsim::SetPlatform(c.platform);
        ASSERT_EQ(ERROR_SUCCESS, SetString(full, "Old", "x"));
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, Open("Software\\Quenmark", c.sam, &key));
        DWORD size = 0;
        EXPECT_EQ(c.query, RegQueryValueExA(key, "Old", nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(c.set, SetString(key, "New", "y"));
        EXPECT_EQ(c.remove, RegDeleteValueA(key, "Old"));
        RegCloseKey(key);
    }
    // The parent handle's rights do not matter for creating a key below it.
    HKEY readOnly = nullptr, created = nullptr;
    winsim::SetPlatform(winsim::Platform::WindowsNT);
    ASSERT_EQ(ERROR_SUCCESS, Open("Software\\Quenmark", KEY_READ, &readOnly));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(readOnly, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &created, nullptr));
}

TEST_F(RegistryTest, QueryInfoKeyCountsAndLongestNames) {
    HKEY key = Create("Software\\Quenmark");
    Create("Software\\Quenmark\\A");
    Create("Software\\Quenmark\\Longer");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, "default value"));  // 14 bytes
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Name12", "x"));
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0, classLength = 5;
    char className[8] = "#######";
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(key, className, &classLength, nullptr, &subkeys, &maxSubkey,
                               nullptr, &values, &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(6u, maxSubkey);  // "Longer", no terminator
    EXPECT_EQ(2u, values);
    EXPECT_EQ(6u, maxName);  // "Name12"
    EXPECT_EQ(14u, maxData);
    EXPECT_EQ(0u, classLength);
    EXPECT_STREQ("", className);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

// ---- Deleting keys ---------------------------------------------------------

TEST_F(RegistryTest, DeleteKeyWithSubkeysFailsOnNtAndTakesTheTreeOn95) {
    struct Case {
        winsim::Platform platform;
        LONG result;
        const char *left;  // the export of Software afterwards
    } cases[] = {
        {winsim::Platform::WindowsNT, ERROR_ACCESS_DENIED,
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Quenmark]\n\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\n\n"},
        {winsim::Platform::Windows95, ERROR_SUCCESS,
         "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.platform == winsim::Platform::WindowsNT ? "NT" : "95");
        SetUp();
        winsim::SetPlatform(c.platform);
        HKEY child = Create("Software\\Quenmark\\Wayfront");
        EXPECT_EQ(c.result, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "software\\quenmark"));
        EXPECT_EQ(c.left, Export());
        DWORD size = 0;
        EXPECT_EQ(c.result == ERROR_SUCCESS ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND,
                  RegQueryValueExA(child, "x", nullptr, nullptr, nullptr, &size))
            << "a handle below the deleted key";
    }
    // On NT a tree goes leaf first; a root key never goes.
    SetUp();
    Create("Software\\Quenmark\\Wayfront");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Quenmark\\Wayfront"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Quenmark"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Quenmark"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
}

TEST_F(RegistryTest, HandlesOfADeletedKeyFailWithKeyDeleted) {
    HKEY stale = Create("Software\\Quenmark\\Old");
    ASSERT_EQ(ERROR_SUCCESS, SetString(stale, "v", "x"));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Quenmark\\Old"));
    HKEY other = nullptr;
    DWORD size = 0;
    struct Case {
        const char *call;
        LONG result;
    } cases[] = {
        {"RegSetValueExA", SetString(stale, "w", "y")},
        {"RegQueryValueExA", RegQueryValueExA(stale, "v", nullptr, nullptr, nullptr, &size)},
        {"RegDeleteValueA", RegDeleteValueA(stale, "v")},
        {"RegOpenKeyExA", RegOpenKeyExA(stale, nullptr, 0, KEY_READ, &other)},
        {"RegCreateKeyExA", RegCreateKeyExA(stale, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                            &other, nullptr)},
        {"RegDeleteKeyA", RegDeleteKeyA(stale, "")},
        {"RegQueryInfoKeyA", RegQueryInfoKeyA(stale, nullptr, nullptr, nullptr, &size, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)},
    };
    for (const Case &c : cases) EXPECT_EQ(ERROR_KEY_DELETED, c.result) << c.call;
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(stale));
    // A key made again under the same name is a new, empty key.
    HKEY again = Create("Software\\Quenmark\\Old");
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(again, "v", nullptr, nullptr, nullptr, &size));
}

// ---- Fault injection -------------------------------------------------------

TEST_F(RegistryTest, InjectedFaultFailsExactlyTheMatchingOpen) {
    HKEY quenmark = Create("Software\\Quenmark");
    Create("Software\\Quenmark\\InstalledApps");
    winsim::InjectFault({"RegOpenKeyExA", "InstalledApps"});
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, Open("Software\\Quenmark", KEY_READ, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("Software\\Quenmark\\InstalledApps", KEY_READ, &key));
    // The call's argument is the full path, whichever handle it starts from.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(quenmark, "installedapps", 0, KEY_READ, &key));
    EXPECT_LE(0, winsim::FindCall("RegOpenKeyExA",
                                  "HKEY_LOCAL_MACHINE\\Software\\Quenmark\\installedapps"));
    // Other functions on the same key go through.
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(quenmark, "InstalledApps", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));

    // The result is the fault's error, whichever it is, for as long as it lasts.
    winsim::ClearFaults();
    winsim::Fault once{"RegOpenKeyExA", "InstalledApps", 0, 1, ERROR_NOT_ENOUGH_MEMORY};
    winsim::InjectFault(once);
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, Open("Software\\Quenmark\\InstalledApps", KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, Open("Software\\Quenmark\\InstalledApps", KEY_READ, &key));
}

// ---- REGEDIT4 text ---------------------------------------------------------

// One value of every type, as Wine's and Windows' regedit write them (CRLF,
// wrapped hex lists), with the bytes each must become.
const char kEveryType[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Wayfront\"\r\n"
    "@=\"default\"\r\n"
    "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    "\"Count\"=dword:0000000a\r\n"
    "\"Blob\"=hex:01,02,ff\r\n"
    "\"Multi\"=hex(7):61,00,62,63,00,\\\r\n"
    "  00\r\n"
    "\"Expand\"=hex(2):25,57,49,4e,44,49,52,25,00\r\n"
    "\"None\"=hex(0):\r\n"
    "\"Short\"=hex(4):01,02\r\n"
    "\"Raw\"=hex(1):61,62\r\n"
    "\"Empty\"=\"\"\r\n"
    "\"Odd\"=hex(10):aa\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quenmark]\r\n"
    "\"Last\"=\"95.0.C\"\r\n";

TEST_F(RegistryTest, ImportStoresEveryTypeAsItsBytes) {
    ASSERT_TRUE(Import(kEveryType));
    HKEY key = Create("Software\\Quenmark\\Wayfront");
    struct Case {
        const char *name;
        DWORD type;
        std::string bytes;
    } cases[] = {
        {nullptr, REG_SZ, std::string("default\0", 8)},
        {"Path", REG_SZ, std::string("C:\\Program Files\\Wayfront\0", 26)},
        {"Quote", REG_SZ, std::string("say \"hi\"\0", 9)},
        {"Count", REG_DWORD, std::string("\x0a\0\0\0", 4)},
        {"Blob", REG_BINARY, "\x01\x02\xff"},
        {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"Expand", REG_EXPAND_SZ, std::string("%WINDIR%\0", 9)},
        {"None", REG_NONE, ""},
        {"Short", REG_DWORD, "\x01\x02"},
        {"Raw", REG_SZ, "ab"},
        {"Empty", REG_SZ, std::string("\0", 1)},
        {"Odd", 0x10, "\xaa"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name ? c.name : "(default)");
        DWORD type = 0xDEAD;
        std::string bytes;
        EXPECT_EQ(ERROR_SUCCESS, Query(key, c.name, &type, &bytes));
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.bytes, bytes);
    }
}

TEST_F(RegistryTest, ExportIsCanonicalAndReadsBackToTheSameText) {
    ASSERT_TRUE(Import(kEveryType));
    const std::string expected =
        "REGEDIT4\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Quenmark]\n"
        "\"Last\"=\"95.0.C\"\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quenmark]\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\n"
        "@=\"default\"\n"
        "\"Blob\"=hex:01,02,ff\n"
        "\"Count\"=dword:0000000a\n"
        "\"Empty\"=\"\"\n"
        "\"Expand\"=hex(2):25,57,49,4e,44,49,52,25,00\n"
        "\"Multi\"=hex(7):61,00,62,63,00,00\n"
        "\"None\"=hex(0):\n"
        "\"Odd\"=hex(10):aa\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Wayfront\"\n"
        "\"Quote\"=\"say \\\"hi\\\"\"\n"
        "\"Raw\"=hex(1):61,62\n"
        "\"Short\"=hex(4):01,02\n"
        "\n";
    const std::vector<std::string> keys = {"HKEY_LOCAL_MACHINE\\Software\\Quenmark",
                                           "HKCU\\Software\\Quenmark"};
    EXPECT_EQ(expected, winsim::ExportRegText(keys));
    SetUp();
    ASSERT_TRUE(Import(expected));
    EXPECT_EQ(expected, winsim::ExportRegText(keys));
}

TEST_F(RegistryTest, ExportSortsKeysAsATreeAndLeavesOutMissingOnes) {
    // Written in an order export must not follow.
    for (const char *path : {"Software\\Zeta", "Software\\alpha beta", "Software\\alpha\\Sub",
                             "Software\\Beta"})
        Create(path);
    HKEY beta = Create("Software\\Beta");
    for (const char *name : {"zed", "Alpha", "", "beta"}) ASSERT_EQ(ERROR_SUCCESS, SetString(beta, name, "1"));
    const std::string expected =
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\Software]\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\alpha]\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\alpha\\Sub]\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\alpha beta]\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Beta]\n"
        "@=\"1\"\n\"Alpha\"=\"1\"\n\"beta\"=\"1\"\n\"zed\"=\"1\"\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Zeta]\n\n";
    // A key listed twice, or inside another listed key, comes out once.
    EXPECT_EQ(expected, winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\Software\\Beta",
                                               "HKEY_LOCAL_MACHINE\\Software\\Missing",
                                               "HKEY_LOCAL_MACHINE\\Software",
                                               "HKEY_CLASSES_ROOT\\.txt", "HKEY_LOCAL_MACHINE\\software"}));
    EXPECT_EQ("REGEDIT4\n\n", winsim::ExportRegText({"HKEY_CURRENT_USER\\Missing"}));
}

TEST_F(RegistryTest, ImportDeletesKeysAndValuesAndSkipsComments) {
    ASSERT_TRUE(Import(kEveryType));
    ASSERT_TRUE(Import("REGEDIT4\n"
                       "; the patch removes what 95.0.b left behind\n"
                       "[-HKEY_LOCAL_MACHINE\\Software\\Quenmark\\Wayfront]\n"
                       "\"Ignored\"=\"the key is gone\"\n"
                       "[-HKEY_LOCAL_MACHINE\\Software\\Never\\There]\n"
                       "  [HKEY_CURRENT_USER\\Software\\Quenmark]  \n"
                       "\"Last\"=-\n"
                       "\"New\" = hex:01,\\\n"
                       "   02 ; two bytes\n"));
    EXPECT_EQ("REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Software\\Quenmark]\n"
              "\"New\"=hex:01,02\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Quenmark]\n\n",
              winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\Software\\Quenmark",
                                     "HKEY_CURRENT_USER\\Software\\Quenmark"}));
}

TEST_F(RegistryTest, ImportErrorsNameTheLine) {
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Q]\n";  // lines 1-3
    struct Case {
        std::string text;
        int line;
        const char *reason;  // part of the message
    } cases[] = {
        {"", 1, "REGEDIT4"},
        {"REGEDIT5\n", 1, "REGEDIT4"},
        {"REGEDIT4\n\n\"v\"=\"x\"\n", 3, "before any [key]"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\n", 2, "closing ]"},
        {"REGEDIT4\n[HKEY_NOWHERE\\Software]\n", 2, "unknown root key \"HKEY_NOWHERE\""},
        {"REGEDIT4\n[HKEY_CLASSES_ROOT\\.txt]\n", 2, "unknown root key"},
        {"REGEDIT4\n[-HKEY_CURRENT_USER]\n", 2, "root key cannot be deleted"},
        {head + "\"v\"=dword:123456789\n", 4, "dword:"},
        {head + "\"v\"=dword:\n", 4, "dword:"},
        {head + "\"v\"=hex:01,zz\n", 4, "\"zz\" is not a hex byte"},
        {head + "\"v\"=hex:01,\n", 4, "comma"},
        {head + "\"v\"=hex(z):00\n", 4, "hex(N)"},
        {head + "\"v\"=hex:01,\\\n", 4, "past the end"},
        {head + "\"v\"=hex:01,\\\n 02\n\"w\"=oops\n", 6, "neither \"text\""},
        {head + "\"v\"=\"abc\n", 4, "missing closing quote"},
        {head + "\"v\"=\"a\\qb\"\n", 4, "unknown escape \\q"},
        {head + "\"v\"=\"a\" b\n", 4, "after the closing quote"},
        {head + "\"v\" \"x\"\n", 4, "expected ="},
        {head + "\"v=\"x\"\n", 4, "expected ="},
        {head + "junk\n", 4, "neither a key"},
        {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"ok\"=\"1\"\r\n\"bad\"=dword:x\r\n", 5, "dword:"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(winsim::ImportRegText(c.text, &error));
        const std::string prefix = "line " + std::to_string(c.line) + ": ";
        EXPECT_EQ(prefix, error.substr(0, prefix.size())) << error;
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
    std::string error;
    EXPECT_FALSE(winsim::ImportRegFile(Root() + "/missing.reg", &error));
    EXPECT_NE(std::string::npos, error.find("missing.reg")) << error;
}

// Version 5 files come in UTF-16 with the string types' hex data in UTF-16
// too; they are narrowed to the ANSI the A functions see.
TEST_F(RegistryTest, ImportReadsUtf16Version5Files) {
    auto wide = [](const std::string &text) {
        std::string out = "\xFF\xFE";
        for (char c : text) {
            out += c;
            out += '\0';
        }
        return out;
    };
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CURRENT_USER\\Software\\Quenmark]\r\n"
                             "\"Name\"=\"caf\xe9\"\r\n"
                             "\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n"
                             "\"Bin\"=hex:61,00\r\n";
    ASSERT_TRUE(Import(wide(text)));
    EXPECT_EQ("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenmark]\n"
              "\"Bin\"=hex:61,00\n"
              "\"Multi\"=hex(7):61,00,e9,00,00\n"
              "\"Name\"=\"caf\xe9\"\n\n",
              winsim::ExportRegText({"HKEY_CURRENT_USER\\Software\\Quenmark"}));

    std::string error;
    std::string beyond = wide("Windows Registry Editor Version 5.00\r\n\r\nx");
    beyond += "\x3b\x04";  // U+043B
    EXPECT_FALSE(winsim::ImportRegText(beyond, &error));
    EXPECT_EQ("line 3: character U+043B has no ANSI form", error);
}

}  // namespace
