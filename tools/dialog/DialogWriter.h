// Writes compiled dialogs (".dlg") from a readable text form, so that tests
// and the demo make their dialogs instead of storing binary files. The
// game itself does not compile dialogs.
//
// One statement a line (a line whose first word starts with "#" is a
// comment; blank lines are skipped):
//   dialog NAME                   the dialog's name (the output's file name)
//   label NAME                    a label; its phrases follow
//   phrase NAME DELAY             a phrase of the label, with its pause
//   skip                          the following commands are the phrase's
//                                 skip program
//   DELAY KIND OBJECT [ARGUMENT]  a command: seconds from the phrase start,
//                                 a kind name ("camera" ... "reset") or its
//                                 code, the object ("-" for none) and the
//                                 rest of the line as its argument
// Labels are written in byte order of their names, as the game looks them
// up; phrases and commands keep their order.
#pragma once

#include <string>

class Y3DialogData;

namespace dlgwrite {

// Parses the text into the dialog's labels; false with a message naming the
// line on error. name gets the "dialog" statement's name (may stay empty).
bool parse(const std::string& text, Y3DialogData& dialog, std::string& name, std::string& error);
// The compiled bytes of the text; empty on failure (error says why).
std::string write(const std::string& text, std::string& error);

}  // namespace dlgwrite
