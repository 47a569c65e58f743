#include "game/Y3DialogData.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/XmlWriter.h"
#include "game/Dialog.h"

namespace {

const char* const kCommandNames[] = {"-- invalid command --", "camera", "voice", "anim", "face", "teleport", "hide",
                                     "show", "script", "look", "sound", "play", "stop", "reset"};
constexpr std::uint32_t kNamedKinds = sizeof(kCommandNames) / sizeof(kCommandNames[0]);

// The smallest stored size of each record: what a count must leave room for.
constexpr std::int32_t kMinCommandBytes = 4 + 2 + 4 + 2;
constexpr std::int32_t kMinPhraseBytes = 1 + 4 + 4 + 4;
constexpr std::int32_t kMinLabelBytes = 4 + 1;

// A stored count: not negative, and no more records than the bytes left
// can hold. -1 otherwise, before anything is allocated for it.
std::int32_t readCount(DataStream& stream, std::int32_t& count, std::int32_t minRecordBytes) {
    const std::int32_t result = readI32(stream, count);
    if (result < 0) return result;
    if (count < 0 || count > bytesLeft(stream) / minRecordBytes) return -1;
    return result;
}

std::int32_t readCommand(DataStream& stream, DialogCommand& command) {
    std::int32_t total = 0;
    if (!addField(total, readF32(stream, command.delay))) return total;
    if (!addField(total, readString16(stream, command.object, sizeof(command.object)))) return total;
    if (!addField(total, readU32(stream, command.kind))) return total;
    command.argument.clear();
    std::uint16_t length = 0;
    if (!addField(total, readU16(stream, length))) return total;
    if (length > bytesLeft(stream)) return -1;
    if (length) {
        std::string text(length, '\0');
        if (!addField(total, readExact(stream, text.data(), length))) return total;
        // The text ends at its first zero, as a terminated buffer does.
        text.resize(std::strlen(text.c_str()));
        command.argument = std::move(text);
    }
    return total;
}

std::int32_t readCommands(DataStream& stream, std::vector<DialogCommand>& commands) {
    std::int32_t total = 0;
    std::int32_t count = 0;
    if (!addField(total, readCount(stream, count, kMinCommandBytes))) return total;
    commands.resize(static_cast<std::size_t>(count));
    for (DialogCommand& command : commands)
        if (!addField(total, readCommand(stream, command))) return total;
    return total;
}

std::int32_t readPhrase(DataStream& stream, DialogPhrase& phrase) {
    std::int32_t total = 0;
    if (!addField(total, readString8(stream, phrase.name, sizeof(phrase.name)))) return total;
    if (!addField(total, readF32(stream, phrase.delay))) return total;
    if (!addField(total, readCommands(stream, phrase.commands))) return total;
    addField(total, readCommands(stream, phrase.skip));
    return total;
}

std::int32_t readLabel(DataStream& stream, DialogLabel& label) {
    std::int32_t total = 0;
    std::int32_t count = 0;
    if (!addField(total, readCount(stream, count, kMinPhraseBytes))) return total;
    label.phrases.resize(static_cast<std::size_t>(count));
    for (DialogPhrase& phrase : label.phrases)
        if (!addField(total, readPhrase(stream, phrase))) return total;
    addField(total, readString8(stream, label.name, sizeof(label.name)));
    return total;
}

std::int32_t writeCommand(DataStream& stream, const DialogCommand& command) {
    if (command.kind == DialogCommandInvalid) return engineLog().error("Can't write invalid dialog command"), -1;
    const std::size_t length = std::strlen(command.argument.c_str());
    // The length field is 16 bits wide.
    if (length > 0xFFFF) return -1;
    std::int32_t total = 0;
    if (!addField(total, writeF32(stream, command.delay))) return total;
    if (!addField(total, writeString16(stream, command.object, sizeof(command.object)))) return total;
    if (!addField(total, writeU32(stream, command.kind))) return total;
    if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(length)))) return total;
    if (length) addField(total, stream.write(command.argument.data(), static_cast<std::int32_t>(length)));
    return total;
}

std::int32_t writeCommands(DataStream& stream, const std::vector<DialogCommand>& commands) {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(commands.size())))) return total;
    for (const DialogCommand& command : commands)
        if (!addField(total, writeCommand(stream, command))) return total;
    return total;
}

std::int32_t writeName8(DataStream& stream, const char* name) {
    // Names are at most 127 characters, which the u8 length holds.
    return writeString8(stream, name);
}

void exportCommands(XmlTag& parent, const char* tag, const std::vector<DialogCommand>& commands) {
    XmlTag& list = parent.addChild(tag);
    for (const DialogCommand& command : commands) {
        XmlTag& cmd = list.addChild("cmd");
        cmd.setAttribute("name", "%s", dialogCommandName(command.kind));
        cmd.setAttribute("delay", "%f", static_cast<double>(command.delay));
        cmd.setAttribute("object", "%s", command.object);
        if (!command.argument.empty()) cmd.setValue("%s", command.argument.c_str());
    }
}

}  // namespace

const char* dialogCommandName(std::uint32_t kind) { return kind < kNamedKinds ? kCommandNames[kind] : ""; }

std::uint32_t dialogCommandKind(const char* name) {
    if (!name) return 0;
    for (std::uint32_t kind = 1; kind < kNamedKinds; ++kind)
        if (std::strcmp(kCommandNames[kind], name) == 0) return kind;
    return 0;
}

void DialogCommand::copy(const DialogCommand& source) {
    kind = source.kind;
    delay = source.delay;
    std::memcpy(object, source.object, sizeof(object));
    argument = source.argument;
}

Y3DialogData::Y3DialogData(const char* name) : ResourceRecord(name, resourceDescriptor(ResourceKind::Dialog)) {}

Y3DialogData::~Y3DialogData() = default;

void Y3DialogData::dispose() {
    if (users.count() > 0) engineLog().error("Release dialog before Destructor call");
    // Its dialogs no longer hold it: none of them pops from a freed record.
    for (std::uint32_t i = 0; i < users.count(); ++i)
        if (users[i]) users[i]->setResourcePushed(false);
    ResourceRecord::dispose();
}

const DialogLabel* Y3DialogData::findLabel(const std::vector<DialogLabel>& labels, const char* name) {
    if (!name) return nullptr;
    std::size_t lo = 0;
    std::size_t hi = labels.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        // strcmp compares as unsigned char.
        const int order = std::strcmp(labels[mid].name, name);
        if (order == 0) return &labels[mid];
        if (order > 0) hi = mid;
        else lo = mid + 1;
    }
    return nullptr;
}

std::int32_t Y3DialogData::read(DataStream& stream) {
    std::int32_t total = 0;
    std::int32_t count = 0;
    if (!addField(total, readCount(stream, count, kMinLabelBytes))) {
        engineLog().error("Can't read dialog DATA");
        return total;
    }
    labels.resize(static_cast<std::size_t>(count));
    for (DialogLabel& label : labels) {
        const std::int32_t result = readLabel(stream, label);
        if (result < 0) {
            engineLog().error("Can't read dialog DATA");
            return result;
        }
        total += result;
    }
    return total;
}

std::int32_t Y3DialogData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, static_cast<std::int32_t>(labels.size())))) return total;
    for (const DialogLabel& label : labels) {
        if (!addField(total, writeI32(stream, static_cast<std::int32_t>(label.phrases.size())))) return total;
        for (const DialogPhrase& phrase : label.phrases) {
            if (!addField(total, writeName8(stream, phrase.name))) return total;
            if (!addField(total, writeF32(stream, phrase.delay))) return total;
            if (!addField(total, writeCommands(stream, phrase.commands))) return total;
            if (!addField(total, writeCommands(stream, phrase.skip))) return total;
        }
        if (!addField(total, writeName8(stream, label.name))) return total;
    }
    return total;
}

void Y3DialogData::exportTree(XmlWriter& writer) const {
    XmlTag& package = writer.addTag("package");
    for (const DialogLabel& label : labels) {
        XmlTag& labelTag = package.addChild("label");
        labelTag.setAttribute("id", "%s", label.name);
        for (const DialogPhrase& phrase : label.phrases) {
            XmlTag& phraseTag = labelTag.addChild("phrase");
            phraseTag.setAttribute("id", "%s", phrase.name);
            phraseTag.setAttribute("delay", "%f", static_cast<double>(phrase.delay));
            exportCommands(phraseTag, "commands", phrase.commands);
            exportCommands(phraseTag, "skip", phrase.skip);
        }
    }
}

void Y3DialogData::clear() { std::vector<DialogLabel>().swap(labels); }

bool Y3DialogData::load(DataStream& stream) {
    clear();
    loaded_ = true;
    if (read(stream) >= 0) return true;
    clear();
    loaded_ = false;
    return engineLog().error("Can't read dialog [%s]", name);
}

std::int32_t Y3DialogData::readHeader(DataStream& stream) {
    const std::int32_t start = stream.tell();
    if (!load(stream)) return -1;
    return stream.tell() - start;
}

void Y3DialogData::deleteObject() {
    clear();
    loaded_ = false;
}

Dialog* Y3DialogData::createDialog(const char* labelName, std::uint32_t sceneLink) {
    if (has(kResourceUnavailable)) {
        engineLog().error("resource is invalid");
        return nullptr;
    }
    return new Dialog(this, labelName, sceneLink);
}
