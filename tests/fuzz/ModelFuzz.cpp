// Fuzz target of the vertex stream records and the counted record arrays.
#include <cstring>
#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "model/ModelWriter.h"
#include "model/RecordArray.h"
#include "model/Y3MeshStream.h"

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

}  // namespace fuzzing
