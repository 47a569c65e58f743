// Fuzz targets of the vertex stream records, the counted record arrays,
// meshes and model files.
#include <cstring>
#include <memory>
#include <string>

#include "effects/LightDataManager.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "model/ModelWriter.h"
#include "model/RecordArray.h"
#include "model/Y3Mesh.h"
#include "model/Y3MeshStream.h"
#include "model/Y3Model.h"

namespace fuzzing {

namespace {

MemoryStream streamOver(const std::uint8_t* data, std::size_t size) {
    return MemoryStream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
}

// The bytes a stream's record writes.
std::string recordOf(const Y3MeshStream& stream) { return model_tools::streamRecordBytes(stream); }

bool sameBytes(const std::string& written, const std::uint8_t* data, std::int32_t at) {
    return std::memcmp(written.data(), data + at, written.size()) == 0;
}

}  // namespace

// The first byte picks a format code and a record size; the rest is read
// as a run of stream records (as a mesh reads its streams), as one record
// into a stream of the picked format, and as a counted array of the picked
// record size. Whatever is accepted must be exactly the bytes read and
// come back the same when written; whatever is refused leaves no stream.
int fuzzStreams(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const std::int32_t code = data[0] % kVertexFormatCount;
    const std::int32_t recordSize = 20 + 4 * (data[0] % 17);
    const std::uint8_t* body = data + 1;
    const std::int32_t length = static_cast<std::int32_t>(size - 1);

    MemoryStream records = streamOver(body, size - 1);
    for (int i = 0; i < 1000; ++i) {
        const std::int32_t before = records.tell();
        Y3MeshStream* read = reinterpret_cast<Y3MeshStream*>(&records);
        const std::int32_t result = Y3MeshStream::readStreamRecord(records, read);
        if (result < 0) {
            fuzzCheck(read == nullptr, "streams: a refused record left a stream");
            break;
        }
        std::unique_ptr<Y3MeshStream> stream(read);
        fuzzCheck(stream != nullptr, "streams: an accepted record gave no stream");
        fuzzCheck(result == 12 + stream->getSize() && records.tell() - before == result,
                  "streams: the record's size is not the bytes read");
        fuzzCheck(stream->getSize() <= length, "streams: more vertices than the input holds");
        const std::string written = recordOf(*stream);
        fuzzCheck(std::int32_t(written.size()) == result && sameBytes(written, body, before),
                  "streams: the record does not come back the same");
    }

    MemoryStream into = streamOver(body, size - 1);
    std::unique_ptr<Y3MeshStream> target(Y3MeshStream::create(code, 2));
    const std::int32_t intoResult = Y3MeshStream::readStreamRecordInto(into, *target);
    if (intoResult >= 0) {
        const std::string written = recordOf(*target);
        fuzzCheck(std::int32_t(written.size()) == intoResult && sameBytes(written, body, 0),
                  "streams: a record read into a stream does not come back the same");
    } else {
        fuzzCheck(target->getCount() == 0 || target->getCount() == 2,
                  "streams: a refused record left part of its vertices");
    }

    MemoryStream arrayInput = streamOver(body, size - 1);
    RecordArray array;
    const std::int32_t arrayResult = readRecordArray(arrayInput, array, recordSize);
    if (arrayResult >= 0) {
        fuzzCheck(arrayResult == 4 + array.count * recordSize && arrayResult <= length,
                  "streams: the array's size is not the bytes read");
        MemoryStream out;
        fuzzCheck(writeRecordArray(out, array, recordSize) == arrayResult &&
                      std::memcmp(out.data(), body, std::size_t(arrayResult)) == 0,
                  "streams: the array does not come back the same");
    } else {
        fuzzCheck(array.data == nullptr && array.count == 0, "streams: a refused array kept records");
    }
    array.release();
    forgetLog();
    return 0;
}

void seedStreams(std::vector<std::string>& out) {
    model_tools::ModelDescription description;
    std::string error;
    model_tools::parseModelDescription("stream a 0\n"
                                       "vertex p 1 2 3 t 0 1\n"
                                       "vertex p 4 5 6 t 1 0\n"
                                       "stream b 47\n"
                                       "vertex p 0 0 1 n 0 1 0 c 0xFF00FF00 t 0 0 lm 1 1 t2 0.5 0.5 b 1 0 0 "
                                       "i 1 2 3 4 w 0.5 0.5 0 0\n"
                                       "stream c 48\n"
                                       "vertex p 1 1 1 c 0x80808080 t 0.25 0.75\n"
                                       "stream d 9\n",
                                       description, error);
    std::string all;
    for (const model_tools::StreamFile& file : description.streams) {
        const std::string record = model_tools::streamRecordBytes(*file.stream);
        // The first byte picks the stream's own format.
        out.push_back(std::string(1, static_cast<char>(file.stream->getFormat())) + record);
        all += record;
    }
    out.push_back(std::string(1, '\0') + all);
}

namespace {

std::string meshPart(Y3Mesh& mesh, bool skinTail, bool header) {
    MemoryStream out;
    if (mesh.write(out, skinTail, header) < 0) return "(failed)";
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

// A part as written, read into a fresh mesh and written again, comes back
// the same.
void checkRewrite(const std::string& header, const std::string* data, bool skinTail, const char* what) {
    std::string copy = header;
    MemoryStream in(copy.data(), std::int32_t(copy.size()));
    Y3Mesh again;
    fuzzCheck(again.read(in, skinTail, true) == std::int32_t(header.size()), what);
    fuzzCheck(meshPart(again, skinTail, true) == header, what);
    if (!data) return;
    std::string dataCopy = *data;
    MemoryStream dataIn(dataCopy.data(), std::int32_t(dataCopy.size()));
    fuzzCheck(again.read(dataIn, skinTail, false) == std::int32_t(data->size()), what);
    fuzzCheck(meshPart(again, skinTail, false) == *data, what);
}

}  // namespace

// The first byte is the element's skin tail flag (bit 0); a u32 gives the
// length of the header part, the rest is the data part. An accepted part
// must be written again the same way after a second read; a mesh not
// flagged bad has every subset inside its index array and every index of a
// subset inside its stream.
int fuzzMesh(const std::uint8_t* data, std::size_t size) {
    if (size < 5 || size > (1u << 20)) return 0;
    const bool skinTail = data[0] & 1;
    std::uint32_t headerLength = 0;
    std::memcpy(&headerLength, data + 1, 4);
    const std::size_t rest = size - 5;
    if (headerLength > rest) headerLength = std::uint32_t(rest);
    MemoryStream header = streamOver(data + 5, headerLength);
    MemoryStream body = streamOver(data + 5 + headerLength, rest - headerLength);
    Y3Mesh mesh;
    const std::int32_t headerRead = mesh.read(header, skinTail, true);
    if (headerRead >= 0) {
        fuzzCheck(headerRead <= std::int32_t(headerLength), "mesh: more header bytes read than given");
        const std::string headerWritten = meshPart(mesh, skinTail, true);
        const std::int32_t dataRead = mesh.read(body, skinTail, false);
        if (dataRead >= 0) {
            const std::string dataWritten = meshPart(mesh, skinTail, false);
            checkRewrite(headerWritten, &dataWritten, skinTail, "mesh: the parts do not come back the same");
            if (!(mesh.flags() & Y3Mesh::kBad)) {
                for (std::int32_t i = 0; i < mesh.subsetCount(); ++i) {
                    const MeshSubset& sub = mesh.subset(i);
                    const Y3MeshStream* source = mesh.stream(sub.stream);
                    fuzzCheck(source != nullptr, "mesh: a good mesh's subset names no stream");
                    fuzzCheck(sub.startIndex >= 0 && sub.indexCount >= 0 &&
                                  std::size_t(sub.startIndex) + std::size_t(sub.indexCount) <= mesh.indices().size(),
                              "mesh: a good mesh's subset reaches outside its indices");
                    for (std::int32_t k = 0; k < sub.indexCount; ++k)
                        fuzzCheck(mesh.indices()[std::size_t(sub.startIndex + k)] < std::uint32_t(source->getCount()),
                                  "mesh: a good mesh's index reaches past its stream");
                }
            }
        } else {
            checkRewrite(headerWritten, nullptr, skinTail, "mesh: the header does not come back the same");
        }
    }
    forgetLog();
    return 0;
}

void seedMesh(std::vector<std::string>& out) {
    const char* const descriptions[] = {
        "mesh a b\n"
        "meshstream 4\n"
        "vertex p 0 0 0 t 0 0\nvertex p 1 0 0 t 1 0\nvertex p 0 1 0 t 0 1\nvertex p 1 1 0 t 1 1\n"
        "meshstream 5\n"
        "vertex p 0 0 1 i 0 1 0 0 w 0.5 0.5 0 0\nvertex p 1 0 1 w 1 0 0 0\nvertex p 0 1 1 w 1 0 0 0\n"
        "index 0 1 2 2 1 3 0 1 2\n"
        "subset 0 0 6 4 kind 3 diffuse stone lightmap shade\n"
        "subset 1 6 3 3 kind 5 bones 2\n"
        "bone root -1\nbone arm 0\nbone hand 1\n",
        "mesh a b skintail\n"
        "meshstream 0\n"
        "vertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\n"
        "index 0 1 2\n"
        "subset 0 0 3 3\n",
    };
    for (const char* text : descriptions) {
        model_tools::ModelDescription description;
        std::string error;
        if (!model_tools::parseModelDescription(text, description, error) || description.meshes.empty()) continue;
        const model_tools::MeshFile& file = description.meshes.front();
        const std::string header = model_tools::meshPartBytes(*file.mesh, file.skinTail, true);
        const std::string data = model_tools::meshPartBytes(*file.mesh, file.skinTail, false);
        std::string seed(1, file.skinTail ? '\1' : '\0');
        const std::uint32_t length = std::uint32_t(header.size());
        seed.append(reinterpret_cast<const char*>(&length), 4);
        out.push_back(seed + header + data);
    }
}

}  // namespace fuzzing

namespace fuzzing {

namespace {

// A model's header file or data file as written; "(failed)" when refused.
std::string modelFile(Y3Model& model, bool header) {
    MemoryStream out;
    const std::int32_t result = header ? model.writeToStream(out, "fuzz") : model.write(out, false, "fuzz");
    if (result < 0) return "(failed)";
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

}  // namespace

// A u32 gives the length of the header file (".mh4"), the rest is the data
// file (".my3"). Whatever is accepted is no more than the bytes given, and
// the files it writes again are read back whole.
int fuzzModel(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > (1u << 20)) return 0;
    std::uint32_t headerLength = 0;
    std::memcpy(&headerLength, data, 4);
    const std::size_t rest = size - 4;
    if (headerLength > rest) headerLength = std::uint32_t(rest);
    MemoryStream header = streamOver(data + 4, headerLength);
    MemoryStream body = streamOver(data + 4 + headerLength, rest - headerLength);
    std::unique_ptr<Y3Model> model;
    const std::int32_t headerRead = Y3Model::readFromStream(header, model, "fuzz");
    fuzzCheck((headerRead >= 0) == (model != nullptr), "model: a refused header left a model");
    if (model) {
        fuzzCheck(headerRead <= std::int32_t(headerLength), "model: more header bytes read than given");
        const std::int32_t dataRead = model->read(body, false, "fuzz");
        fuzzCheck(dataRead <= std::int32_t(rest - headerLength), "model: more data bytes read than given");
        if (dataRead >= 0) {
            std::string headerAgain = modelFile(*model, true);
            std::string dataAgain = modelFile(*model, false);
            fuzzCheck(headerAgain != "(failed)" && dataAgain != "(failed)", "model: an accepted model is not written");
            std::unique_ptr<Y3Model> again;
            MemoryStream headerIn(headerAgain.data(), std::int32_t(headerAgain.size()));
            fuzzCheck(Y3Model::readFromStream(headerIn, again, "fuzz") == std::int32_t(headerAgain.size()),
                      "model: a written header is not read back whole");
            if (again) {
                MemoryStream dataIn(dataAgain.data(), std::int32_t(dataAgain.size()));
                fuzzCheck(again->read(dataIn, false, "fuzz") == std::int32_t(dataAgain.size()),
                          "model: a written data file is not read back whole");
                again->release();
            }
        }
        model->release();
    }
    lightDataManager().clear();
    forgetLog();
    return 0;
}

void seedModel(std::vector<std::string>& out) {
    const char* const descriptions[] = {
        "model boat\nsource 1 2 3\ntextureset 2\nlightset day harbour_day\nrule idle\n"
        "animation rock 1.5 loop restore\n"
        "element hull extra 7 8 9\nlod\nmeshstream 4\n"
        "vertex p 0 0 0 t 0 0\nvertex p 1 0 0 t 1 0\nvertex p 0 1 0 t 0 1\n"
        "index 0 1 2\nsubset 0 0 3 3 diffuse stone\nbone root -1\nbox 1 2 3 at 0 1 0\nlod\nlod\n"
        "element mast_hide\nlod\nlod\nlod\n"
        "light point lamp at 0 3 0\nparticle smoke smoke_data mast\n"
        "action board root size 2 1 4 spot 0 0.5 0\n",
        "model flags sprite\nsprite flag cloth -12 -300 4 8 0.5 animated has-alpha\nsprite pole wood 0 0 1 1 1\n",
    };
    for (const char* text : descriptions) {
        model_tools::ModelDescription description;
        std::string error;
        if (!model_tools::parseModelDescription(text, description, error) || description.models.empty()) continue;
        model_tools::ModelFile& file = description.models.front();
        const std::string header = model_tools::modelFileBytes(*file.model, file.name, true);
        const std::string body = model_tools::modelFileBytes(*file.model, file.name, false);
        const std::uint32_t length = std::uint32_t(header.size());
        out.push_back(std::string(reinterpret_cast<const char*>(&length), 4) + header + body);
    }
}

}  // namespace fuzzing
