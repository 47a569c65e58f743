// dlgwrite SOURCE OUTPUT: writes a compiled dialog from its text form (see
// DialogWriter.h); "-" reads the text from stdin.
#include <fstream>
#include <iostream>
#include <iterator>

#include "dialog/DialogWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: dlgwrite SOURCE OUTPUT.dlg\n";
        return 2;
    }
    std::string text;
    if (std::string(argv[1]) == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::cerr << "dlgwrite: can't read " << argv[1] << "\n";
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string error;
    const std::string bytes = dlgwrite::write(text, error);
    if (bytes.empty()) {
        std::cerr << "dlgwrite: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "dlgwrite: can't write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
