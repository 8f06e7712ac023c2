// rebuild_exe FROM STUB OUT: writes OUT, the stub carrying exactly FROM's
// resources, as the builder writes an installer. The Wine and image tests
// run the result to show that a program written this way loads and runs.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "formats/pe_resources.h"

int main(int argc, char **argv) {
    if (argc != 4) {
        std::cerr << "usage: rebuild_exe FROM STUB OUT\n";
        return 2;
    }
    auto slurp = [](const char *path) {
        std::ifstream in(path, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    std::string error;
    const auto resources = formats::ReadResources(slurp(argv[1]), &error);
    const auto image = resources ? formats::WithResources(slurp(argv[2]), *resources, &error) : std::nullopt;
    if (!image) {
        std::cerr << "rebuild_exe: " << error << "\n";
        return 1;
    }
    std::ofstream out(argv[3], std::ios::binary);
    out << *image;
    return out.flush() ? 0 : 1;
}
