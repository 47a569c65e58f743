#include "model/Y3MeshStream.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "foundation/DataStream.h"
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
    if (count <= 0 || std::int64_t(count) * stride > INT32_MAX) return;
    vertices_.data = static_cast<std::uint8_t*>(std::calloc(std::size_t(count), std::size_t(stride)));
    if (!vertices_.data) return;
    vertices_.capacity = vertices_.count = count;
}

Y3MeshStream::~Y3MeshStream() {
    uploaded_ = false;
    vertexStream_.release();
    freeVertices();
}

void Y3MeshStream::freeVertices() { vertices_.release(); }

bool Y3MeshStream::sameComponent(const D3DXVECTOR3& stored, const D3DXVECTOR3& value) {
    const float dx = value.x - stored.x;
    const float dy = value.y - stored.y;
    const float dz = value.z - stored.z;
    // A NaN makes the comparison false.
    return dx * dx + dy * dy + dz * dz < 0.00001f;
}

namespace {

// The head of a stream record: magic and format code.
std::int32_t readRecordHead(DataStream& s, std::uint32_t& magic, std::int32_t& code) {
    std::uint8_t head[8];
    const std::int32_t r = readExact(s, head, 8);
    if (r < 0) return r;
    magic = std::uint32_t(head[0]) | std::uint32_t(head[1]) << 8 | std::uint32_t(head[2]) << 16 |
            std::uint32_t(head[3]) << 24;
    code = static_cast<std::int32_t>(std::uint32_t(head[4]) | std::uint32_t(head[5]) << 8 |
                                     std::uint32_t(head[6]) << 16 | std::uint32_t(head[7]) << 24);
    return r;
}

}  // namespace

std::int32_t Y3MeshStream::readStreamRecord(DataStream& s, Y3MeshStream*& out) {
    out = nullptr;
    std::uint32_t magic = 0;
    std::int32_t code = 0;
    const std::int32_t head = readRecordHead(s, magic, code);
    if (head < 0) return head;
    if (magic != kStreamRecordMagic) return -1;
    Y3MeshStream* stream = create(code, 0);
    if (!stream) return -1;
    const std::int32_t body = stream->read(s);
    if (body < 0) {
        delete stream;
        return body;
    }
    out = stream;
    return head + body;
}

std::int32_t Y3MeshStream::readStreamRecordInto(DataStream& s, Y3MeshStream& stream) {
    std::uint32_t magic = 0;
    std::int32_t code = 0;
    const std::int32_t head = readRecordHead(s, magic, code);
    if (head < 0) return head;
    if (magic != kStreamRecordMagic || code != stream.getFormat()) return -1;
    const std::int32_t body = stream.read(s);
    return body < 0 ? body : head + body;
}

std::int32_t Y3MeshStream::writeStreamRecord(DataStream& s) const {
    std::uint8_t head[8];
    const std::uint32_t words[2] = {kStreamRecordMagic, static_cast<std::uint32_t>(getFormat())};
    for (int i = 0; i < 8; ++i) head[i] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    std::int32_t total = 0;
    if (!addField(total, s.write(head, 8))) return total;
    addField(total, write(s));
    return total;
}

bool Y3MeshStream::allocateBuffer(IDirect3DDevice9* device, std::uint32_t flags) {
    std::int32_t code = getFormat();
    std::int32_t stride = getStride();
    bufferFormat(code, stride);
    return vertexStream_.allocate(device, vertices_.count, stride, code, flags);
}

bool Y3MeshStream::upload(DWORD lockFlags) {
    // The buffer was made for this many vertices; a stream that changed
    // since must be allocated again.
    if (!vertexStream_.buffer() || vertexStream_.count() != vertices_.count) return false;
    const std::int32_t stride = getStride();
    if (vertexStream_.stride() == stride) return vertexStream_.update(vertices_.data, lockFlags);
    auto* target = static_cast<std::uint8_t*>(vertexStream_.lock(lockFlags));
    if (!target) return false;
    const std::size_t bytes = std::size_t(vertexStream_.stride());
    for (std::int32_t i = 0; i < vertices_.count; ++i)
        std::memcpy(target + bytes * std::size_t(i), vertices_.data + std::size_t(stride) * std::size_t(i), bytes);
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
    const std::int32_t count = std::min(vertices_.count, source.getCount());
    const std::size_t bytes = std::size_t(std::min(getStride(), source.getStride()));
    const std::uint8_t* from = source.getData();
    for (std::int32_t i = 0; i < count; ++i)
        std::memcpy(vertices_.data + std::size_t(getStride()) * std::size_t(i),
                    from + std::size_t(source.getStride()) * std::size_t(i), bytes);
}
