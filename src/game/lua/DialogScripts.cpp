// The script classes "DialogDataManager" (the global dlg) and "Dialog".
//
// dlg works on the current scene and the game core's dialog data manager,
// found again at every call. A "Dialog" holds its dialog's handle; a handle
// that resolves to nothing is the null dialog, whose every call logs "Try
// to use null dialog object" and fails.
#include <cstring>
#include <string>

#include <lua.hpp>
#include <luabind/luabind.hpp>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "game/Dialog.h"
#include "game/DialogDataManager.h"
#include "game/lua/GameScripts.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "script/ScriptBinding.h"

namespace {

struct DialogDataManagerScript {};

struct DialogHandle {
    GameObjectLink link;

    // The dialog, or null after the null-dialog message.
    Dialog* get() const {
        GameObject* object = gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
        auto* dialog = object && object->getType() == ObjectDialog ? static_cast<Dialog*>(object) : nullptr;
        if (!dialog) engineLog().scriptError("Try to use null dialog object");
        return dialog;
    }
};

const char* dialogExtension() { return gameCore.dialogs ? gameCore.dialogs->compiledExtension() : ".dlg"; }

// The record of a dialog name with its data loaded, or null.
Y3DialogData* loadedDialog(const char* dialogName) {
    DialogDataManager* manager = gameCore.dialogs;
    if (!manager || !dialogName || !dialogName[0]) return nullptr;
    Y3DialogData* record = manager->getOrCreate(dialogName, true);
    return manager->ensureLoaded(record) ? record : nullptr;
}

const char* managerClassof(const DialogDataManagerScript&) { return "DialogDataManager"; }

int objCount(const DialogDataManagerScript&) {
    Scene* scene = gameCore.currentScene();
    return scene ? static_cast<int>(scene->dialogs.size()) : 0;
}

const char* objName(const DialogDataManagerScript&, int index) { return gameCore.scene_dialogName(index - 1); }

int fileCount(const DialogDataManagerScript&) {
    FilePackageDBData* packages = packageData();
    return packages ? packages->countFiles(dialogExtension(), "") : 0;
}

std::string dialogFileName(const DialogDataManagerScript& self, int index) {
    if (index < 1 || index > fileCount(self)) {
        engineLog().scriptError("Can't get dialog name by invalid index");
        return "INVALID DIALOG INDEX";
    }
    FilePackageDBData* packages = packageData();
    const char* name = packages->fileName(packages->fileIdAt(dialogExtension(), index - 1, ""));
    if (!name) return "INVALID DLG FILE";
    // Entry names carry their extension; the dialog is named without it.
    std::string text(name);
    const std::size_t dot = text.rfind('.');
    if (dot != std::string::npos) text.resize(dot);
    return text;
}

int labelCount(const DialogDataManagerScript&, const char* dialogName) {
    Y3DialogData* record = loadedDialog(dialogName);
    if (!record) {
        engineLog().scriptError("Can't get label count for dialog [%s]: Dialog data can't be read",
                                dialogName ? dialogName : "");
        return 0;
    }
    return static_cast<int>(record->labels.size());
}

luabind::object dialogLabelName(const DialogDataManagerScript&, const char* dialogName, int index, lua_State* state) {
    Y3DialogData* record = loadedDialog(dialogName);
    if (!record) {
        engineLog().scriptError("Can't get label name for dialog [%s]: Dialog data can't be read",
                                dialogName ? dialogName : "");
        return luabind::object();
    }
    if (index < 1 || index > static_cast<int>(record->labels.size())) {
        engineLog().scriptError("Invalid dialog [%s] label [%i] index", dialogName, index);
        return luabind::object(state, "INVALID LABEL INDEX");
    }
    return luabind::object(state, std::string(record->labels[static_cast<std::size_t>(index - 1)].name));
}

int phraseCount(const DialogDataManagerScript&, const char* fullName) {
    const DialogLabel* label = gameCore.dialogs ? gameCore.dialogs->findLabelByName(fullName) : nullptr;
    return label ? static_cast<int>(label->phrases.size()) : 0;
}

bool createDialog(const char* fullName, bool main) {
    Scene* scene = gameCore.currentScene();
    return scene && scene->createDialog(fullName, main) != nullptr;
}

bool createMain(const DialogDataManagerScript&, const char* fullName) { return createDialog(fullName, true); }
bool createPlain(const DialogDataManagerScript&, const char* fullName) { return createDialog(fullName, false); }

bool deleteDialog(const DialogDataManagerScript&, const char* name) {
    Scene* scene = gameCore.currentScene();
    return scene && scene->delDialog(name);
}

DialogHandle getDialog(const DialogDataManagerScript&, const char* name) {
    Scene* scene = gameCore.currentScene();
    const GameObjectLink link = scene ? scene->findDialog(name) : GameObjectLink{};
    if (!link.index()) engineLog().error("Can't find game dialog with name [%s]", name ? name : "");
    return DialogHandle{link};
}

bool testDialog(const DialogDataManagerScript&, const char* name) {
    Scene* scene = gameCore.currentScene();
    return scene && scene->findDialog(name).index() != 0;
}

const char* dialogClassof(const DialogHandle&) { return "Dialog"; }

int dialogPhrase(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog ? dialog->phraseIndex : kDialogIdle;
}

bool dialogPlay(const DialogHandle& h, int first) {
    Dialog* dialog = h.get();
    return dialog && dialog->play(first);
}

bool dialogStop(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog && dialog->stop();
}

bool dialogSkip(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog && dialog->skip();
}

bool dialogIsPlay(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog && dialog->isPlay();
}

bool dialogAlias(const DialogHandle& h, const char* objectName, const char* aliasName, const char* target) {
    Dialog* dialog = h.get();
    if (!dialog) return false;
    const bool noObject = !objectName || !objectName[0];
    const bool noAlias = !aliasName || !aliasName[0];
    Log& log = engineLog();
    if (noObject && noAlias) return log.scriptError("Alias name and object empty");
    if (noObject) return log.scriptError("Can't create empty alias [%s]=[]", aliasName);
    if (noAlias) return log.scriptError("Alias name empty for object [%s", objectName);
    return dialog->setAlias(objectName, aliasName, target);
}

bool dialogAim(const DialogHandle& h, const char* aliasName, const char* target) {
    Dialog* dialog = h.get();
    return dialog && dialog->aim(aliasName, target);
}

template <DialogEvent Event>
std::string getHandler(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog ? dialog->handlers[Event] : std::string();
}

// A handler name longer than the save record holds is refused and the old
// one kept.
template <DialogEvent Event>
void setHandler(const DialogHandle& h, const char* text) {
    Dialog* dialog = h.get();
    if (!dialog) return;
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > Dialog::kMaxHandlerName) {
        engineLog().scriptError("Can't set dialog [%s] handler: name of %zu characters, at most %zu", dialog->getName(),
                                length, Dialog::kMaxHandlerName);
        return;
    }
    dialog->handlers[Event] = text ? text : "";
}

bool getDontRestore(const DialogHandle& h) {
    Dialog* dialog = h.get();
    return dialog && (dialog->options & kDialogDontRestoreCamera) != 0;
}

void setDontRestore(const DialogHandle& h, bool on) {
    Dialog* dialog = h.get();
    if (!dialog) return;
    if (on)
        dialog->options |= kDialogDontRestoreCamera;
    else
        dialog->options &= static_cast<std::uint8_t>(~kDialogDontRestoreCamera);
}

}  // namespace

void registerDialogDataManagerClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<DialogDataManagerScript>("DialogDataManager")
                      .def("classof", &managerClassof)
                      .def("obj_count", &objCount)
                      .def("obj_name", &objName)
                      .def("count", &fileCount)
                      .def("name", &dialogFileName)
                      .def("label_count", &labelCount)
                      .def("label_name", &dialogLabelName)
                      .def("phrase_count", &phraseCount)
                      .def("createMain", &createMain)
                      .def("create", &createPlain)
                      .def("delete", &deleteDialog)
                      .def("get", &getDialog)
                      .def("test", &testDialog)];
    globals(state)["dlg"] = DialogDataManagerScript{};
}

void registerDialogClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<DialogHandle>("Dialog")
                      .def("classof", &dialogClassof)
                      .property("phrase", &dialogPhrase)
                      .def("play", &dialogPlay)
                      .def("stop", &dialogStop)
                      .def("skip", &dialogSkip)
                      .def("isPlay", &dialogIsPlay)
                      .def("alias", &dialogAlias)
                      .def("aim", &dialogAim)
                      .property("onStarted", &getHandler<DialogOnStarted>, &setHandler<DialogOnStarted>)
                      .property("onFinished", &getHandler<DialogOnFinished>, &setHandler<DialogOnFinished>)
                      .property("onPhraseStarted", &getHandler<DialogOnPhraseStarted>,
                                &setHandler<DialogOnPhraseStarted>)
                      .property("onPhraseFinished", &getHandler<DialogOnPhraseFinished>,
                                &setHandler<DialogOnPhraseFinished>)
                      .property("onSubtitleStarted", &getHandler<DialogOnSubtitleStarted>,
                                &setHandler<DialogOnSubtitleStarted>)
                      .property("onSubtitleFinished", &getHandler<DialogOnSubtitleFinished>,
                                &setHandler<DialogOnSubtitleFinished>)
                      .property("dont_restore_camera", &getDontRestore, &setDontRestore)];
}
