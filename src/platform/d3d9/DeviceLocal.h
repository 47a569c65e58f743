// Inside our Direct3D 9: the objects behind the interfaces, the state a
// device keeps, and the backend hooks. Only the d3d9 sources and their
// backends include this header.
//
// The validating core owns every object and its memory image: a texture
// level, a surface or a buffer has its bytes in memory, so a backend only
// mirrors them (createResource, uploaded after an unlock, readBack before
// the core reads what the backend may have drawn). The swap chain's buffers
// get theirs (zero-filled) when first needed (SurfaceImpl::image): a GL
// device draws them in GL and reads them back only on demand.
#pragma once

#include "platform/d3d9/AdapterProfile.h"
#include "platform/d3d9/D3D9.h"
#include "platform/d3d9/ShaderBody.h"
#include "platform/ZeroedMemory.h"

#include <array>
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

namespace platform::d3d9 {

class DeviceCore;

// printf into a line of at most 1023 characters.
std::string formatLine(const char* format, va_list args);

// Reference counting of objects no device tracks (the Direct3D object, the
// D3DX helpers).
template <class Interface>
class Counted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        if (refs_ == 0) return 0;
        if (--refs_ > 0) return refs_;
        delete this;
        return 0;
    }
    void SetDebugName(const char* text) override { name_ = text ? text : ""; }
    const char* GetDebugName() const override { return name_.c_str(); }

protected:
    ULONG refs_ = 1;
    std::string name_;
};

// What the Direct3D object, its devices and all their objects share.
struct Context {
    Environment environment;
    std::shared_ptr<const AdapterProfile> profile;

    void message(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Adds a line to the call log when there is one.
    void call(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool logsCalls() const { return environment.callLog != nullptr; }
    HRESULT nextCreation() { return environment.faults ? environment.faults->nextCreation() : S_OK; }
    HRESULT nextTargetBegin() { return environment.faults ? environment.faults->nextTargetBegin() : S_OK; }
    bool chosenAnswer(FormatCheck kind, D3DFORMAT format, HRESULT& result) const {
        return environment.faults && environment.faults->chosenAnswer(kind, format, result);
    }
};

// Backend-side data of an object (GL names ...), owned by the object.
struct BackendResource {
    virtual ~BackendResource() = default;
};

// The part of every object the core tracks: count, name, device.
class Tracked {
public:
    virtual ~Tracked() = default;
    virtual const char* kindName() const = 0;

    ULONG refs = 1;
    std::string name;
    DeviceCore* device = nullptr;  // null once the device has gone
    std::shared_ptr<Context> context;
    std::unique_ptr<BackendResource> backend;
};

template <class Interface>
class Object : public Interface, public Tracked {
public:
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override;
    void SetDebugName(const char* text) override { name = text ? text : ""; }
    const char* GetDebugName() const override { return name.c_str(); }
};

class TextureCore;

class SurfaceImpl final : public Object<IDirect3DSurface9> {
public:
    const char* kindName() const override { return "surface"; }
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    // The name used in lines: the container's for a level.
    std::string label() const;
    bool lockable() const;
    // The memory image, made zero-filled on first use where it was left
    // out (the swap chain's buffers). Everything that reads or writes a
    // surface's bytes goes through it.
    ZeroedBytes& image();

    D3DSURFACE_DESC desc{};
    UINT pitch = 0;
    ZeroedBytes bytes;  // empty until image() where left out
    bool locked = false;
    DWORD lockFlags = 0;
    TextureCore* container = nullptr;  // a texture level; its counts are the container's
    Tracked* containerObject = nullptr;
    UINT level = 0;
    UINT face = 0;
};

// What 2D and cube textures share: their levels (faces x levels surfaces).
class TextureCore {
public:
    virtual ~TextureCore() = default;
    virtual Tracked& tracked() = 0;
    virtual IDirect3DBaseTexture9* base() = 0;

    SurfaceImpl* surface(UINT face, UINT level) {
        return face < faces && level < levels ? surfaces[face * levels + level].get() : nullptr;
    }
    HRESULT lockLevel(const char* call, UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags);
    HRESULT unlockLevel(const char* call, UINT face, UINT level);
    HRESULT levelDesc(UINT level, D3DSURFACE_DESC* desc);

    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    UINT width = 0, height = 0, levels = 0, faces = 1;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    std::vector<std::unique_ptr<SurfaceImpl>> surfaces;
};

class TextureImpl final : public Object<IDirect3DTexture9>, public TextureCore {
public:
    const char* kindName() const override { return "texture"; }
    Tracked& tracked() override { return *this; }
    IDirect3DBaseTexture9* base() override { return this; }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return levels; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return levelDesc(level, desc); }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        return lockLevel("LockRect", 0, level, locked, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override { return unlockLevel("UnlockRect", 0, level); }
};

class CubeTextureImpl final : public Object<IDirect3DCubeTexture9>, public TextureCore {
public:
    const char* kindName() const override { return "cube texture"; }
    Tracked& tracked() override { return *this; }
    IDirect3DBaseTexture9* base() override { return this; }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD GetLevelCount() override { return levels; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override { return levelDesc(level, desc); }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                     DWORD flags) override {
        return lockLevel("LockRect", face, level, locked, rect, flags);
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) override {
        return unlockLevel("UnlockRect", face, level);
    }
};

// Vertex and index buffers.
class BufferCore {
public:
    HRESULT lock(Tracked& self, UINT offset, UINT size, void** data, DWORD flags);
    HRESULT unlock(Tracked& self);

    DWORD usage = 0;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    D3DFORMAT format = D3DFMT_VERTEXDATA;
    // Zeroed pages: what no lock writes (most of a large dynamic buffer)
    // costs nothing.
    ZeroedBytes bytes;
    bool locked = false;
    DWORD lockFlags = 0;
    UINT lockOffset = 0, lockSize = 0;
};

class VertexBufferImpl final : public Object<IDirect3DVertexBuffer9>, public BufferCore {
public:
    const char* kindName() const override { return "vertex buffer"; }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return lock(*this, offset, size, data, flags);
    }
    HRESULT Unlock() override { return unlock(*this); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;
};

class IndexBufferImpl final : public Object<IDirect3DIndexBuffer9>, public BufferCore {
public:
    const char* kindName() const override { return "index buffer"; }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        return lock(*this, offset, size, data, flags);
    }
    HRESULT Unlock() override { return unlock(*this); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;
    UINT indexSize() const { return format == D3DFMT_INDEX32 ? 4 : 2; }
};

class DeclarationImpl final : public Object<IDirect3DVertexDeclaration9> {
public:
    const char* kindName() const override { return "vertex declaration"; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    std::vector<D3DVERTEXELEMENT9> elements;  // without the end mark
    UINT vertexSize = 0;                      // bytes of stream 0 that a vertex uses
};

template <class Interface>
class ShaderImpl final : public Object<Interface> {
public:
    const char* kindName() const override { return body.kind == 0 ? "vertex shader" : "pixel shader"; }
    HRESULT GetFunction(void* data, UINT* size) override;

    std::vector<std::uint8_t> code;
    ShaderBody body;
};
using VertexShaderImpl = ShaderImpl<IDirect3DVertexShader9>;
using PixelShaderImpl = ShaderImpl<IDirect3DPixelShader9>;

constexpr UINT kMaxTextureStages = 16;
constexpr UINT kMaxFixedStages = 8;
constexpr UINT kMaxLights = 8;
constexpr UINT kMaxClipPlanes = 6;
constexpr UINT kVertexFloatConstants = 256;
constexpr UINT kPixelFloatConstants = 32;
constexpr UINT kIntConstants = 16;
constexpr UINT kBoolConstants = 16;
// Transform slots: view, projection, texture 0 to 7, world.
constexpr UINT kTransformSlots = 11;

// Everything a draw depends on, for the backend.
struct DeviceState {
    std::array<DWORD, kD3DRenderStateCount> renderStates{};
    std::array<std::array<DWORD, kD3DSamplerStateCount>, kMaxTextureStages> samplerStates{};
    std::array<std::array<DWORD, kD3DTextureStageStateCount>, kMaxFixedStages> stageStates{};
    std::array<D3DMATRIX, kTransformSlots> transforms{};
    std::array<D3DLIGHT9, kMaxLights> lights{};
    std::array<bool, kMaxLights> lightEnabled{};
    D3DMATERIAL9 material{};
    D3DVIEWPORT9 viewport{};
    RECT scissor{};
    std::array<std::array<float, 4>, kMaxClipPlanes> clipPlanes{};
    D3DGAMMARAMP gamma{};
    std::array<TextureCore*, kMaxTextureStages> textures{};
    DeclarationImpl* declaration = nullptr;
    VertexBufferImpl* stream = nullptr;
    UINT streamOffset = 0, streamStride = 0;
    IndexBufferImpl* indices = nullptr;
    VertexShaderImpl* vertexShader = nullptr;
    PixelShaderImpl* pixelShader = nullptr;
    std::array<std::array<float, 4>, kVertexFloatConstants> vertexFloats{};
    std::array<std::array<INT, 4>, kIntConstants> vertexInts{};
    std::array<BOOL, kBoolConstants> vertexBools{};
    std::array<std::array<float, 4>, kPixelFloatConstants> pixelFloats{};
    std::array<std::array<INT, 4>, kIntConstants> pixelInts{};
    std::array<BOOL, kBoolConstants> pixelBools{};
    SurfaceImpl* renderTarget = nullptr;
    SurfaceImpl* depthStencil = nullptr;
};

struct DrawCall {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    bool indexed = false;
    INT baseVertex = 0;
    UINT minVertex = 0, numVertices = 0;  // indexed: the vertex range; else start vertex and count
    UINT start = 0;                       // start vertex, or start index
    UINT primitives = 0;
};

// What executes behind the core. Calls come only after the core accepted them.
class Backend {
public:
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    // Called once before the swap chain is built: the backend opens what it
    // draws with. A failure fails CreateDevice.
    virtual HRESULT start(DeviceCore&) { return S_OK; }
    virtual HRESULT createResource(Tracked& object) = 0;
    virtual void destroyResource(Tracked& object) = 0;
    // The memory image of object changed (after an unlock, a D3DX load):
    // one level of a texture, or all of it when level is null; a buffer's
    // locked range (BufferCore::lockOffset, lockSize) or all of it.
    virtual void uploaded(Tracked& object, const SurfaceImpl* level) = 0;
    // The core is about to read the surface's memory image.
    virtual void readBack(SurfaceImpl& surface) = 0;
    virtual HRESULT clear(DeviceCore& device, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) = 0;
    virtual HRESULT stretchRect(SurfaceImpl& source, const RECT& sourceRect, SurfaceImpl& dest, const RECT& destRect,
                                D3DTEXTUREFILTERTYPE filter) = 0;
    virtual HRESULT draw(DeviceCore& device, const DrawCall& call) = 0;
    virtual HRESULT present(DeviceCore& device) = 0;
    // Records the GL work up to the next present into record (null: stop);
    // false for a backend without GL.
    virtual bool record(GLFrameRecord*) { return false; }
};

std::unique_ptr<Backend> createNullBackend();
// window: the device window (null: none, draw offscreen).
std::unique_ptr<Backend> createGLBackend(HWND window);
// The backend of a kind.
std::unique_ptr<Backend> createBackend(BackendKind kind, HWND window);

class Direct3D9Impl;

class DeviceCore final : public IDirect3DDevice9 {
public:
    DeviceCore(std::shared_ptr<Context> context, Direct3D9Impl* direct3d, UINT adapter, D3DDEVTYPE type,
               HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters);
    ~DeviceCore() override;
    // Builds the swap chain and the automatic depth buffer.
    HRESULT initialize();

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    void SetDebugName(const char* text) override { name_ = text ? text : ""; }
    const char* GetDebugName() const override { return name_.c_str(); }

    HRESULT TestCooperativeLevel() override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) override;
    void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) override;
    HRESULT SetClipPlane(DWORD index, const float* plane) override;
    BOOL ShowCursor(BOOL show) override;
    HRESULT GetDirect3D(IDirect3D9** direct3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;

    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                    IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;

    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT SetVertexShaderConstantI(UINT start, const INT* data, UINT count) override;
    HRESULT SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT SetPixelShaderConstantI(UINT start, const INT* data, UINT count) override;
    HRESULT SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) override;
    HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) override;
    HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) override;

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** texture, HANDLE* shared) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* shared) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD quality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* shared) override;

    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;

    // Core services for the objects, the D3DX layer and the backends.
    HRESULT refuse(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void track(Tracked& object, const char* defaultKind);
    // An object leaves: unbound everywhere, its mirror dropped.
    void forget(Tracked& object);
    bool owns(const Tracked* object) const { return object && object->device == this; }
    Backend& backend() { return *backend_; }
    const DeviceState& state() const { return state_; }
    const AdapterDescription& adapter() const { return *adapter_; }
    const D3DPRESENT_PARAMETERS& parameters() const { return parameters_; }
    const std::shared_ptr<Context>& context() const { return context_; }
    DeviceStatistics& stats() { return stats_; }
    const SurfaceImpl* backBuffer() const { return backBuffers_.empty() ? nullptr : backBuffers_[0]; }
    bool inScene() const { return inScene_; }
    void lose(int lostChecks) {
        lost_ = true;
        lostChecks_ = lostChecks;
    }
    // Checks a texture format, usage and pool against the profile; the
    // refusal line names call.
    HRESULT checkTextureFormat(const char* call, D3DFORMAT format, DWORD usage, D3DPOOL pool);

private:
    HRESULT createTextureCore(const char* call, TextureCore& texture, Tracked& object, UINT width, UINT height,
                              UINT levels, UINT faces, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    HRESULT validateDraw(const char* call, const DrawCall& draw);
    HRESULT setConstants(const char* call, UINT limit, UINT start, UINT count, const void* data, void* target,
                         std::size_t registerBytes);
    HRESULT buildSwapChain();
    void releaseSwapChain();
    SurfaceImpl* surfaceOf(IDirect3DSurface9* surface, const char* call);

    std::shared_ptr<Context> context_;
    Direct3D9Impl* direct3d_;
    UINT adapterIndex_;
    const AdapterDescription* adapter_;
    D3DDEVTYPE type_;
    DWORD behavior_;
    D3DPRESENT_PARAMETERS parameters_;
    std::unique_ptr<Backend> backend_;
    ULONG refs_ = 1;
    std::string name_ = "device";
    std::vector<Tracked*> objects_;
    std::vector<SurfaceImpl*> backBuffers_;
    SurfaceImpl* autoDepth_ = nullptr;
    DeviceState state_;
    DeviceStatistics stats_;
    bool inScene_ = false;
    bool lost_ = false;
    int lostChecks_ = 0;
    bool cursorShown_ = true;
    UINT serial_ = 0;
};

class Direct3D9Impl final : public Counted<IDirect3D9> {
public:
    explicit Direct3D9Impl(std::shared_ptr<Context> context) : context_(std::move(context)) { name_ = "direct3d"; }

    UINT GetAdapterCount() override;
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override;

    const AdapterDescription* adapter(UINT index) const {
        return index < context_->profile->adapters.size() ? &context_->profile->adapters[index] : nullptr;
    }

private:
    HRESULT refuse(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The adapter and device type of a question, or the failure to answer.
    HRESULT lookup(const char* call, UINT adapter, D3DDEVTYPE type, const AdapterDescription*& description);

    std::shared_ptr<Context> context_;
};

// The D3DX layer's way into the objects.
DeviceCore* deviceOf(IDirect3DDevice9* device);
TextureCore* textureOf(IDirect3DBaseTexture9* texture);
SurfaceImpl* surfaceOf(IDirect3DSurface9* surface);

template <class Interface>
ULONG Object<Interface>::Release() {
    if (refs == 0) {
        if (context) context->message("Release of [%s]: no reference left", name.c_str());
        return 0;
    }
    if (--refs > 0) return refs;
    if (device) device->forget(*this);
    delete this;
    return 0;
}

}  // namespace platform::d3d9
