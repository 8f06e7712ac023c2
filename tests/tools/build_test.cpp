// patchbuild build: the sample's installer made from the stub carries the
// same resources as the one windres and the linker make from the resource
// script, resource by resource.
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "formats/pe_resources.h"

namespace {

std::string Slurp(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

std::string Key(const formats::Resource &r) {
    std::ostringstream s;
    s << "type " << r.type.id << (r.type.name.empty() ? "" : " (named)") << ", id " << r.name.id
      << (r.name.name.empty() ? "" : " (named)") << ", language 0x" << std::hex << r.language;
    return s.str();
}

TEST(Build, TheSampleCarriesTheWindresBuildsResources) {
    std::string error;
    const auto built = formats::ReadResources(Slurp(BUILT_EXE), &error);
    ASSERT_TRUE(built) << BUILT_EXE << ": " << error;
    const auto linked = formats::ReadResources(Slurp(WINDRES_EXE), &error);
    ASSERT_TRUE(linked) << WINDRES_EXE << ": " << error;
    // Both lists are in the tree's order, so equal lists match pairwise.
    ASSERT_EQ(linked->size(), built->size());
    for (std::size_t i = 0; i < built->size(); ++i) {
        const formats::Resource &b = (*built)[i], &l = (*linked)[i];
        EXPECT_EQ(Key(l), Key(b));
        EXPECT_TRUE(l.bytes == b.bytes) << Key(b) << ": " << b.bytes.size() << " bytes against windres's "
                                        << l.bytes.size();
    }
    // The string table, the dialog, the payload and the PIF template.
    std::set<std::uint32_t> types;
    for (const formats::Resource &r : *built) types.insert(r.type.id);
    EXPECT_EQ((std::set<std::uint32_t>{5, 6, 10}), types);
}

}  // namespace
