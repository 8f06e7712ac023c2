// A host folder of one test's own under the system's temporary folder,
// removed with everything in it when the object goes. mkdtemp names it, so
// tests run side by side (ctest -j) never share one. Header-only: the
// tests without a simulated machine use it too.
#ifndef WF_TESTS_SCRATCH_DIR_H
#define WF_TESTS_SCRATCH_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class ScratchDir {
public:
    // Throws when the folder cannot be made; the test then fails.
    explicit ScratchDir(const std::string &prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("cannot make " + pattern);
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::filesystem::path &Path() const { return path_; }
    // The full path of `name` in the folder.
    std::string File(const std::string &name) const { return (path_ / name).string(); }
    // Writes `bytes` (chars or bytes) as the file `name`; returns its full path.
    template <typename Bytes>
    std::string Put(const std::string &name, const Bytes &bytes) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return File(name);
    }
    // The bytes of the file `name`, none when it is missing.
    template <typename Bytes = std::string>
    Bytes Get(const std::string &name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path path_;
};

#endif
