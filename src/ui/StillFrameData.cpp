#include "ui/StillFrameData.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "input/InputVirtualButton.h"
#include "render/QuadBatch.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "script/ScriptEngine.h"
#include "ui/StillFrameSettings.h"
#include "ui/lua/UiScripts.h"

namespace {

constexpr std::size_t kNameLength = 127;
constexpr std::int32_t kFirstLayer = -100;

// The name as items hold it: cut and lower-cased; false (with the message)
// for a null or empty name.
bool itemName(const char* name, std::string& out) {
    if (!name || !*name) {
        engineLog().scriptError("stillframe: SF name is %s", name ? "EMPTY STRING" : "NULL PTR");
        return false;
    }
    out.assign(name, std::min(std::strlen(name), kNameLength));
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return true;
}

void logScriptPosition() {
    if (gameCore.script) gameCore.script->logCallPosition();
}

// Still frames take the pointer and its buttons only in input modes 2 and 3.
bool pointerGate() {
    const std::int32_t mode = currentInputMode();
    return mode == 2 || mode == 3;
}

bool validEvent(std::int32_t event, const char* what, const StillFrameScriptDataItem* item) {
    if (event >= 0 && event < EventCount) return true;
    return engineLog().scriptError("%s: invalid event index %d for sf [%s]", what, event,
                                   item ? item->name.c_str() : "NULL");
}

// The unit quad: two triangles of x, y, z, u, v centred on the origin.
constexpr float kUnitQuad[6][5] = {{-0.5f, -0.5f, 0.0f, 0.0f, 0.0f}, {-0.5f, 0.5f, 0.0f, 0.0f, 1.0f},
                                   {0.5f, -0.5f, 0.0f, 1.0f, 0.0f},  {-0.5f, 0.5f, 0.0f, 0.0f, 1.0f},
                                   {0.5f, -0.5f, 0.0f, 1.0f, 0.0f},  {0.5f, 0.5f, 0.0f, 1.0f, 1.0f}};

}  // namespace

StillFrameData::~StillFrameData() {
    releaseAll();
    releaseQuadBuffer();
}

// ---- the table ----

StillFrameScriptDataItem* StillFrameData::create(const char* name) {
    std::string held;
    const bool automatic = name && std::strcmp(name, "$auto") == 0;
    if (!automatic) {
        if (!itemName(name, held)) return nullptr;
        if (find(held.c_str())) {
            engineLog().error(" stillframe:create(%s)  -> This name already used", held.c_str());
            return nullptr;
        }
    }
    items_.push_back(std::make_unique<StillFrameScriptDataItem>(automatic ? nullptr : held.c_str()));
    return items_.back().get();
}

StillFrameScriptDataItem* StillFrameData::create(const char* name, const char* texture, float x, float y,
                                                 float width, float height) {
    StillFrameScriptDataItem* item = create(name);
    if (!item) return nullptr;
    item->x = x;
    item->y = y;
    item->width = width;
    item->height = height;
    if (texture && *texture) item->image.setSource(*item, texture, 0);
    return item;
}

StillFrameScriptDataItem* StillFrameData::get(const char* name) const {
    std::string held;
    if (!itemName(name, held)) return nullptr;
    StillFrameScriptDataItem* item = find(held.c_str());
    if (!item) {
        logScriptPosition();
        engineLog().scriptError(" stillframe:get(%s) -> Can't find stillframe", held.c_str());
    }
    return item;
}

bool StillFrameData::test(const char* name) const {
    std::string held;
    return itemName(name, held) && find(held.c_str());
}

StillFrameScriptDataItem* StillFrameData::find(const char* name, std::int32_t* index) const {
    if (!name) return nullptr;
    std::string held(name, std::min(std::strlen(name), kNameLength));
    std::transform(held.begin(), held.end(), held.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->name == held) {
            if (index) *index = static_cast<std::int32_t>(i);
            return items_[i].get();
        }
    return nullptr;
}

bool StillFrameData::contains(const StillFrameScriptDataItem* item) const {
    return item && std::any_of(items_.begin(), items_.end(), [&](const auto& p) { return p.get() == item; });
}

void StillFrameData::deleteObject(StillFrameScriptDataItem* item) {
    Log& log = engineLog();
    if (!item) {
        logScriptPosition();
        log.scriptError("stillframe:del(obj_image)  -> argument must be not NULL");
        return;
    }
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& p) { return p.get() == item; });
    if (it == items_.end()) {
        log.scriptError("[%s]:stillframe:del(obj_image)  -> Object not found", item->name.c_str());
        return;
    }
    if (item->flags & ItemInHandler) {
        log.scriptError("**DELETING IGNORED** Image [%s] cannot delete self inside event handler. Delete method must "
                        "be in 'release' method.",
                        item->name.c_str());
        return;
    }
    if (hovered_ == item) hovered_ = nullptr;
    unlinkChildren(*item);
    // No item keeps a scroll controller that is gone.
    for (const auto& other : items_) {
        StillFrameScriptDataItem::Scroll& s = other->scroll;
        if (s.controllerX == item) s.controllerX = nullptr;
        if (s.controllerY == item) s.controllerY = nullptr;
        if (s.controllerXY == item) s.controllerXY = nullptr;
    }
    item->releaseAttachments();
    // The last item takes the freed place.
    if (&*it != &items_.back()) std::swap(*it, items_.back());
    items_.pop_back();
    ++removals_;
}

void StillFrameData::deleteNamed(const char* name) {
    std::string held;
    if (!itemName(name, held)) return;
    StillFrameScriptDataItem* item = find(held.c_str());
    if (!item) {
        engineLog().scriptError("stillframe:del(%s)  -> Object with requested name not found", held.c_str());
        return;
    }
    if (item->flags & ItemInHandler) {
        engineLog().scriptError("**DELETING IGNORED** Image cannot delete self [%s] inside event handler. Delete "
                                "method must be in 'release' method.",
                                item->name.c_str());
        return;
    }
    deleteObject(item);
}

StillFrameScriptDataItem* StillFrameData::findTextItem(const StillFrameScriptDataItem& item) const {
    std::string name = item.name + "_text";
    if (name.size() > kNameLength) name.resize(kNameLength);
    return find(name.c_str());
}

StillFrameScriptDataItem* StillFrameData::getChildObject(const StillFrameScriptDataItem* parent,
                                                         std::int32_t n) const {
    if (!parent) {
        logScriptPosition();
        engineLog().scriptError("getChildObject(): Requested NULL ptr");
        return nullptr;
    }
    std::int32_t seen = 0;
    if (n >= 1)
        for (const auto& item : items_)
            if (item->link.parent == parent && ++seen == n) return item.get();
    logScriptPosition();
    engineLog().scriptError("[%s]:getChildObject(): Invalid index", parent->name.c_str());
    return nullptr;
}

bool StillFrameData::childBounds(const StillFrameScriptDataItem& parent, float& left, float& top, float& right,
                                 float& bottom) const {
    bool any = false;
    for (const auto& item : items_) {
        if (item->link.parent != &parent || !item->visible()) continue;
        const float l = item->x, t = item->y, r = item->x + item->width, b = item->y + item->height;
        left = any ? std::min(left, l) : l;
        top = any ? std::min(top, t) : t;
        right = any ? std::max(right, r) : r;
        bottom = any ? std::max(bottom, b) : b;
        any = true;
    }
    return any;
}

StillFrameScriptDataItem* StillFrameData::findByScrollController(const StillFrameScriptDataItem& item) const {
    for (const auto& other : items_) {
        const StillFrameScriptDataItem::Scroll& s = other->scroll;
        if (s.controllerX == &item || s.controllerY == &item || s.controllerXY == &item) return other.get();
    }
    return nullptr;
}

bool StillFrameData::unlinkChildren(const StillFrameScriptDataItem& item) {
    bool any = false;
    for (const auto& other : items_)
        if (other->link.parent == &item) {
            other->link = StillFrameScriptDataItem::Link{};
            any = true;
        }
    return any;
}

// ---- the frame ----

void StillFrameData::update(const CurrentTime& time) {
    updateHover();
    for (const auto& item : items_) item->flags &= ~ItemUpdated;
    // One pass in table order, each item after the ancestors that wait for
    // it: every chain resolves in it whatever the order of the table. A
    // further pass follows only when something changed on the way (a parent
    // link dropped, an item deleted); one that updates nothing leaves only
    // items whose parents wait on each other.
    for (;;) {
        bool progress = false;
        const std::uint64_t removals = removals_;
        for (std::size_t i = 0; i < items_.size(); ++i) updateChain(items_[i].get(), time, progress);
        // A deletion moves the last item into the freed place, which the
        // pass may have left behind.
        const bool waiting = std::any_of(items_.begin(), items_.end(),
                                         [](const auto& item) { return !(item->flags & ItemUpdated); });
        if (removals_ != removals) progress = true;
        if (!waiting) {
            if (console) console->shownLines = static_cast<std::int64_t>(engineLog().recordCount());
            return;
        }
        if (!progress) break;
    }
    Log& log = engineLog();
    log.error("Found SF loop: break all items parent links in loop:");
    for (const auto& item : items_)
        if (!(item->flags & ItemUpdated)) {
            item->link = StillFrameScriptDataItem::Link{};
            log.error("Found SF loop: break sf [%s]", item->name.c_str());
        }
}

void StillFrameData::updateChain(StillFrameScriptDataItem* item, const CurrentTime& time, bool& progress) {
    if (item->flags & ItemUpdated) return;
    const StillFrameScriptDataItem* parent = item->link.parent;
    if (!parent || (parent->flags & ItemUpdated)) {
        if (item->update(time, *this) || item->link.parent != parent) progress = true;
        return;
    }
    // Up the parents that are not updated yet; a walk longer than the table
    // has met a loop. (A handler may load a scene, whose progress runs this
    // update again: the chain is the walk's own.)
    std::vector<StillFrameScriptDataItem*> chain;
    for (StillFrameScriptDataItem* at = item; at && !(at->flags & ItemUpdated) && chain.size() <= items_.size();
         at = at->link.parent)
        chain.push_back(at);
    const std::uint64_t removals = removals_;
    for (std::size_t k = chain.size(); k-- > 0;) {
        StillFrameScriptDataItem* at = chain[k];
        const StillFrameScriptDataItem* parent = at->link.parent;
        const bool updated = at->update(time, *this);
        // A dropped parent (a link to itself) lets the item go next pass.
        if (updated || at->link.parent != parent) progress = true;
        if (!updated) return;
        // The chain's pointers may be gone: the rest waits for the next pass.
        if (removals_ != removals) return;
    }
}

void StillFrameData::updateHover() {
    StillFrameScriptDataItem* candidate = nullptr;
    if (pointerGate() && gameCore.input) {
        const InputVirtualPointer& pointer = gameCore.input->virtualDevices.pointer;
        const float cx = std::round(pointer.x), cy = std::round(pointer.y);
        std::int32_t best = -1;
        for (std::size_t i = items_.size(); i-- > 0;) {
            StillFrameScriptDataItem* item = items_[i].get();
            if (!item->visible() || item->layer <= best || (item->link.flags & 0x2)) continue;
            if (!item->hitTest(cx, cy) || !item->hasPointerHandler()) continue;
            candidate = item;
            best = item->layer;
        }
    }
    if (candidate == hovered_) return;
    StillFrameScriptDataItem* old = hovered_;
    hovered_ = nullptr;
    if (old && !(old->link.flags & 0x2)) sendEvent(old, EventMouseOut);
    // A handler may have deleted the candidate.
    if (candidate && contains(candidate)) {
        hovered_ = candidate;
        sendEvent(candidate, EventMouseOver);
    }
}

bool StillFrameData::onKey(std::int32_t id, bool pressed) {
    updateHover();
    if (!pointerGate()) return false;
    std::int32_t event;
    if (id == 6) event = pressed ? EventMouseDown : EventMouseUp;
    else if (id == 7) event = pressed ? EventMouse1Down : EventMouse1Up;
    else return false;
    bool sent = false;
    if (hovered_ && !hovered_->handlers[std::size_t(event)].empty()) {
        sendEvent(hovered_, event);
        sent = true;
    }
    // Handlers may create and delete items: walk a copy of the table.
    std::vector<StillFrameScriptDataItem*> dragged;
    for (const auto& item : items_)
        if ((item->link.flags & 0x2) && !item->handlers[std::size_t(event)].empty()) dragged.push_back(item.get());
    for (StillFrameScriptDataItem* item : dragged)
        if (contains(item)) {
            sendEvent(item, event);
            sent = true;
        }
    return sent;
}

void StillFrameData::sendEvent(StillFrameScriptDataItem* item, std::int32_t event) {
    if (!item) {
        engineLog().error("Can't send event [%s] to null SF", stillFrameEventName(event));
        return;
    }
    if (!validEvent(event, "sendEvent", item)) return;
    // A text label passes its events to the item it labels (a chain that
    // loops back stops after as many steps as there are items).
    for (std::size_t steps = 0; item->textGlyphs > 0 && item->link.parent && steps < items_.size(); ++steps)
        item = item->link.parent;
    const bool wasRunning = (item->flags & ItemInHandler) != 0;
    item->flags |= ItemInHandler;
    call_event(item->handlers, event, item);
    if (!wasRunning && contains(item)) item->flags &= ~ItemInHandler;
}

bool StillFrameData::call_event(std::array<std::string, EventCount>& handlers, std::int32_t event,
                                StillFrameScriptDataItem* item) {
    if (!validEvent(event, "call_event", item)) return false;
    const std::string& name = handlers[std::size_t(event)];
    if (name.empty()) return false;
    if (!item)
        return engineLog().error("Try to call NULL ptr event %s(%s NULL)", name.c_str(),
                                 StillFrameScriptDataItem::kTypeName);
    if (!gameCore.script || !gameCore.script->context || !gameCore.script->context->state) return false;
    // The name is copied: the handler may change the table.
    const std::string function = name;
    if (!callImageHandler(gameCore.script->context->state, function.c_str(), item))
        return engineLog().error("Exception %s(%s* [%s]): Unknown", function.c_str(),
                                 StillFrameScriptDataItem::kTypeName, item->name.c_str());
    return true;
}

bool StillFrameData::setEvent(std::int32_t event, const char* handler, StillFrameScriptDataItem* item) {
    if (!item) return engineLog().scriptError("Can't set event %d of a NULL sf", event);
    if (!validEvent(event, "setEvent", item)) return false;
    std::string& current = item->handlers[std::size_t(event)];
    if (!current.empty())
        return engineLog().error("Can't set event %s::[%s].%s = [%s]: Already assigned to [%s]",
                                 StillFrameScriptDataItem::kTypeName, item->name.c_str(), stillFrameEventName(event),
                                 handler ? handler : "", current.c_str());
    if (!handler || !*handler)
        return engineLog().error("Can't set event %s::[%s].%s to [%s]", StillFrameScriptDataItem::kTypeName,
                                 item->name.c_str(), stillFrameEventName(event), handler ? handler : "NULL");
    current = handler;
    return true;
}

// ---- drawing ----

bool StillFrameData::queueQuad(const StillFrameQuad& quad) {
    if (batchLock_ && batchCount_ > 0) return false;
    for (std::size_t i = 0; i < batchCount_; ++i) {
        std::vector<StillFrameQuad>& batch = batches_[i];
        if (batch.empty()) {
            batch.push_back(quad);
            return true;
        }
        const StillFrameQuad& last = batch.back();
        if (!QuadBatch::canMerge(last.state, quad.state)) continue;
        if (last.key == quad.key || i + 1 == batchCount_) {
            batch.push_back(quad);
            return true;
        }
    }
    if (batchCount_ == batches_.size()) batches_.emplace_back();
    batches_[batchCount_].clear();
    batches_[batchCount_].push_back(quad);
    ++batchCount_;
    return true;
}

void StillFrameData::drawBatches(QuadBatch& batch) {
    batchLock_ = false;
    for (std::size_t i = 0; i < batchCount_; ++i) batch.drawList(batches_[i]);
    batchCount_ = 0;
}

void StillFrameData::render(std::int32_t pass) {
    if (items_.empty() || !gameCore.render) return;
    QuadBatch& batch = gameCore.render->quadBatch;
    for (std::uint32_t bit : {QuadBatch::FlagSolid, QuadBatch::FlagSecondDraw, QuadBatch::FlagLit,
                              QuadBatch::FlagDepthAlways})
        if (batch.flags & bit) {
            batch.flush();
            batch.flags &= ~bit;
        }
    const double now = CurrentTime(-1.0).real.time;
    // The post effects need the programs; blur copies are drawn while the
    // frame is post-processed.
    const bool fixedPipeline = gameCore.render->shaders().fixedPipeline();
    const bool postProcessing = !fixedPipeline && gameCore.render->postProcessing != 0;
    const std::uint32_t passBit = pass ? SourcePostPass : 0u;
    for (std::int32_t current = kFirstLayer;;) {
        std::int32_t next = StillFrameScriptDataItem::kNoLayer;
        for (const auto& item : items_) {
            if (!item->visible() || (item->image.source.flags & SourcePostPass) != passBit) continue;
            next = std::min(next, item->draw(current, *this, now, postProcessing, fixedPipeline));
        }
        if (next == StillFrameScriptDataItem::kNoLayer || next < kFirstLayer) break;
        current = next;
    }
    lockBatches();
    drawBatches(batch);
}

// ---- device life ----

bool StillFrameData::createVertexBuffer(IDirect3DDevice9* device) {
    if (vertexBufferReady_) return true;
    if (!device) return false;
    releaseQuadBuffer();
    if (FAILED(device->CreateVertexBuffer(sizeof kUnitQuad, D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &quadBuffer_, nullptr))) {
        quadBuffer_ = nullptr;
        return engineLog().error("Cannot create stillframe vertex buffer");
    }
    void* data = nullptr;
    if (FAILED(quadBuffer_->Lock(0, sizeof kUnitQuad, &data, 0))) {
        releaseQuadBuffer();
        return engineLog().error("Cannot create stillframe vertex buffer");
    }
    std::memcpy(data, kUnitQuad, sizeof kUnitQuad);
    quadBuffer_->Unlock();
    quadBuffer_->SetDebugName("stillframe vertex buffer");
    quadDevice_ = device;
    vertexBufferReady_ = true;
    return true;
}

void StillFrameData::releaseQuadBuffer() {
    if (quadBuffer_) {
        if (gameCore.render) gameCore.render->stateCache().forgetStream(quadBuffer_);
        quadBuffer_->Release();
    }
    quadBuffer_ = nullptr;
    quadDevice_ = nullptr;
    vertexBufferReady_ = false;
}

void StillFrameData::releaseMedia() {
    for (const auto& item : items_) {
        item->image.source.link.release(false);
        item->mask.source.link.release(false);
        item->particle.mask.source.link.release(false);
    }
    releaseQuadBuffer();
}

bool StillFrameData::restoreMedia() {
    bool ok = true;
    for (const auto& item : items_) {
        if (!item->image.source.allocate(*item)) ok = false;
        if (!item->mask.source.allocate(*item)) ok = false;
        if (!item->particle.mask.source.allocate(*item)) ok = false;
    }
    return ok;
}

void StillFrameData::releaseAll() {
    for (const auto& item : items_) item->releaseAttachments();
    items_.clear();
    ++removals_;
    hovered_ = nullptr;
    batchCount_ = 0;
    batchLock_ = false;
}

bool StillFrameRenderer::createVertexBuffer() {
    IDirect3DDevice9* device = gameCore.video ? gameCore.video->device() : nullptr;
    return data.createVertexBuffer(device);
}

bool StillFrameRenderer::drawScreenQuad() {
    IDirect3DDevice9* device = data.quadDevice();
    if (!device || !data.vertexBufferReady()) return false;
    device->SetStreamSource(0, data.quadBuffer(), 0, 5 * sizeof(float));
    if (gameCore.render) gameCore.render->stateCache().forgetDrawBindings();
    return SUCCEEDED(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2));
}

StillFrameConsole::StillFrameConsole() {
    stillFrameSettings.conEnable = true;
    stillFrameSettings.conForceErrors = true;
}
