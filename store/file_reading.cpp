#include "store/file_reading.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/text_codec.h"
#include "store/encoding_detection.h"
#include "store/loader.h"
#include "store/piece_conversion.h"
#include "store/record_reader.h"
#include "text/byte_rules.h"

namespace phonebook {
namespace {

// What reading a file to its end gave.
enum class ReadResult {
  kWhole,     // every byte was read and, where converted, held whole
  kNotWhole,  // a read failed
  kNotUtf8,   // read as UTF-8 on a guess, but the file is not: read it again
  kUtf8,      // read as CP949 on a guess, but the file is UTF-8: read it again
};

// Feeds the loader `chunk`'s first `firstSize` bytes, then the rest of the
// file as it stands, read through `chunk`. Where `utf8` is given, the file
// was taken for CP949 on a guess, and `utf8` has been fed its first bytes:
// it follows the file while the `fileLeft` bytes after them could still make
// it UTF-8, and kUtf8 says at the end that they did.
ReadResult readAsCp949(File& file, std::array<char, kIoChunk>& chunk, std::size_t firstSize,
                       RecordReader& reader, Utf8Detector* utf8 = nullptr,
                       std::size_t fileLeft = 0) {
  reader.feed(chunk.data(), firstSize);
  if (utf8 != nullptr && !utf8->mayBeUtf8(reader.lines(), fileLeft)) utf8 = nullptr;
  for (;;) {
    std::ptrdiff_t got = file.read(chunk.data(), chunk.size());
    if (got == 0) break;
    if (got < 0) {
      // A file that fails part way ends where the reading did, as at its end.
      reader.finish();
      return ReadResult::kNotWhole;
    }
    reader.feed(chunk.data(), static_cast<std::size_t>(got));
    if (utf8 != nullptr) {
      fileLeft -= std::min(fileLeft, static_cast<std::size_t>(got));
      utf8->feed({chunk.data(), static_cast<std::size_t>(got)});
      if (!utf8->mayBeUtf8(reader.lines(), fileLeft)) utf8 = nullptr;
    }
  }
  reader.finish();
  return utf8 != nullptr && utf8->isUtf8(reader.lines()) ? ReadResult::kUtf8 : ReadResult::kWhole;
}

// The text of one conversion. Smaller than a read of a CP949 file: its
// converted copy is held on the heap, and a small file should cost little;
// iconv converts pieces of this size as fast as the whole at once.
constexpr std::size_t kConvertChunk = 16 * 1024;

// Feeds the loader the rest of the file converted from `encoding`: first
// `first`, bytes of it already read, then what `file` still holds, which is
// `fileLeft` bytes where that is known (else 0). Where `utf8` is given, the
// file was taken for UTF-8 on a guess: every piece goes to it too, and
// kNotUtf8 says at the end that the guess was wrong.
ReadResult readConverted(File& file, FileEncoding encoding, std::string_view first,
                         std::size_t fileLeft, RecordReader& reader, Utf8Detector* utf8 = nullptr) {
  std::array<char, kConvertChunk> chunk;
  std::string converted;
  // Room for a whole piece as its converter asks (see convertToCp949).
  converted.reserve(kConvertChunk + 64);
  // Bytes read but not yet converted: a character cut by the last read.
  std::size_t carried = 0;
  for (;;) {
    std::size_t room = chunk.size() - carried;
    std::size_t got = std::min(room, first.size());
    if (got > 0) {
      std::memcpy(chunk.data() + carried, first.data(), got);
      first.remove_prefix(got);
    } else {
      std::ptrdiff_t part = file.read(chunk.data() + carried, room);
      if (part < 0) {
        reader.finish();
        return ReadResult::kNotWhole;
      }
      got = static_cast<std::size_t>(part);
      fileLeft -= std::min(fileLeft, got);
    }
    std::size_t held = carried + got;
    // At the end of the file a cut character is converted as it is, and lost.
    std::size_t take = got == 0 ? held : wholeCharsLength({chunk.data(), held}, encoding);
    carried = held - take;
    if (take > 0) {
      converted.clear();
      std::string_view piece(chunk.data(), take);
      std::size_t wide = 0;
      if (encoding == FileEncoding::kUtf8 &&
          convertUtf8ByTable(piece, cp949Table(), converted, wide)) {
        if (utf8 != nullptr) utf8->passConverted(piece, wide);
      } else {
        if (utf8 != nullptr) utf8->feed(piece);
        // What did not convert is kLostCharacter in `converted`; the loader
        // marks its entries.
        convertToCp949(piece, encoding, converted);
      }
      reader.feed(converted.data(), converted.size());
      if (fileLeft + first.size() > 0) reader.expect(fileLeft + first.size() + carried);
    }
    if (got == 0) break;
    std::memmove(chunk.data(), chunk.data() + take, carried);
  }
  reader.finish();
  return utf8 == nullptr || utf8->isUtf8(reader.lines()) ? ReadResult::kWhole
                                                         : ReadResult::kNotUtf8;
}

// Feeds the loader a file without a mark that is not UTF-16: `chunk`'s
// first `firstSize` bytes, then the rest, `fileLeft` bytes where `sized`.
// Its encoding is told by the rule of Utf8Detector, which needs the whole
// file, but the file is read once all the same, as a rule. While every byte
// is ASCII, CP949 and UTF-8 read alike. At the first piece with a byte of
// 0x80 or more, a file that looks like UTF-8 there (valid UTF-8, or nearly
// so) is read as UTF-8 from that piece on, and any other as CP949 (a CP949
// file with Hangul fails at its first syllable). Only where that guess
// proves wrong by the end of the file is it read again, from its start.
// A file read as CP949 is followed only until what is left of it can no
// longer make it UTF-8: for a CP949 file with Hangul, a small part of it.
ReadResult readUnmarked(File& file, std::array<char, kIoChunk>& chunk, std::size_t firstSize,
                        std::size_t fileLeft, bool sized, RecordReader& reader) {
  std::size_t got = firstSize;
  while (got > 0 && isAscii({chunk.data(), got})) {
    reader.feed(chunk.data(), got);
    std::ptrdiff_t part = file.read(chunk.data(), chunk.size());
    if (part < 0) {
      reader.finish();
      return ReadResult::kNotWhole;
    }
    got = static_cast<std::size_t>(part);
    fileLeft -= std::min(fileLeft, got);
  }
  if (got == 0) {
    reader.finish();
    return ReadResult::kWhole;
  }
  // ASCII tells the detector nothing.
  Utf8Detector utf8;
  Utf8Detector ahead;
  ahead.feed({chunk.data(), got});
  if (!ahead.looksUtf8()) {
    constexpr std::size_t kUnknown = SIZE_MAX;
    return readAsCp949(file, chunk, got, reader, &ahead, sized ? fileLeft : kUnknown);
  }
  return readConverted(file, FileEncoding::kUtf8, {chunk.data(), got}, fileLeft, reader, &utf8);
}

}  // namespace

LoadResult readPhoneList(File& file) {
  try {
    RecordReader reader;
    const std::size_t size = static_cast<std::size_t>(file.size());  // 0: unknown
    reader.expect(size);

    // The first piece of the file tells its encoding: by a byte order mark,
    // or as UTF-16 without one.
    static_assert(kIoChunk == kEncodingSample);
    std::array<char, kIoChunk> sample;
    std::ptrdiff_t got = file.read(sample.data(), sample.size());
    ReadResult read = ReadResult::kNotWhole;
    if (got < 0) {
      reader.finish();
    } else {
      std::string_view first(sample.data(), static_cast<std::size_t>(got));
      std::size_t left = size - std::min(size, first.size());
      EncodingMark mark = encodingMark(first);
      if (mark.encoding == FileEncoding::kCp949) mark.encoding = unmarkedUtf16(first);
      if (mark.encoding == FileEncoding::kCp949) {
        read = readUnmarked(file, sample, first.size(), left, size > 0, reader);
      } else {
        reader.expect(size - std::min(size, mark.length));
        read = readConverted(file, mark.encoding, first.substr(mark.length), left, reader);
      }
    }
    if (read == ReadResult::kNotUtf8 || read == ReadResult::kUtf8) {
      // A file that cannot be taken again from its start keeps its first
      // reading, which does not hold it as written.
      const bool utf8 = read == ReadResult::kUtf8;
      read = ReadResult::kNotWhole;
      if (file.rewind()) {
        reader.restart();
        reader.expect(size);
        got = file.read(sample.data(), sample.size());
        if (got >= 0) {
          std::size_t firstSize = static_cast<std::size_t>(got);
          read = utf8 ? readConverted(file, FileEncoding::kUtf8, {sample.data(), firstSize},
                                      size - std::min(size, firstSize), reader)
                      : readAsCp949(file, sample, firstSize, reader);
        }
      }
    }
    if (!linkRecords(reader)) return LoadResult::kNoStorage;
    return read == ReadResult::kWhole ? LoadResult::kLoaded : LoadResult::kReadFailed;
  } catch (const std::bad_alloc&) {
    return LoadResult::kNoStorage;
  }
}

}  // namespace phonebook
