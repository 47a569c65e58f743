// A texture environment for tests and benchmarks: package files held in
// memory by name and extension, a chosen device and video mode, and a manual
// clock. Every lookup is recorded (name + extension), in order.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "render/DXTextureHandler.h"
#include "render/VideoSetup.h"

namespace texture_tools {

class MemoryTextureEnvironment : public TextureEnvironment {
public:
    IDirect3DDevice9* device() override { return deviceInUse; }
    const VideoSetup& videoSetup() override { return setup; }
    double now() override { return clock; }
    bool fileExists(const std::string& name, const char* extension) override {
        asked.push_back(name + extension);
        return files.count(name + extension) != 0;
    }
    bool readFile(const std::string& name, const char* extension, std::vector<std::uint8_t>& bytes) override {
        const auto found = files.find(name + extension);
        if (found == files.end()) return false;
        bytes = found->second;
        return true;
    }

    IDirect3DDevice9* deviceInUse = nullptr;
    VideoSetup setup;
    double clock = 0.0;
    std::map<std::string, std::vector<std::uint8_t>> files;  // by name + extension
    std::vector<std::string> asked;
};

}  // namespace texture_tools
