// Packed stream records: a block of bytes carried through a DataStream
// either zlib-packed behind a header or as it is.
//
// Forms (little-endian):
//   packed: u8 1, u32 packed size P, u32 unpacked size U, P bytes of zlib data
//   stored: u8 0, u32 P, u32 U, P bytes taken as they are
//   raw:    the bytes alone; readable only where the record's length is known
// The writer produces the packed form, or the raw form when packing is not
// asked for or fails; the reader also accepts the stored form. Sizes read
// from a header are checked against the bytes that remain in the source
// before anything is allocated.
#pragma once

#include <cstdint>
#include <string_view>

class DataStream;
class MemoryStream;

// The most bytes that count bytes of zlib data can unpack to (deflate never
// packs better than 1,032 to 1, plus the stream's own header and trailer).
std::uint64_t maxUnpackedSize(std::uint64_t count);

// Writes one record of the source's bytes. With pack set the source is
// packed in place and afterwards holds the packed bytes (position 0).
// Returns the bytes written, or a negative value when a write failed or
// was short.
std::int32_t writePackedStream(MemoryStream& source, int level, bool pack, DataStream& destination);

// Reads one record at the source's position into destination, which then
// owns a buffer of exactly the data's size, position 0. length > 0 is the
// record's exact length in the source, length < 0 means the whole source is
// the record, 0 that no length is known and the header is trusted. With
// direct set and a MemoryStream source the data is unpacked straight out of
// the source's buffer (9 is then returned, the source left behind the
// header). Returns the bytes taken from the source, or -1 on failure.
std::int32_t readPackedStream(std::int32_t length, MemoryStream& destination, bool direct, DataStream& source);

// Creates the folders and the file, writes one record; true when the file
// was created and every byte was written.
bool writePackedFile(std::string_view path, MemoryStream& source, int level, bool pack);

// compress2 of the stream's bytes in place; the stream then holds the
// packed bytes at position 0. False (logged), stream unchanged, on failure.
bool packMemoryStream(MemoryStream& stream, int level);
// uncompress of the stream's bytes in place into unpackedSize bytes.
bool unpackMemoryStream(MemoryStream& stream, std::uint32_t unpackedSize);
// Unpacks the source's bytes from its position to its end into destination
// (emptied first); the source's position does not move.
bool unpackFromStream(MemoryStream& destination, MemoryStream& source, std::uint32_t unpackedSize);
