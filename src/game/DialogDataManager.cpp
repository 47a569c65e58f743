#include "game/DialogDataManager.h"

#include <cctype>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

const DataManagerInfo& info() {
    static const DataManagerInfo unknown = {"", "", "", 0, "", "", ""};
    const DataManagerInfo* found = findDataManagerInfo("DialogDataManager");
    return found ? *found : unknown;
}

}  // namespace

DialogDataManager::DialogDataManager() = default;
DialogDataManager::~DialogDataManager() { releaseAll(); }

const char* DialogDataManager::sourceExtension() const { return info().sourceExtension; }
const char* DialogDataManager::compiledExtension() const { return info().compiledExtension; }
std::int32_t DialogDataManager::typeNumber() const { return info().typeNumber; }
const char* DialogDataManager::title() const { return info().title; }
const char* DialogDataManager::secondText() const { return info().secondText; }

std::int32_t DialogDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool DialogDataManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    log.error("dialog compilation NOT possible in game");
    return log.resourceError("Fail to compile dialog data from file [%s]", sourcePath ? sourcePath : "");
}

bool DialogDataManager::storeCompiled(const Y3DialogData& data, const char* sourcePath) {
    const char* path = sourcePath ? sourcePath : "";
    MemoryStream compiled(true);
    if (data.write(compiled) < 0) return engineLog().resourceError("Can't save dialog [%s] data to RAM file", path);
    return storeBesideSource(compiled, path, "Fail to save compiled dialog data to file [%s]");
}

bool DialogDataManager::ensureLoaded(Y3DialogData* record) {
    if (!record) return false;
    if (record->has(kResourceHeaderLoaded)) return true;
    return loadHeader(record, nullptr);
}

bool DialogDataManager::splitLabelName(const char* fullName, std::string& dialog, std::string& label) {
    std::string text(fullName ? fullName : "");
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos)
        return engineLog().error("Invalid dialog label Name: must be [dialog.label], but [%s]", text.c_str());
    dialog = text.substr(0, dot);
    label = text.substr(dot + 1);
    return true;
}

const DialogLabel* DialogDataManager::findLabelByName(const char* fullName) {
    std::string dialog;
    std::string label;
    if (!splitLabelName(fullName, dialog, label)) return nullptr;
    Y3DialogData* record = find(dialog.c_str());
    if (!ensureLoaded(record)) {
        engineLog().error("Can't find dialog [%s]. Full request name is [%s.%s]", dialog.c_str(), dialog.c_str(),
                          label.c_str());
        return nullptr;
    }
    const DialogLabel* found = Y3DialogData::findLabel(record->labels, label.c_str());
    if (!found) engineLog().error("Can't find dialog label [%s] in dialog [%s]", label.c_str(), dialog.c_str());
    return found;
}
