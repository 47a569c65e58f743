// The cells of a scene's path grid that its "lock-pathfind" physics actors
// stand on, for the scene's periodic grid-obstacle refresh.
#include <algorithm>
#include <cmath>

#include "foundation/Math.h"

#include "app/GameCore.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "control/Y3GridData.h"
#include "control/Y3PhysicsModelData.h"
#include "control/Y3PhysicsRigit.h"
#include "platform/physics/PhysicsBackend.h"
#include "scene/ObjectRepository.h"

namespace backend = platform::physics;

namespace {

// Half extents of an actor's shape in its own axes; false for shapes
// without a simple extent (convex, mesh, cloth).
bool halfExtents(const Y3PhysicsRigit& rigit, const float* scale, float* out) {
    switch (rigit.kind()) {
        case RigitBox:
            std::copy(static_cast<const Y3PhysicsRigit_BOX&>(rigit).size,
                      static_cast<const Y3PhysicsRigit_BOX&>(rigit).size + 3, out);
            break;
        case RigitSphere: {
            const float r = static_cast<const Y3PhysicsRigit_SPHERE&>(rigit).sphereRadius;
            out[0] = out[1] = out[2] = r;
            break;
        }
        case RigitCapsule:
            out[0] = out[2] = rigit.radius();
            out[1] = rigit.radius() + 0.5f * rigit.height();
            break;
        default: return false;
    }
    for (int i = 0; i < 3; ++i) out[i] = std::fabs(out[i] * scale[i]);
    return true;
}

// Appends the cells whose square meets the horizontal bounds and whose
// height lies from half a unit below the bottom up to the top.
void cellsUnder(const Y3GridData& grid, const float* low, const float* high, std::vector<std::uint32_t>& out) {
    if (!(grid.cellSize > 0.0f)) return;
    // Far outside any grid: nothing (and no 16-bit wrap of the indices).
    const float reach = grid.cellSize * static_cast<float>(kGridMaxCount);
    for (int i = 0; i < 3; i += 2)
        if (!(low[i] > -reach && high[i] < reach)) return;
    const std::int32_t firstRow = grid.rowOf(low[2]) - grid.originRow;
    const std::int32_t lastRow = grid.rowOf(high[2]) - grid.originRow;
    const std::int32_t firstColumn = grid.columnOf(low[0]);
    const std::int32_t lastColumn = grid.columnOf(high[0]);
    for (std::int32_t row = std::max(firstRow, 0); row <= lastRow && row < grid.rowCount(); ++row) {
        const std::vector<GridCell>& cells = grid.rows[static_cast<std::size_t>(row)].cells;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const GridCell& cell = cells[i];
            if (cell.column < firstColumn || cell.column > lastColumn) continue;
            const float y = grid.cellHeight(cell);
            if (y >= low[1] - 0.5f && y <= high[1]) out.push_back(gridNodeId(row, static_cast<std::int32_t>(i)));
        }
    }
}

}  // namespace

void PhysicsScene::gridObstacleCells(const Y3GridData& grid, std::vector<std::uint32_t>& out) const {
    if (!gameCore.objects || !world) return;
    backend::Backend& physics = backend::backend();
    for (GameObjectLink link : models) {
        auto* model = dynamic_cast<PhysicsModel*>(gameCore.objects->getObject(link));
        const Y3PhysicsModelData* data = model ? model->description() : nullptr;
        if (!data) continue;
        for (std::size_t i = 0; i < model->actors.size() && i < data->actors.size(); ++i) {
            const Y3PhysicsRigit* rigit = data->actors[i].get();
            const PhysicsActorInstance& actor = model->actors[i];
            if (!rigit || !(rigit->flags & kRigitLockPathfind) || !actor.handle) continue;
            float half[3];
            if (!halfExtents(*rigit, model->scale, half)) continue;
            float pose[12];
            if (!physics.getActorPose(world, actor.handle, pose) || !allFinite(pose, 12)) continue;
            // World bounds of the rotated shape (row vectors: row k is the
            // shape's axis k in the world).
            float low[3], high[3];
            for (int axis = 0; axis < 3; ++axis) {
                float extent = 0.0f;
                for (int k = 0; k < 3; ++k) extent += std::fabs(pose[3 * k + axis]) * half[k];
                low[axis] = pose[9 + axis] - extent;
                high[axis] = pose[9 + axis] + extent;
            }
            cellsUnder(grid, low, high, out);
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}
