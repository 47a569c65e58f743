// varwrite: builds a variable file from its text description.
//   varwrite <input.txt> <output.ptxt4> [root name]
//   varwrite <input.txt> <output.txt4> --attach <dotted.path> [tree name]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/DataStream.h"
#include "script/ScriptVariable.h"
#include "variables/VariableWriter.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <input.txt> <output.ptxt4> [root name]\n"
                     "       %s <input.txt> <output.txt4> --attach <path> [tree name]\n",
                     argv[0], argv[0]);
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "can't read [%s]\n", argv[1]);
        return 1;
    }
    std::stringstream text;
    text << input.rdbuf();
    const bool resource = argc >= 5 && std::strcmp(argv[3], "--attach") == 0;
    const char* rootName = resource ? (argc >= 6 ? argv[5] : "root") : (argc >= 4 ? argv[3] : "root");
    ScriptVariable root(rootName, ScriptVariable::TypeArray);
    std::string error;
    if (!variable_tools::parseVariableText(text.str(), root, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    MemoryStream out;
    const int written = resource ? variable_tools::writeVariableResource(argv[4], root, out)
                                 : variable_tools::writeVariableTree(root, out);
    if (written < 0 || !variable_tools::saveStream(out, argv[2])) {
        std::fprintf(stderr, "can't write [%s]\n", argv[2]);
        return 1;
    }
    return 0;
}
