// dlgwrite SOURCE OUTPUT: writes a compiled dialog from its text form (see
// DialogWriter.h); "-" reads the text from stdin.
#include "TextWriterMain.h"
#include "dialog/DialogWriter.h"

int main(int argc, char** argv) {
    return runTextWriter(argc, argv, "dlgwrite", "SOURCE OUTPUT.dlg",
                         [](const std::string& text, std::string& error) { return dlgwrite::write(text, error); });
}
