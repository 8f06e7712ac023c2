// The compiled resource script: every message exactly as the user must see
// it, and the progress dialog's template. Both builds use this .res.
#include <map>
#include <string>

#include "manifest/manifest.h"
#include "test_machine.h"

namespace {

class ResourcesTest : public MachineTest {};

TEST_F(ResourcesTest, EveryMessageReadsExactly) {
    const std::map<UINT, std::string> expected = {
        {200, "Incorrect version of Tolvane Wayfront installed ( %s ).  This patch can only be applied to %s."},
        {202, "Unable to set up files to be copied on next boot, patch failed."},
        {203, "Error updating the registry, patch failed."},
        {204, "Unable to patch files, patch failed."},
        {205, "Error copying files from install directory to tempory patch directory, patch failed."},
        {206, "Error extracting needed files, patch failed."},
        {207, "Failed creating directory, patch failed."},
        {208, "Insufficient disk space to apply patch.  To apply the patch, you need at least 5 Megabytes of free disk space."},
        {209, "Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"},
        {210, "Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart Windows now?"},
        {211, "Checking for required disk space"},
        {212, "Extracting files, please wait..."},
        {213, "Copying files to temporary patch directory"},
        {214, "Patching files, please wait..."},
        {215, "Updating the Registry"},
        {216, "Unable to continue with the patch process, the patch program appears to be corrupted."},
        {217, "Unable to find the English version of Tolvane Wayfront"},
        {218, "Unable to identify the current version of Tolvane Wayfront.  The patch cannot be applied."},
        {219, "An installation of Tolvane Wayfront was not found.  Tolvane Wayfront is needed to install this patch.  Unable to continue."},
        {220, "This patch has already been applied and is waiting for the machine to be restarted."},
        {201, "Tolvane Wayfront Patch"},
        {8000, "Tolvane Wayfront"},
    };
    for (const auto &entry : expected) {
        char text[512];
        EXPECT_EQ(static_cast<int>(entry.second.size()), LoadManifestString(entry.first, text, sizeof text))
            << "string " << entry.first;
        EXPECT_EQ(entry.second, std::string(text)) << "string " << entry.first;
    }
}

TEST_F(ResourcesTest, TheProgressDialogTemplate) {
    std::string bytes;
    ASSERT_TRUE(winsim::GetResource(5, 115, &bytes));
    winsim::DialogTemplate dialog;
    ASSERT_TRUE(winsim::ParseDialogTemplate(bytes, &dialog));

    EXPECT_EQ("Tolvane Wayfront Patch", dialog.caption);
    EXPECT_EQ("MS Sans Serif", dialog.font);
    EXPECT_EQ(8, dialog.pointSize);
    EXPECT_EQ(193, dialog.cx);
    EXPECT_EQ(23, dialog.cy);
    // Visible pop-up with a caption and a modal frame, centred; no system
    // menu, so there is nothing to close it with.
    const DWORD kPopup = 0x80000000u, kVisible = 0x10000000u, kCaption = 0x00C00000u,
                kSysMenu = 0x00080000u, kModalFrame = 0x80u, kCenter = 0x800u, kChild = 0x40000000u;
    EXPECT_EQ(kPopup | kVisible | kCaption | kModalFrame | kCenter,
              dialog.style & (kPopup | kVisible | kCaption | kModalFrame | kCenter | kSysMenu | kChild))
        << std::hex << dialog.style;

    ASSERT_EQ(1u, dialog.items.size());
    const winsim::DialogItem &status = dialog.items[0];
    EXPECT_EQ(101, status.id);
    EXPECT_EQ(0x0082, status.classAtom);  // static
    EXPECT_EQ(0u, status.style & 0x1F);    // SS_LEFT
    EXPECT_EQ(7, status.x);
    EXPECT_EQ(7, status.y);
    EXPECT_EQ(179, status.cx);
    EXPECT_EQ(10, status.cy);
    EXPECT_EQ("Searching for installation of Tolvane Wayfront", status.text);
}

}  // namespace
