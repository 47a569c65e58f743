// gridwrite <description> <output file>: writes the ".grid" file of a grid
// description (see GridWriter.h).
#include <cstdio>
#include <fstream>
#include <sstream>

#include "grid/GridWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gridwrite <description> <output file>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "gridwrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    Y3GridData grid;
    std::string error;
    if (!grid_tools::parseGridDescription(text.str(), grid, error)) {
        std::fprintf(stderr, "gridwrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    const std::string bytes = grid_tools::gridFileBytes(grid);
    std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
    if (bytes.empty() || !output.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        std::fprintf(stderr, "gridwrite: can't write [%s]\n", argv[2]);
        return 1;
    }
    return 0;
}
