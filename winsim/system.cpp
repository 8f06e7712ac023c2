// The process and the system: heap, Windows version, the process token and
// its shutdown privilege, and restart requests.
#include "internal.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace winsim {
namespace {

// The shutdown privilege's LUID on NT.
constexpr DWORD kShutdownLuid = 19;

struct System {
    std::map<void *, size_t> blocks;
    HeapStats heap;
    std::set<HANDLE> tokens;
    uintptr_t nextToken = 0x7000;
    bool shutdownPrivilege = false;
};

System &Sys() {
    static System system;
    return system;
}

HANDLE TheHeap() { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00140000)); }
HANDLE ThisProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

}  // namespace

HeapStats GetHeapStats() { return Sys().heap; }
bool ShutdownPrivilegeEnabled() { return Sys().shutdownPrivilege; }

namespace detail {

void ResetSystem() {
    for (auto &block : Sys().blocks) std::free(block.first);
    Sys() = System();
}

bool CloseNonFileHandle(HANDLE handle) {
    return Sys().tokens.erase(handle) != 0 || CloseProcessHandle(handle);
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

HANDLE WINAPI GetCurrentProcess(void) { return winsim::ThisProcess(); }

// Windows 95 reports 4.0.950 with platform 1, NT 4.0 reports 4.0.1381 with
// platform 2. A size field other than the structure's fails, as on both.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (Enter("GetVersionExA")) return FALSE;
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const bool nt = winsim::GetPlatform() == winsim::Platform::WindowsNT;
    info->dwMajorVersion = 4;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = nt ? 1381 : 950;
    info->dwPlatformId = nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    return TRUE;
}

HANDLE WINAPI GetProcessHeap(void) { return winsim::TheHeap(); }

// HeapAlloc sets no last error when it fails, as on Windows without
// HEAP_GENERATE_EXCEPTIONS. Blocks are counted for the heap statistics.
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (Enter("HeapAlloc", std::to_string(dwBytes))) return nullptr;
    if (hHeap != winsim::TheHeap()) return nullptr;
    void *block = (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, dwBytes ? dwBytes : 1)
                                               : std::malloc(dwBytes ? dwBytes : 1);
    if (!block) return nullptr;
    winsim::System &sys = winsim::Sys();
    sys.blocks[block] = dwBytes;
    sys.heap.allocations++;
    sys.heap.liveBytes += dwBytes;
    if (sys.heap.liveBytes > sys.heap.peakBytes) sys.heap.peakBytes = sys.heap.liveBytes;
    return block;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    if (Enter("HeapFree")) return FALSE;
    (void)dwFlags;
    if (lpMem == nullptr) return TRUE;  // freeing NULL is harmless
    winsim::System &sys = winsim::Sys();
    auto it = sys.blocks.find(lpMem);
    if (hHeap != winsim::TheHeap() || it == sys.blocks.end()) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sys.heap.frees++;
    sys.heap.liveBytes -= it->second;
    std::free(lpMem);
    sys.blocks.erase(it);
    return TRUE;
}

// Windows 95 has no security: its advapi32 answers these three calls with
// ERROR_CALL_NOT_IMPLEMENTED.
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (Enter("OpenProcessToken", std::to_string(DesiredAccess))) return FALSE;
    if (winsim::GetPlatform() != winsim::Platform::WindowsNT) {
        SetError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (ProcessHandle != winsim::ThisProcess() || TokenHandle == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    winsim::System &sys = winsim::Sys();
    // The access asked for travels with the handle in its low bits.
    HANDLE token = reinterpret_cast<HANDLE>((sys.nextToken << 8) | (DesiredAccess & 0xFF));
    sys.nextToken++;
    sys.tokens.insert(token);
    *TokenHandle = token;
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
    if (Enter("LookupPrivilegeValueA", lpName ? lpName : "")) return FALSE;
    if (winsim::GetPlatform() != winsim::Platform::WindowsNT) {
        SetError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (lpSystemName != nullptr || lpName == nullptr || lpLuid == nullptr ||
        lstrcmpiA(lpName, SE_SHUTDOWN_NAME) != 0) {
        SetError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    lpLuid->LowPart = winsim::kShutdownLuid;
    lpLuid->HighPart = 0;
    return TRUE;
}

// Only the shutdown privilege is modelled; it is held by the user and
// disabled until the process enables it, as for an interactive NT user.
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState, LPDWORD ReturnLength) {
    if (Enter("AdjustTokenPrivileges")) return FALSE;
    (void)BufferLength;
    (void)PreviousState;
    (void)ReturnLength;
    winsim::System &sys = winsim::Sys();
    if (sys.tokens.count(TokenHandle) == 0) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(reinterpret_cast<uintptr_t>(TokenHandle) & TOKEN_ADJUST_PRIVILEGES)) {
        SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DisableAllPrivileges) {
        sys.shutdownPrivilege = false;
    } else if (NewState) {
        for (DWORD i = 0; i < NewState->PrivilegeCount && i < 1; ++i) {
            const LUID_AND_ATTRIBUTES &entry = NewState->Privileges[i];
            if (entry.Luid.LowPart == winsim::kShutdownLuid && entry.Luid.HighPart == 0)
                sys.shutdownPrivilege = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    SetError(ERROR_SUCCESS);
    return TRUE;
}

// On NT a restart needs the shutdown privilege enabled in the caller's token,
// or the call fails with ERROR_PRIVILEGE_NOT_HELD and nothing happens;
// Windows 95 restarts for anyone. A carried-out request is logged with the
// user-interface events; the machine itself is restarted by the tests.
BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    if (Enter("ExitWindowsEx", std::to_string(uFlags))) return FALSE;
    (void)dwReason;
    if (winsim::GetPlatform() == winsim::Platform::WindowsNT && !winsim::Sys().shutdownPrivilege) {
        SetError(ERROR_PRIVILEGE_NOT_HELD);
        return FALSE;
    }
    winsim::detail::RecordRestart(uFlags);
    return TRUE;
}
