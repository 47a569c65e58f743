// Our Direct3D 9: the interfaces under their Direct3D names, holding only the
// calls the renderer makes, and the environment that chooses what stands
// behind them.
//
// Every object is reference counted (AddRef/Release); the device keeps a
// registry of the objects it created and reports the ones still alive, by
// debug name, when it goes. Every call is validated by a core shared by all
// backends: a refused call answers D3DERR_INVALIDCALL and writes one line
// saying why to the message sink of the environment (never to the engine's
// log). Behind the core a backend mirrors the resources and executes the
// draws: the null backend keeps every resource's contents in memory and
// counts draws without rasterising them; the GL backend mirrors them into
// OpenGL 4.5 (compatibility profile) and draws, headless through EGL
// without a surface, or into the SDL window given as the device window.
//
// Differences from Direct3D kept on purpose: resources hold no reference to
// their device (so releasing the device reports what is still alive), and
// state slots hold no reference to what is bound in them (an object that
// goes is unbound everywhere).
#pragma once

#include "platform/d3d9/D3D9Types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IDirect3DDevice9;

class IUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // Ours: the name used in leak reports and refusal lines.
    virtual void SetDebugName(const char* name) = 0;
    virtual const char* GetDebugName() const = 0;

protected:
    virtual ~IUnknown() = default;
};

class IDirect3DResource9 : public IUnknown {
public:
    // The creating device, AddRef'ed; D3DERR_INVALIDCALL once it is gone.
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual D3DRESOURCETYPE GetType() = 0;
};

class IDirect3DSurface9 : public IDirect3DResource9 {
public:
    virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
};

class IDirect3DBaseTexture9 : public IDirect3DResource9 {
public:
    virtual DWORD GetLevelCount() = 0;
};

class IDirect3DTexture9 : public IDirect3DBaseTexture9 {
public:
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
};

class IDirect3DCubeTexture9 : public IDirect3DBaseTexture9 {
public:
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                             DWORD flags) = 0;
    virtual HRESULT UnlockRect(D3DCUBEMAP_FACES face, UINT level) = 0;
};

class IDirect3DVertexBuffer9 : public IDirect3DResource9 {
public:
    // size 0 locks from offset to the end.
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

class IDirect3DIndexBuffer9 : public IDirect3DResource9 {
public:
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

class IDirect3DVertexDeclaration9 : public IUnknown {
public:
    // elements null: count receives the number of elements with the end mark.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

class IDirect3DVertexShader9 : public IUnknown {
public:
    // data null: size receives the body's byte size.
    virtual HRESULT GetFunction(void* data, UINT* size) = 0;
};

class IDirect3DPixelShader9 : public IUnknown {
public:
    virtual HRESULT GetFunction(void* data, UINT* size) = 0;
};

class IDirect3D9 : public IUnknown {
public:
    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) = 0;
    virtual UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
    virtual HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* displayMode) = 0;
    virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                                    BOOL windowed) = 0;
    virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
    virtual HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                               D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) = 0;
    virtual HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                           D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                 D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) = 0;
};

class IDirect3DDevice9 : public IUnknown {
public:
    // Frame.
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Clear(DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
    virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindow, const void* dirtyRegion) = 0;
    virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;
    // The rectangle D3DRS_SCISSORTESTENABLE limits draws and clears to, in
    // the render target's pixels; setting a render target resets it to the
    // whole target.
    virtual HRESULT SetScissorRect(const RECT* rect) = 0;
    virtual HRESULT GetScissorRect(RECT* rect) = 0;
    virtual void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) = 0;
    virtual void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) = 0;
    virtual HRESULT SetClipPlane(DWORD index, const float* plane) = 0;
    virtual BOOL ShowCursor(BOOL show) = 0;
    virtual HRESULT GetDirect3D(IDirect3D9** direct3d) = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
    virtual HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;

    // Fixed-function and pipeline state.
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    virtual HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) = 0;

    // Geometry.
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                            IDirect3DVertexDeclaration9** declaration) = 0;
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
    virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                         UINT numVertices, UINT startIndex, UINT primitiveCount) = 0;

    // Shaders: bodies in our own format (platform/d3d9/ShaderBody.h).
    virtual HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) = 0;
    virtual HRESULT SetVertexShaderConstantI(UINT start, const INT* data, UINT count) = 0;
    virtual HRESULT SetVertexShaderConstantB(UINT start, const BOOL* data, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantI(UINT start, const INT* data, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantB(UINT start, const BOOL* data, UINT count) = 0;
    virtual HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) = 0;
    virtual HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) = 0;

    // Resources. shared must be null.
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, HANDLE* shared) = 0;
    virtual HRESULT CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DCubeTexture9** texture, HANDLE* shared) = 0;
    virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, HANDLE* shared) = 0;
    virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, HANDLE* shared) = 0;
    virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD quality, BOOL discard,
                                              IDirect3DSurface9** surface, HANDLE* shared) = 0;

    // Targets and copies.
    virtual HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                                  IDirect3DSurface9** surface) = 0;
    virtual HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) = 0;
    virtual HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) = 0;
    virtual HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) = 0;
    virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) = 0;
    virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const RECT* destRect, D3DTEXTUREFILTERTYPE filter) = 0;
};

// The entry point. Answers null when the environment says Direct3D 9 is
// not present, or for another SDK version than D3D_SDK_VERSION.
IDirect3D9* Direct3DCreate9(UINT sdkVersion);

namespace platform::d3d9 {

struct AdapterProfile;

// Receives one line per refused call and per leaked object.
using MessageSink = std::function<void(const char* line)>;

// What a backend executes behind the core: the null one, or OpenGL. The GL
// backend renders into the device window when CreateDevice names one (the
// handle platform::Window::deviceWindow gives), otherwise into an offscreen
// framebuffer of a surfaceless EGL context.
enum class BackendKind { Null, GL };

// The format questions whose answers a test can choose.
enum class FormatCheck { DeviceType, DeviceFormat, DepthStencilMatch, MultiSample };

// Failures injected for tests. Creations are counted over every Create*
// call (devices and resources) made since the plan was installed.
struct FaultPlan {
    // The nth creation (1 = the next) answers result instead of creating.
    void failCreation(int nth, HRESULT result = D3DERR_OUTOFVIDEOMEMORY) { failures[creations + nth] = result; }
    // The format question of that kind about format (D3DFMT_UNKNOWN: any
    // format) answers result.
    void answer(FormatCheck kind, D3DFORMAT format, HRESULT result) { answers[{kind, format}] = result; }

    // The nth render-to-surface scene begin (1 = the next) answers result.
    void failTargetBegin(int nth, HRESULT result = D3DERR_OUTOFVIDEOMEMORY) {
        targetBeginFailures[targetBegins + nth] = result;
    }

    // Used by the core: the result of the next creation.
    HRESULT nextCreation() {
        const auto found = failures.find(++creations);
        return found == failures.end() ? S_OK : found->second;
    }
    // Used by the core: the result of the next render-to-surface begin.
    HRESULT nextTargetBegin() {
        const auto found = targetBeginFailures.find(++targetBegins);
        return found == targetBeginFailures.end() ? S_OK : found->second;
    }
    bool chosenAnswer(FormatCheck kind, D3DFORMAT format, HRESULT& result) const;

    int creations = 0;
    std::map<int, HRESULT> failures;
    int targetBegins = 0;
    std::map<int, HRESULT> targetBeginFailures;
    std::map<std::pair<FormatCheck, D3DFORMAT>, HRESULT> answers;
};

// Calls made through the interfaces, one line each ("SetRenderState(27, 1)").
struct CallLog {
    std::vector<std::string> lines;
};

struct Environment {
    bool present = true;                             // false: Direct3DCreate9 answers null
    BackendKind backend = BackendKind::Null;
    std::shared_ptr<const AdapterProfile> profile;  // null: from the display and the backend
    MessageSink sink;                                // null: lines are dropped
    std::shared_ptr<FaultPlan> faults;               // null: no injected faults
    std::shared_ptr<CallLog> callLog;                // null: no call log (the default)
};

// What the host's OpenGL is: GL_VENDOR, GL_RENDERER and GL_VERSION of a
// context of the process's surfaceless display (whose driver then stays
// loaded), asked once per process on a thread of its own; that context is
// kept for the first surfaceless device to draw with. available is false
// where no GL context opens. software: the renderer is one of Mesa's CPU
// rasterisers (isSoftwareRenderer).
struct GLStack {
    bool available = false;
    bool software = false;
    std::string vendor, renderer, version;
};
const GLStack& hostGLStack();
// True for the GL_RENDERER of a rasteriser that draws on the CPU ("llvmpipe
// (LLVM 15.0.7, 256 bits)", "softpipe", "swrast", "Software Rasterizer").
bool isSoftwareRenderer(std::string_view renderer);
// The description of our Direct3D adapter on a backend over a GL stack:
// on a software rasteriser it names the renderer after "Software rasteriser
// 1000", so that the card class read from it is a limited one.
std::string adapterDescription(BackendKind kind, const GLStack& gl);

// The environment that Direct3DCreate9 builds its objects in. Objects keep
// the environment they were created in.
void setEnvironment(Environment environment);
const Environment& environment();

// Makes device lost: TestCooperativeLevel answers D3DERR_DEVICELOST for
// lostChecks checks, then D3DERR_DEVICENOTRESET until Reset succeeds.
// Present answers D3DERR_DEVICELOST meanwhile.
void loseDevice(IDirect3DDevice9* device, int lostChecks);

struct DeviceStatistics {
    std::uint64_t draws = 0;       // accepted draw calls
    std::uint64_t primitives = 0;  // their primitives
    std::uint64_t clears = 0;
    std::uint64_t scissoredDraws = 0;  // accepted draws with the scissor test on
    std::uint64_t presents = 0;
    std::uint64_t repeatedFrames = 0;  // presents of a frame that repeated the picture shown, not drawn again
    std::uint64_t refused = 0;     // calls answered D3DERR_INVALIDCALL by the core
};
// Null for an object that is no device of ours.
const DeviceStatistics* statistics(IDirect3DDevice9* device);

// Records the device's GL work from now up to its next present into record
// (GLFrameRecord.h), which must outlive it; the present ends the recording.
// False for a device that does not draw with GL.
struct GLFrameRecord;
bool recordGLFrame(IDirect3DDevice9* device, GLFrameRecord* record);

// Copies a surface's current contents (what the backend has drawn, for
// render targets and the back buffer) into bytes, rows packed by the
// format's pitch. False for a surface of no device of ours.
bool readSurface(IDirect3DSurface9* surface, std::vector<std::uint8_t>& bytes, D3DSURFACE_DESC& desc);

// "D3DFMT_A8R8G8B8" ..., "Unknown Format" for others.
const char* formatName(D3DFORMAT format);

// The GLSL text of a shader body's source id, for the GL backend; a source
// registered again replaces the earlier one. A body is compiled when the
// shader is created: "#version 450 compatibility", the body's defines, then
// a prelude, then the text (which defines main).
// The vertex prelude declares the inputs at fixed locations (d3d_Position,
// d3d_BlendWeight, d3d_BlendIndices, d3d_Normal, d3d_Color0, d3d_Color1,
// d3d_TexCoord0 ... d3d_TexCoord7, d3d_Tangent, d3d_Binormal), the
// constants (vec4 vc[256], ivec4 vi[16], bool vb[16]) and the outputs
// d3d_Diffuse, d3d_Specular, d3d_Texture[8] and d3d_Fog; main writes
// gl_Position as Direct3D's clip position (the backend moves it to GL's
// pixel centres afterwards).
// The pixel prelude declares the same values as inputs, the constants
// (vec4 pc[32], ivec4 pi[16], bool pb[16]) and the output d3d_FragColor;
// samplers are declared by the text with layout(binding = stage). Alpha
// test and fog follow main as the render states say.
void registerShaderSource(std::int32_t sourceId, std::string glsl);
// Null when the id has no text.
const std::string* shaderSource(std::int32_t sourceId);

}  // namespace platform::d3d9
