// The data managers of the animation core: animations (".ani4"), lip-sync
// morphs, tracker maps and animation control rules.
//
// No animation resource is read yet: the managers hold no record, and their
// unload and release passes have nothing to free.
#pragma once

class AnimationDataManager {
public:
    // During a load: loads and allocates every referenced animation, with
    // progress in stage 10; false when one fails (the others are still
    // tried).
    bool allocateAll();
    // At game release: every allocated record loses its allocation, the
    // manager its allocated flag.
    void unloadAll();
    // At game release, after the renderer: unloads every record's data, then
    // destroys the records.
    void releaseAll();
};

class MorphDataManager {
public:
    // Unloads and destroys every lip-sync record.
    void release();
};

class AnimationTrackerMapManager {
public:
    // Unloads and destroys every tracker-map record.
    void release();
};

class AnimCtrlRulesManager {
public:
    // Frees every rule table and destroys the records.
    void release();
};
