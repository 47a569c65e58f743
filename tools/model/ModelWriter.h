// The model data writer: model and animation data from a readable text
// description, stored with the engine's own writers, so that tests and the
// demo build their data with it.
//
// Description lines ("#" starts a comment; blank lines are skipped):
//   stream <file> <format code>
//       starts a vertex stream of format 0 to 48, written into <file> as
//       one stream record (magic, format code, vertex count, the vertices
//       in the format's layout)
//   vertex [p x y z] [n x y z] [b x y z] [t u v] [t2 u v] [lm u v]
//          [c <colour>] [i a b c d] [w a b c d]
//       adds a vertex to the last stream. The components are position,
//       normal, binormal, texture, second texture and lightmap coordinates,
//       colour (a 32-bit word: decimal or 0xAARRGGBB), the four blend
//       indices (0 to 255 each) and the four blend weights; a component
//       left out stays zero, one the format has not is an error.
//   mesh <header file> <data file> [skintail]
//       starts a mesh: its header part goes into <header file>, its data
//       part into <data file> (with "skintail", the header part carries the
//       skin tail of an element whose flag asks for it). A level whose mesh
//       carries skin-tail matrices (mesh flag 0x10) plays its own animation
//       from them: a model does not bind it to its skeleton, and the
//       fixed-function detail rule leaves its skin in place.
//   meshstream <format code>
//       adds a vertex stream to the last mesh; vertex lines that follow go
//       into it
//   index <i> ...
//       appends indices to the last mesh
//   subset <stream> <start index> <index count> <vertex count>
//          [kind <k>] [bones <n>] [face <mode>] [diffuse <texture>]
//          [lightmap <texture>] [environment <texture>] [terrain <texture>]
//          [group <g>] [instanced] [interior]
//       adds a subset to the last mesh with its material kind, bone
//       influence count, face mode (0 front faces, the default; 1 both
//       faces; 2 back faces, then front faces), texture names,
//       draw-order group and light class (exterior unless "interior");
//       "instanced" lets the models showing the level be merged into
//       static-instance groups of their mesh, drawn with one call a
//       group, once "min_instances_per_group" of them share a texture set
//       and a light set (a level without skin bones, of a model without
//       reflection that no physics drives)
//   bone <name> <palette slot> [parent <name>]
//        [rest <qx> <qy> <qz> <qw> <tx> <ty> <tz>] [channel <1-8>]
//        [rootmotion] [flag28] [partial]
//       adds a bone to the last mesh's skeleton (kept in name order); slot
//       -1 feeds no palette slot. A name in double quotes may hold blanks
//       ("bip01 head"), here and in the animation lines. A model's skeleton reads the rest of the
//       stored bone record: the palette word keeps the slot plus one in
//       bits 0-7, the parent's index in the mesh's bones plus one in bits
//       8-15 (0: a root), the pose-channel number in bits 16-19 and the
//       flags in bits 26 (rootmotion: the bone gives the root motion), 28
//       and 29 (partial: evaluated when the model is thinned out); the
//       40-byte block keeps the rest transform as ten floats (rotation,
//       translation, scale 1; all zero reads as the identity). With a rest
//       transform the first matrix becomes the inverse of the rest pose in
//       model space, the matrix the skin takes the bone's pose through.
//   box <hx> <hy> <hz> [at <x> <y> <z>]
//       the last mesh's bounding box: half extents and centre
//
// Model resources (a header file <name>.mh4 and a data file <name>.my3):
//   model <name> [default|sprite]
//       starts a model resource of that kind (default when left out)
//   source <x> <y> <z>
//       the position of the model's source placement
//   textureset <n>
//   lightset <morning|day|evening|nighttime> <light-set name>
//   rule <name>
//       adds an animation rule to the property block
//   animation <name> <speed> [<flag name> ...]
//       adds an animation to the last rule ("loop", "rnd-position", ...)
//   element <name> [extra <a> <b> <c>] [flags <n>]
//       adds an element; the three "lod" lines that follow are its levels
//       of detail
//   lod
//       starts the next level of detail of the last element as the last
//       mesh ("meshstream", "index", "subset", "bone", "box" go into it)
//   light <point|directional> <name> [at <x> <y> <z>]
//   particle <name> <data> <bone> [at <x> <y> <z>]
//   action <name> <bone> [size <x> <y> <z>] [spot <x> <y> <z>] [at <x> <y> <z>]
//   sprite <name> <texture> <x> <y> <dx> <dy> <depth> [animated] [has-alpha]
//       adds a sprite element to a sprite model
#pragma once

#include <memory>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "model/Y3Mesh.h"
#include "model/Y3Model.h"
#include "model/Y3MeshStream.h"

namespace model_tools {

struct StreamFile {
    std::string file;
    std::unique_ptr<Y3MeshStream> stream;
};

struct MeshFile {
    std::string headerFile;
    std::string dataFile;
    bool skinTail = false;
    std::unique_ptr<Y3Mesh> mesh;
};

struct ModelFile {
    std::string name;
    std::unique_ptr<Y3Model> model;
};

struct ModelDescription {
    std::vector<StreamFile> streams;
    std::vector<MeshFile> meshes;
    std::vector<ModelFile> models;
};

// The stored header file (header set) or data file of a model.
std::string modelFileBytes(Y3Model& model, const std::string& name, bool header);

// False, with the line and the reason in error, for a line it cannot read.
bool parseModelDescription(std::string_view text, ModelDescription& out, std::string& error);

// A name word of a description line; a name in double quotes may hold
// blanks ("bip01 head"). The model and animation lines read names by it.
bool readName(std::istream& words, std::string& name);

// The stored bytes of a stream record; empty when it cannot be written.
std::string streamRecordBytes(const Y3MeshStream& stream);

// The stored bytes of a mesh's header part (header set) or data part;
// empty when it cannot be written.
std::string meshPartBytes(Y3Mesh& mesh, bool skinTail, bool header);

// Writes every file of the description into folder; the written file names
// go to written.
bool writeModelFiles(const ModelDescription& description, const std::string& folder,
                     std::vector<std::string>* written, std::string* error);

}  // namespace model_tools
