// oggwrite DESCRIPTION OUTPUT: writes an Ogg Vorbis file from a sound
// description (see OggWriter.h); "-" reads the description from stdin.
#include "sound/OggWriter.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: oggwrite DESCRIPTION OUTPUT.ogg\n";
        return 2;
    }
    std::string text;
    if (std::string(argv[1]) == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::cerr << "oggwrite: can't read " << argv[1] << "\n";
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string error;
    const std::string bytes = oggwrite::write(text, error);
    if (bytes.empty()) {
        std::cerr << "oggwrite: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "oggwrite: can't write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
