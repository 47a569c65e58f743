// scenewrite <description> <output folder>: writes the scene resources of a
// scene description (see SceneDescription.h) into the folder.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "scene/SceneDescription.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scenewrite <description> <output folder>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "scenewrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    scene_tools::SceneDescription description;
    std::string error;
    std::vector<std::string> written;
    if (!scene_tools::parseSceneDescription(text.str(), description, error) ||
        !scene_tools::writeSceneFiles(description, argv[2], &written, &error)) {
        std::fprintf(stderr, "scenewrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    for (const std::string& name : written) std::printf("%s\n", name.c_str());
    return 0;
}
