// A machine image on the host: a folder holding drive_c/ (drive C: as it
// lies on disk) and machine.reg (its registry, REGEDIT4). The builder reads
// one (--before) and writes one (expected-after); winsim loads one for the
// tests and wfstate.
#ifndef WF_FORMATS_MACHINE_IMAGE_H
#define WF_FORMATS_MACHINE_IMAGE_H

#include <filesystem>
#include <string>

namespace formats {

// The image's drive C: folder and registry file.
std::filesystem::path ImageDriveC(const std::filesystem::path &image);
std::filesystem::path ImageRegistryFile(const std::filesystem::path &image);

// Copies the image's drive C: into the host folder `driveC`, over what is
// there. False with the reason in *error.
bool CopyImageDriveC(const std::filesystem::path &image, const std::filesystem::path &driveC,
                     std::string *error);

// The text of the image's registry file. False with the reason in *error.
bool ReadImageRegistry(const std::filesystem::path &image, std::string *text, std::string *error);

}  // namespace formats

#endif
