// wpwrite: compiles a waypoint source (pose text records) into the
// compiled waypoint resource (".wp").
//   wpwrite <input.txt> <output.wp>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/DataStream.h"
#include "scene/SceneWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <input.txt> <output.wp>\n", argv[0]);
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "can't read [%s]\n", argv[1]);
        return 1;
    }
    std::stringstream text;
    text << input.rdbuf();
    std::string bytes = text.str();
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    scene_tools::WaypointSet set;
    std::string error;
    if (!set.readSource(in, argv[1], error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    MemoryStream out;
    const std::int32_t written = set.writeCompiled(out);
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), out.size());
    if (written < 0 || !file) {
        std::fprintf(stderr, "can't write [%s]\n", argv[2]);
        return 1;
    }
    return 0;
}
