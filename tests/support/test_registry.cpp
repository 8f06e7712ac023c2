#include "test_registry.h"

#include <gtest/gtest.h>

#include <vector>

void CreateRegKey(const std::string &keyPath, HKEY root) {
    HKEY key;
    DWORD disposition;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                             &disposition))
        << keyPath;
    RegCloseKey(key);
}

void SetRegValue(const std::string &keyPath, const std::string &name, DWORD type, const std::string &bytes,
                 HKEY root) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key)) << keyPath;
    const LONG result = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result) << keyPath << " " << name;
}

void SetRegText(const std::string &keyPath, const std::string &name, const std::string &text, HKEY root) {
    SetRegValue(keyPath, name, REG_SZ, text + '\0', root);
}

std::string RegValue(const std::string &keyPath, const std::string &name, DWORD *type, HKEY root) {
    DWORD ignored = REG_NONE;
    if (type == nullptr) type = &ignored;
    *type = REG_NONE;
    HKEY key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "-";
    std::vector<char> data(16384);
    DWORD size = static_cast<DWORD>(data.size());
    const LONG result =
        RegQueryValueExA(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE *>(data.data()), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(data.data(), size) : "-";
}

void DeleteRegValue(const std::string &keyPath, const std::string &name, HKEY root) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, &key)) << keyPath;
    const LONG result = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result) << keyPath << " " << name;
}

void DeleteRegKey(const std::string &keyPath, HKEY root) {
    const size_t cut = keyPath.rfind('\\');
    ASSERT_NE(std::string::npos, cut) << keyPath;
    HKEY parent;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(root, keyPath.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS, &parent))
        << keyPath;
    const LONG result = RegDeleteKeyA(parent, keyPath.substr(cut + 1).c_str());
    RegCloseKey(parent);
    ASSERT_EQ(ERROR_SUCCESS, result) << keyPath;
}
