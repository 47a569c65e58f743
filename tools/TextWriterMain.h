// The command line shared by the tools that turn one text source into one
// binary file: "tool SOURCE OUTPUT", "-" reading the source from stdin.
#pragma once

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

// The converter gives the output's bytes, or an empty string with the
// reason in error. Returns the process's exit code: 0, 1 on failure, 2 for
// a wrong command line.
template <class Convert>
int runTextWriter(int argc, char** argv, const char* tool, const char* usage, Convert convert) {
    if (argc != 3) {
        std::cerr << "usage: " << tool << " " << usage << "\n";
        return 2;
    }
    std::string text;
    if (std::string(argv[1]) == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::cerr << tool << ": can't read " << argv[1] << "\n";
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::string error;
    const std::string bytes = convert(text, error);
    if (bytes.empty()) {
        std::cerr << tool << ": " << argv[1] << ": " << error << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << tool << ": can't write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
