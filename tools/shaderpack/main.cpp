// shaderpack <package file>: writes the compiled-shader package (for the
// game, "shaders.0050" beside the executable) from the program sources the
// engine carries.
// shaderpack --verify <package file>: compiles every program of a package
// on the GL backend (headless) and lists the ones that fail.
// shaderpack --verify-sample <package file>: the same for a fixed sample
// (every standalone program, each family walk's first, last and a spread).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "render/shaders/ShaderProgramTable.h"
#include "shaderpack/ShaderPacker.h"
#include "shaderpack/ShaderVerify.h"

namespace {

int verify(const std::string& path, bool sample) {
    std::vector<PackageEntry> entries;
    std::string error;
    if (!readShaderPackage(path, entries, error)) {
        std::fprintf(stderr, "shaderpack: %s\n", error.c_str());
        return 1;
    }
    if (sample) {
        const std::vector<std::string> keys = sampleShaderKeys(6);
        std::vector<PackageEntry> chosen;
        for (const std::string& key : keys) {
            const auto found = std::find_if(entries.begin(), entries.end(),
                                            [&](const PackageEntry& e) { return e.key == key; });
            if (found == entries.end()) {
                std::fprintf(stderr, "shaderpack: [%s] is not in the package\n", key.c_str());
                return 1;
            }
            chosen.push_back(*found);
        }
        entries = std::move(chosen);
    }
    platform::d3d9::Environment environment;
    environment.backend = platform::d3d9::BackendKind::GL;
    std::string lastMessage;
    environment.sink = [&](const char* line) { lastMessage = line; };
    platform::d3d9::setEnvironment(environment);
    // The GL backend compiles a body with the source the engine carries.
    for (const ShaderSourceText& source : shaderSourceTexts()) platform::d3d9::registerShaderSource(source.id, source.text);
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = p.BackBufferHeight = 16;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    IDirect3DDevice9* device = nullptr;
    if (!direct3d ||
        FAILED(direct3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device))) {
        std::fprintf(stderr, "shaderpack: no GL device: %s\n", lastMessage.c_str());
        if (direct3d) direct3d->Release();
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    int failed = 0;
    for (const PackageEntry& entry : entries) {
        lastMessage.clear();
        if (compileShaderEntry(device, entry)) continue;
        ++failed;
        std::fprintf(stderr, "shaderpack: [%s] does not compile: %s\n", entry.key.c_str(), lastMessage.c_str());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    device->Release();
    direct3d->Release();
    platform::d3d9::setEnvironment({});
    std::printf("shaderpack: %zu programs compiled in %.1f s, %d failed\n", entries.size(), seconds, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && (std::strcmp(argv[1], "--verify") == 0 || std::strcmp(argv[1], "--verify-sample") == 0))
        return verify(std::filesystem::absolute(argv[2]).string(), std::strcmp(argv[1], "--verify-sample") == 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: shaderpack [--verify | --verify-sample] <package file>\n");
        return 2;
    }
    std::vector<PackedShader> shaders;
    std::string error;
    const std::string path = std::filesystem::absolute(argv[1]).string();
    if (!buildShaderBodies(shaders, error) || !writeShaderPackage(path, shaders, error)) {
        std::fprintf(stderr, "shaderpack: %s\n", error.c_str());
        return 1;
    }
    std::printf("shaderpack: %zu programs into %s\n", shaders.size(), path.c_str());
    return 0;
}
