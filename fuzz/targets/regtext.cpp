// The REGEDIT4 importer. Whatever a text leaves in the registry (also when
// the import stops at a bad line), exporting it, importing the export into
// an empty registry and exporting again must give the same text, and the
// second import must not fail: the export is what the Wine scenarios compare
// machines by. Each input runs in code page 1252 and again in 932.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "internal.h"
#include "winsim.h"

namespace {

const std::vector<std::string> kRoots = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

void RoundTrip(const std::string &text, unsigned codePage)
{
    winsim::SetCodePage(codePage);
    winsim::detail::ResetRegistry();
    std::string error;
    winsim::ImportRegText(text, &error);
    const std::string exported = winsim::ExportRegText(kRoots);

    winsim::detail::ResetRegistry();
    error.clear();
    const bool ok = winsim::ImportRegText(exported, &error);
    FUZZ_CHECK(ok, "code page %u: the export does not import: %s\n--- export:\n%s", codePage,
               error.c_str(), exported.c_str());
    const std::string again = winsim::ExportRegText(kRoots);
    FUZZ_CHECK(again == exported, "code page %u: export changed\n--- first:\n%s\n--- second:\n%s",
               codePage, exported.c_str(), again.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    winsim::Reset(std::string(tmp ? tmp : "/tmp") + "/wf_fuzz_regtext");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > (1u << 16))
        return 0;
    const std::string text(reinterpret_cast<const char *>(bytes), size);
    RoundTrip(text, 1252);
    RoundTrip(text, 932);
    return 0;
}
