// Textures, surfaces, buffers, declarations and shaders: their lock rules
// and the memory images they keep.
#include "platform/d3d9/DeviceLocal.h"
#include "platform/d3d9/PixelFormat.h"

#include <cstdio>
#include <cstring>

namespace platform::d3d9 {

namespace {

HRESULT refuseOn(Tracked& object, const char* call, const char* why) {
    if (object.device) object.device->stats().refused++;
    if (object.context) object.context->message("%s of [%s] refused: %s", call, object.name.c_str(), why);
    return D3DERR_INVALIDCALL;
}

template <class Interface>
HRESULT deviceOfObject(Tracked& object, IDirect3DDevice9** device) {
    if (!device || !object.device) return D3DERR_INVALIDCALL;
    object.device->AddRef();
    *device = object.device;
    return S_OK;
}

}  // namespace

// Surfaces.

ULONG SurfaceImpl::AddRef() {
    // A level's count is its texture's.
    return container ? container->base()->AddRef() : ++refs;
}

ULONG SurfaceImpl::Release() {
    if (!container) return Object<IDirect3DSurface9>::Release();
    return container->base()->Release();
}

HRESULT SurfaceImpl::GetDevice(IDirect3DDevice9** out) {
    return deviceOfObject<IDirect3DSurface9>(containerObject ? *containerObject : *this, out);
}

HRESULT SurfaceImpl::GetDesc(D3DSURFACE_DESC* out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = desc;
    return S_OK;
}

std::string SurfaceImpl::label() const {
    if (!containerObject) return name;
    return containerObject->name + " level " + std::to_string(level) +
           (container->faces > 1 ? " face " + std::to_string(face) : std::string());
}

ZeroedBytes& SurfaceImpl::image() {
    if (bytes.empty()) bytes = ZeroedBytes(levelBytes(desc.Format, desc.Width, desc.Height));
    return bytes;
}

bool SurfaceImpl::lockable() const {
    if (desc.Usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) return false;
    return desc.Pool != D3DPOOL_DEFAULT || (desc.Usage & D3DUSAGE_DYNAMIC);
}

HRESULT SurfaceImpl::LockRect(D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    Tracked& owner = containerObject ? *containerObject : static_cast<Tracked&>(*this);
    if (owner.context) owner.context->call("LockRect(%s, 0x%X)", label().c_str(), flags);
    if (!lockedRect) return refuseOn(owner, "LockRect", "no locked-rect record");
    const std::string what = label();
    auto refuse = [&](const char* why) {
        if (owner.device) owner.device->stats().refused++;
        if (owner.context) owner.context->message("LockRect of [%s] refused: %s", what.c_str(), why);
        return D3DERR_INVALIDCALL;
    };
    if (!owner.device) return refuse("its device has gone");
    if (locked) return refuse("already locked");
    if (!lockable()) return refuse("not lockable (render target, depth buffer or default pool without dynamic usage)");
    if (flags & D3DLOCK_NOOVERWRITE) return refuse("D3DLOCK_NOOVERWRITE is for buffers");
    if ((flags & D3DLOCK_DISCARD) && !(desc.Usage & D3DUSAGE_DYNAMIC)) return refuse("D3DLOCK_DISCARD without dynamic usage");
    std::size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right <= rect->left || rect->bottom <= rect->top ||
            UINT(rect->right) > desc.Width || UINT(rect->bottom) > desc.Height)
            return refuse("rectangle outside the surface");
        const FormatInfo info = formatInfo(desc.Format);
        if (info.compressed) {
            if ((rect->left | rect->top) & 3) return refuse("rectangle not on 4 x 4 blocks");
            offset = std::size_t(rect->top / 4) * pitch + std::size_t(rect->left / 4) * info.bytes;
        } else {
            offset = std::size_t(rect->top) * pitch + std::size_t(rect->left) * info.bytes;
        }
    }
    if (!(flags & D3DLOCK_DISCARD)) owner.device->backend().readBack(*this);
    locked = true;
    lockFlags = flags;
    lockedRect->Pitch = static_cast<INT>(pitch);
    lockedRect->pBits = image().data() + offset;
    return S_OK;
}

HRESULT SurfaceImpl::UnlockRect() {
    Tracked& owner = containerObject ? *containerObject : static_cast<Tracked&>(*this);
    if (owner.context) owner.context->call("UnlockRect(%s)", label().c_str());
    if (!locked) {
        if (owner.device) owner.device->stats().refused++;
        if (owner.context) owner.context->message("UnlockRect of [%s] refused: not locked", label().c_str());
        return D3DERR_INVALIDCALL;
    }
    locked = false;
    if (owner.device && !(lockFlags & D3DLOCK_READONLY)) owner.device->backend().uploaded(owner, this);
    return S_OK;
}

// Textures.

HRESULT TextureCore::lockLevel(const char* call, UINT face, UINT level, D3DLOCKED_RECT* locked, const RECT* rect,
                               DWORD flags) {
    SurfaceImpl* s = surface(face, level);
    if (!s) {
        char why[64];
        std::snprintf(why, sizeof why, "no level %u face %u", level, face);
        return refuseOn(tracked(), call, why);
    }
    return s->LockRect(locked, rect, flags);
}

HRESULT TextureCore::unlockLevel(const char* call, UINT face, UINT level) {
    SurfaceImpl* s = surface(face, level);
    if (!s) return refuseOn(tracked(), call, "no such level");
    return s->UnlockRect();
}

HRESULT TextureCore::levelDesc(UINT level, D3DSURFACE_DESC* desc) {
    SurfaceImpl* s = surface(0, level);
    if (!s || !desc) return refuseOn(tracked(), "GetLevelDesc", "no such level");
    *desc = s->desc;
    return S_OK;
}

HRESULT TextureImpl::GetDevice(IDirect3DDevice9** out) { return deviceOfObject<IDirect3DTexture9>(*this, out); }

HRESULT TextureImpl::GetSurfaceLevel(UINT level, IDirect3DSurface9** out) {
    SurfaceImpl* s = surface(0, level);
    if (!s || !out) return refuseOn(*this, "GetSurfaceLevel", "no such level");
    AddRef();
    *out = s;
    return S_OK;
}

HRESULT CubeTextureImpl::GetDevice(IDirect3DDevice9** out) {
    return deviceOfObject<IDirect3DCubeTexture9>(*this, out);
}

HRESULT CubeTextureImpl::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** out) {
    SurfaceImpl* s = surface(face, level);
    if (!s || !out) return refuseOn(*this, "GetCubeMapSurface", "no such face or level");
    AddRef();
    *out = s;
    return S_OK;
}

// Buffers.

HRESULT BufferCore::lock(Tracked& self, UINT offset, UINT size, void** data, DWORD flags) {
    if (self.context) self.context->call("Lock(%s, %u, %u, 0x%X)", self.name.c_str(), offset, size, flags);
    auto refuse = [&](const char* why) { return refuseOn(self, "Lock", why); };
    if (!data) return refuse("no place for the pointer");
    *data = nullptr;
    if (!self.device) return refuse("its device has gone");
    if (locked) return refuse("already locked");
    if (offset > bytes.size() || (size != 0 && std::uint64_t(offset) + size > bytes.size()))
        return refuse("range outside the buffer");
    if (size == 0) size = static_cast<UINT>(bytes.size() - offset);
    const bool dynamic = (usage & D3DUSAGE_DYNAMIC) != 0;
    if ((flags & D3DLOCK_DISCARD) && (flags & D3DLOCK_NOOVERWRITE))
        return refuse("D3DLOCK_DISCARD and D3DLOCK_NOOVERWRITE together");
    // On a dynamic buffer a discard hands out fresh memory: the old contents
    // are undefined. The locked range is filled with 0xCD, so that reading
    // it shows; the rest is left as it is, so that discarding to write a
    // few vertices costs no more than those. Elsewhere both hints are
    // ignored, as by Direct3D.
    if (dynamic && (flags & D3DLOCK_DISCARD)) std::memset(bytes.data() + offset, 0xCD, size);
    locked = true;
    lockFlags = flags;
    lockOffset = offset;
    lockSize = size;
    *data = bytes.data() + offset;
    return S_OK;
}

HRESULT BufferCore::unlock(Tracked& self) {
    if (self.context) self.context->call("Unlock(%s)", self.name.c_str());
    if (!locked) return refuseOn(self, "Unlock", "not locked");
    locked = false;
    if (self.device && !(lockFlags & D3DLOCK_READONLY)) self.device->backend().uploaded(self, nullptr);
    return S_OK;
}

HRESULT VertexBufferImpl::GetDevice(IDirect3DDevice9** out) {
    return deviceOfObject<IDirect3DVertexBuffer9>(*this, out);
}

HRESULT VertexBufferImpl::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = {D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, static_cast<UINT>(bytes.size()), 0};
    return S_OK;
}

HRESULT IndexBufferImpl::GetDevice(IDirect3DDevice9** out) { return deviceOfObject<IDirect3DIndexBuffer9>(*this, out); }

HRESULT IndexBufferImpl::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = {format, D3DRTYPE_INDEXBUFFER, usage, pool, static_cast<UINT>(bytes.size())};
    return S_OK;
}

HRESULT DeclarationImpl::GetDeclaration(D3DVERTEXELEMENT9* out, UINT* count) {
    if (!count) return D3DERR_INVALIDCALL;
    const UINT needed = static_cast<UINT>(elements.size() + 1);
    if (out) {
        if (*count < needed) return D3DERR_INVALIDCALL;
        std::memcpy(out, elements.data(), elements.size() * sizeof(D3DVERTEXELEMENT9));
        out[elements.size()] = D3DDECL_END();
    }
    *count = needed;
    return S_OK;
}

template <class Interface>
HRESULT ShaderImpl<Interface>::GetFunction(void* data, UINT* size) {
    if (!size) return D3DERR_INVALIDCALL;
    if (data) {
        if (*size < code.size()) return D3DERR_INVALIDCALL;
        std::memcpy(data, code.data(), code.size());
    }
    *size = static_cast<UINT>(code.size());
    return S_OK;
}

template class ShaderImpl<IDirect3DVertexShader9>;
template class ShaderImpl<IDirect3DPixelShader9>;

}  // namespace platform::d3d9
