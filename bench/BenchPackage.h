// Packages of the benchmarks: stored files gathered by extension into a
// package manifest, and a data root holding that package, removed by its
// owner at exit.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/PackageWriter.h"

namespace bench_package {

// Adds a stored file to the manifest's section of its extension, making the
// section (titled "<title> <mask>") on first use.
inline void addFile(package_tool::Manifest& manifest, const std::string& title, const std::string& mask,
                    const std::string& name, std::string bytes) {
    auto section = std::find_if(manifest.sections.begin(), manifest.sections.end(),
                                [&](const package_tool::Section& s) { return s.mask == mask; });
    if (section == manifest.sections.end()) {
        manifest.sections.push_back({mask, "", title + " " + mask, "", {}});
        section = manifest.sections.end() - 1;
    }
    package_tool::StoredFile file;
    file.name = name;
    file.bytes = std::move(bytes);
    section->files.push_back(std::move(file));
}

// Writes /tmp/engine-bench-<kind>-<pid> with the manifest's package as
// pack.pak and the resource rules that read it; answers the folder.
inline std::string writeDataRoot(const std::string& kind, const package_tool::Manifest& manifest) {
    const std::string path = "/tmp/engine-bench-" + kind + "-" + std::to_string(::getpid());
    std::filesystem::create_directories(path);
    std::ofstream(path + "/data.txt") << "[pack.pak]\n.* >> data\n";
    std::string bytes;
    package_tool::buildPackage(manifest, bytes);
    std::ofstream(path + "/pack.pak", std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

}  // namespace bench_package
