// rainwrite <description> <output.rain> <output.raindata>: writes the two
// files of a rain map (see RainWriter.h).
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>

#include "rain/RainWriter.h"

namespace {

bool writeFile(const char* path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bool(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: rainwrite <description> <output.rain> <output.raindata>\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "rainwrite: can't read " << argv[1] << "\n";
        return 1;
    }
    const std::string text(std::istreambuf_iterator<char>(in), {});
    rain_tools::RainFiles files;
    std::string error;
    if (!rain_tools::writeRainFiles(text, files, error)) {
        std::cerr << "rainwrite: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    for (const auto& [path, bytes] : {std::pair{argv[2], &files.header}, std::pair{argv[3], &files.data}})
        if (!writeFile(path, *bytes)) {
            std::cerr << "rainwrite: can't write " << path << "\n";
            return 1;
        }
    return 0;
}
