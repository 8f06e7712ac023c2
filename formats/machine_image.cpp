#include "formats/machine_image.h"

#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace formats {

fs::path ImageDriveC(const fs::path &image) { return image / "drive_c"; }

fs::path ImageRegistryFile(const fs::path &image) { return image / "machine.reg"; }

bool CopyImageDriveC(const fs::path &image, const fs::path &driveC, std::string *error) {
    std::error_code ec;
    fs::copy(ImageDriveC(image), driveC, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
             ec);
    if (ec && error) *error = "cannot copy " + ImageDriveC(image).string() + ": " + ec.message();
    return !ec;
}

bool ReadImageRegistry(const fs::path &image, std::string *text, std::string *error) {
    const fs::path file = ImageRegistryFile(image);
    std::ifstream in(file, std::ios::binary);
    if (in) text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.is_open() && !in.bad()) return true;
    if (error) *error = file.string() + ": cannot read the file";
    return false;
}

}  // namespace formats
