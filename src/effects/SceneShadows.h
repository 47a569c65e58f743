// The shadow block of a scene: the models registered as shadow casters
// (sorted by handle, each with the shadow records of the lights that light
// it) and as shadow receivers (in registration order), and the shadow atlas
// whose cells the records take each frame. The scene's per-frame step keeps
// the records and their cells; the render core's frame draws every record's
// caster into its cell of the shadow map; the model context's shadow item
// draws a receiver once per record that has a cell.
#pragma once

#include <cstdint>
#include <vector>

#include "effects/ShadowRecord.h"
#include "scene/GameObject.h"

class DataStream;
class IniFile;
class Model;
class ProcRenderTarget;
class Scene;
struct CurrentTime;

// Section "shadow" of the settings.
struct ShadowSettings {
    bool blurDisable = false;
    float blurOffset = 1.5f;
    std::int32_t textureMinSize = 64;
    std::int32_t textureMinItem = 64;
    std::int32_t textureMaxWidth = 4096;
    std::int32_t textureMaxHeight = 4096;
    std::int32_t softTextureMax = 1024;
    float minItemSize1 = 1.0f;
    float minItemSize2 = 0.25f;
    float extraOffset = 0.0f;
};
extern ShadowSettings shadowSettings;
// Reads section "shadow"; missing keys are created with their defaults. A
// smallest atlas cell below 1 texel is reported and the default kept.
void readShadowSettings(IniFile& settings);

// The cell layout of the shadow map: the left half holds two rows of the
// largest cells (half the map's height), the next quarter cells of half
// that size, and so on down to the smallest size, which fills what is left.
struct ShadowAtlas {
    struct Cell {
        bool used = false;
        std::int32_t size = 0;
        std::int32_t index = 0;
        float u = 0.0f, v = 0.0f, sizeU = 0.0f, sizeV = 0.0f;
        float weight = 0.0f;
    };
    // Lays the cells out for a target of that size; no cells for a size
    // below the smallest cell or a smallest cell below 1.
    void build(std::int32_t targetWidth, std::int32_t targetHeight, std::int32_t minItem);
    void freeAll();
    // The first free cell, taken; null when all are used.
    Cell* take();

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Cell> cells;
};

class SceneShadows {
public:
    struct CasterGroup {
        GameObjectLink caster;
        std::vector<ShadowRecord> records;
    };

    // The owner (its cameras rank the casters) and its name for the messages.
    Scene* scene = nullptr;
    const char* sceneName = "";

    // A caster already registered logs "Shadow: Can't add shadow caster
    // object [%s] to scene [%s]: Already registered" and changes nothing.
    bool addCaster(GameObjectLink link);
    // False (no message) when the link is no registered caster.
    bool removeCaster(GameObjectLink link);
    bool addReceiver(GameObjectLink link);
    // False with "Can't delete shadow receive [%08X]" when not registered.
    bool removeReceiver(GameObjectLink link);
    bool isCaster(GameObjectLink link) const;
    bool isReceiver(GameObjectLink link) const;
    // Frees the atlas cells and every group's records.
    void freeRecords();
    // Frees every group, record and receiver.
    void clear();

    // The block in the scene's save record: the caster groups, each with
    // its records (direction, eye, flags, links and fade; cells and
    // projections are rebuilt by the next frame), then the receivers.
    // Byte count, or the first negative stream result.
    std::int32_t write(DataStream& stream) const;
    // Clears the block and reads it back; each record's fade runs again
    // over 0.1 seconds from its saved weights. Counts beyond the stream's
    // end, or groups or records out of their order, are refused (-1,
    // logged) and leave the block empty.
    std::int32_t read(DataStream& stream);

    // Fills the record's direction, eye and projection around its caster
    // and draws the caster's elements into its cell.
    void buildCharacterProjection(ShadowRecord& record);
    // Draws the model as a receiver of every record that has a cell.
    void renderReceiver(Model& model) const;

    // Runs draw(record) for every record that has a cell this frame; the
    // number of records drawn.
    template <class Draw>
    std::int32_t eachRecordWithCell(Draw draw) const {
        std::int32_t drawn = 0;
        for (const CasterGroup& group : casters)
            for (const ShadowRecord& record : group.records)
                if (record.hasCell()) {
                    draw(record);
                    ++drawn;
                }
        return drawn;
    }

    // The fade step of one record over a frame of step seconds (rate 1 a
    // second): false when the record is to be removed.
    static bool fadeStep(ShadowRecord& record, double step);

    std::vector<CasterGroup> casters;
    std::vector<GameObjectLink> receivers;
    ShadowAtlas atlas;
    // Set when the last caster drawing found a record that had started.
    bool hadShadows = false;

    // Each frame: the records follow the shadow-casting lights that light
    // the caster (new ones fade in, lost ones fade out over a second and are
    // removed; a caster that no longer resolves loses them all).
    void updateGroup(CasterGroup& group, double step);
    // Whether any record has started fading in while its caster is shown
    // and casts.
    bool anyStartedRecord() const;
};

// One caster group's place in the frame's ranking: its rank value (the
// nearer, the better) and its index in the caster list.
struct ShadowRank {
    float value = 0.0f;
    std::uint32_t group = 0;
};

// The per-frame steps of a scene's soft shadows.
struct SoftShadow {
    // The scene's step, while the render core has a shadow map: the records
    // follow their lights, then the casters are ranked by distance from the
    // scene's current camera (small casters last) and their records take the
    // atlas's cells, largest first, until the cells run out. Without a
    // current camera no record gets a cell.
    static void render(SceneShadows& shadows, const CurrentTime& time);
    // The render core's step after the context update, with "details" not 0
    // and a shadow map: every record that has a cell draws its caster into
    // it, then the map is blurred for soft shadows (video options "shadows"
    // and "details" both 2, shadow_blur_disable off, an offset above 0).
    // False when nothing was drawn or a pass failed (the map's link is
    // released then).
    static bool blur(SceneShadows& shadows);

    // Puts ranks listed in caster order into serving order: ascending value,
    // and of equal values the later caster first (as if each went in before
    // the first of equal or larger value).
    static void sortRanks(std::vector<ShadowRank>& ranks);
    // Frees every cell, then hands them out, largest first, to the records
    // of the ranked groups in order; records left over get none.
    static void placeRecords(SceneShadows& shadows, const std::vector<ShadowRank>& ranks);
    // The rank value of a caster seen from eye: its distance, plus 1000 when
    // the squared diagonal of its shadow box is below shadow_min_item_size1
    // and 10000 more below shadow_min_item_size2 (while both are positive).
    static float rankValue(const Model& caster, const float* eye);
    // The blur offset in texels: the light set's "soft" value of the main
    // character's group (else the first group with records) when the set is
    // found, else shadow_blur_offset.
    static float blurOffset(const SceneShadows& shadows);
};

// The shadow map's render target ("ProcSHADOW1") when it has its texture.
ProcRenderTarget* currentShadowTarget();
