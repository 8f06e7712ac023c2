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
        {MSG_WRONG_VERSION, "Incorrect version of Tolvane Wayfront installed ( %s ).  This patch can only be applied to %s."},
        {MSG_SCHEDULE_FAILED, "Unable to set up files to be copied on next boot, patch failed."},
        {MSG_REGISTRY_FAILED, "Error updating the registry, patch failed."},
        {MSG_PATCH_FAILED, "Unable to patch files, patch failed."},
        {MSG_STAGING_FAILED, "Error copying files from install directory to tempory patch directory, patch failed."},
        {MSG_EXTRACT_FAILED, "Error extracting needed files, patch failed."},
        {MSG_DIRECTORY_FAILED, "Failed creating directory, patch failed."},
        {MSG_NO_DISK_SPACE, "Insufficient disk space to apply patch.  To apply the patch, you need at least 5 Megabytes of free disk space."},
        {MSG_CONFIRM, "Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?"},
        {MSG_RESTART_QUESTION, "Patch successful.  Windows must be restarted to complete the changes.  Would you like to restart Windows now?"},
        {STATUS_DISK_SPACE, "Checking for required disk space"},
        {STATUS_EXTRACTING, "Extracting files, please wait..."},
        {STATUS_COPYING, "Copying files to temporary patch directory"},
        {STATUS_PATCHING, "Patching files, please wait..."},
        {STATUS_REGISTRY, "Updating the Registry"},
        {MSG_CORRUPT_PATCH, "Unable to continue with the patch process, the patch program appears to be corrupted."},
        {MSG_NOT_ENGLISH, "Unable to find the English version of Tolvane Wayfront"},
        {MSG_UNKNOWN_VERSION, "Unable to identify the current version of Tolvane Wayfront.  The patch cannot be applied."},
        {MSG_NOT_INSTALLED, "An installation of Tolvane Wayfront was not found.  Tolvane Wayfront is needed to install this patch.  Unable to continue."},
        {MSG_RESTART_PENDING, "This patch has already been applied and is waiting for the machine to be restarted."},
        {STR_CAPTION, "Tolvane Wayfront Patch"},
        {STR_PRODUCT_NAME, "Tolvane Wayfront"},
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
    ASSERT_TRUE(winsim::GetResource(5, IDD_PROGRESS, &bytes));
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
    EXPECT_EQ(IDC_STATUS, status.id);
    EXPECT_EQ(0x0082, status.classAtom);  // static
    EXPECT_EQ(0u, status.style & 0x1F);    // SS_LEFT
    EXPECT_EQ(7, status.x);
    EXPECT_EQ(7, status.y);
    EXPECT_EQ(179, status.cx);
    EXPECT_EQ(10, status.cy);
    EXPECT_EQ("Searching for installation of Tolvane Wayfront", status.text);
}

}  // namespace
