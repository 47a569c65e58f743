// Our D3DX 9 subset, under the D3DX names: image information and textures
// from DDS and TGA files in memory, texture requirements, texel fills,
// render-to-surface, PNG export, buffers and shader constant tables.
//
// Images: DDS (DXT1, DXT3, DXT5, A8R8G8B8, X8R8G8B8, R8G8B8, L8, A8 and the
// 16-bit RGB formats; mip chains; cube maps with all six faces) and TGA
// (uncompressed or RLE, true colour or grey, either row order). Sizes in the
// headers are checked against the data, with 64-bit arithmetic; a damaged
// file is refused with D3DXERR_INVALIDDATA and one line to the message sink,
// never read past its end. Numeric values are the documented D3DX ones.
#pragma once

#include "platform/d3d9/D3D9.h"

constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;
constexpr UINT D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFEu;
constexpr UINT D3DX_FROM_FILE = 0xFFFFFFFDu;
constexpr D3DFORMAT D3DFMT_FROM_FILE = static_cast<D3DFORMAT>(0xFFFFFFFDu);

// Filters (the low byte; flags above it are accepted and ignored).
constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
constexpr DWORD D3DX_FILTER_DITHER = 0x80000;

enum D3DXIMAGE_FILEFORMAT : std::uint32_t {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
};

struct D3DXIMAGE_INFO {
    UINT Width, Height, Depth, MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

struct PALETTEENTRY {
    BYTE peRed, peGreen, peBlue, peFlags;
};

struct D3DXVECTOR2 {
    float x, y;
};
struct D3DXVECTOR3 {
    float x, y, z;
};
struct D3DXVECTOR4 {
    float x, y, z, w;
};
struct D3DXMATRIX : D3DMATRIX {};

class ID3DXBuffer : public IUnknown {
public:
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};

HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer);

// Images and textures.
HRESULT D3DXGetImageInfoFromFileInMemory(const void* data, UINT size, D3DXIMAGE_INFO* info);
// palette must be null and colorKey 0 (no palettes, no colour keys).
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* device, const void* data, UINT size, UINT width,
                                            UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            DWORD filter, DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                            PALETTEENTRY* palette, IDirect3DTexture9** texture);
HRESULT D3DXCreateCubeTextureFromFileInMemory(IDirect3DDevice9* device, const void* data, UINT size,
                                              IDirect3DCubeTexture9** texture);
// Adjusts size, levels and format to what the device can create; a null
// pointer leaves that value to the default.
HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* device, UINT* width, UINT* height, UINT* levels, DWORD usage,
                                     D3DFORMAT* format, D3DPOOL pool);
HRESULT D3DXCheckCubeTextureRequirements(IDirect3DDevice9* device, UINT* size, UINT* levels, DWORD usage,
                                         D3DFORMAT* format, D3DPOOL pool);

// Fills every level, calling fill with the texel centre and the texel size.
using LPD3DXFILL2D = void (*)(D3DXVECTOR4* out, const D3DXVECTOR2* texCoord, const D3DXVECTOR2* texelSize, void* data);
using LPD3DXFILL3D = void (*)(D3DXVECTOR4* out, const D3DXVECTOR3* texCoord, const D3DXVECTOR3* texelSize, void* data);
HRESULT D3DXFillTexture(IDirect3DTexture9* texture, LPD3DXFILL2D fill, void* data);
HRESULT D3DXFillCubeTexture(IDirect3DCubeTexture9* texture, LPD3DXFILL3D fill, void* data);

// Level 0 (face 0 of a cube) as a file image; only D3DXIFF_PNG is written.
HRESULT D3DXSaveTextureToFileInMemory(ID3DXBuffer** buffer, D3DXIMAGE_FILEFORMAT format,
                                      IDirect3DBaseTexture9* texture, const PALETTEENTRY* palette);
// A surface (the back buffer for a screenshot) as a file image; only
// D3DXIFF_PNG of the whole surface (rect null) is written.
HRESULT D3DXSaveSurfaceToFileInMemory(ID3DXBuffer** buffer, D3DXIMAGE_FILEFORMAT format, IDirect3DSurface9* surface,
                                      const PALETTEENTRY* palette, const RECT* rect);

// Rendering into a surface.
struct D3DXRTS_DESC {
    UINT Width, Height;
    D3DFORMAT Format;
    BOOL DepthStencil;
    D3DFORMAT DepthStencilFormat;
};

class ID3DXRenderToSurface : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDesc(D3DXRTS_DESC* desc) = 0;
    // Makes surface the render target (with the object's depth buffer) and
    // begins a scene; EndScene restores the device's targets and viewport
    // and, with a mip filter other than none (or 0), rebuilds the lower levels.
    virtual HRESULT BeginScene(IDirect3DSurface9* surface, const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT EndScene(DWORD mipFilter) = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
};

HRESULT D3DXCreateRenderToSurface(IDirect3DDevice9* device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat, ID3DXRenderToSurface** object);

// Shader constant tables.
using D3DXHANDLE = const char*;

enum D3DXREGISTER_SET : std::uint32_t {
    D3DXRS_BOOL = 0,
    D3DXRS_INT4 = 1,
    D3DXRS_FLOAT4 = 2,
    D3DXRS_SAMPLER = 3,
};

enum D3DXPARAMETER_CLASS : std::uint32_t {
    D3DXPC_SCALAR = 0,
    D3DXPC_VECTOR = 1,
    D3DXPC_MATRIX_ROWS = 2,
    D3DXPC_MATRIX_COLUMNS = 3,
    D3DXPC_OBJECT = 4,
    D3DXPC_STRUCT = 5,
};

enum D3DXPARAMETER_TYPE : std::uint32_t {
    D3DXPT_VOID = 0,
    D3DXPT_BOOL = 1,
    D3DXPT_INT = 2,
    D3DXPT_FLOAT = 3,
    D3DXPT_STRING = 4,
    D3DXPT_TEXTURE = 5,
    D3DXPT_TEXTURE1D = 6,
    D3DXPT_TEXTURE2D = 7,
    D3DXPT_TEXTURE3D = 8,
    D3DXPT_TEXTURECUBE = 9,
    D3DXPT_SAMPLER = 10,
    D3DXPT_SAMPLER1D = 11,
    D3DXPT_SAMPLER2D = 12,
    D3DXPT_SAMPLER3D = 13,
    D3DXPT_SAMPLERCUBE = 14,
};

struct D3DXCONSTANTTABLE_DESC {
    const char* Creator;
    DWORD Version;
    UINT Constants;
};

struct D3DXCONSTANT_DESC {
    const char* Name;
    D3DXREGISTER_SET RegisterSet;
    UINT RegisterIndex;
    UINT RegisterCount;
    D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type;
    UINT Rows;
    UINT Columns;
    UINT Elements;
    UINT StructMembers;
    UINT Bytes;
    const void* DefaultValue;
};

// Handles are the table's own, or a constant's name.
class ID3DXConstantTable : public ID3DXBuffer {
public:
    virtual HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) = 0;
    virtual HRESULT GetConstantDesc(D3DXHANDLE constant, D3DXCONSTANT_DESC* desc, UINT* count) = 0;
    // parent must be null (no structures).
    virtual D3DXHANDLE GetConstant(D3DXHANDLE parent, UINT index) = 0;
    virtual D3DXHANDLE GetConstantByName(D3DXHANDLE parent, const char* name) = 0;
    virtual HRESULT SetDefaults(IDirect3DDevice9* device) = 0;
    virtual HRESULT SetBool(IDirect3DDevice9* device, D3DXHANDLE constant, BOOL value) = 0;
    virtual HRESULT SetInt(IDirect3DDevice9* device, D3DXHANDLE constant, INT value) = 0;
    virtual HRESULT SetFloat(IDirect3DDevice9* device, D3DXHANDLE constant, float value) = 0;
    virtual HRESULT SetFloatArray(IDirect3DDevice9* device, D3DXHANDLE constant, const float* values, UINT count) = 0;
    virtual HRESULT SetVector(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vector) = 0;
    virtual HRESULT SetVectorArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXVECTOR4* vectors,
                                   UINT count) = 0;
    virtual HRESULT SetMatrix(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT SetMatrixArray(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrices,
                                   UINT count) = 0;
    virtual HRESULT SetMatrixTranspose(IDirect3DDevice9* device, D3DXHANDLE constant, const D3DXMATRIX* matrix) = 0;
    virtual HRESULT SetMatrixTransposeArray(IDirect3DDevice9* device, D3DXHANDLE constant,
                                            const D3DXMATRIX* matrices, UINT count) = 0;
};

// The table of a body in our format (platform/d3d9/ShaderBody.h); a body
// that is not ours answers D3DXERR_INVALIDDATA.
HRESULT D3DXGetShaderConstantTable(const DWORD* function, ID3DXConstantTable** table);
UINT D3DXGetShaderSize(const DWORD* function);
