// physicswrite <description> <output folder>: writes the physics model and
// surface files of a physics description (see PhysicsWriter.h) into the folder.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "physics/PhysicsWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: physicswrite <description> <output folder>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "physicswrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    physics_tools::PhysicsDescription description;
    std::string error;
    std::vector<std::string> written;
    if (!physics_tools::parsePhysicsDescription(text.str(), description, error) ||
        !physics_tools::writePhysicsFiles(description, argv[2], &written, &error)) {
        std::fprintf(stderr, "physicswrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    for (const std::string& name : written) std::printf("%s\n", name.c_str());
    return 0;
}
