#include "model/Y3MeshStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "foundation/Log.h"

namespace {

template <std::int32_t... Codes>
Y3MeshStream* createOf(std::int32_t code, std::int32_t count, std::integer_sequence<std::int32_t, Codes...>) {
    Y3MeshStream* stream = nullptr;
    ((code == Codes ? (stream = new Y3MeshStreamFormat<Codes>(count), true) : false) || ...);
    return stream;
}

// The format and stride of the buffer that holds a stream's vertices: its
// own, or its fallback's on the fixed-function pipeline. Format 48 stores
// the layout of format 2 and is drawn as one.
void bufferFormat(std::int32_t& code, std::int32_t& stride) {
    if (code == 48) code = 2;
    if (streamsOnFixedPipeline()) code = vertexFormat(code)->fallback;
    stride = vertexStrideOf(code);
}

}  // namespace

Y3MeshStream* Y3MeshStream::create(std::int32_t code, std::int32_t count) {
    if (static_cast<std::uint32_t>(code) >= static_cast<std::uint32_t>(kVertexFormatCount)) return nullptr;
    return createOf(code, count, std::make_integer_sequence<std::int32_t, kVertexFormatCount>());
}

Y3MeshStream::Y3MeshStream(std::int32_t stride, std::int32_t count) {
    if (count <= 0) return;
    data_ = static_cast<std::uint8_t*>(std::calloc(std::size_t(count), std::size_t(stride)));
    if (!data_) return;
    capacity_ = count_ = count;
}

Y3MeshStream::~Y3MeshStream() {
    uploaded_ = false;
    vertexStream_.release();
    freeVertices();
}

void Y3MeshStream::freeVertices() {
    std::free(data_);
    data_ = nullptr;
    capacity_ = count_ = 0;
}

bool Y3MeshStream::allocateBuffer(IDirect3DDevice9* device, std::uint32_t flags) {
    std::int32_t code = getFormat();
    std::int32_t stride = getStride();
    bufferFormat(code, stride);
    return vertexStream_.allocate(device, count_, stride, code, flags);
}

bool Y3MeshStream::upload(DWORD lockFlags) {
    // The buffer was made for this many vertices; a stream that changed
    // since must be allocated again.
    if (!vertexStream_.buffer() || vertexStream_.count() != count_) return false;
    const std::int32_t stride = getStride();
    if (vertexStream_.stride() == stride) return vertexStream_.update(data_, lockFlags);
    auto* target = static_cast<std::uint8_t*>(vertexStream_.lock(lockFlags));
    if (!target) return false;
    const std::size_t bytes = std::size_t(vertexStream_.stride());
    for (std::int32_t i = 0; i < count_; ++i)
        std::memcpy(target + bytes * std::size_t(i), data_ + std::size_t(stride) * std::size_t(i), bytes);
    vertexStream_.unlock();
    return true;
}

bool Y3MeshStream::allocateAndUpload(IDirect3DDevice9* device, std::uint32_t flags) {
    if (!allocateBuffer(device, flags)) return engineLog().systemError("D3DSTREAM: Can't allocate mesh");
    if (!upload(0)) {
        uploaded_ = false;
        vertexStream_.release();
        return engineLog().systemError("D3DSTREAM: Can't update mesh data to GPU");
    }
    uploaded_ = true;
    return true;
}

void Y3MeshStream::copyVertices(const Y3MeshStream& source) {
    const std::int32_t count = std::min(count_, source.getCount());
    const std::size_t bytes = std::size_t(std::min(getStride(), source.getStride()));
    const std::uint8_t* from = source.getData();
    for (std::int32_t i = 0; i < count; ++i)
        std::memcpy(data_ + std::size_t(getStride()) * std::size_t(i),
                    from + std::size_t(source.getStride()) * std::size_t(i), bytes);
}
