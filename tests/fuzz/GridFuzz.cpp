// Fuzz target of the path-finding grid files: the bytes are read as a
// ".grid" model container; a grid that loads must write back to the same
// bytes and keep its links inside the rows, and searches between a few of
// its cells must give node lists of valid cells from the start, the same
// as the literal form of the search.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "control/Grid.h"
#include "control/PathSearchReference.h"
#include "control/Y3ModelGrid.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "grid/GridWriter.h"

namespace fuzzing {

int fuzzGrid(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::unique_ptr<Y3Model> model;
    const std::int32_t result = Y3Model::readFromStream(in, model, "grid_fuzz");
    if (result < 0 || model->kind() != kModelKindGrid) {
        fuzzCheck(result >= 0 || model == nullptr, "grid: a refused file left a model");
        if (model) model->release();
        forgetLog();
        return 0;
    }
    Y3GridData& grid = static_cast<Y3ModelGrid&>(*model).grid;
    fuzzCheck(grid.checkLinks("grid_fuzz"), "grid: an accepted grid has links outside its rows");
    fuzzCheck(std::isfinite(grid.cellSize) && grid.cellSize > 0.0f, "grid: an accepted cell size is not positive");
    // A nearest-cell request a little off the grid ends within its rings.
    const float away[3] = {-8.0f * grid.cellSize, 0.0f, -8.0f * grid.cellSize};
    const float anyDirection[3] = {0.0f, 0.0f, 0.0f};
    grid.findNearestCell(away, anyDirection, -1.0f);
    MemoryStream out;
    fuzzCheck(model->writeToStream(out, "grid_fuzz") == result &&
                  std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size())) ==
                      bytes.substr(0, std::size_t(result)),
              "grid: the grid does not write back to the bytes read");

    std::vector<std::uint32_t> cells;
    for (std::int32_t r = 0; r < grid.rowCount() && cells.size() < 4096; ++r)
        for (std::size_t c = 0; c < grid.rows[std::size_t(r)].cells.size() && cells.size() < 4096; ++c)
            cells.push_back(gridNodeId(r, std::int32_t(c)));
    if (!cells.empty()) {
        const bool small = grid.cellCount() <= 4096;
        const float limits[] = {0.0f, 3.0f * grid.cellSize, -1.0f, 1e30f};
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint32_t start = cells[(i * 7919u + size) % cells.size()];
            const std::uint32_t goal = cells[(i * 104729u + std::size_t(data[size / 2])) % cells.size()];
            if (i == 2) grid.setBlocked({cells[cells.size() / 2]}, true);
            std::vector<std::uint32_t> path;
            const std::int32_t count = findPath(grid, start, goal, path, limits[i]);
            fuzzCheck(count >= 1 && std::size_t(count) == path.size() && path.front() == start,
                      "grid: a search between valid cells gave no path from the start");
            fuzzCheck(std::all_of(path.begin(), path.end(), [&](std::uint32_t id) { return grid.valid(id); }),
                      "grid: a path names a cell outside the rows");
            if (small) {
                std::vector<std::uint32_t> literal;
                path_reference::findPath(grid, start, goal, literal, limits[i]);
                fuzzCheck(literal == path, "grid: the search differs from its literal form");
            }
        }
    }
    model->release();
    forgetLog();
    return 0;
}

void seedGrid(std::vector<std::string>& out) {
    const char* const texts[] = {
        "cell 2\norigin -3\nheight 1 16\nreserved 1 2 3\nfloor 0\n|...\n|.#.\nfloor 4\n|.#.\n",
        "cell 1\nfloor 0\n|\n|  \n|\n",
        "climb 0.6\nfloor 0 step 0.5\n|21\n|00\nfloor 1\n|\n|.\n",
    };
    std::vector<std::string> files;
    for (const char* text : texts) {
        Y3GridData grid;
        std::string error;
        if (grid_tools::parseGridDescription(text, grid, error)) files.push_back(grid_tools::gridFileBytes(grid));
    }
    const grid_tools::GridShape shapes[] = {{16, 16, 30, 2, false, 3}, {15, 15, 0, 1, true, 4}};
    for (const grid_tools::GridShape& shape : shapes) {
        Y3GridData grid;
        std::string error;
        if (grid_tools::parseGridDescription(grid_tools::sampleGridText(shape), grid, error))
            files.push_back(grid_tools::gridFileBytes(grid));
    }
    for (const std::string& file : files) {
        out.push_back(file);
        out.push_back(file.substr(0, file.size() / 2));
        std::string flipped = file;
        for (std::size_t at = 74; at < flipped.size(); at += 37) flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
        out.push_back(flipped);
    }
}

// The save record of a grid object: an accepted record has a progress
// from 0, writes back to the bytes read, and a route of points alone (no
// grid data behind it) is followed from a few places without leaving its
// points.
int fuzzGridRecord(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    GridRecord record;
    const std::int32_t result = record.read(in);
    if (result >= 0) {
        fuzzCheck(record.progress >= 0, "gridrecord: an accepted progress is negative");
        fuzzCheck(record.points.size() % 3 == 0 && (record.nodes.empty() || record.points.empty()),
                  "gridrecord: points beside nodes, or a cut point");
        MemoryStream out;
        fuzzCheck(record.write(out) == result &&
                      std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size())) ==
                          bytes.substr(0, std::size_t(result)),
                  "gridrecord: the record does not write back to the bytes read");
        if (record.nodes.empty() && (record.flags & kGridRoutePresent)) {
            std::unique_ptr<Grid> grid(Grid::create(nullptr, 0, "grid_fuzz", nullptr));
            static_cast<GridRecord&>(*grid) = record;
            grid->flags &= ~kGridRegistered;
            const float places[][3] = {{0.0f, 0.0f, 0.0f}, {5.0f, 0.0f, -3.0f}, {-1e6f, 0.0f, 1e6f}};
            for (const auto& place : places) grid->update(place);
        }
    }
    forgetLog();
    return 0;
}

void seedGridRecord(std::vector<std::string>& out) {
    const auto record = [&](std::uint32_t flags, std::vector<std::uint32_t> nodes, std::int32_t progress,
                            std::vector<float> points) {
        GridRecord grid;
        std::snprintf(grid.gridName, sizeof(grid.gridName), "%s", "walker");
        grid.flags = flags;
        grid.nodes = std::move(nodes);
        grid.progress = progress;
        grid.points = std::move(points);
        MemoryStream stream;
        if (grid.write(stream) >= 0)
            out.emplace_back(reinterpret_cast<const char*>(stream.data()), std::size_t(stream.size()));
    };
    record(kGridRoutePresent, {}, 0, {0, 0, 0, 1, 0, 0, 2, 0, 1, 3, 0, 2, 4, 0, 2, 5, 0, 2});
    record(kGridRoutePresent, {}, 4, {0, 0, 0, 1, 0, 0});
    record(kGridRoutePresent, {}, 0, {});
    record(kGridRoutePresent | kGridRegistered, {gridNodeId(0, 0), gridNodeId(0, 1), gridNodeId(1, 1)}, 2, {});
    record(0, {}, 0, {});
}

}  // namespace fuzzing
