// modelwrite <description> <output folder>: writes the model and animation
// data files of a description (see ModelWriter.h and AnimationWriter.h)
// into the folder.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "model/AnimationWriter.h"
#include "model/ModelWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: modelwrite <description> <output folder>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "modelwrite: can't read [%s]\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    model_tools::AnimationDescription animations;
    model_tools::ModelDescription description;
    std::string modelText;
    std::string error;
    std::vector<std::string> written;
    if (!model_tools::parseAnimationLines(text.str(), animations, modelText, error) ||
        !model_tools::parseModelDescription(modelText, description, error) ||
        !model_tools::writeModelFiles(description, argv[2], &written, &error) ||
        !model_tools::writeAnimationFiles(animations, argv[2], &written, &error)) {
        std::fprintf(stderr, "modelwrite: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    for (const std::string& name : written) std::printf("%s\n", name.c_str());
    return 0;
}
