#include "model/DXStreams.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"

namespace {

const char* const kVertexLimitMessage = "Vertex stream has OUT of vertex buffer limit [%i] (fixed pipeline support)";

std::int32_t vertexProcessingMode() {
    return gameCore.video ? gameCore.video->videoDevice.vertexProcessing : VertexProcessingSoftware;
}

// False when the current video mode runs without shaders.
bool shaderSupport() { return !gameCore.video || gameCore.video->activeVideoSetup().details != VideoDetailsMinimum; }

DXStateCache* renderCache() { return gameCore.render ? &gameCore.render->stateCache() : nullptr; }

// Creates a buffer in pool; while creation fails, moves on to the managed
// pool (unless skipManaged) and then to the system-memory pool, logging each
// move. Answers the last result.
template <class Create>
HRESULT createInPools(D3DPOOL& pool, bool skipManaged, const char* managedMessage, const char* systemMessage,
                      Create create) {
    HRESULT hr = create(pool);
    if (SUCCEEDED(hr)) return hr;
    if (!skipManaged) {
        pool = D3DPOOL_MANAGED;
        engineLog().systemError("%s", managedMessage);
        hr = create(pool);
        if (SUCCEEDED(hr)) return hr;
    }
    pool = D3DPOOL_SYSTEMMEM;
    engineLog().systemError("%s", systemMessage);
    return create(pool);
}

void forgetInCache(IDirect3DVertexBuffer9* buffer, DXStateCache& cache) { cache.forgetStream(buffer); }
void forgetInCache(IDirect3DIndexBuffer9* buffer, DXStateCache& cache) { cache.forgetIndices(buffer); }

}  // namespace

bool streamsOnFixedPipeline() { return gameCore.video && gameCore.video->videoDevice.isFixedPipeline(); }

// ---- DXBufferStream ----

template <class Buffer>
DXBufferStream<Buffer>& DXBufferStream<Buffer>::operator=(DXBufferStream&& other) noexcept {
    if (this == &other) return *this;
    release();
    locked_ = std::exchange(other.locked_, false);
    pool_ = other.pool_;
    usage_ = other.usage_;
    buffer_ = std::exchange(other.buffer_, nullptr);
    size_ = std::exchange(other.size_, 0);
    return *this;
}

template <class Buffer>
bool DXBufferStream<Buffer>::release() {
    if (!buffer_) return false;
    unlock();
    if (DXStateCache* cache = renderCache()) forgetInCache(buffer_, *cache);
    buffer_->Release();
    buffer_ = nullptr;
    size_ = 0;
    return true;
}

template <class Buffer>
void* DXBufferStream<Buffer>::lockBuffer(DWORD flags) {
    if (!buffer_ || locked_) return nullptr;
    void* data = nullptr;
    locked_ = SUCCEEDED(buffer_->Lock(0, 0, &data, flags)) && data;
    return locked_ ? data : nullptr;
}

template <class Buffer>
bool DXBufferStream<Buffer>::unlock() {
    if (!buffer_ || !locked_) return false;
    locked_ = false;
    return SUCCEEDED(buffer_->Unlock());
}

template class DXBufferStream<IDirect3DVertexBuffer9>;
template class DXBufferStream<IDirect3DIndexBuffer9>;

// ---- DXVertexStream ----

bool DXVertexStream::allocate(IDirect3DDevice9* device, std::int32_t count, std::int32_t stride, std::int32_t format,
                              std::uint32_t flags) {
    if (count < 0 || count > kMaxStreamVertices) return engineLog().error(kVertexLimitMessage, kMaxStreamVertices);
    if (buffer_) {
        engineLog().systemError("Vertex stream already allocated. Re-allocate");
        release();
    }
    const std::int32_t mode = vertexProcessingMode();
    if (mode == VertexProcessingSoftware) {
        pool_ = D3DPOOL_SYSTEMMEM;
        usage_ = D3DUSAGE_DYNAMIC | D3DUSAGE_DONOTCLIP | D3DUSAGE_WRITEONLY;
    } else {
        usage_ = (flags & kStreamDynamic) ? D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY : D3DUSAGE_POINTS | D3DUSAGE_WRITEONLY;
        pool_ = mode == VertexProcessingPureFixed ? D3DPOOL_SYSTEMMEM : D3DPOOL_DEFAULT;
    }
    format_ = format;
    count_ = count;
    stride_ = stride;
    size_ = count * stride;
    HRESULT hr = D3DERR_INVALIDCALL;
    if (device)
        hr = createInPools(pool_, false, "Failed allocate vertex stream. move to MANAGED POOL",
                           "Failed allocate vertex stream. move to SYSMEM POOL", [&](D3DPOOL pool) {
                               return device->CreateVertexBuffer(UINT(size_), usage_, 0, pool, &buffer_, nullptr);
                           });
    if (SUCCEEDED(hr) && buffer_) return true;
    engineLog().systemError("Can't allocate vertex stream [%i bytes]: %s", size_,
                            device ? d3dErrorText(hr) : "no device");
    buffer_ = nullptr;
    size_ = 0;
    return false;
}

void* DXVertexStream::lock(DWORD flags) {
    if ((usage_ & D3DUSAGE_DYNAMIC) && !(flags & D3DLOCK_DISCARD)) flags |= D3DLOCK_NOOVERWRITE;
    return lockBuffer(flags);
}

bool DXVertexStream::update(const void* data, DWORD flags) {
    if (count_ > kMaxStreamVertices) return engineLog().error(kVertexLimitMessage, kMaxStreamVertices);
    if (!data && size_ > 0) return false;
    void* target = lock(flags);
    if (!target) return false;
    if (size_ > 0) std::memcpy(target, data, std::size_t(size_));
    unlock();
    return true;
}

bool DXVertexStream::setStreamSource() const {
    if (!buffer_) return engineLog().error(" DX Vertex stream not allocated");
    DXStateCache* cache = renderCache();
    if (!cache) return false;
    cache->setStream(buffer_, std::uint32_t(stride_));
    cache->setDeclaration(std::uint32_t(format_));
    return true;
}

// ---- DXIndexStream ----

bool DXIndexStream::allocate(IDirect3DDevice9* device, std::int32_t count) {
    if (buffer_) {
        engineLog().systemError("Can't allocate index buffer: deallocate first");
        release();
    }
    count_ = std::clamp(count, 0, std::numeric_limits<std::int32_t>::max() / 2);
    size_ = count_ * 2;
    pool_ = shaderSupport() ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    HRESULT hr = D3DERR_INVALIDCALL;
    if (device)
        hr = createInPools(pool_, pool_ == D3DPOOL_MANAGED, "Failed allocate index stream. move to MANAGED POOL",
                           "Failed allocate index stream. move to SYSMEM POOL", [&](D3DPOOL pool) {
                               return device->CreateIndexBuffer(UINT(size_), usage_, D3DFMT_INDEX16, pool, &buffer_,
                                                                nullptr);
                           });
    if (SUCCEEDED(hr) && buffer_) return true;
    engineLog().systemError("Can't allocate index stream [%i bytes]: %s", size_,
                            device ? d3dErrorText(hr) : "no device");
    buffer_ = nullptr;
    size_ = count_ = 0;
    return false;
}

bool DXIndexStream::writeIndices(const std::uint32_t* indices, DWORD flags) {
    if (!indices && count_ > 0) return false;
    auto* target = static_cast<std::uint16_t*>(lock(flags));
    if (!target) return false;
    for (std::int32_t i = 0; i < count_; ++i) target[i] = static_cast<std::uint16_t>(indices[i] & 0xFFFFu);
    unlock();
    return true;
}

bool DXIndexStream::setIndices() const {
    DXStateCache* cache = renderCache();
    if (!buffer_ || !cache) return false;
    cache->setIndices(buffer_);
    return true;
}

// ---- DXStreamDeclarations ----

DXStreamDeclarations::DXStreamDeclarations() { init(); }

DXStreamDeclarations::~DXStreamDeclarations() {
    release();
    if (cache_) cache_->setDeclarations(nullptr);
}

void DXStreamDeclarations::init() {
    for (Entry& entry : entries_) entry = Entry();
    for (IDirect3DVertexDeclaration9*& declaration : declarations_) declaration = nullptr;
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        const VertexFormatInfo* format = vertexFormat(code);
        entries_[code] = {format->elements, format->fallback};
    }
}

void DXStreamDeclarations::attach(DXStateCache* cache) {
    if (cache_ && cache_ != cache) cache_->setDeclarations(nullptr);
    cache_ = cache;
    if (cache_) cache_->setDeclarations(this);
}

bool DXStreamDeclarations::allocate(IDirect3DDevice9* device) {
    release();
    if (!device) return false;
    const bool fixed = streamsOnFixedPipeline();
    for (std::int32_t code = 0; code < kVertexFormatCount; ++code) {
        const std::int32_t used = fixed ? entries_[code].fallback : code;
        if (used < 0 || used >= kVertexFormatCount || !entries_[used].elements) continue;
        if (FAILED(device->CreateVertexDeclaration(entries_[used].elements, &declarations_[code]))) {
            declarations_[code] = nullptr;
            return engineLog().error("Failed to create vertex declaration [%i]", code);
        }
        declarations_[code]->SetDebugName(vertexFormat(code)->displayName);
    }
    return true;
}

bool DXStreamDeclarations::release() {
    // The cache must send a declaration made later for the same code.
    if (cache_) cache_->forgetDeclaration();
    for (IDirect3DVertexDeclaration9*& declaration : declarations_)
        if (declaration) {
            declaration->Release();
            declaration = nullptr;
        }
    return true;
}

IDirect3DVertexDeclaration9* DXStreamDeclarations::declaration(std::uint32_t code) {
    return code < std::uint32_t(kVertexFormatCount) ? declarations_[code] : nullptr;
}

const char* DXStreamDeclarations::declarationName(std::uint32_t code) {
    const VertexFormatInfo* format = vertexFormat(std::int32_t(code));
    return format ? format->displayName : "";
}

std::int32_t DXStreamDeclarations::fallback(std::int32_t code) const {
    if (code < 0 || code >= kVertexFormatCount) return kNoVertexFormat;
    return entries_[code].fallback;
}
