// shaderpack <package file>: writes the compiled-shader package (for the
// game, "shaders.0050" beside the executable) from the program sources the
// engine carries.
#include <cstdio>
#include <filesystem>

#include "shaderpack/ShaderPacker.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: shaderpack <package file>\n");
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
