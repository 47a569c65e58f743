#include "animation/AnimationDataManager.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TextFile.h"
#include "platform/FileSystem.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"

Y3AnimData::Y3AnimData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Animation)) {}

Y3AnimData::~Y3AnimData() { dispose(); }

std::int32_t Y3AnimData::readHeader(DataStream& stream) { return loadAnimationData(data, name, stream); }

void Y3AnimData::deleteObject() {
    if (data) data->release();
    delete data;
    data = nullptr;
}

bool Y3AnimData::pushReference(ResourceUser* instance) { return ResourceManagerBase::push(this, instance); }

bool Y3AnimData::popReference(ResourceUser* instance) {
    const bool popped = ResourceManagerBase::pop(this, instance);
    // An instance the list does not hold is not registered either: it can
    // be pushed again.
    if (instance) instance->setResourcePushed(false);
    return popped;
}

Y3MorphAnimationDataInstance::Y3MorphAnimationDataInstance(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Morph)) {}

Y3MorphAnimationDataInstance::~Y3MorphAnimationDataInstance() { dispose(); }

std::int32_t Y3MorphAnimationDataInstance::readHeader(DataStream& stream) {
    auto track = std::make_unique<MorphTrack>();
    const std::int32_t count = track->read(stream, name);
    if (count < 0) return count;
    delete data;
    data = track.release();
    return count;
}

void Y3MorphAnimationDataInstance::deleteObject() {
    if (data) data->clear();
    delete data;
    data = nullptr;
}

bool Y3MorphAnimationDataInstance::pushReference(ResourceUser* morph) { return ResourceManagerBase::push(this, morph); }

bool Y3MorphAnimationDataInstance::popReference(ResourceUser* morph) { return ResourceManagerBase::pop(this, morph); }

MorphTrack* MorphDataManager::loadTrack(Y3MorphAnimationDataInstance* record) {
    if (!record || record->has(kResourceUnavailable)) return nullptr;
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->data && !record->data->frames.empty() ? record->data : nullptr;
}

namespace {

// The integer after a "[common]" keyword: blanks skipped, then decimal
// digits; any other leading character gives 0. Bounded so that a long run
// of digits cannot overflow.
std::int64_t commonValue(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 0x7fffffff) return 0x7fffffff;
    }
    return value;
}

bool beginsWith(const std::string& line, const char* keyword) { return line.rfind(keyword, 0) == 0; }

}  // namespace

bool MorphDataManager::parseTrack(MorphTrack& track, DataStream& stream) {
    Log& log = engineLog();
    track.clear();
    TextFile text;
    if (!readTextLines(text, stream)) return log.error("Can't read morph track text");
    enum Section { None, Common, Channels, Data } section = None;
    std::int64_t numerator = 22050, denominator = 256;
    std::int32_t columns = 0;
    // The column each channel reads, -1 while none.
    std::int32_t columnOf[kMorphChannelCount];
    for (std::int32_t& c : columnOf) c = -1;
    for (std::int32_t index = 0; index < text.lineCount(); ++index) {
        std::string line = text.lines[static_cast<std::size_t>(index)];
        if (line.empty()) continue;
        if (line.size() > kMorphMaxLineLength)
            return log.error("Line [%i] of morph track is too long (%zu characters)", index, line.size());
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (line == "[common]" || line == "[channels]" || line == "[data]") {
            section = line == "[common]" ? Common : line == "[channels]" ? Channels : Data;
            continue;
        }
        switch (section) {
        case None:
            return log.error("Unexpected line [%i] value [%s] Expected paragraph", index, line.c_str());
        case Common:
            if (beginsWith(line, "samplespersecnumerator"))
                numerator = commonValue(line.c_str() + std::strlen("samplespersecnumerator"));
            else if (beginsWith(line, "samplespersecdenominator"))
                denominator = commonValue(line.c_str() + std::strlen("samplespersecdenominator"));
            break;
        case Channels: {
            if (columns >= kMorphMaxColumns)
                return log.error("Too many morph channels at line %i (at most %i)", index, kMorphMaxColumns);
            const std::int32_t column = columns++;
            for (int k = 0; k < kMorphChannelCount; ++k) {
                std::string channel = kMorphChannelNames[k];
                for (char& c : channel) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (line != channel) continue;
                if (columnOf[k] >= 0) return log.error("Channel [%s] defined twice at line %i", line.c_str(), index);
                columnOf[k] = column;
            }
            break;
        }
        case Data: {
            if (track.frames.size() >= kMorphMaxFrames)
                return log.error("Too many morph frames at line %i (at most %u)", index, kMorphMaxFrames);
            MorphFrame frame{};
            std::size_t from = 0;
            for (std::int32_t column = 0; from <= line.size() && column < columns; ++column) {
                const std::size_t tab = line.find('\t', from);
                const std::string field = line.substr(from, tab == std::string::npos ? std::string::npos : tab - from);
                for (int k = 0; k < kMorphChannelCount; ++k) {
                    if (columnOf[k] != column) continue;
                    const double value = std::strtod(field.c_str(), nullptr);
                    if (!std::isfinite(value))
                        return log.error("Invalid morph value [%s] at line %i", field.c_str(), index);
                    frame[static_cast<std::size_t>(k)] = static_cast<float>(value);
                }
                if (tab == std::string::npos) break;
                from = tab + 1;
            }
            track.frames.push_back(frame);
            break;
        }
        }
    }
    if (track.frames.empty()) return log.error("Morph track has no frames");
    if (numerator <= 0 || denominator <= 0)
        return log.error("Invalid morph sample rate %lld / %lld", static_cast<long long>(numerator),
                         static_cast<long long>(denominator));
    const double n = static_cast<double>(track.frames.size());
    track.step = 1.0 / n;
    track.rate = (static_cast<double>(numerator) / static_cast<double>(denominator)) / n;
    return true;
}

bool MorphDataManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    const std::string source = sourcePath ? sourcePath : "";
    std::unique_ptr<WinFileStream> input(
        WinFileStream::open(source, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
    if (!input) return log.error("Morph: Can't open file [%s]", source.c_str());
    MorphTrack track;
    const bool parsed = parseTrack(track, *input);
    input.reset();
    if (!parsed) return log.error("Fail to import morph data from file [%s]", source.c_str());
    std::string name, destination;
    compiledPathOf(source, name, destination);
    MemoryStream compiled(true);
    if (track.write(compiled) < 0) return log.error("Can't save Morph %s data to RAM file", name.c_str());
    // Storing is refused before the destination is opened: opening it for
    // writing would empty a compiled track that stands there.
    return storeBesideSource(compiled, source.c_str(), "Fail to save imported morph data to file [%s]");
}

bool AnimationTrackerMapManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    log.error("Animation map compiler not work in game mode");
    return log.error("Can't compile animation map file [%s]", sourcePath ? sourcePath : "");
}

AnimationMapData* AnimationTrackerMapManager::findMapForModel(const char* resourceName, std::string* chosen) {
    const char* name = resourceName ? resourceName : "";
    if (!findRecord(name)) {
        FilePackageDBData* packages = packageData();
        if (!packages || packages->find(".amap", name, "") == 0) name = "default";
    }
    if (chosen) *chosen = name;
    AnimationMapData* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded)) {
        if (record->has(kResourceUnavailable) || !loadHeader(record, nullptr)) return nullptr;
    }
    return record;
}

bool AnimCtrlRulesManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    log.error("animation rules compilation NOT possible in game");
    log.error("Can't compile animation rules file [%s]", sourcePath ? sourcePath : "");
    return false;
}

AnimCtrlRulesData* AnimCtrlRulesManager::loadRules(const char* name, bool reportMissing) {
    AnimCtrlRulesData* record = getOrCreate(name ? name : "", reportMissing);
    if (!record->has(kResourceHeaderLoaded) && (record->has(kResourceUnavailable) || !loadHeader(record, nullptr)))
        return nullptr;
    return record->data ? record : nullptr;
}

AnimCtrlRulesData::AnimCtrlRulesData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::AnimationRules)) {}

AnimCtrlRulesData::~AnimCtrlRulesData() { dispose(); }

std::int32_t AnimCtrlRulesData::readHeader(DataStream& stream) {
    auto table = std::make_unique<AnimCtrlRules>();
    copyName128(table->name, name);
    const std::int32_t count = table->read(stream);
    if (count < 0) {
        engineLog().systemError("Failed read animation rules [%s] data", name);
        return count;
    }
    delete data;
    data = table.release();
    return count;
}

void AnimCtrlRulesData::deleteObject() {
    delete data;
    data = nullptr;
}
