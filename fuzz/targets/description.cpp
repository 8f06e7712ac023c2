// The builder's description parser on any text. A description it accepts
// (no diagnostic) must hold only what the installer can read: counts that
// ParseCount reads as the number of entries and that fit its buffer, bare
// names that fit MAX_PATH buffers, settings within their buffers, messages
// within theirs that give wsprintfA only the strings it is passed.
#include <string>
#include <vector>

#include "after_model.h"
#include "description.h"
#include "fuzz_check.h"
#include "texts.h"

using namespace patchbuild;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > (1u << 16))
        return 0;
    const std::string text(reinterpret_cast<const char *>(bytes), size);
    Description d;
    std::vector<Diagnostic> diagnostics;
    ParseDescription(text, "fuzz.patch", d, diagnostics);
    for (const Diagnostic &diagnostic : diagnostics)
        FUZZ_CHECK(!diagnostic.Text().empty(), "empty diagnostic");
    if (!diagnostics.empty())
        return 0;

    FUZZ_CHECK(d.FindBlock(BLOCK_PAYLOAD) && d.FindBlock(BLOCK_STAGED_FILES), "required block missing");
    for (const auto &[base, block] : d.blocks) {
        FUZZ_CHECK(base == block.base, "block %d filed under %d", block.base, base);
        FUZZ_CHECK(block.countText.size() < SHORT_STRING_CAPACITY, "block %d: count text of %zu", base,
                   block.countText.size());
        const int32_t count = ParseCount(block.countText.c_str());
        FUZZ_CHECK(count >= 0 && (size_t)count == block.entries.size(),
                   "block %d: count text \"%s\" reads as %d, %zu entries", base,
                   block.countText.c_str(), count, block.entries.size());
        for (const Entry &e : block.entries) {
            FUZZ_CHECK(BareNameFault(e.name).empty(), "block %d: name \"%s\"", base, e.name.c_str());
            if (base == BLOCK_PAYLOAD)
                FUZZ_CHECK(BareNameFault(e.stored).empty() && !SameName(e.stored, e.name),
                           "stored name \"%s\" for \"%s\"", e.stored.c_str(), e.name.c_str());
        }
        for (const Extra &x : block.extras)
            FUZZ_CHECK(x.text.size() < NAME_CAPACITY && x.expandedText.size() < NAME_CAPACITY,
                       "block %d: extra of %zu", base, x.text.size());
    }
    FUZZ_CHECK(!d.versionCheck.value.empty() && d.versionCheck.value.size() < SHORT_STRING_CAPACITY,
               "version-check of %zu", d.versionCheck.value.size());
    FUZZ_CHECK(!d.expectedVersion.value.empty() && d.expectedVersion.value.size() < SHORT_STRING_CAPACITY,
               "expected-version of %zu", d.expectedVersion.value.size());
    FUZZ_CHECK(!d.registryName.value.empty() && d.registryName.value.size() < VALUE_NAME_CAPACITY,
               "registry-name of %zu", d.registryName.value.size());
    for (const auto &[id, text] : MessageTexts(d)) {
        FUZZ_CHECK(!text.empty() && text.size() < MessageCapacity(id), "message %d of %zu", id, text.size());
        size_t conversions = 0;
        for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 2)) {
            FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == 's', "message %d: a conversion other than %%s", id);
            ++conversions;
        }
        FUZZ_CHECK(conversions == (id == MSG_WRONG_VERSION ? 2u : 0u), "message %d: %zu conversions", id,
                   conversions);
    }
    const std::vector<Entry> staged = d.EntriesOf(BLOCK_STAGED_FILES);
    FUZZ_CHECK(!staged.empty() && SameName(staged.front().name, d.versionCheck.value),
               "the version-check file is not the first of block 2000");
    return 0;
}
