// aswrite <source text> <output.as>: compiles the source text of a scene's
// screen actions into its ".as" resource.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "actions/ActionWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: aswrite <source text> <output.as>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "aswrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const std::string bytes = actions_tools::compileActionSource(text.str(), argv[1]);
    std::ofstream output(argv[2], std::ios::binary);
    if (bytes.empty() || !output.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !output.flush()) {
        std::fprintf(stderr, "aswrite: can't write [%s]\n", argv[2]);
        return 1;
    }
    return 0;
}
