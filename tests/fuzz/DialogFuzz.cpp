// Fuzz target of the compiled dialogs: the input is read as a ".dlg"
// record; one that loads is exported as a tree, written back, and what was
// written must read again into the same bytes.
#include <string>

#include "dialog/DialogWriter.h"
#include "foundation/DataStream.h"
#include "foundation/XmlWriter.h"
#include "fuzz/FuzzTarget.h"
#include "game/Y3DialogData.h"

namespace fuzzing {

namespace {

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

}  // namespace

int fuzzDialog(const std::uint8_t* data, std::size_t size) {
    {
        MemoryStream in;
        if (size) in.write(data, static_cast<std::int32_t>(size));
        in.setPosition(0);
        Y3DialogData dialog("fuzz");
        if (dialog.load(in)) {
            XmlWriter tree;
            dialog.exportTree(tree);
            MemoryStream out;
            // A command of kind 0 reads but is not written.
            if (dialog.write(out) >= 0) {
                const std::string written = bytesOf(out);
                out.setPosition(0);
                Y3DialogData again("again");
                fuzzCheck(again.load(out), "a written dialog reads again");
                MemoryStream second;
                fuzzCheck(again.write(second) == static_cast<std::int32_t>(written.size()),
                          "a dialog read back writes as many bytes");
                fuzzCheck(bytesOf(second) == written, "a dialog read back writes the same bytes");
            }
        } else {
            fuzzCheck(dialog.labels.empty() && !dialog.hasObject(), "a refused dialog keeps no data");
        }
    }
    forgetLog();
    return 0;
}

void seedDialog(std::vector<std::string>& out) {
    const char* const texts[] = {
        "",
        "label a\nphrase p 1.0\n 2 reset fire\n",
        "label greet\nphrase keeper\\hello 0.5\n 0 voice keeper\n 0.5 anim keeper talk\n 1 script - fn a b\n"
        "skip\n 0 camera - pos(1,2,3)\nphrase #end 1\n 0 hide gate\nlabel bye\nphrase p 2\n 0 sound - bell\n",
    };
    for (const char* text : texts) {
        std::string error;
        std::string bytes = dlgwrite::write(text, error);
        if (!bytes.empty()) out.push_back(bytes);
    }
}

}  // namespace fuzzing
