// oggwrite DESCRIPTION OUTPUT: writes an Ogg Vorbis file from a sound
// description (see OggWriter.h); "-" reads the description from stdin.
#include "TextWriterMain.h"
#include "sound/OggWriter.h"

int main(int argc, char** argv) {
    return runTextWriter(argc, argv, "oggwrite", "DESCRIPTION OUTPUT.ogg",
                         [](const std::string& text, std::string& error) { return oggwrite::write(text, error); });
}
