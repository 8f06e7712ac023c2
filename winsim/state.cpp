// The machine as a whole: reset, platform settings, the call log, fault
// injection and the last error.
#include "internal.h"

#include "formats/machine_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace winsim {
namespace {

struct ActiveFault {
    Fault fault;
    int seen = 0;    // matching calls so far
    int failed = 0;  // of which failed
};

struct State {
    Platform platform = Platform::WindowsNT;
    unsigned codePage = 1252;
    std::vector<ActiveFault> faults;
    std::vector<Call> calls;
    DWORD lastError = 0;
};

State &S() {
    static State state;
    return state;
}

bool ContainsFolded(const std::string &haystack, const std::string &needle) {
    if (needle.empty()) return true;
    return detail::FoldCase(haystack).find(detail::FoldCase(needle)) != std::string::npos;
}

}  // namespace

void Reset(const std::string &hostRoot) {
    detail::ResetProcesses();
    detail::ResetMessages();
    detail::ResetLz();
    S() = State();
    detail::ResetSystem();
    detail::ResetRegistry();
    detail::ResetUi();
    detail::ResetResources();
    detail::ResetFiles(hostRoot);
    detail::ResetRestart();
}

bool LoadMachineImage(const std::string &imageDir, std::string *error) {
    std::string text;
    return formats::CopyImageDriveC(imageDir, HostPath("C:\\"), error) &&
           formats::ReadImageRegistry(imageDir, &text, error) && ImportRegText(text, error);
}

void SetPlatform(Platform platform) { S().platform = platform; }
Platform GetPlatform() { return S().platform; }
void SetCodePage(unsigned codePage) { S().codePage = codePage; }
unsigned GetCodePage() { return S().codePage; }

void InjectFault(const Fault &fault) { S().faults.push_back(ActiveFault{fault}); }
void ClearFaults() { S().faults.clear(); }

const std::vector<Call> &Calls() { return S().calls; }

int CallCount(const std::string &function) {
    return static_cast<int>(std::count_if(S().calls.begin(), S().calls.end(),
                                          [&](const Call &c) { return c.function == function; }));
}

int FindCall(const std::string &function, const std::string &argContains) {
    const std::vector<Call> &calls = S().calls;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function == function && ContainsFolded(calls[i].arg, argContains))
            return static_cast<int>(i);
    }
    return -1;
}

namespace detail {

DWORD CopyOutOrSizeNeeded(const std::string &text, LPSTR buffer, DWORD size) {
    const DWORD length = static_cast<DWORD>(text.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, text.c_str(), length + 1);
    return length;
}

bool Enter(const char *function, const std::string &arg) {
    S().calls.push_back(Call{function, arg});
    CheckKill(S().calls.size() - 1);  // the process may end here (kill.cpp)
    for (ActiveFault &active : S().faults) {
        if (active.fault.function != function || !ContainsFolded(arg, active.fault.argContains))
            continue;
        ++active.seen;
        if (active.seen <= active.fault.skip) continue;
        if (active.fault.times >= 0 && active.failed >= active.fault.times) continue;
        ++active.failed;
        S().lastError = active.fault.error;
        return true;
    }
    return false;
}

void SetError(DWORD error) { S().lastError = error; }

bool IsLeadByte(unsigned char c) {
    if (S().codePage != 932) return false;
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

std::string FoldCase(const std::string &text) {
    std::string folded = text;
    for (size_t i = 0; i < folded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(folded[i]);
        if (IsLeadByte(c) && i + 1 < folded.size()) {
            ++i;  // the trail byte is not a letter of its own
            continue;
        }
        if (c >= 'A' && c <= 'Z') folded[i] = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

}  // namespace detail
}  // namespace winsim

DWORD WINAPI GetLastError(void) { return winsim::S().lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { winsim::S().lastError = dwErrCode; }
