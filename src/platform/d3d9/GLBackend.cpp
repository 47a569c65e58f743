// The GL backend: every resource mirrored into OpenGL 4.5 (compatibility
// profile), draws executed with programs generated from the fixed-function
// state or compiled from our shader sources.
//
// Direct3D's conventions hold on GL through clip control (upper-left origin,
// depth 0 to 1): row 0 of every GL image is Direct3D's top row, so textures,
// render targets, viewports, scissors and read-backs need no flipping; only
// the blit into a window's default framebuffer turns the picture over.
// Front faces are clockwise; pixel centres move by half a pixel in the
// vertex programs.
//
// Memory images stay the truth of the core: an unlock uploads the changed
// level or range, and a surface the GPU drew into is read back into its
// image only when the core asks (lock, readSurface).
//
// A frame that repeats the one before it is not drawn again: the backend
// keeps each frame's commands (states, clears, copies, buffer uploads with
// their bytes), holds the next frame's commands back while they match the
// kept ones, and at Present draws nothing when the whole frame matched and
// drawing it again would leave the targets as they are (see repeatable()).
// Anything else (a command that differs, a read-back of a surface they
// draw into, a texture upload, an object destroyed) draws the held commands
// first and goes on as usual.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/FixedFunction.h"
#include "platform/d3d9/GLContext.h"
#include "platform/d3d9/GLFrameRecord.h"
#include "platform/d3d9/PixelFormat.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::d3d9 {

namespace {

std::mutex g_sourcesLock;
std::map<std::int32_t, std::string>& sources() {
    static std::map<std::int32_t, std::string> registry;
    return registry;
}

// How a Direct3D texel format lives in GL.
struct GLFormat {
    GLenum internal = 0, format = 0, type = 0;
    bool compressed = false;
    bool decode = false;  // uploaded as RGBA8 decoded by PixelFormat
    GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
};

GLFormat glFormat(D3DFORMAT format) {
    GLFormat f;
    auto set = [&](GLenum internal, GLenum layout, GLenum type) {
        f.internal = internal;
        f.format = layout;
        f.type = type;
    };
    auto swizzle = [&](GLint r, GLint g, GLint b, GLint a) {
        f.swizzle[0] = r;
        f.swizzle[1] = g;
        f.swizzle[2] = b;
        f.swizzle[3] = a;
    };
    switch (format) {
        case D3DFMT_A8R8G8B8: set(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE); break;
        case D3DFMT_X8R8G8B8:
            set(GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE);
            swizzle(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
            break;
        case D3DFMT_R8G8B8: set(GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE); break;
        case D3DFMT_R5G6B5: set(GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5); break;
        case D3DFMT_A1R5G5B5: set(GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV); break;
        case D3DFMT_X1R5G5B5:
            set(GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV);
            swizzle(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
            break;
        case D3DFMT_A4R4G4B4: set(GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV); break;
        case D3DFMT_X4R4G4B4:
            set(GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV);
            swizzle(GL_RED, GL_GREEN, GL_BLUE, GL_ONE);
            break;
        case D3DFMT_L8:
            set(GL_R8, GL_RED, GL_UNSIGNED_BYTE);
            swizzle(GL_RED, GL_RED, GL_RED, GL_ONE);
            break;
        case D3DFMT_A8:
            set(GL_R8, GL_RED, GL_UNSIGNED_BYTE);
            swizzle(GL_ZERO, GL_ZERO, GL_ZERO, GL_RED);
            break;
        case D3DFMT_DXT1: f.internal = GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, f.compressed = true; break;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3: f.internal = GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, f.compressed = true; break;
        case D3DFMT_DXT4:
        case D3DFMT_DXT5: f.internal = GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, f.compressed = true; break;
        case D3DFMT_D16: f.internal = GL_DEPTH_COMPONENT16; break;
        case D3DFMT_D32: f.internal = GL_DEPTH_COMPONENT32; break;
        case D3DFMT_D24X8: f.internal = GL_DEPTH_COMPONENT24; break;
        case D3DFMT_D24S8:
        case D3DFMT_D24X4S4:
        case D3DFMT_D15S1: f.internal = GL_DEPTH24_STENCIL8; break;
        default:
            set(GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE);
            f.decode = true;
            break;
    }
    return f;
}

bool hasStencil(D3DFORMAT format) {
    return format == D3DFMT_D24S8 || format == D3DFMT_D24X4S4 || format == D3DFMT_D15S1;
}

GLenum compare(DWORD func) {
    static const GLenum table[] = {GL_ALWAYS, GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL, GL_GREATER, GL_NOTEQUAL,
                                   GL_GEQUAL, GL_ALWAYS};
    return func < 9 ? table[func] : GL_ALWAYS;
}

GLenum blendFactor(DWORD blend) {
    switch (blend) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
        case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
        default: return GL_ONE;
    }
}

// A blend factor of the alpha channel applied to an alpha-only target's
// red channel: its destination alpha is the red GL stores, and a source
// colour there is the source alpha (the program moved it into red).
GLenum alphaOnRed(DWORD blend) {
    switch (blend) {
        case D3DBLEND_DESTALPHA: return GL_DST_COLOR;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_ONE;  // min(As, 1 - Ad) is not applied to alpha
        default: return blendFactor(blend);
    }
}

GLenum blendOperation(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN: return GL_MIN;
        case D3DBLENDOP_MAX: return GL_MAX;
        default: return GL_FUNC_ADD;
    }
}

GLenum stencilOperation(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
        default: return GL_KEEP;
    }
}

GLenum addressMode(DWORD mode) {
    switch (mode) {
        case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        case D3DTADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
        default: return GL_REPEAT;
    }
}

GLenum primitiveMode(D3DPRIMITIVETYPE type) {
    switch (type) {
        case D3DPT_POINTLIST: return GL_POINTS;
        case D3DPT_LINELIST: return GL_LINES;
        case D3DPT_LINESTRIP: return GL_LINE_STRIP;
        case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
        case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
        default: return GL_TRIANGLES;
    }
}

GLsizei vertexCount(D3DPRIMITIVETYPE type, UINT primitives) {
    switch (type) {
        case D3DPT_POINTLIST: return GLsizei(primitives);
        case D3DPT_LINELIST: return GLsizei(primitives * 2);
        case D3DPT_LINESTRIP: return GLsizei(primitives + 1);
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN: return GLsizei(primitives + 2);
        default: return GLsizei(primitives * 3);
    }
}

// size, type, normalised of a declaration type (size GL_BGRA for D3DCOLOR).
bool attributeFormat(BYTE type, GLint& size, GLenum& glType, GLboolean& normalized) {
    normalized = GL_FALSE;
    switch (type) {
        case D3DDECLTYPE_FLOAT1: size = 1, glType = GL_FLOAT; return true;
        case D3DDECLTYPE_FLOAT2: size = 2, glType = GL_FLOAT; return true;
        case D3DDECLTYPE_FLOAT3: size = 3, glType = GL_FLOAT; return true;
        case D3DDECLTYPE_FLOAT4: size = 4, glType = GL_FLOAT; return true;
        case D3DDECLTYPE_D3DCOLOR: size = GL_BGRA, glType = GL_UNSIGNED_BYTE, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_UBYTE4: size = 4, glType = GL_UNSIGNED_BYTE; return true;
        case D3DDECLTYPE_UBYTE4N: size = 4, glType = GL_UNSIGNED_BYTE, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_SHORT2: size = 2, glType = GL_SHORT; return true;
        case D3DDECLTYPE_SHORT4: size = 4, glType = GL_SHORT; return true;
        case D3DDECLTYPE_SHORT2N: size = 2, glType = GL_SHORT, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_SHORT4N: size = 4, glType = GL_SHORT, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_USHORT2N: size = 2, glType = GL_UNSIGNED_SHORT, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_USHORT4N: size = 4, glType = GL_UNSIGNED_SHORT, normalized = GL_TRUE; return true;
        case D3DDECLTYPE_FLOAT16_2: size = 2, glType = GL_HALF_FLOAT; return true;
        case D3DDECLTYPE_FLOAT16_4: size = 4, glType = GL_HALF_FLOAT; return true;
        default: return false;
    }
}

struct GLTexture final : BackendResource {
    GLuint name = 0;
    GLFormat format;
    std::vector<bool> gpuNewer;  // per level surface: drawn into since the last read-back
};

struct GLSurface final : BackendResource {
    GLuint renderbuffer = 0;
    bool gpuNewer = false;
    // The renderbuffer's storage is given when a framebuffer first takes
    // it: a software rasteriser allocates and clears the whole image at
    // once, and a swap chain's second back buffer may never be drawn.
    bool stored = false;
};

// A dynamic buffer's GL store holds several windows side by side: a discard
// moves the buffer's window (base) past what the draws since the last
// discard may still read, instead of giving the buffer a new store, and only
// when the store has no room for another window is it orphaned. A software
// rasteriser allocates and clears a whole new store at each orphaning, which
// a batch that discards for every run paid many times a frame. The store
// starts small and grows (doubling, up to kDynamicCopies copies of the whole
// buffer) when a lock reaches past it: a batch sized for the worst case that
// only ever fills a little of it costs the little.
struct GLBuffer final : BackendResource {
    GLuint name = 0;
    std::size_t base = 0;      // where the Direct3D buffer's byte 0 lies in the store
    std::size_t written = 0;   // bytes past base written since the last discard
    std::size_t widest = 0;    // the most bytes any window has taken
    std::size_t capacity = 0;  // the store's size
    std::size_t size = 0;      // the Direct3D buffer's size
};

// Copies of a dynamic buffer its GL store holds at most (see GLBuffer).
constexpr std::size_t kDynamicCopies = 2;
// A dynamic buffer's first store, at most.
constexpr std::size_t kDynamicStoreStart = 64 * 1024;
// Alignment of a moved window: keeps index and vertex offsets aligned.
constexpr std::size_t kWindowAlignment = 256;

struct GLDeclaration final : BackendResource {
    GLuint vertexArray = 0;
};

struct GLShader final : BackendResource {
    GLuint shader = 0;
};

struct Program {
    GLuint name = 0;
    GLint vertexInts = -1, vertexBools = -1, pixelInts = -1, pixelBools = -1;
    bool linked = false;
};

// One command of a frame as the backend received it, kept for comparison
// with the next frame and for drawing it later.
struct FrameCommand {
    enum Kind : std::uint8_t { Draw, Clear, Stretch, Upload };
    Kind kind = Draw;
    HRESULT result = S_OK;               // what the command answered
    std::unique_ptr<DeviceState> state;  // Draw, Clear: the device state they ran with
    DrawCall call;                       // Draw
    DWORD flags = 0;                     // Clear: its flags; Upload: the lock's
    D3DCOLOR color = 0;                  // Clear
    float z = 0.0f;
    DWORD stencil = 0;
    std::vector<RECT> rects;
    SurfaceImpl* source = nullptr;       // Stretch
    SurfaceImpl* dest = nullptr;
    RECT sourceRect{}, destRect{};
    D3DTEXTUREFILTERTYPE filter = D3DTEXF_NONE;
    Tracked* buffer = nullptr;           // Upload: the buffer, where the locked range starts, its bytes
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The commands of one frame, between two presents. Commands past size keep
// their storage for the frames after.
struct FrameRecord {
    std::vector<FrameCommand> commands;
    std::size_t size = 0;
    std::size_t held = 0;     // bytes of states and uploads held, against kFrameRecordLimit
    bool whole = false;       // every command of the frame is held
    bool repeatable = false;  // drawing the frame again leaves its targets as it left them

    FrameCommand& append(FrameCommand::Kind kind) {
        if (size == commands.size()) commands.emplace_back();
        FrameCommand& c = commands[size++];
        c.kind = kind;
        if ((kind == FrameCommand::Draw || kind == FrameCommand::Clear) && !c.state)
            c.state = std::make_unique<DeviceState>();
        return c;
    }
};

// A frame holding more than this is not kept: a frame that busy is not a
// still picture, and copying it would cost every frame.
constexpr std::size_t kFrameRecordLimit = std::size_t(1) << 20;
// After such a frame this many are not kept either: a busy scene seldom
// stands still, and keeping a frame until it passes the limit copies a
// megabyte of states.
constexpr int kFramesUnkeptAfterBusy = 15;

std::size_t heldBytes(const FrameCommand& c) {
    if (c.kind == FrameCommand::Upload) return c.bytes.size();
    return c.kind == FrameCommand::Stretch ? 0 : sizeof(DeviceState);
}

// Two states draw alike when all their fields but the gamma ramp (which no
// draw reads; padding follows it) hold the same bytes.
bool sameState(const DeviceState& a, const DeviceState& b) {
    constexpr std::size_t head = offsetof(DeviceState, gamma), tail = offsetof(DeviceState, textures);
    const auto* x = reinterpret_cast<const unsigned char*>(&a);
    const auto* y = reinterpret_cast<const unsigned char*>(&b);
    return std::memcmp(x, y, head) == 0 && std::memcmp(x + tail, y + tail, sizeof(DeviceState) - tail) == 0;
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool sameCall(const DrawCall& a, const DrawCall& b) {
    return a.type == b.type && a.indexed == b.indexed && a.baseVertex == b.baseVertex &&
           a.minVertex == b.minVertex && a.numVertices == b.numVertices && a.start == b.start &&
           a.primitives == b.primitives;
}

// Whether a clear or copy under state reaches every pixel of a surface: the
// viewport (and the scissor rectangle when on) covers it.
bool coversSurface(const DeviceState& state, const SurfaceImpl& surface) {
    const D3DVIEWPORT9& v = state.viewport;
    const INT width = INT(surface.desc.Width), height = INT(surface.desc.Height);
    if (v.X != 0 || v.Y != 0 || INT(v.Width) < width || INT(v.Height) < height) return false;
    const RECT& r = state.scissor;
    return !state.renderStates[D3DRS_SCISSORTESTENABLE] ||
           (r.left <= 0 && r.top <= 0 && r.right >= width && r.bottom >= height);
}

bool clearCoversSurface(const FrameCommand& c, const SurfaceImpl& surface) {
    if (!coversSurface(*c.state, surface)) return false;
    if (c.rects.empty()) return true;
    const INT width = INT(surface.desc.Width), height = INT(surface.desc.Height);
    for (const RECT& r : c.rects)
        if (r.left <= 0 && r.top <= 0 && r.right >= width && r.bottom >= height) return true;
    return false;
}

// Whether drawing a frame's commands again leaves every surface as the
// frame left it, so that a frame repeating it need not be drawn: each
// surface a draw writes was cleared whole earlier in the frame (colour, and
// depth and stencil where the draw tests them), so nothing the surface held
// before shows through a blend or a test; and no surface is read (sampled,
// copied from) before the frame defines it and then written, which would
// feed the frame before's picture into this one.
bool repeatable(const FrameRecord& record) {
    struct Use {
        bool colour = false, depth = false, stencil = false;  // cleared whole in the frame
        bool read = false;                                    // read before that
    };
    std::vector<std::pair<const SurfaceImpl*, Use>> uses;
    auto use = [&](const SurfaceImpl* s) -> Use& {
        for (auto& [surface, u] : uses)
            if (surface == s) return u;
        uses.emplace_back(s, Use{});
        return uses.back().second;
    };
    auto read = [&](const SurfaceImpl* s) {
        Use& u = use(s);
        if (!u.colour && !u.depth) u.read = true;
    };
    for (std::size_t i = 0; i < record.size; ++i) {
        const FrameCommand& c = record.commands[i];
        if (c.kind == FrameCommand::Clear) {
            const DeviceState& state = *c.state;
            if ((c.flags & D3DCLEAR_TARGET) && state.renderTarget) {
                Use& u = use(state.renderTarget);
                if (u.read) return false;
                if (clearCoversSurface(c, *state.renderTarget)) u.colour = true;
            }
            if ((c.flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && state.depthStencil) {
                Use& u = use(state.depthStencil);
                if (u.read) return false;
                if (clearCoversSurface(c, *state.depthStencil)) {
                    if (c.flags & D3DCLEAR_ZBUFFER) u.depth = true;
                    if ((c.flags & D3DCLEAR_STENCIL) || !hasStencil(state.depthStencil->desc.Format)) u.stencil = true;
                }
            }
        } else if (c.kind == FrameCommand::Draw) {
            const DeviceState& state = *c.state;
            for (TextureCore* texture : state.textures) {
                if (!texture) continue;
                for (const auto& level : texture->surfaces) {
                    if (level.get() == state.renderTarget) return false;
                    read(level.get());
                }
            }
            if (state.renderTarget) {
                const Use& u = use(state.renderTarget);
                if (u.read || !u.colour) return false;
            }
            const auto& rs = state.renderStates;
            if (state.depthStencil && (rs[D3DRS_ZENABLE] || rs[D3DRS_STENCILENABLE])) {
                const Use& u = use(state.depthStencil);
                if (u.read) return false;
                if (rs[D3DRS_ZENABLE] && !u.depth) return false;
                if (rs[D3DRS_STENCILENABLE] && hasStencil(state.depthStencil->desc.Format) && !u.stencil) return false;
            }
        } else if (c.kind == FrameCommand::Stretch) {
            read(c.source);
            Use& u = use(c.dest);
            if (u.read) return false;
            const RECT& r = c.destRect;
            if (r.left <= 0 && r.top <= 0 && r.right >= INT(c.dest->desc.Width) &&
                r.bottom >= INT(c.dest->desc.Height))
                u.colour = true;
        }
    }
    return true;
}

class GLBackend final : public Backend {
public:
    explicit GLBackend(HWND window) : window_(window) {}
    ~GLBackend() override;

    const char* name() const override { return "gl"; }
    HRESULT start(DeviceCore& device) override;
    HRESULT createResource(Tracked& object) override;
    void destroyResource(Tracked& object) override;
    void uploaded(Tracked& object, const SurfaceImpl* level) override;
    void readBack(SurfaceImpl& surface) override;
    HRESULT clear(DeviceCore& device, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT stretchRect(SurfaceImpl& source, const RECT& sourceRect, SurfaceImpl& dest, const RECT& destRect,
                        D3DTEXTUREFILTERTYPE filter) override;
    HRESULT draw(DeviceCore& device, const DrawCall& call) override;
    HRESULT present(DeviceCore& device) override;
    bool record(GLFrameRecord* record) override {
        // A recorded frame is drawn as it comes: nothing held back, nothing
        // skipped as a repeat.
        if (record) stopKeeping();
        record_ = record;
        return true;
    }

private:
    // What a framebuffer is made of: a colour surface and a depth surface
    // (either may be null).
    using FramebufferKey = std::pair<const SurfaceImpl*, const SurfaceImpl*>;

    void message(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void uploadLevel(GLTexture& texture, const TextureCore& core, const SurfaceImpl& level);
    GLuint framebuffer(const SurfaceImpl* color, const SurfaceImpl* depth);
    void forgetFramebuffers(const Tracked& object);
    void markDrawn(SurfaceImpl* surface);
    GLuint compile(GLenum stage, const std::string& text, std::string& log);
    // The compiled program of a key, generated and compiled on first use.
    template <class Key, class Generate>
    GLuint fixedShader(bool vertex, const Key& key, Generate generate);
    Program* program(GLuint vertex, GLuint pixel);
    void applyState(const DeviceState& state);
    void applySamplers(const DeviceState& state);
    // The recording of a frame (record_ set): what GL holds, read after
    // the draw's state has been applied.
    void recordDraw(const DeviceState& state, const DrawCall& call, GLuint vertex, GLuint pixel, const Program& p);
    void recordShader(GLuint shader);
    void recordTexture(GLuint name, bool cube);
    void recordFramebuffer(GLuint name, const SurfaceImpl* color, const SurfaceImpl* depth);
    HRESULT drawNow(const DeviceState& state, const DrawCall& call);
    void clearNow(const DeviceState& state, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil);
    void stretchNow(SurfaceImpl& source, const RECT& sourceRect, SurfaceImpl& dest, const RECT& destRect,
                    D3DTEXTUREFILTERTYPE filter);
    void uploadNow(GLBuffer& buffer, std::size_t offset, std::size_t size, DWORD lockFlags, const std::uint8_t* bytes);
    void replay(const FrameCommand& command);
    // The command the frame has reached in the kept frame, when it matches
    // there (the caller compares the rest); null ends the holding back.
    const FrameCommand* heldAgainst(FrameCommand::Kind kind);
    // A new command of the frame's record; null when the frame is not kept
    // (or no longer: bytes more would pass kFrameRecordLimit).
    FrameCommand* keep(FrameCommand::Kind kind, std::size_t bytes);
    // Whether a held command draws into or copies to the surface.
    bool holdsWritesTo(const SurfaceImpl& surface) const;
    // Draws the commands held back, then goes on drawing and keeping.
    void stopHolding();
    // Draws what is held; the frame is no longer kept (an upload of a kind
    // not kept, an object destroyed).
    void stopKeeping();
    // At Present: draws the frame unless it repeats a picture the targets
    // hold, then keeps it for the next.
    void finishFrame(DeviceCore& device);
    void startFrame();

    GLFrameRecord* record_ = nullptr;
    HWND window_;
    GLContext context_;
    std::shared_ptr<Context> messages_;
    std::map<FramebufferKey, GLuint> framebuffers_;
    std::unordered_map<std::string, GLuint> fixedShaders_;
    std::string keyText_;  // the key being looked up, kept to reuse its storage
    std::map<std::pair<GLuint, GLuint>, Program> programs_;
    // Fixed vertex state, vertex constants, pixel constants, fixed pixel state.
    GLuint uniformBuffers_[4] = {};
    VertexUniforms lastFixedVertex_{};
    PixelUniforms lastFixedPixel_{};
    std::array<std::array<float, 4>, kVertexFloatConstants> lastVertex_{};
    std::array<std::array<float, 4>, kPixelFloatConstants> lastPixel_{};
    bool fixedVertexValid_ = false, fixedPixelValid_ = false, vertexValid_ = false, pixelValid_ = false;
    GLuint samplers_[kMaxTextureStages] = {};
    std::array<std::array<DWORD, kD3DSamplerStateCount>, kMaxTextureStages> lastSampler_{};
    bool samplersValid_ = false;
    GLuint boundTextures_[kMaxTextureStages] = {};
    // What applyState last set; clears, copies and presents change GL state
    // behind it and reset appliedValid_.
    std::array<DWORD, kD3DRenderStateCount> appliedStates_{};
    D3DVIEWPORT9 appliedViewport_{};
    RECT appliedScissor_{};
    bool appliedDepth_ = false, appliedStencil_ = false, appliedAlphaOnly_ = false, appliedValid_ = false;
    // The frame before (kept_) and this one (frame_, filled once this one
    // differs). While holding_, the commands so far equal kept_'s first
    // matched_ and none was drawn; keeping_: frame_ takes the commands.
    FrameRecord kept_, frame_;
    bool holding_ = false, keeping_ = true;
    std::size_t matched_ = 0;
    bool keptRepeated_ = false;  // kept_ repeated the frame before it
    bool busy_ = false;          // this frame passed kFrameRecordLimit
    int unkept_ = 0;             // frames still not to keep after a busy one
};

void GLBackend::message(const char* format, ...) {
    if (!messages_) return;
    va_list args;
    va_start(args, format);
    const std::string line = formatLine(format, args);
    va_end(args);
    messages_->message("%s", line.c_str());
}

GLBackend::~GLBackend() {
    context_.makeCurrent();
    for (const auto& [key, name] : framebuffers_) glDeleteFramebuffers(1, &name);
    for (const auto& [key, p] : programs_) glDeleteProgram(p.name);
    for (const auto& [key, shader] : fixedShaders_) glDeleteShader(shader);
    glDeleteBuffers(4, uniformBuffers_);
    glDeleteSamplers(kMaxTextureStages, samplers_);
}

HRESULT GLBackend::start(DeviceCore& device) {
    messages_ = device.context();
    std::string why;
    if (!context_.open(window_, why)) {
        message("CreateDevice failed: %s", why.c_str());
        return D3DERR_NOTAVAILABLE;
    }
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    glFrontFace(GL_CW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glEnable(GL_TEXTURE_CUBE_MAP_SEAMLESS);
    glCreateBuffers(4, uniformBuffers_);
    glNamedBufferData(uniformBuffers_[0], sizeof lastFixedVertex_, nullptr, GL_DYNAMIC_DRAW);
    glNamedBufferData(uniformBuffers_[1], sizeof lastVertex_, nullptr, GL_DYNAMIC_DRAW);
    glNamedBufferData(uniformBuffers_[2], sizeof lastPixel_, nullptr, GL_DYNAMIC_DRAW);
    glNamedBufferData(uniformBuffers_[3], sizeof lastFixedPixel_, nullptr, GL_DYNAMIC_DRAW);
    for (GLuint i = 0; i < 4; ++i) glBindBufferBase(GL_UNIFORM_BUFFER, i, uniformBuffers_[i]);
    glCreateSamplers(kMaxTextureStages, samplers_);
    for (GLuint i = 0; i < kMaxTextureStages; ++i) glBindSampler(i, samplers_[i]);
    return S_OK;
}

GLuint GLBackend::compile(GLenum stage, const std::string& text, std::string& log) {
    GLuint shader = glCreateShader(stage);
    const char* source = text.c_str();
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE, length = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    log.assign(std::size_t(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, GLsizei(log.size()), nullptr, log.data());
    log.resize(std::strlen(log.c_str()));
    glDeleteShader(shader);
    return 0;
}

HRESULT GLBackend::createResource(Tracked& object) {
    context_.makeCurrent();
    if (auto* texture = dynamic_cast<TextureCore*>(&object)) {
        auto data = std::make_unique<GLTexture>();
        data->format = glFormat(texture->format);
        const GLenum target = texture->faces == 6 ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
        glCreateTextures(target, 1, &data->name);
        glTextureStorage2D(data->name, GLsizei(texture->levels), data->format.internal, GLsizei(texture->width),
                           GLsizei(texture->height));
        glTextureParameteri(data->name, GL_TEXTURE_MAX_LEVEL, GLint(texture->levels - 1));
        glTextureParameteriv(data->name, GL_TEXTURE_SWIZZLE_RGBA, data->format.swizzle);
        data->gpuNewer.assign(texture->surfaces.size(), false);
        for (const auto& level : texture->surfaces) uploadLevel(*data, *texture, *level);
        object.backend = std::move(data);
        return S_OK;
    }
    if (dynamic_cast<SurfaceImpl*>(&object)) {
        auto data = std::make_unique<GLSurface>();
        glCreateRenderbuffers(1, &data->renderbuffer);
        object.backend = std::move(data);
        return S_OK;
    }
    if (auto* buffer = dynamic_cast<BufferCore*>(&object)) {
        auto data = std::make_unique<GLBuffer>();
        glCreateBuffers(1, &data->name);
        // A dynamic buffer's contents are undefined until written, as after
        // a discard: only what its locks write goes up, not the whole store.
        const bool dynamic = (buffer->usage & D3DUSAGE_DYNAMIC) != 0;
        data->size = buffer->bytes.size();
        data->capacity = dynamic ? std::min(data->size * kDynamicCopies, kDynamicStoreStart) : data->size;
        glNamedBufferData(data->name, GLsizeiptr(data->capacity), dynamic ? nullptr : buffer->bytes.data(),
                          dynamic ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
        object.backend = std::move(data);
        return S_OK;
    }
    if (auto* declaration = dynamic_cast<DeclarationImpl*>(&object)) {
        auto data = std::make_unique<GLDeclaration>();
        glCreateVertexArrays(1, &data->vertexArray);
        for (const auto& e : declaration->elements) {
            const std::uint8_t location = attributeLocation(e);
            GLint size = 0;
            GLenum type = 0;
            GLboolean normalized = GL_FALSE;
            if (location == kAttribNone || !attributeFormat(e.Type, size, type, normalized)) continue;
            glEnableVertexArrayAttrib(data->vertexArray, location);
            glVertexArrayAttribFormat(data->vertexArray, location, size, type, normalized, e.Offset);
            glVertexArrayAttribBinding(data->vertexArray, location, 0);
        }
        object.backend = std::move(data);
        return S_OK;
    }
    const bool vertex = dynamic_cast<VertexShaderImpl*>(&object) != nullptr;
    const ShaderBody* body = vertex ? &static_cast<VertexShaderImpl&>(object).body
                                    : dynamic_cast<PixelShaderImpl*>(&object)
                                          ? &static_cast<PixelShaderImpl&>(object).body
                                          : nullptr;
    if (body) {
        const char* call = vertex ? "CreateVertexShader" : "CreatePixelShader";
        const std::string* text = shaderSource(body->sourceId);
        if (!text) {
            message("%s failed: no GLSL source %d", call, body->sourceId);
            return D3DERR_INVALIDCALL;
        }
        std::string log;
        const GLuint shader =
            compile(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER, shaderProgram(*body, *text), log);
        if (!shader) {
            message("%s failed: source %d does not compile: %s", call, body->sourceId, log.c_str());
            return D3DERR_INVALIDCALL;
        }
        auto data = std::make_unique<GLShader>();
        data->shader = shader;
        object.backend = std::move(data);
    }
    return S_OK;
}

void GLBackend::destroyResource(Tracked& object) {
    // Held commands may use the object, and a later one may take its address.
    stopKeeping();
    if (!object.backend) return;
    context_.makeCurrent();
    forgetFramebuffers(object);
    if (auto* texture = dynamic_cast<GLTexture*>(object.backend.get())) {
        // Deleting unbinds it; a later texture may get the same name.
        for (GLuint& bound : boundTextures_)
            if (bound == texture->name) bound = 0;
        glDeleteTextures(1, &texture->name);
    }
    if (auto* surface = dynamic_cast<GLSurface*>(object.backend.get()))
        glDeleteRenderbuffers(1, &surface->renderbuffer);
    if (auto* buffer = dynamic_cast<GLBuffer*>(object.backend.get())) glDeleteBuffers(1, &buffer->name);
    if (auto* declaration = dynamic_cast<GLDeclaration*>(object.backend.get()))
        glDeleteVertexArrays(1, &declaration->vertexArray);
    if (auto* shader = dynamic_cast<GLShader*>(object.backend.get())) {
        for (auto it = programs_.begin(); it != programs_.end();) {
            if (it->first.first == shader->shader || it->first.second == shader->shader) {
                glDeleteProgram(it->second.name);
                it = programs_.erase(it);
            } else {
                ++it;
            }
        }
        glDeleteShader(shader->shader);
    }
}

void GLBackend::uploadLevel(GLTexture& texture, const TextureCore& core, const SurfaceImpl& level) {
    const GLsizei w = GLsizei(level.desc.Width), h = GLsizei(level.desc.Height);
    const GLint z = GLint(level.face);
    const bool cube = core.faces == 6;
    const GLFormat& f = texture.format;
    if (f.compressed) {
        if (cube)
            glCompressedTextureSubImage3D(texture.name, GLint(level.level), 0, 0, z, w, h, 1, f.internal,
                                          GLsizei(level.bytes.size()), level.bytes.data());
        else
            glCompressedTextureSubImage2D(texture.name, GLint(level.level), 0, 0, w, h, f.internal,
                                          GLsizei(level.bytes.size()), level.bytes.data());
    } else {
        std::vector<std::uint8_t> rgba;
        const void* pixels = level.bytes.data();
        if (f.decode) {
            if (!decodeLevel(level.desc.Format, level.bytes.data(), level.pitch, level.desc.Width,
                             level.desc.Height, rgba))
                return;
            pixels = rgba.data();
        } else {
            const UINT bytes = formatInfo(level.desc.Format).bytes;
            glPixelStorei(GL_UNPACK_ROW_LENGTH, bytes ? GLint(level.pitch / bytes) : 0);
        }
        if (cube)
            glTextureSubImage3D(texture.name, GLint(level.level), 0, 0, z, w, h, 1, f.format, f.type, pixels);
        else
            glTextureSubImage2D(texture.name, GLint(level.level), 0, 0, w, h, f.format, f.type, pixels);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }
    texture.gpuNewer[level.face * core.levels + level.level] = false;
}

void GLBackend::uploaded(Tracked& object, const SurfaceImpl* level) {
    if (!object.backend) return;
    context_.makeCurrent();
    if (auto* texture = dynamic_cast<GLTexture*>(object.backend.get())) {
        auto& core = dynamic_cast<TextureCore&>(object);
        stopKeeping();
        if (level)
            uploadLevel(*texture, core, *level);
        else
            for (const auto& s : core.surfaces) uploadLevel(*texture, core, *s);
        return;
    }
    if (auto* buffer = dynamic_cast<GLBuffer*>(object.backend.get())) {
        auto& core = dynamic_cast<BufferCore&>(object);
        // The locked range (size 0: to the end), within the buffer.
        const std::size_t offset = std::min<std::size_t>(core.lockOffset, core.bytes.size());
        const std::size_t rest = core.bytes.size() - offset;
        const std::size_t size = core.lockSize ? std::min<std::size_t>(core.lockSize, rest) : rest;
        const std::uint8_t* bytes = core.bytes.data() + offset;
        if (const FrameCommand* c = heldAgainst(FrameCommand::Upload)) {
            if (c->buffer == &object && c->offset == offset && c->flags == core.lockFlags && c->bytes.size() == size &&
                std::memcmp(c->bytes.data(), bytes, size) == 0) {
                ++matched_;
                return;
            }
            stopHolding();
        }
        uploadNow(*buffer, offset, size, core.lockFlags, bytes);
        if (FrameCommand* c = keep(FrameCommand::Upload, size)) {
            c->buffer = &object;
            c->offset = offset;
            c->flags = core.lockFlags;
            c->bytes.assign(bytes, bytes + size);
        }
        return;
    }
    if (auto* surface = dynamic_cast<GLSurface*>(object.backend.get())) {
        // A lockable standalone surface: its image drawn back into GL.
        auto& s = static_cast<SurfaceImpl&>(object);
        stopKeeping();
        const GLFormat f = glFormat(s.desc.Format);
        if (f.compressed || formatInfo(s.desc.Format).depth) return;
        std::vector<std::uint8_t> rgba;
        if (!decodeLevel(s.desc.Format, s.image().data(), s.pitch, s.desc.Width, s.desc.Height, rgba)) return;
        GLuint texture = 0;
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, GL_RGBA8, GLsizei(s.desc.Width), GLsizei(s.desc.Height));
        glTextureSubImage2D(texture, 0, 0, 0, GLsizei(s.desc.Width), GLsizei(s.desc.Height), GL_RGBA,
                            GL_UNSIGNED_BYTE, rgba.data());
        GLuint read = 0;
        glCreateFramebuffers(1, &read);
        glNamedFramebufferTexture(read, GL_COLOR_ATTACHMENT0, texture, 0);
        // The whole image goes up, whatever rectangle the draws are held to.
        glDisable(GL_SCISSOR_TEST);
        appliedValid_ = false;
        glBlitNamedFramebuffer(read, framebuffer(&s, nullptr), 0, 0, GLint(s.desc.Width), GLint(s.desc.Height), 0, 0,
                               GLint(s.desc.Width), GLint(s.desc.Height), GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glDeleteFramebuffers(1, &read);
        glDeleteTextures(1, &texture);
        surface->gpuNewer = false;
    }
}

void GLBackend::uploadNow(GLBuffer& buffer, std::size_t offset, std::size_t size, DWORD lockFlags,
                          const std::uint8_t* bytes) {
    // A discard moves the buffer's window past what was written since the
    // last one (draws still queued keep reading there); when the store has
    // no room past it for a window as wide as the widest so far, the store
    // is orphaned (the new one's contents are undefined, as Direct3D's are)
    // and the window starts again at 0. Then only the locked range goes up.
    if (lockFlags & D3DLOCK_DISCARD) {
        const std::size_t next =
            (buffer.base + buffer.written + kWindowAlignment - 1) / kWindowAlignment * kWindowAlignment;
        if (!buffer.written) {
            // Nothing went up since the last discard: the window is free.
        } else if (next + std::max(buffer.widest, offset + size) <= buffer.capacity) {
            buffer.base = next;
        } else {
            glNamedBufferData(buffer.name, GLsizeiptr(buffer.capacity), nullptr, GL_DYNAMIC_DRAW);
            buffer.base = 0;
        }
        buffer.written = 0;
    }
    if (!size) return;
    if (buffer.base + offset + size > buffer.capacity) {
        // The store grows into a new buffer object that takes what this
        // window holds so far; draws already queued keep the old store,
        // which goes once they are done. Draws name the store when made.
        const std::size_t end = std::max(buffer.written, offset + size);
        const std::size_t grown = std::min(std::max({buffer.capacity * 2, end * 2, kDynamicStoreStart}),
                                           std::max(buffer.size * kDynamicCopies, end));
        GLuint name = 0;
        glCreateBuffers(1, &name);
        glNamedBufferData(name, GLsizeiptr(grown), nullptr, GL_DYNAMIC_DRAW);
        if (buffer.written)
            glCopyNamedBufferSubData(buffer.name, name, GLintptr(buffer.base), 0, GLsizeiptr(buffer.written));
        glDeleteBuffers(1, &buffer.name);
        buffer.name = name;
        buffer.base = 0;
        buffer.capacity = grown;
    }
    glNamedBufferSubData(buffer.name, GLintptr(buffer.base + offset), GLsizeiptr(size), bytes);
    buffer.written = std::max(buffer.written, offset + size);
    buffer.widest = std::max(buffer.widest, buffer.written);
}

GLuint GLBackend::framebuffer(const SurfaceImpl* color, const SurfaceImpl* depth) {
    const FramebufferKey key{color, depth};
    if (auto found = framebuffers_.find(key); found != framebuffers_.end()) return found->second;
    GLuint name = 0;
    glCreateFramebuffers(1, &name);
    auto attach = [&](const SurfaceImpl* s, GLenum attachment) {
        if (s->containerObject) {
            const auto* texture = static_cast<const GLTexture*>(s->containerObject->backend.get());
            if (s->container->faces == 6)
                glNamedFramebufferTextureLayer(name, attachment, texture->name, GLint(s->level), GLint(s->face));
            else
                glNamedFramebufferTexture(name, attachment, texture->name, GLint(s->level));
        } else {
            auto* surface = static_cast<GLSurface*>(s->backend.get());
            if (!surface->stored) {
                glNamedRenderbufferStorage(surface->renderbuffer, glFormat(s->desc.Format).internal,
                                           GLsizei(s->desc.Width), GLsizei(s->desc.Height));
                surface->stored = true;
            }
            glNamedFramebufferRenderbuffer(name, attachment, GL_RENDERBUFFER, surface->renderbuffer);
        }
    };
    if (color) attach(color, GL_COLOR_ATTACHMENT0);
    if (!color) glNamedFramebufferDrawBuffer(name, GL_NONE);
    if (depth) attach(depth, hasStencil(depth->desc.Format) ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT);
    framebuffers_[key] = name;
    return name;
}

void GLBackend::forgetFramebuffers(const Tracked& object) {
    auto involves = [&](const SurfaceImpl* s) {
        return s && (static_cast<const Tracked*>(s) == &object || s->containerObject == &object);
    };
    for (auto it = framebuffers_.begin(); it != framebuffers_.end();) {
        if (involves(it->first.first) || involves(it->first.second)) {
            glDeleteFramebuffers(1, &it->second);
            it = framebuffers_.erase(it);
        } else {
            ++it;
        }
    }
}

void GLBackend::markDrawn(SurfaceImpl* surface) {
    if (!surface) return;
    if (surface->containerObject) {
        if (auto* texture = static_cast<GLTexture*>(surface->containerObject->backend.get()))
            texture->gpuNewer[surface->face * surface->container->levels + surface->level] = true;
    } else if (auto* data = static_cast<GLSurface*>(surface->backend.get())) {
        data->gpuNewer = true;
    }
}

void GLBackend::readBack(SurfaceImpl& surface) {
    Tracked* owner = surface.containerObject ? surface.containerObject : &surface;
    if (!owner->backend) return;
    if (holdsWritesTo(surface)) stopHolding();
    bool* newer = nullptr;
    if (surface.containerObject) {
        auto* texture = static_cast<GLTexture*>(owner->backend.get());
        const std::size_t index = surface.face * surface.container->levels + surface.level;
        if (!texture->gpuNewer[index]) return;
        texture->gpuNewer[index] = false;
    } else {
        newer = &static_cast<GLSurface*>(owner->backend.get())->gpuNewer;
        if (!*newer) return;
        *newer = false;
    }
    const GLFormat f = glFormat(surface.desc.Format);
    if (f.compressed || formatInfo(surface.desc.Format).depth) return;
    context_.makeCurrent();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer(&surface, nullptr));
    const GLsizei w = GLsizei(surface.desc.Width), h = GLsizei(surface.desc.Height);
    if (f.decode) {
        std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        encodeLevel(surface.desc.Format, rgba.data(), surface.desc.Width, surface.desc.Height, surface.image().data(),
                    surface.pitch);
    } else {
        const UINT bytes = formatInfo(surface.desc.Format).bytes;
        glPixelStorei(GL_PACK_ROW_LENGTH, GLint(surface.pitch / bytes));
        // A8 and L8 live in the red channel.
        glReadPixels(0, 0, w, h, f.format, f.type, surface.image().data());
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
}

HRESULT GLBackend::clear(DeviceCore& device, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color, float z,
                         DWORD stencil) {
    const DeviceState& state = device.state();
    if (const FrameCommand* c = heldAgainst(FrameCommand::Clear)) {
        bool same = c->flags == flags && c->color == color && c->z == z && c->stencil == stencil &&
                    c->rects.size() == count && sameState(*c->state, state);
        for (DWORD i = 0; same && i < count; ++i) same = sameRect(c->rects[i], rects[i]);
        if (same) {
            ++matched_;
            return S_OK;
        }
        stopHolding();
    }
    clearNow(state, count, rects, flags, color, z, stencil);
    if (FrameCommand* c = keep(FrameCommand::Clear, sizeof(DeviceState))) {
        *c->state = state;
        c->flags = flags;
        c->color = color;
        c->z = z;
        c->stencil = stencil;
        c->rects.assign(rects, rects + count);
    }
    return S_OK;
}

void GLBackend::clearNow(const DeviceState& state, DWORD count, const RECT* rects, DWORD flags, D3DCOLOR color,
                         float z, DWORD stencil) {
    context_.makeCurrent();
    SurfaceImpl* target = (flags & D3DCLEAR_TARGET) ? state.renderTarget : nullptr;
    SurfaceImpl* depth = (flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) ? state.depthStencil : nullptr;
    const GLuint fbo = framebuffer(state.renderTarget, state.depthStencil);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFFFFFFFFu);
    glEnable(GL_SCISSOR_TEST);
    const D3DVIEWPORT9& v = state.viewport;
    std::vector<RECT> areas;
    if (count == 0)
        areas.push_back({INT(v.X), INT(v.Y), INT(v.X + v.Width), INT(v.Y + v.Height)});
    else
        for (DWORD i = 0; i < count; ++i)
            areas.push_back({std::max(rects[i].left, INT(v.X)), std::max(rects[i].top, INT(v.Y)),
                             std::min(rects[i].right, INT(v.X + v.Width)),
                             std::min(rects[i].bottom, INT(v.Y + v.Height))});
    // With the scissor test on, a clear stays inside its rectangle too.
    if (state.renderStates[D3DRS_SCISSORTESTENABLE])
        for (RECT& r : areas) {
            r.left = std::max(r.left, state.scissor.left);
            r.top = std::max(r.top, state.scissor.top);
            r.right = std::min(r.right, state.scissor.right);
            r.bottom = std::min(r.bottom, state.scissor.bottom);
        }
    float c[4] = {float((color >> 16) & 0xFF) / 255.0f, float((color >> 8) & 0xFF) / 255.0f,
                  float(color & 0xFF) / 255.0f, float(color >> 24) / 255.0f};
    if (alphaOnlyTarget(target)) c[0] = c[3];
    for (const RECT& r : areas) {
        if (r.right <= r.left || r.bottom <= r.top) continue;
        glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
        if (record_) {
            recordFramebuffer(fbo, state.renderTarget, state.depthStencil);
            GLRecordedClear step;
            step.framebuffer = fbo;
            step.rect[0] = r.left, step.rect[1] = r.top, step.rect[2] = r.right - r.left, step.rect[3] = r.bottom - r.top;
            step.color = target != nullptr;
            std::copy(c, c + 4, step.rgba);
            step.depth = depth && (flags & D3DCLEAR_ZBUFFER);
            step.stencil = depth && (flags & D3DCLEAR_STENCIL) && hasStencil(depth->desc.Format);
            step.z = z;
            step.stencilValue = GLint(stencil & 0xFF);
            record_->steps.emplace_back(GLFrameRecord::Kind::Clear, record_->clears.size());
            record_->clears.push_back(step);
        }
        if (target) glClearNamedFramebufferfv(fbo, GL_COLOR, 0, c);
        if (depth) {
            const bool stencilToo = (flags & D3DCLEAR_STENCIL) && hasStencil(depth->desc.Format);
            if ((flags & D3DCLEAR_ZBUFFER) && stencilToo)
                glClearNamedFramebufferfi(fbo, GL_DEPTH_STENCIL, 0, z, GLint(stencil & 0xFF));
            else if (flags & D3DCLEAR_ZBUFFER)
                glClearNamedFramebufferfv(fbo, GL_DEPTH, 0, &z);
            else if (stencilToo) {
                const GLint s = GLint(stencil & 0xFF);
                glClearNamedFramebufferiv(fbo, GL_STENCIL, 0, &s);
            }
        }
    }
    glDisable(GL_SCISSOR_TEST);
    appliedValid_ = false;
    markDrawn(target);
}

HRESULT GLBackend::stretchRect(SurfaceImpl& source, const RECT& sr, SurfaceImpl& dest, const RECT& dr,
                               D3DTEXTUREFILTERTYPE filter) {
    if (const FrameCommand* c = heldAgainst(FrameCommand::Stretch)) {
        if (c->source == &source && c->dest == &dest && sameRect(c->sourceRect, sr) && sameRect(c->destRect, dr) &&
            c->filter == filter) {
            ++matched_;
            return S_OK;
        }
        stopHolding();
    }
    stretchNow(source, sr, dest, dr, filter);
    if (FrameCommand* c = keep(FrameCommand::Stretch, 0)) {
        c->source = &source;
        c->dest = &dest;
        c->sourceRect = sr;
        c->destRect = dr;
        c->filter = filter;
    }
    return S_OK;
}

void GLBackend::stretchNow(SurfaceImpl& source, const RECT& sr, SurfaceImpl& dest, const RECT& dr,
                           D3DTEXTUREFILTERTYPE filter) {
    context_.makeCurrent();
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    appliedValid_ = false;
    if (record_) {
        GLRecordedBlit step;
        step.source = framebuffer(&source, nullptr);
        step.dest = framebuffer(&dest, nullptr);
        recordFramebuffer(step.source, &source, nullptr);
        recordFramebuffer(step.dest, &dest, nullptr);
        const int from[4] = {sr.left, sr.top, sr.right, sr.bottom}, to[4] = {dr.left, dr.top, dr.right, dr.bottom};
        std::copy(from, from + 4, step.sourceRect);
        std::copy(to, to + 4, step.destRect);
        step.filter = filter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
        record_->steps.emplace_back(GLFrameRecord::Kind::Blit, record_->blits.size());
        record_->blits.push_back(step);
    }
    glBlitNamedFramebuffer(framebuffer(&source, nullptr), framebuffer(&dest, nullptr), sr.left, sr.top, sr.right,
                           sr.bottom, dr.left, dr.top, dr.right, dr.bottom, GL_COLOR_BUFFER_BIT,
                           filter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    markDrawn(&dest);
}

template <class Key, class Generate>
GLuint GLBackend::fixedShader(bool vertex, const Key& key, Generate generate) {
    std::string& name = keyText_;
    name.assign(1, vertex ? 'v' : 'p');
    name.append(reinterpret_cast<const char*>(&key), sizeof key);
    if (auto found = fixedShaders_.find(name); found != fixedShaders_.end()) return found->second;
    std::string log;
    const GLuint shader = compile(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER, generate(key), log);
    if (!shader) message("Fixed-function %s program does not compile: %s", vertex ? "vertex" : "pixel", log.c_str());
    fixedShaders_[name] = shader;
    return shader;
}

Program* GLBackend::program(GLuint vertex, GLuint pixel) {
    const auto key = std::make_pair(vertex, pixel);
    if (auto found = programs_.find(key); found != programs_.end()) return &found->second;
    Program& p = programs_[key];
    p.name = glCreateProgram();
    glAttachShader(p.name, vertex);
    glAttachShader(p.name, pixel);
    glLinkProgram(p.name);
    GLint ok = GL_FALSE;
    glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
    if (!ok) {
        GLint length = 0;
        glGetProgramiv(p.name, GL_INFO_LOG_LENGTH, &length);
        std::string log(std::size_t(length > 0 ? length : 1), '\0');
        glGetProgramInfoLog(p.name, GLsizei(log.size()), nullptr, log.data());
        message("Draw refused: the vertex and pixel programs do not link: %s", log.c_str());
        return &p;
    }
    p.linked = true;
    p.vertexInts = glGetUniformLocation(p.name, "vi");
    p.vertexBools = glGetUniformLocation(p.name, "vb");
    p.pixelInts = glGetUniformLocation(p.name, "pi");
    p.pixelBools = glGetUniformLocation(p.name, "pb");
    return &p;
}

void GLBackend::applySamplers(const DeviceState& state) {
    for (UINT stage = 0; stage < kMaxTextureStages; ++stage) {
        TextureCore* texture = state.textures[stage];
        const GLuint name = texture ? static_cast<const GLTexture*>(texture->tracked().backend.get())->name : 0;
        if (name != boundTextures_[stage]) {
            glBindTextureUnit(stage, name);
            boundTextures_[stage] = name;
        }
        if (!texture) continue;
        const auto& s = state.samplerStates[stage];
        if (samplersValid_ && s == lastSampler_[stage]) continue;
        lastSampler_[stage] = s;
        const GLuint sampler = samplers_[stage];
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, GLint(addressMode(s[D3DSAMP_ADDRESSU])));
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, GLint(addressMode(s[D3DSAMP_ADDRESSV])));
        glSamplerParameteri(sampler, GL_TEXTURE_WRAP_R, GLint(addressMode(s[D3DSAMP_ADDRESSW])));
        float border[4];
        const DWORD b = s[D3DSAMP_BORDERCOLOR];
        border[0] = float((b >> 16) & 0xFF) / 255.0f;
        border[1] = float((b >> 8) & 0xFF) / 255.0f;
        border[2] = float(b & 0xFF) / 255.0f;
        border[3] = float(b >> 24) / 255.0f;
        glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
        const bool linearMin = s[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
        const DWORD mip = s[D3DSAMP_MIPFILTER];
        const GLenum minFilter = mip == D3DTEXF_NONE    ? (linearMin ? GL_LINEAR : GL_NEAREST)
                                 : mip == D3DTEXF_POINT ? (linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST)
                                                        : (linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR);
        glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GLint(minFilter));
        glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER,
                            s[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
        const bool anisotropic = s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || s[D3DSAMP_MAGFILTER] == D3DTEXF_ANISOTROPIC;
        glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY,
                            anisotropic ? float(std::max<DWORD>(1, s[D3DSAMP_MAXANISOTROPY])) : 1.0f);
        float bias;
        std::memcpy(&bias, &s[D3DSAMP_MIPMAPLODBIAS], sizeof bias);
        glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, bias);
        glSamplerParameterf(sampler, GL_TEXTURE_MIN_LOD, float(s[D3DSAMP_MAXMIPLEVEL]));
    }
    samplersValid_ = true;
}

void GLBackend::applyState(const DeviceState& state) {
    const auto& rs = state.renderStates;
    const D3DVIEWPORT9& v = state.viewport;
    const bool depthSurface = state.depthStencil != nullptr;
    const bool stencilSurface = depthSurface && hasStencil(state.depthStencil->desc.Format);
    const bool alphaOnly = alphaOnlyTarget(state.renderTarget);
    const RECT& scissor = state.scissor;
    if (appliedValid_ && rs == appliedStates_ && std::memcmp(&v, &appliedViewport_, sizeof v) == 0 &&
        std::memcmp(&scissor, &appliedScissor_, sizeof scissor) == 0 && depthSurface == appliedDepth_ &&
        stencilSurface == appliedStencil_ && alphaOnly == appliedAlphaOnly_)
        return;
    appliedStates_ = rs;
    appliedViewport_ = v;
    appliedScissor_ = scissor;
    appliedDepth_ = depthSurface;
    appliedStencil_ = stencilSurface;
    appliedAlphaOnly_ = alphaOnly;
    appliedValid_ = true;
    glViewport(GLint(v.X), GLint(v.Y), GLsizei(v.Width), GLsizei(v.Height));
    glDepthRangef(v.MinZ, v.MaxZ);
    // Rows run top-down in our targets as in Direct3D's, so the rectangle
    // goes to GL as it is; GL cuts what lies beyond the target.
    if (rs[D3DRS_SCISSORTESTENABLE]) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(scissor.left, scissor.top, scissor.right - scissor.left, scissor.bottom - scissor.top);
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
    const bool depth = state.depthStencil && rs[D3DRS_ZENABLE];
    if (depth) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(compare(rs[D3DRS_ZFUNC]));
        glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    // Front faces are clockwise (glFrontFace at start).
    switch (rs[D3DRS_CULLMODE]) {
        case D3DCULL_CW:
            glEnable(GL_CULL_FACE);
            glCullFace(GL_FRONT);
            break;
        case D3DCULL_CCW:
            glEnable(GL_CULL_FACE);
            glCullFace(GL_BACK);
            break;
        default: glDisable(GL_CULL_FACE); break;
    }
    glPolygonMode(GL_FRONT_AND_BACK, rs[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                                     : rs[D3DRS_FILLMODE] == D3DFILL_POINT   ? GL_POINT
                                                                             : GL_FILL);
    const DWORD f = rs[D3DRS_BLENDFACTOR];
    if (rs[D3DRS_ALPHABLENDENABLE] && alphaOnly) {
        // The alpha channel's equation, on red: the target's alpha.
        glEnable(GL_BLEND);
        const bool separate = rs[D3DRS_SEPARATEALPHABLENDENABLE];
        glBlendFunc(alphaOnRed(separate ? rs[D3DRS_SRCBLENDALPHA] : rs[D3DRS_SRCBLEND]),
                    alphaOnRed(separate ? rs[D3DRS_DESTBLENDALPHA] : rs[D3DRS_DESTBLEND]));
        glBlendEquation(blendOperation(separate ? rs[D3DRS_BLENDOPALPHA] : rs[D3DRS_BLENDOP]));
        glBlendColor(float(f >> 24) / 255.0f, 0.0f, 0.0f, float(f >> 24) / 255.0f);
    } else if (rs[D3DRS_ALPHABLENDENABLE]) {
        glEnable(GL_BLEND);
        const bool separate = rs[D3DRS_SEPARATEALPHABLENDENABLE];
        glBlendFuncSeparate(blendFactor(rs[D3DRS_SRCBLEND]), blendFactor(rs[D3DRS_DESTBLEND]),
                            blendFactor(separate ? rs[D3DRS_SRCBLENDALPHA] : rs[D3DRS_SRCBLEND]),
                            blendFactor(separate ? rs[D3DRS_DESTBLENDALPHA] : rs[D3DRS_DESTBLEND]));
        glBlendEquationSeparate(blendOperation(rs[D3DRS_BLENDOP]),
                                blendOperation(separate ? rs[D3DRS_BLENDOPALPHA] : rs[D3DRS_BLENDOP]));
        glBlendColor(float((f >> 16) & 0xFF) / 255.0f, float((f >> 8) & 0xFF) / 255.0f, float(f & 0xFF) / 255.0f,
                     float(f >> 24) / 255.0f);
    } else {
        glDisable(GL_BLEND);
    }
    const DWORD mask = rs[D3DRS_COLORWRITEENABLE];
    if (alphaOnly)
        glColorMask(mask & D3DCOLORWRITEENABLE_ALPHA ? GL_TRUE : GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    else
        glColorMask(mask & D3DCOLORWRITEENABLE_RED ? GL_TRUE : GL_FALSE,
                    mask & D3DCOLORWRITEENABLE_GREEN ? GL_TRUE : GL_FALSE,
                    mask & D3DCOLORWRITEENABLE_BLUE ? GL_TRUE : GL_FALSE,
                    mask & D3DCOLORWRITEENABLE_ALPHA ? GL_TRUE : GL_FALSE);
    if (rs[D3DRS_STENCILENABLE] && state.depthStencil && hasStencil(state.depthStencil->desc.Format)) {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(compare(rs[D3DRS_STENCILFUNC]), GLint(rs[D3DRS_STENCILREF]), rs[D3DRS_STENCILMASK]);
        glStencilOp(stencilOperation(rs[D3DRS_STENCILFAIL]), stencilOperation(rs[D3DRS_STENCILZFAIL]),
                    stencilOperation(rs[D3DRS_STENCILPASS]));
        glStencilMask(rs[D3DRS_STENCILWRITEMASK]);
    } else {
        glDisable(GL_STENCIL_TEST);
    }
    for (UINT i = 0; i < kMaxClipPlanes; ++i) {
        if (rs[D3DRS_CLIPPLANEENABLE] & (1u << i))
            glEnable(GL_CLIP_DISTANCE0 + i);
        else
            glDisable(GL_CLIP_DISTANCE0 + i);
    }
    float bias, slope;
    std::memcpy(&bias, &rs[D3DRS_DEPTHBIAS], sizeof bias);
    std::memcpy(&slope, &rs[D3DRS_SLOPESCALEDEPTHBIAS], sizeof slope);
    if (bias != 0.0f || slope != 0.0f) {
        // Direct3D's bias is in depth units; GL's in steps of a 24-bit buffer.
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(slope, bias * 16777215.0f);
    } else {
        glDisable(GL_POLYGON_OFFSET_FILL);
    }
}

HRESULT GLBackend::draw(DeviceCore& device, const DrawCall& call) {
    const DeviceState& state = device.state();
    if (const FrameCommand* c = heldAgainst(FrameCommand::Draw)) {
        if (sameCall(c->call, call) && sameState(*c->state, state)) {
            ++matched_;
            return c->result;
        }
        stopHolding();
    }
    const HRESULT result = drawNow(state, call);
    if (FrameCommand* c = keep(FrameCommand::Draw, sizeof(DeviceState))) {
        *c->state = state;
        c->call = call;
        c->result = result;
    }
    return result;
}

HRESULT GLBackend::drawNow(const DeviceState& state, const DrawCall& call) {
    context_.makeCurrent();
    GLuint vertex = 0, pixel = 0;
    if (state.vertexShader) {
        vertex = static_cast<GLShader*>(state.vertexShader->backend.get())->shader;
    } else {
        vertex = fixedShader(true, vertexKey(state), vertexProgram);
    }
    if (state.pixelShader) {
        pixel = static_cast<GLShader*>(state.pixelShader->backend.get())->shader;
    } else {
        pixel = fixedShader(false, pixelKey(state), pixelProgram);
    }
    if (!vertex || !pixel) return D3DERR_INVALIDCALL;
    Program* p = program(vertex, pixel);
    if (!p->linked) return D3DERR_INVALIDCALL;
    glUseProgram(p->name);

    VertexUniforms fixedVertex;
    PixelUniforms fixedPixel;
    fixedUniforms(state, fixedVertex, fixedPixel);
    // Uniform buffers are written only when their contents changed.
    if (!fixedVertexValid_ || std::memcmp(&fixedVertex, &lastFixedVertex_, sizeof fixedVertex) != 0) {
        glNamedBufferSubData(uniformBuffers_[0], 0, sizeof fixedVertex, &fixedVertex);
        lastFixedVertex_ = fixedVertex;
        fixedVertexValid_ = true;
    }
    if (!fixedPixelValid_ || std::memcmp(&fixedPixel, &lastFixedPixel_, sizeof fixedPixel) != 0) {
        glNamedBufferSubData(uniformBuffers_[3], 0, sizeof fixedPixel, &fixedPixel);
        lastFixedPixel_ = fixedPixel;
        fixedPixelValid_ = true;
    }
    if (state.vertexShader && (!vertexValid_ || state.vertexFloats != lastVertex_)) {
        glNamedBufferSubData(uniformBuffers_[1], 0, sizeof lastVertex_, state.vertexFloats.data());
        lastVertex_ = state.vertexFloats;
        vertexValid_ = true;
    }
    if (state.pixelShader && (!pixelValid_ || state.pixelFloats != lastPixel_)) {
        glNamedBufferSubData(uniformBuffers_[2], 0, sizeof lastPixel_, state.pixelFloats.data());
        lastPixel_ = state.pixelFloats;
        pixelValid_ = true;
    }
    if (p->vertexInts >= 0) glUniform4iv(p->vertexInts, kIntConstants, &state.vertexInts[0][0]);
    if (p->vertexBools >= 0) glUniform1iv(p->vertexBools, kBoolConstants, state.vertexBools.data());
    if (p->pixelInts >= 0) glUniform4iv(p->pixelInts, kIntConstants, &state.pixelInts[0][0]);
    if (p->pixelBools >= 0) glUniform1iv(p->pixelBools, kBoolConstants, state.pixelBools.data());

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer(state.renderTarget, state.depthStencil));
    applyState(state);
    applySamplers(state);

    if (record_) recordDraw(state, call, vertex, pixel, *p);

    const GLuint vertexArray = static_cast<GLDeclaration*>(state.declaration->backend.get())->vertexArray;
    glBindVertexArray(vertexArray);
    const auto* stream = static_cast<GLBuffer*>(state.stream->backend.get());
    glVertexArrayVertexBuffer(vertexArray, 0, stream->name, GLintptr(stream->base + state.streamOffset),
                              GLsizei(state.streamStride));
    const GLenum mode = primitiveMode(call.type);
    const GLsizei count = vertexCount(call.type, call.primitives);
    if (call.indexed) {
        const auto* indices = static_cast<GLBuffer*>(state.indices->backend.get());
        glVertexArrayElementBuffer(vertexArray, indices->name);
        const UINT size = state.indices->indexSize();
        glDrawRangeElementsBaseVertex(mode, call.minVertex, call.minVertex + call.numVertices - 1, count,
                                      size == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                                      reinterpret_cast<const void*>(indices->base + std::uintptr_t(call.start) * size),
                                      call.baseVertex);
    } else {
        glDrawArrays(mode, GLint(call.start), count);
    }
    markDrawn(state.renderTarget);
    return S_OK;
}

HRESULT GLBackend::present(DeviceCore& device) {
    context_.makeCurrent();
    finishFrame(device);
    const SurfaceImpl* back = device.backBuffer();
    if (record_) {
        if (back) {
            record_->presented = framebuffer(back, nullptr);
            recordFramebuffer(record_->presented, back, nullptr);
        }
        record_->complete = true;
        record_ = nullptr;
    }
    if (back && context_.hasWindow()) {
        // The presentation interval: refreshes to wait at each Present.
        const UINT interval = device.parameters().PresentationInterval;
        context_.setSwapInterval(interval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0
                                 : interval == D3DPRESENT_INTERVAL_TWO     ? 2
                                 : interval == D3DPRESENT_INTERVAL_THREE   ? 3
                                 : interval == D3DPRESENT_INTERVAL_FOUR    ? 4
                                                                           : 1);
        int width = 0, height = 0;
        context_.windowSize(width, height);
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        appliedValid_ = false;
        // The window's default framebuffer has GL's lower-left origin.
        glBlitNamedFramebuffer(framebuffer(back, nullptr), 0, 0, 0, GLint(back->desc.Width), GLint(back->desc.Height),
                               0, height, width, 0, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    }
    context_.swap();
    startFrame();
    return S_OK;
}

void GLBackend::recordShader(GLuint shader) {
    if (record_->shaders.count(shader)) return;
    GLint type = 0, length = 0;
    glGetShaderiv(shader, GL_SHADER_TYPE, &type);
    glGetShaderiv(shader, GL_SHADER_SOURCE_LENGTH, &length);
    std::string text(std::size_t(std::max(length, 1)), '\0');
    glGetShaderSource(shader, GLsizei(text.size()), nullptr, text.data());
    text.resize(std::strlen(text.c_str()));
    record_->shaders[shader] = {GLuint(type), std::move(text)};
}

void GLBackend::recordTexture(GLuint name, bool cube) {
    if (!name || record_->textures.count(name)) return;
    GLRecordedTexture& t = record_->textures[name];
    const GLint target = cube ? GL_TEXTURE_CUBE_MAP : GL_TEXTURE_2D;
    GLint levels = 0, format = 0, compressed = 0;
    glGetTextureParameteriv(name, GL_TEXTURE_IMMUTABLE_LEVELS, &levels);
    glGetTextureParameteriv(name, GL_TEXTURE_SWIZZLE_RGBA, t.swizzle);
    glGetTextureLevelParameteriv(name, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glGetTextureLevelParameteriv(name, 0, GL_TEXTURE_WIDTH, &t.width);
    glGetTextureLevelParameteriv(name, 0, GL_TEXTURE_HEIGHT, &t.height);
    glGetTextureLevelParameteriv(name, 0, GL_TEXTURE_COMPRESSED, &compressed);
    t.target = GLuint(target);
    t.levels = levels;
    t.internalFormat = GLuint(format);
    t.compressed = compressed != 0;
    const bool depthStencil = format == GL_DEPTH24_STENCIL8;
    const bool depth = format == GL_DEPTH_COMPONENT16 || format == GL_DEPTH_COMPONENT24 || format == GL_DEPTH_COMPONENT32;
    t.readFormat = depthStencil ? GL_DEPTH_STENCIL : depth ? GL_DEPTH_COMPONENT : GL_RGBA;
    t.readType = depthStencil ? GL_UNSIGNED_INT_24_8 : depth ? GL_FLOAT : GL_UNSIGNED_BYTE;
    const int faces = target == GL_TEXTURE_CUBE_MAP ? 6 : 1;
    for (int level = 0; level < levels; ++level) {
        std::vector<std::uint8_t>& image = t.images.emplace_back();
        if (t.compressed) {
            GLint size = 0;
            glGetTextureLevelParameteriv(name, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &size);
            image.resize(std::size_t(size) * faces);
            glGetCompressedTextureImage(name, level, GLsizei(image.size()), image.data());
        } else {
            GLint w = 0, h = 0;
            glGetTextureLevelParameteriv(name, level, GL_TEXTURE_WIDTH, &w);
            glGetTextureLevelParameteriv(name, level, GL_TEXTURE_HEIGHT, &h);
            image.resize(std::size_t(w) * std::size_t(h) * 4 * faces);
            glGetTextureImage(name, level, t.readFormat, t.readType, GLsizei(image.size()), image.data());
        }
    }
}

void GLBackend::recordFramebuffer(GLuint name, const SurfaceImpl* color, const SurfaceImpl* depth) {
    if (record_->framebuffers.count(name)) return;
    GLRecordedFramebuffer& f = record_->framebuffers[name];
    auto attachment = [&](const SurfaceImpl* s, GLRecordedAttachment& a) {
        if (!s) return;
        if (s->containerObject) {
            const auto* texture = static_cast<const GLTexture*>(s->containerObject->backend.get());
            const bool cube = s->container->faces == 6;
            a.type = GL_TEXTURE;
            a.name = texture->name;
            a.level = GLint(s->level);
            a.layer = cube ? GLint(s->face) : -1;
            recordTexture(texture->name, cube);
        } else {
            a.type = GL_RENDERBUFFER;
            a.name = static_cast<const GLSurface*>(s->backend.get())->renderbuffer;
            a.internalFormat = glFormat(s->desc.Format).internal;
            a.width = GLint(s->desc.Width);
            a.height = GLint(s->desc.Height);
        }
    };
    attachment(color, f.color);
    attachment(depth, f.depth);
    f.depthStencil = depth && hasStencil(depth->desc.Format);
}

void GLBackend::recordDraw(const DeviceState& state, const DrawCall& call, GLuint vertex, GLuint pixel,
                           const Program& p) {
    GLRecordedDraw d;
    recordShader(vertex);
    recordShader(pixel);
    d.vertexShader = vertex;
    d.pixelShader = pixel;
    auto bytes = [](const auto& value) {
        const auto* first = reinterpret_cast<const std::uint8_t*>(&value);
        return std::vector<std::uint8_t>(first, first + sizeof value);
    };
    // What the uniform buffers hold now: the last contents written.
    d.uniformBlocks = {bytes(lastFixedVertex_), bytes(lastVertex_), bytes(lastPixel_), bytes(lastFixedPixel_)};
    if (p.vertexInts >= 0) d.uniforms[0].assign(&state.vertexInts[0][0], &state.vertexInts[0][0] + 4 * kIntConstants);
    if (p.vertexBools >= 0) d.uniforms[1].assign(state.vertexBools.begin(), state.vertexBools.end());
    if (p.pixelInts >= 0) d.uniforms[2].assign(&state.pixelInts[0][0], &state.pixelInts[0][0] + 4 * kIntConstants);
    if (p.pixelBools >= 0) d.uniforms[3].assign(state.pixelBools.begin(), state.pixelBools.end());
    for (UINT stage = 0; stage < kMaxTextureStages; ++stage) {
        d.textures.push_back(boundTextures_[stage]);
        recordTexture(boundTextures_[stage], state.textures[stage] && state.textures[stage]->faces == 6);
        GLRecordedSampler s;
        const GLuint sampler = samplers_[stage];
        glGetSamplerParameteriv(sampler, GL_TEXTURE_WRAP_S, &s.wrap[0]);
        glGetSamplerParameteriv(sampler, GL_TEXTURE_WRAP_T, &s.wrap[1]);
        glGetSamplerParameteriv(sampler, GL_TEXTURE_WRAP_R, &s.wrap[2]);
        glGetSamplerParameteriv(sampler, GL_TEXTURE_MIN_FILTER, &s.minFilter);
        glGetSamplerParameteriv(sampler, GL_TEXTURE_MAG_FILTER, &s.magFilter);
        glGetSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, s.border);
        glGetSamplerParameterfv(sampler, GL_TEXTURE_MAX_ANISOTROPY, &s.anisotropy);
        glGetSamplerParameterfv(sampler, GL_TEXTURE_LOD_BIAS, &s.lodBias);
        glGetSamplerParameterfv(sampler, GL_TEXTURE_MIN_LOD, &s.minLod);
        d.samplers.push_back(s);
    }
    GLRecordedState& g = d.state;
    auto on = [](GLenum capability) { return int(glIsEnabled(capability)); };
    glGetIntegerv(GL_VIEWPORT, g.viewport);
    glGetFloatv(GL_DEPTH_RANGE, g.depthRange);
    g.scissorTest = on(GL_SCISSOR_TEST);
    glGetIntegerv(GL_SCISSOR_BOX, g.scissor);
    g.depthTest = on(GL_DEPTH_TEST);
    glGetIntegerv(GL_DEPTH_FUNC, &g.depthFunc);
    glGetIntegerv(GL_DEPTH_WRITEMASK, &g.depthMask);
    g.cull = on(GL_CULL_FACE);
    glGetIntegerv(GL_CULL_FACE_MODE, &g.cullFace);
    GLint polygonModes[2] = {};
    glGetIntegerv(GL_POLYGON_MODE, polygonModes);
    g.polygonMode = polygonModes[0];
    g.blend = on(GL_BLEND);
    glGetIntegerv(GL_BLEND_SRC_RGB, &g.blendSource);
    glGetIntegerv(GL_BLEND_DST_RGB, &g.blendDest);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &g.blendSourceAlpha);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &g.blendDestAlpha);
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &g.blendEquation);
    glGetIntegerv(GL_BLEND_EQUATION_ALPHA, &g.blendEquationAlpha);
    glGetFloatv(GL_BLEND_COLOR, g.blendColor);
    GLboolean mask[4] = {};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    for (int i = 0; i < 4; ++i) g.colorMask[i] = mask[i];
    g.stencilTest = on(GL_STENCIL_TEST);
    glGetIntegerv(GL_STENCIL_FUNC, &g.stencilFunc);
    glGetIntegerv(GL_STENCIL_REF, &g.stencilRef);
    glGetIntegerv(GL_STENCIL_VALUE_MASK, &g.stencilValueMask);
    glGetIntegerv(GL_STENCIL_FAIL, &g.stencilFail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &g.stencilDepthFail);
    glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &g.stencilPass);
    glGetIntegerv(GL_STENCIL_WRITEMASK, &g.stencilWriteMask);
    for (UINT i = 0; i < kMaxClipPlanes; ++i)
        if (glIsEnabled(GL_CLIP_DISTANCE0 + i)) g.clipDistances |= 1 << i;
    g.polygonOffset = on(GL_POLYGON_OFFSET_FILL);
    glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &g.offsetFactor);
    glGetFloatv(GL_POLYGON_OFFSET_UNITS, &g.offsetUnits);
    GLint framebufferName = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebufferName);
    d.framebuffer = GLuint(framebufferName);
    recordFramebuffer(d.framebuffer, state.renderTarget, state.depthStencil);

    for (const auto& e : state.declaration->elements) {
        GLRecordedAttribute a;
        GLenum type = 0;
        GLboolean normalized = GL_FALSE;
        a.location = attributeLocation(e);
        if (a.location == kAttribNone || !attributeFormat(e.Type, a.size, type, normalized)) continue;
        a.type = type;
        a.normalized = normalized;
        a.offset = e.Offset;
        d.attributes.push_back(a);
    }
    d.stride = int(state.streamStride);
    d.mode = primitiveMode(call.type);
    d.count = vertexCount(call.type, call.primitives);
    // The memory images are what the GL buffers hold.
    const auto& stream = state.stream->bytes;
    std::size_t first = 0, last = 0;  // vertices read, from the stream's offset
    if (call.indexed) {
        const UINT size = state.indices->indexSize();
        const auto& indices = state.indices->bytes;
        const std::size_t from = std::size_t(call.start) * size;
        const std::size_t to = std::min(indices.size(), from + std::size_t(d.count) * size);
        if (from >= to) return;
        std::int64_t low = INT64_MAX, high = -1;
        auto index = [&](std::size_t at) -> std::int64_t {
            if (size == 4) {
                std::uint32_t i;
                std::memcpy(&i, &indices[at], 4);
                return i;
            }
            std::uint16_t i;
            std::memcpy(&i, &indices[at], 2);
            return i;
        };
        for (std::size_t at = from; at < to; at += size) {
            low = std::min(low, index(at));
            high = std::max(high, index(at));
        }
        first = std::size_t(std::max<std::int64_t>(0, low + call.baseVertex));
        last = std::size_t(std::max<std::int64_t>(0, high + call.baseVertex));
        // The indices rebased on the first vertex read.
        d.indexType = GL_UNSIGNED_INT;
        d.indices.resize((to - from) / size * 4);
        for (std::size_t at = from, k = 0; at < to; at += size, ++k) {
            const std::uint32_t i = std::uint32_t(index(at) + call.baseVertex - std::int64_t(first));
            std::memcpy(&d.indices[k * 4], &i, 4);
        }
    } else {
        first = call.start;
        last = call.start + std::size_t(std::max(d.count, 1)) - 1;
    }
    const std::size_t begin = state.streamOffset + first * state.streamStride;
    const std::size_t end = std::min(stream.size(), state.streamOffset + (last + 1) * state.streamStride);
    if (begin < end) d.vertices.assign(stream.begin() + std::ptrdiff_t(begin), stream.begin() + std::ptrdiff_t(end));
    record_->steps.emplace_back(GLFrameRecord::Kind::Draw, record_->draws.size());
    record_->draws.push_back(std::move(d));
}

// ---- Frames kept and compared ----

FrameCommand* GLBackend::keep(FrameCommand::Kind kind, std::size_t bytes) {
    if (!keeping_) return nullptr;
    if (frame_.held + bytes > kFrameRecordLimit) {
        keeping_ = false;
        frame_.whole = false;
        busy_ = true;
        return nullptr;
    }
    frame_.held += bytes;
    return &frame_.append(kind);
}

const FrameCommand* GLBackend::heldAgainst(FrameCommand::Kind kind) {
    if (!holding_) return nullptr;
    if (matched_ < kept_.size && kept_.commands[matched_].kind == kind) return &kept_.commands[matched_];
    stopHolding();
    return nullptr;
}

bool GLBackend::holdsWritesTo(const SurfaceImpl& surface) const {
    if (!holding_) return false;
    for (std::size_t i = 0; i < matched_; ++i) {
        const FrameCommand& c = kept_.commands[i];
        if (c.kind == FrameCommand::Stretch && c.dest == &surface) return true;
        if ((c.kind == FrameCommand::Draw || c.kind == FrameCommand::Clear) &&
            (c.state->renderTarget == &surface || c.state->depthStencil == &surface))
            return true;
    }
    return false;
}

void GLBackend::replay(const FrameCommand& c) {
    switch (c.kind) {
        case FrameCommand::Draw: drawNow(*c.state, c.call); break;
        case FrameCommand::Clear:
            clearNow(*c.state, DWORD(c.rects.size()), c.rects.data(), c.flags, c.color, c.z, c.stencil);
            break;
        case FrameCommand::Stretch: stretchNow(*c.source, c.sourceRect, *c.dest, c.destRect, c.filter); break;
        case FrameCommand::Upload:
            uploadNow(*static_cast<GLBuffer*>(c.buffer->backend.get()), c.offset, c.bytes.size(), c.flags,
                      c.bytes.data());
            break;
    }
}

void GLBackend::stopHolding() {
    if (!holding_) return;
    holding_ = false;
    context_.makeCurrent();
    for (std::size_t i = 0; i < matched_; ++i) replay(kept_.commands[i]);
    // Those commands were this frame's first: the kept record becomes the
    // frame's, cut after them.
    std::swap(kept_, frame_);
    frame_.size = matched_;
    frame_.held = 0;
    for (std::size_t i = 0; i < matched_; ++i) frame_.held += heldBytes(frame_.commands[i]);
    frame_.whole = true;
    keeping_ = true;
    kept_.size = 0;
    kept_.whole = false;
}

void GLBackend::stopKeeping() {
    stopHolding();
    keeping_ = false;
    frame_.whole = false;
}

void GLBackend::finishFrame(DeviceCore& device) {
    if (holding_ && matched_ == kept_.size) {
        // The frame repeats the one before command for command. When that
        // one repeated its own predecessor too (so that even what a frame
        // reads from before it is the same) and drawing it again changes
        // nothing, the targets already hold its picture.
        holding_ = false;
        if (keptRepeated_ && kept_.repeatable) {
            ++device.stats().repeatedFrames;
            return;
        }
        for (std::size_t i = 0; i < kept_.size; ++i) replay(kept_.commands[i]);
        keptRepeated_ = true;
        return;
    }
    stopHolding();
    std::swap(kept_, frame_);
    kept_.repeatable = kept_.whole && repeatable(kept_);
    keptRepeated_ = false;
}

void GLBackend::startFrame() {
    matched_ = 0;
    if (busy_) unkept_ = kFramesUnkeptAfterBusy;
    busy_ = false;
    const bool keep = unkept_ == 0;
    if (unkept_ > 0) --unkept_;
    holding_ = keep && kept_.whole;
    keeping_ = keep && !holding_;
    frame_.size = 0;
    frame_.held = 0;
    frame_.whole = keeping_;
}

}  // namespace

std::unique_ptr<Backend> createGLBackend(HWND window) { return std::make_unique<GLBackend>(window); }

void registerShaderSource(std::int32_t sourceId, std::string glsl) {
    std::lock_guard<std::mutex> guard(g_sourcesLock);
    sources()[sourceId] = std::move(glsl);
}

const std::string* shaderSource(std::int32_t sourceId) {
    std::lock_guard<std::mutex> guard(g_sourcesLock);
    const auto found = sources().find(sourceId);
    return found == sources().end() ? nullptr : &found->second;
}

}  // namespace platform::d3d9
