// The game core's factories for loading a saved game: each finds the parent
// scene of the saved object (where its type has one), gets the resource
// record of the object's name and makes an empty object in that scene; the
// object then reads its own saved state.
#include <string>

#include "app/GameCore.h"
#include "app/ObjectFactories.h"
#include "app/SaveGame.h"
#include "control/Grid.h"
#include "control/PathGridDataManager.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "effects/Light.h"
#include "effects/Particle.h"
#include "effects/ParticleData.h"
#include "effects/Sprite.h"
#include "effects/LightDataManager.h"
#include "foundation/Log.h"
#include "game/Dialog.h"
#include "game/DialogDataManager.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "platform/physics/PhysicsBackend.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDataManager.h"
#include "scene/Trigger.h"
#include "sound/Sound.h"
#include "sound/SoundBank.h"
#include "sound/SoundCore.h"

namespace {

const char* text(const char* name) { return name ? name : ""; }

Scene* parentScene(GameObjectLink link) {
    GameObject* object = gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
    return object && object->getType() == ObjectScene ? static_cast<Scene*>(object) : nullptr;
}

}  // namespace

GameObject* GameCore::loadCreateParticle(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for particle [%s]", text(name));
        return nullptr;
    }
    // The particle's own name and placement come from its record.
    GameObject* particle = Particle::create(*parent, text(name), "", matrix34Identity(), true);
    if (!particle) engineLog().error("Can't create particle [%s] for loading", text(name));
    return particle;
}

GameObject* GameCore::loadCreateModel(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for model [%s]", text(name));
        return nullptr;
    }
    // A model of the saved resource, under its saved handle; its instance
    // name, elements and the rest come from its record, and the scene's
    // model list, read before it, already holds its handle.
    ModelDataManager* manager = modelDataManager();
    const ResourceRecord* record = manager && name && name[0] ? manager->getOrCreate(name, true) : nullptr;
    GameObject* model = record ? Model::newInstance(record, text(name), parent->id, "", true) : nullptr;
    if (!model) engineLog().error("Can't create model [%s] for loading", text(name));
    return model;
}

GameObject* GameCore::loadCreatePhysicsModel(const char* name) {
    PhysicsModel* model = nullptr;
    if (physics)
        model = PhysicsModel::create(PhysicsScene::addModelRecord(physics->modelData(), text(name), true));
    if (!model) engineLog().error("Can't create physics model [%s] for loading", text(name));
    return model;
}

namespace {

// The scene-data record a saved scene is made from (null without a game).
Y3SceneDataInstance* savedSceneRecord(const char* name) {
    return gameCore.game ? gameCore.game->sceneData().get(text(name), true) : nullptr;
}

void sceneNotCreated(const char* name) { engineLog().error("Can't create scene [%s] for loading", text(name)); }

}  // namespace

GameObject* GameCore::loadCreateScene(const char* name) {
    Y3SceneDataInstance* record = savedSceneRecord(name);
    Scene* scene = record ? SceneContext::createScene(record) : nullptr;
    if (!scene) sceneNotCreated(name);
    // The saved scene's own physics scene is restored from its record.
    if (PhysicsScene* physics = physicsSceneOf(scene)) {
        delete physics;
        scene->physicsScene = GameObjectLink{};
    }
    return scene;
}

GameObject* GameCore::loadCreateTrigger(const char* name, GameObjectLink scene, std::uint32_t triggerType) {
    if (!parentScene(scene)) {
        engineLog().systemError("Can't find parent scene for trigger [%s] for loading", text(name));
        return nullptr;
    }
    if (triggerType != 0) {
        engineLog().systemError("Invalid trigger type [%s] for loading", text(name));
        return nullptr;
    }
    return TriggerStatic::create(parentScene(scene), nullptr, Matrix34{}, nullptr);
}

GameObject* GameCore::loadCreatePhysicsTrigger(const char* name) {
    auto* trigger = new PhysicsTrigger(text(name), GameObjectLink{}, GameObjectLink{});
    if (trigger->id) return trigger;
    delete trigger;
    engineLog().error("Can't create physics trigger [%s] for loading", text(name));
    return nullptr;
}

namespace {

// A saved physics scene comes back with a new world of the backend; with
// none it cannot, and the restore is refused.
GameObject* loadCreatePhysicsScene(const char* name, GameObjectLink scene) {
    PhysicsScene* physics = PhysicsSceneManager::Create(text(name));
    if (!physics) {
        engineLog().error("Can't create physics scene [%s] for loading", text(name));
        return nullptr;
    }
    physics->setSceneLink(scene.value);
    return physics;
}

}  // namespace

GameObject* GameCore::loadCreateSound(const char* name, GameObjectLink scene, std::uint32_t channel) {
    SoundCore* core = sound;
    const std::int32_t list = static_cast<std::int32_t>(channel);
    if (!core || list >= kSoundChannelCount) {
        engineLog().systemError("Can't create new sound instance [%s] for loading. Create dummy", text(name));
        return nullptr;
    }
    // The saved name is the resource the sound played, which resolves to
    // itself; older saves hold the sound's name, an alias, or for the scene's
    // ambient sounds a name whose alias their ambient set gives.
    const std::string ambient = ambientSoundAlias(name);
    BankSound* bankSound = core->bank->findByAlias(list, ambient.empty() ? text(name) : ambient.c_str());
    // At master volume 0 a silent sound takes the saved place.
    Sound* made = core->bank->createSound(bankSound, 0, text(name), false, true);
    if (!made) {
        // A sound whose alias names no resource comes back as a dummy that
        // plays nothing, so the rest of the game loads.
        engineLog().systemError("Can't create new sound instance [%s] for loading. Create dummy", text(name));
        made = new Sound(bankSound, text(name), false, false);
    }
    made->setSceneLink(parentScene(scene) ? scene.value : 0);
    if (!made->getSceneLink()) core->adoptGlobalSound(made);
    return made;
}

GameObject* GameCore::loadCreateLight(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for light [%s]", text(name));
        return nullptr;
    }
    // A light of the light data of its name, under its saved handle: the
    // scene's light list, read before it, already holds that handle, and the
    // scene pushes it with the others.
    GameObject* light = Light::create(lightDataManager().getOrCreate(text(name)), parent->id, text(name), true);
    if (!light) engineLog().error("Can't create light [%s] for loading", text(name));
    return light;
}

GameObject* GameCore::loadCreateDialog(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for dialog [%s]", text(name));
        return nullptr;
    }
    // The saved name is "dialog.label": the record of the dialog part, an
    // empty dialog of the label; its load fills the rest.
    std::string dialogPart;
    std::string labelPart;
    Y3DialogData* record = nullptr;
    if (dialogs && DialogDataManager::splitLabelName(text(name), dialogPart, labelPart))
        record = dialogs->getOrCreate(dialogPart.c_str(), true);
    GameObject* dialog = record ? record->createDialog(labelPart.c_str(), parent->id) : nullptr;
    if (!dialog) engineLog().error("Can't create dialog [%s] for loading", text(name));
    return dialog;
}

GameObject* GameCore::loadCreateSprite(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for sprite [%s]", text(name));
        return nullptr;
    }
    GameObject* sprite = Sprite::create(*parent, text(name), nullptr, true);
    if (!sprite) engineLog().error("Can't create sprite [%s] for loading", text(name));
    return sprite;
}

GameObject* GameCore::loadCreateGrid(const char* name, GameObjectLink scene) {
    Scene* parent = parentScene(scene);
    if (!parent) {
        engineLog().error("Can't find parent scene for grid [%s]", text(name));
        return nullptr;
    }
    // Made on the saved resource's record; its own name comes from its save
    // record. A grid whose data the packages do not hold (a scene without
    // a grid file, or one removed since) comes back without data, as the
    // scene makes it then: it holds straight routes and finds no cells.
    PathGridRecord* record = pathGrids && name && name[0] ? pathGrids->getOrCreate(name) : nullptr;
    if (record && !pathGrids->acquire(record)) {
        engineLog().error("Grid [%s] has no data: restored without it", text(name));
        record = nullptr;
    }
    GameObject* grid = Grid::create(record, parent->id, text(name), nullptr);
    if (!grid) engineLog().error("Can't create grid [%s] for loading", text(name));
    return grid;
}

std::int32_t checkObjectForLoading(const ObjectRepository::SavedRecord& record, DataStream& stream,
                                   PhysicsSaveCheck& physics, std::vector<SceneListedObject>* listed) {
    const char* name = record.name.c_str();
    if (record.type == ObjectScene) {
        if (!SceneContext::canCreateScene(savedSceneRecord(name))) {
            sceneNotCreated(name);
            return -1;
        }
        const std::int32_t result = checkSceneRecord(stream, listed);
        if (result < 0) engineLog().error("Can't load scene [%s]: its saved record is damaged", name);
        return result;
    }
    if (record.type == ObjectLight) {
        LightRecord light;
        std::int32_t result = light.read(stream);
        // Every saved light has a name: a record without one is the link of
        // a save whose lights wrote nothing of their own.
        if (result >= 0 && !light.lightName[0]) result = -1;
        if (result < 0)
            engineLog().error("Can't load light [%s]: its saved record is damaged or written without light records",
                              name);
        return result;
    }
    if (record.type == ObjectPhysicsScene) {
        // Only a backend with a simulation can bring a physics scene back.
        if (!platform::physics::backend().open()) {
            engineLog().error("Can't create physics scene [%s] for loading", name);
            return -1;
        }
        return physics.checkScene(record.handle, stream);
    }
    if (record.type == ObjectPhysicsModel) {
        // Its description must be in the packages, as its factory needs.
        FilePackageDBData* packages = packageData();
        if (!packages || !packages->find(".fh4", name, "")) {
            engineLog().error("Can't create physics model [%s] for loading", name);
            return -1;
        }
        return physics.checkModel(record.handle, stream);
    }
    if (record.type == ObjectPhysicsTrigger) return physics.checkTrigger(record.handle, stream);
    if (record.type == ObjectSprite) {
        // Its resource must load, as its factory needs.
        SpriteDataManager* sprites = gameCore.spriteData;
        const Y3SpriteData* resource = sprites && name[0] ? sprites->requestHeader(name) : nullptr;
        if (!resource || resource->has(kResourceUnavailable)) {
            engineLog().error("Can't create sprite [%s] for loading: its resource is not in the packages", name);
            return -1;
        }
        SpriteRecord sprite;
        return sprite.read(stream);
    }
    if (record.type == ObjectParticle) {
        // Its effect must be in the packages, as its factory needs.
        ParticleDataManager* effects = particleDataManager();
        if (!effectResourceAvailable(".effect", name) ||
            (effects && effects->getOrCreate(name, true)->has(kResourceUnavailable))) {
            engineLog().error("Can't create particle [%s] for loading: its effect is not in the packages", name);
            return -1;
        }
        return Particle::checkRecord(stream);
    }
    if (record.type == ObjectModel) {
        ModelDataManager* manager = modelDataManager();
        // Its resource must load, as the factory and the record's element
        // count need it.
        const ResourceRecord* resource = manager && name[0] ? manager->getOrCreate(name, true) : nullptr;
        if (!resource || !manager->requestHeader(name)) {
            engineLog().error("Can't create model [%s] for loading", name);
            return -1;
        }
        // A resource whose data the running game found damaged makes no
        // model for loading: refused here, before the running game is let go.
        if (resource->has(kResourceUnavailable) && !resource->has(kResourcePlaceholder)) {
            engineLog().error("Can't create model [%s] for loading: its resource is damaged", name);
            return -1;
        }
        const std::int32_t result = Model::checkRecord(stream, name);
        if (result < 0) engineLog().error("Can't load model [%s]: its saved record is damaged", name);
        return result;
    }
    if (record.type == ObjectDialog) return checkDialogRecord(stream);
    if (record.type == ObjectSound) {
        if (record.subtype >= static_cast<std::uint32_t>(kSoundChannelCount)) {
            engineLog().error("Can't load sound [%s]: Use valid sound channel", name);
            return -1;
        }
        const std::int32_t result = Sound::checkRecord(stream);
        if (result < 0) engineLog().error("Can't load sound [%s]: its saved record is damaged", name);
        return result;
    }
    if (record.type == ObjectGrid) {
        GridRecord grid;
        return grid.read(stream);
    }
    if (record.type == ObjectTrigger && record.subtype == 0) {
        TriggerRecord trigger;
        return trigger.read(stream);
    }
    // The factories of the other types make no object yet: their load fails.
    engineLog().error("Can't load %s [%s]: no object of this type is made for loading", gameObjectTypeName(record.type),
                      name);
    return -1;
}

std::int32_t checkObjectForLoading(const ObjectRepository::SavedRecord& record, DataStream& stream) {
    PhysicsSaveCheck physics;
    return checkObjectForLoading(record, stream, physics);
}

GameObject* createObjectForLoading(std::uint32_t type, const char* name, std::uint32_t scene, std::uint32_t subtype) {
    const GameObjectLink parent{scene};
    switch (type) {
    case ObjectParticle: return gameCore.loadCreateParticle(name, parent);
    case ObjectModel: return gameCore.loadCreateModel(name, parent);
    case ObjectPhysicsModel: return gameCore.loadCreatePhysicsModel(name);
    case ObjectPhysicsScene: return loadCreatePhysicsScene(name, parent);
    case ObjectScene: return gameCore.loadCreateScene(name);
    case ObjectTrigger: return gameCore.loadCreateTrigger(name, parent, subtype);
    case ObjectPhysicsTrigger: return gameCore.loadCreatePhysicsTrigger(name);
    case ObjectSound: return gameCore.loadCreateSound(name, parent, subtype);
    case ObjectLight: return gameCore.loadCreateLight(name, parent);
    case ObjectDialog: return gameCore.loadCreateDialog(name, parent);
    case ObjectSprite: return gameCore.loadCreateSprite(name, parent);
    case ObjectGrid: return gameCore.loadCreateGrid(name, parent);
    default: return nullptr;
    }
}
