// Writer of the script-variable files the engine reads: the single stored
// file of a tree (".ptxt4": one full node record) and the compiled variable
// resource (".txt4": a u16 attach path, then the tree).
//
// Trees are described in a small text form, one node a line:
//     # a comment
//     <dotted.path> <type> [value]
// type is one of empty, boolean, string, wstring, number, array, 2d-array;
// the value is the rest of the line after one blank (UTF-8; "string" values
// are stored in the engine's narrow code page, "wstring" values as UTF-16).
// Missing parents are made as "array" nodes, in order of appearance.
#pragma once

#include <string>

class DataStream;
class ScriptVariable;

namespace variable_tools {

// Fills root from the text form. False with a message naming the line.
bool parseVariableText(const std::string& text, ScriptVariable& root, std::string& error);
// The single-file form: the root as one full node record. Bytes or negative.
int writeVariableTree(const ScriptVariable& root, DataStream& out);
// The resource form: u16 path length, the path, the tree. Bytes or negative;
// a path over 1,023 bytes is refused.
int writeVariableResource(const std::string& attachPath, const ScriptVariable& tree, DataStream& out);
// Writes the bytes of a stream to a file.
bool saveStream(DataStream& stream, const std::string& path);

}  // namespace variable_tools
