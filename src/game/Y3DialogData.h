// A compiled dialog (".dlg"): labels of phrases, each phrase a timed list of
// commands and an optional skip program, with its binary record, its tree
// export and the record that the dialog data manager keeps for it.
//
// The binary record has no magic and no version; integers are
// little-endian. A label's name follows its phrases. Reading bounds every
// count by the bytes left and every name by its 128-byte field, so damaged
// files are refused before anything is allocated for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "resources/Y3ResourceManager.h"

class DataStream;
class Dialog;
class XmlWriter;

// Kinds of dialog commands (stored in the compiled files).
enum DialogCommandKind : std::uint32_t {
    DialogCommandInvalid = 0,
    DialogCommandCamera = 1,
    DialogCommandVoice = 2,
    DialogCommandAnim = 3,
    DialogCommandFace = 4,
    DialogCommandTeleport = 5,
    DialogCommandHide = 6,
    DialogCommandShow = 7,
    DialogCommandScript = 8,
    DialogCommandLook = 9,
    DialogCommandSound = 10,
    DialogCommandPlay = 11,
    DialogCommandStop = 12,
    DialogCommandReset = 13,
    // Run state of a playing copy: the command has finished.
    DialogCommandDone = 15,
};

// The command vocabulary: "camera" ... "reset"; "-- invalid command --" for
// 0; empty for every other code.
const char* dialogCommandName(std::uint32_t kind);
// The kind of a command name, 0 when the name is none of the thirteen.
std::uint32_t dialogCommandKind(const char* name);

struct DialogCommand {
    std::uint32_t kind = 0;
    // Seconds from the phrase start.
    float delay = 0.0f;
    char object[128] = {};
    // The argument text; an absent argument is the empty string.
    std::string argument;

    // Copies kind, delay, object name and argument.
    void copy(const DialogCommand& source);
};

struct DialogPhrase {
    char name[128] = {};
    // The pause after the phrase's commands have all completed, seconds.
    float delay = 0.0f;
    std::vector<DialogCommand> commands;
    // The skip program.
    std::vector<DialogCommand> skip;
};

// One label: its name and its phrases (phrase numbers are 1-based positions).
struct DialogLabel {
    char name[128] = {};
    std::vector<DialogPhrase> phrases;
};

// The compiled dialog resource of one dialog file.
class Y3DialogData : public ResourceRecord {
public:
    explicit Y3DialogData(const char* name);
    ~Y3DialogData() override;

    // The label of exactly that name (bytes compared as unsigned, so upper
    // and lower case differ), or null. The labels must be in ascending byte
    // order of their names: the search halves the range.
    static const DialogLabel* findLabel(const std::vector<DialogLabel>& labels, const char* name);

    // Reads the whole record into the labels (the array takes the stored
    // count; the stored order is kept): bytes read, or negative ("Can't
    // read dialog DATA" when a label fails).
    std::int32_t read(DataStream& stream);
    // Writes the whole record: bytes written, or negative ("Can't write
    // invalid dialog command" and -1 for a command of kind 0).
    std::int32_t write(DataStream& stream) const;
    // Adds the "package" tree of the labels to the writer.
    void exportTree(XmlWriter& writer) const;
    // Frees labels, phrases, commands and arguments.
    void clear();
    // Reads the record from the stream as the resource's data; on failure
    // the resource has no data and "Can't read dialog [%s]" is logged.
    bool load(DataStream& stream);

    // A new dialog of this resource playing the named label, or null
    // ("resource is invalid") while the resource is flagged invalid.
    Dialog* createDialog(const char* labelName, std::uint32_t sceneLink);

    // The manager's loader reads the data through these.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return loaded_; }
    void deleteObject() override;
    // A record destroyed while dialogs still use it says so first.
    void dispose() override;

    std::vector<DialogLabel> labels;

private:
    bool loaded_ = false;
};
