// Registry values set and read by the tests, at the locations the installer
// itself uses (common/registry_keys.h): under HKEY_LOCAL_MACHINE unless a
// helper is given another root. A setter or deleter that cannot open its key
// or make its change fails the test.
#ifndef WF_TESTS_TEST_REGISTRY_H
#define WF_TESTS_TEST_REGISTRY_H

#include <string>

#include "common/registry_keys.h"
#include "platform/win32.h"

// Makes the key at `keyPath` and any missing parents; an existing key stays
// as it is.
void CreateRegKey(const std::string &keyPath, HKEY root = HKEY_LOCAL_MACHINE);
// Stores `bytes` exactly as given (a REG_SZ with or without its terminator)
// as value `name` of the existing key `keyPath`.
void SetRegValue(const std::string &keyPath, const std::string &name, DWORD type, const std::string &bytes,
                 HKEY root = HKEY_LOCAL_MACHINE);
// A REG_SZ stored with its terminator, as regedit and the installer store one.
void SetRegText(const std::string &keyPath, const std::string &name, const std::string &text,
                HKEY root = HKEY_LOCAL_MACHINE);
// The value as stored (its bytes, up to 16 KiB), or "-" when the key or the
// value is missing; its type in *type when asked.
std::string RegValue(const std::string &keyPath, const std::string &name, DWORD *type = nullptr,
                     HKEY root = HKEY_LOCAL_MACHINE);
void DeleteRegValue(const std::string &keyPath, const std::string &name, HKEY root = HKEY_LOCAL_MACHINE);
// Deletes the key at `keyPath` (the last component, from its parent).
void DeleteRegKey(const std::string &keyPath, HKEY root = HKEY_LOCAL_MACHINE);

#endif
