#include "control/Y3ModelGrid.h"

#include "app/GameCore.h"
#include "foundation/Log.h"

Y3ModelGrid::~Y3ModelGrid() { grid.release(); }

bool Y3ModelGrid::release() { return release(nullptr); }

bool Y3ModelGrid::release(const char* name) {
    if ((gameCore.debugFlags & DebugResourceLog) && name) engineLog().info("Release path finding grid [%s]", name);
    grid.release();
    return true;
}

std::int32_t Y3ModelGrid::read(DataStream& stream, bool body, const char* name) {
    if (!body) return 0;
    return readGridData(grid, stream, name);
}

std::int32_t Y3ModelGrid::write(DataStream& stream, bool body, const char*) {
    if (!body) return 0;
    return writeGridData(stream, grid);
}
