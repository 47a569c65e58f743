// packlist <package file>: prints the directory of a package file.
#include <cstdio>
#include <filesystem>

#include "package/PackageWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: packlist <package file>\n");
        return 2;
    }
    std::string listing;
    std::string error;
    const bool ok = package_tool::listPackage(std::filesystem::absolute(argv[1]).string(), listing, error);
    std::fputs(listing.c_str(), stdout);
    if (!ok) {
        std::fprintf(stderr, "packlist: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
