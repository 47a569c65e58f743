// packtool <manifest> <package file>: writes a package file from a manifest.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/PackageWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: packtool <manifest> <package file>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "packtool: can't read manifest [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const std::string base = std::filesystem::absolute(argv[1]).parent_path().string();
    package_tool::Manifest manifest;
    std::string error;
    if (!package_tool::parseManifest(text.str(), base, manifest, error)) {
        std::fprintf(stderr, "packtool: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    const std::string output = std::filesystem::absolute(argv[2]).string();
    if (!package_tool::writePackage(manifest, output, &error)) {
        std::fprintf(stderr, "packtool: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
