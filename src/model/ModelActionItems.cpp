// The model's run-time action items, kept in line with its resource, placed
// in the world every frame and offered to the camera when the player can
// point at them.
#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "model/ModelDataManager.h"
#include "model/Y3Model.h"
#include "foundation/Matrix.h"
#include "scene/CameraCore.h"
#include "scene/CameraSettings.h"

namespace {

// Camera modes in which actions are picked by the cursor on the screen;
// the others pick by the camera's reach.
constexpr bool kPickOnScreen[28] = {false, false, false, true,  false, false, false, true,  true,  true,
                                    true,  false, false, false, false, false, false, false, false, false,
                                    false, true,  false, false, false, false, false, false};

bool picksOnScreen() {
    const std::int32_t state = gameCore.cameraModeIndex();
    return state >= 0 && state < 28 && kPickOnScreen[state];
}

// q strictly inside the triangle (a, b, c): both barycentric coordinates
// relative to a above 0 and their sum below 1. A flat triangle holds
// nothing.
bool insideTriangle(const ActionScreenPoint& a, const ActionScreenPoint& b, const ActionScreenPoint& c, float qx,
                    float qy) {
    const float e1x = b.x - a.x, e1y = b.y - a.y;
    const float e2x = c.x - a.x, e2y = c.y - a.y;
    const float det = e1x * e2y - e1y * e2x;
    if (det == 0.0f) return false;
    const float px = qx - a.x, py = qy - a.y;
    // u and v times det, compared without dividing.
    float u = px * e2y - py * e2x;
    float v = e1x * py - e1y * px;
    float d = det;
    if (d < 0.0f) u = -u, v = -v, d = -d;
    return u > 0.0f && v > 0.0f && u + v < d;
}

// Any triangle of the list's points, leaving out the point at skip.
bool insideAny(const std::vector<ActionScreenPoint>& points, std::size_t skip, float qx, float qy) {
    const std::size_t n = points.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i == skip) continue;
        for (std::size_t j = i + 1; j < n; ++j) {
            if (j == skip) continue;
            for (std::size_t k = j + 1; k < n; ++k)
                if (k != skip && insideTriangle(points[i], points[j], points[k], qx, qy)) return true;
        }
    }
    return false;
}

// The scaled world matrix: each axis row times the model's scale on it.
Matrix34 scaledWorld(const Model& model) {
    Matrix34 scaled = model.worldMatrix;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 3; ++k) scaled.m[row * 3 + k] *= model.scale[row];
    return scaled;
}

// The loaded mesh model of the resource, found through the manager before
// the model's first push.
const Y3ModelDefault* actionResource(const Model& model) {
    const Y3ModelData* data = model.resource;
    if (!data && modelDataManager()) data = static_cast<const Y3ModelData*>(modelDataManager()->findRecord(model.resourceName));
    if (!data || !data->model || data->model->kind() != kModelKindDefault) return nullptr;
    return static_cast<const Y3ModelDefault*>(data->model.get());
}

}  // namespace

bool pointInAnyTriangle(const std::vector<ActionScreenPoint>& points, float qx, float qy) {
    return points.size() >= 3 && insideAny(points, points.size(), qx, qy);
}

bool pointInOtherTriangle(const std::vector<ActionScreenPoint>& points, std::size_t n) {
    return points.size() >= 4 && n < points.size() && insideAny(points, n, points[n].x, points[n].y);
}

void pruneInnerPoints(std::vector<ActionScreenPoint>& points) {
    // A removed point's place takes the last point, which is tested next.
    std::size_t n = 0;
    while (n < points.size()) {
        if (pointInOtherTriangle(points, n)) {
            points[n] = points.back();
            points.pop_back();
        } else {
            ++n;
        }
    }
}

void ModelActionItem::build(const Model& model, const ModelActionItemData& record) {
    std::memset(name, 0, sizeof(name));
    std::strncpy(name, record.name, sizeof(name) - 1);
    Matrix34 action = record.actionToParent;
    if (record.bone[0]) {
        const Skeleton& skeleton = model.animation.skeleton;
        const std::int32_t bone = skeleton.find(record.bone);
        if (bone >= 0 && static_cast<std::size_t>(bone) < skeleton.bones.size())
            matrix34Multiply(action, skeleton.bones[static_cast<std::size_t>(bone)].world);
    }
    matrix34Multiply(action, scaledWorld(model));
    std::memcpy(spot, record.spot, sizeof(spot));
    vector3Transform(spot, action);
    box.setFromExtents(action, record.size);
}

void Model::syncActionItems() {
    // Before its first push the model reaches its resource through the
    // manager: another instance may have loaded it already.
    const Y3ModelDefault* mesh = actionResource(*this);
    if (!mesh) return;
    const auto& records = mesh->actions;
    const bool resized = records.size() != actionItems.size();
    if (resized) actionItems.resize(records.size(), ModelActionItem{});
    const ModelActionRanges& ranges = ModelActionItemData::defaultRanges();
    for (std::size_t i = 0; i < records.size(); ++i) {
        ModelActionItem& item = actionItems[i];
        if (resized) {
            item.maxRange3d = ranges.maxRange3d;
            item.minRange3d = ranges.minRange3d;
            item.minRange2d = ranges.minRange2d;
            item.maxRange2d = ranges.maxRange2d;
            item.minSize2d = ranges.minSize2d;
        }
        std::memset(item.name, 0, sizeof(item.name));
        std::strncpy(item.name, records[i].name, sizeof(item.name) - 1);
    }
}

std::int32_t Model::actionIndex(const char* itemName) const {
    if (!itemName) return -1;
    // The items follow the resource's order, which need not be sorted.
    for (std::size_t i = 0; i < actionItems.size(); ++i)
        if (std::strncmp(actionItems[i].name, itemName, sizeof(actionItems[i].name) - 1) == 0)
            return static_cast<std::int32_t>(i);
    return -1;
}

bool Model::projectActionItem(std::int32_t index, std::vector<ActionScreenPoint>& points) const {
    points.clear();
    if (index < 0 || static_cast<std::size_t>(index) >= actionItems.size()) return false;
    if (!(stateWords[0] & kModelDrawnThisFrame) || !isShown()) return false;
    // No camera while a saved game loads.
    const CameraCore* camera = gameCore.scene_getCamera(nullptr);
    if (!camera) return false;
    const ModelActionItem& item = actionItems[static_cast<std::size_t>(index)];
    const float* back = &camera->pose.m[6];
    const float* eye = camera->position();
    const float toSpot[3] = {item.spot[0] - eye[0], item.spot[1] - eye[1], item.spot[2] - eye[2]};
    const float d = vector3Dot(back, toSpot);
    if (d > 0.0f) return false;
    if (item.maxRange2d > 0.0f && -d > item.maxRange2d) return false;
    if (item.minRange2d > 0.0f && -d < item.minRange2d) return false;
    float minX = 100000.0f, minY = 100000.0f, maxX = -100000.0f, maxY = -100000.0f;
    for (const float* corner : item.box.box.corners) {
        const float toCorner[3] = {corner[0] - eye[0], corner[1] - eye[1], corner[2] - eye[2]};
        if (vector3Dot(back, toCorner) > 0.0f) continue;
        float screen[2];
        camera->projectToScreen(corner, screen);
        points.push_back({screen[0], screen[1], 0.0f});
        minX = std::min(minX, screen[0]);
        maxX = std::max(maxX, screen[0]);
        minY = std::min(minY, screen[1]);
        maxY = std::max(maxY, screen[1]);
    }
    if (maxX < 0.0f || minX > 1024.0f || maxY < 0.0f || minY > 768.0f) {
        points.clear();
        return false;
    }
    const float cx = (minX + maxX) * 0.5f, cy = (minY + maxY) * 0.5f, h = item.minSize2d * 0.5f;
    points.push_back({cx - h, cy - h, 0.0f});
    points.push_back({cx + h, cy - h, 0.0f});
    points.push_back({cx - h, cy + h, 0.0f});
    points.push_back({cx + h, cy + h, 0.0f});
    pruneInnerPoints(points);
    return points.size() > 2;
}

bool Model::updateActionItems() {
    syncActionItems();
    const Y3ModelDefault* mesh = actionResource(*this);
    if (actionItems.empty() || !mesh) return true;
    CameraCore* camera = gameCore.scene_getCamera(nullptr);
    if (!camera) return false;
    const bool onScreen = picksOnScreen();
    const InputVirtualPointer* cursor = gameCore.input ? &gameCore.input->virtualDevices.pointer : nullptr;
    std::vector<ActionScreenPoint> points;
    for (std::size_t i = 0; i < actionItems.size(); ++i) {
        ModelActionItem& item = actionItems[i];
        if (!(item.flags & kModelActionEnabled)) continue;
        item.build(*this, mesh->actions[i]);
        const auto index = static_cast<std::int32_t>(i);
        if (!projectActionItem(index, points)) continue;
        const bool ownReach = !onScreen && item.maxRange3d != 0.0f;
        if (onScreen) {
            if (!cursor || !pointInAnyTriangle(points, cursor->x, cursor->y)) continue;
        } else {
            const float reach = ownReach ? item.maxRange3d : cameraSettings.clipFar;
            const float* centre = &item.box.box.matrix.m[9];
            const float* eye = camera->position();
            const float offset[3] = {centre[0] - eye[0], centre[1] - eye[1], centre[2] - eye[2]};
            if (reach * reach + item.box.sphere.radiusSquared < vector3Dot(offset, offset)) continue;
            if (ownReach) camera->updateFrustumRange(cameraSettings.clipNear, item.maxRange3d);
        }
        camera->isObjectVisible(index, this);
        if (ownReach) camera->updateFrustum();
    }
    return true;
}

void Model::projectActionToScreen(std::int32_t index, float& x, float& y) const {
    // The spot is placed anew from the model's current matrices: the items
    // of a model that was not drawn this frame were not rebuilt. An index
    // without an action gives the model's origin.
    float spot[3] = {worldMatrix.m[9], worldMatrix.m[10], worldMatrix.m[11]};
    const Y3ModelDefault* mesh = actionResource(*this);
    if (mesh && index >= 0 && static_cast<std::size_t>(index) < mesh->actions.size()) {
        ModelActionItem item;
        item.build(*this, mesh->actions[static_cast<std::size_t>(index)]);
        std::memcpy(spot, item.spot, sizeof(spot));
    }
    // No camera while a saved game loads: the spot's own X and Y.
    const CameraCore* camera = gameCore.currentScene() ? gameCore.scene_getCamera(nullptr) : nullptr;
    if (!camera) {
        x = spot[0];
        y = spot[1];
        return;
    }
    float screen[2];
    camera->projectToScreen(spot, screen);
    x = screen[0];
    y = screen[1];
}
