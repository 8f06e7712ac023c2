// The program's process killed at a chosen call, and what its death leaves:
// the handles it held are closed, its memory and windows are gone, and the
// machine's disk and registry stay as the process left them.
#include "internal.h"

namespace winsim {
namespace {

struct Armed {
    int index = -1;       // a call by its index in Calls()
    std::string function;  // or by what it is: the `remaining`-th such call
    std::string arg;
    int remaining = 0;
};

Armed &TheKill() {
    static Armed armed;
    return armed;
}

}  // namespace

void KillAtCall(int index) {
    TheKill() = Armed();
    TheKill().index = index;
}

void KillAtCall(const std::string &function, const std::string &arg, int occurrence) {
    TheKill() = Armed();
    if (occurrence < 1) return;
    TheKill().function = function;
    TheKill().arg = arg;
    TheKill().remaining = occurrence;
}

void EndProcess() {
    detail::ResetLz();
    detail::EndProcessFiles();
    detail::CloseProcessKeys();
    detail::ResetSystem();  // heap, tokens and privileges are the process's own
    detail::ResetMessages();
    detail::EndProcessUi();
    detail::WaitForChildren();
}

namespace detail {

void CheckKill(size_t index) {
    Armed &armed = TheKill();
    const Call &call = Calls()[index];
    if (armed.index >= 0) {
        if (index != static_cast<size_t>(armed.index)) return;
    } else {
        if (armed.remaining == 0 || call.function != armed.function || call.arg != armed.arg) return;
        if (--armed.remaining > 0) return;
    }
    armed = Armed();
    throw ProcessKilled{static_cast<int>(index), call.function, call.arg};
}

}  // namespace detail
}  // namespace winsim
