// particlewrite <description> <output.effect>: writes the particle effect of
// a description (see ParticleWriter.h).
#include "TextWriterMain.h"
#include "particle/ParticleWriter.h"

int main(int argc, char** argv) {
    return runTextWriter(argc, argv, "particlewrite", "<description> <output.effect>",
                         [](const std::string& text, std::string& error) {
                             return particle_tools::effectFileBytes(text, error);
                         });
}
