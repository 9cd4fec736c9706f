// The model of how a phone list file is read: its encoding by the stated
// rules, and its text as CP949, by iconv.
#include "fuzz/file_encoding_model.h"

#include <iconv.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/utf8_model.h"
#include "store/encoding_detection.h"
#include "text/encodings.h"

namespace fuzz_model {
namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// Whether a file without a mark that is not UTF-16 is UTF-8: it holds a
// valid character of three bytes or more, and its lines that are not valid
// UTF-8 number at most one for each hundred lines and for each hundred
// characters of three bytes or more on valid lines. Each line is decoded
// here by iconv, and its code points counted.
bool isUtf8ByRule(std::string_view file) {
  iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
  require(converter != reinterpret_cast<iconv_t>(-1));
  size_t lines = 0, invalidLines = 0, wide = 0;
  for (size_t start = 0; start < file.size();) {
    size_t end = std::min(file.find('\n', start), file.size());
    std::string_view line = file.substr(start, end - start);
    start = end + 1;
    ++lines;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::vector<char32_t> codes(line.size() + 1);
    char* source = const_cast<char*>(line.data());
    size_t sourceLeft = line.size();
    char* target = reinterpret_cast<char*>(codes.data());
    size_t room = codes.size() * sizeof(char32_t);
    if (iconv(converter, &source, &sourceLeft, &target, &room) == static_cast<size_t>(-1)) {
      ++invalidLines;
      continue;
    }
    codes.resize(codes.size() - room / sizeof(char32_t));
    wide += std::count_if(codes.begin(), codes.end(), [](char32_t code) { return code >= 0x800; });
  }
  iconv_close(converter);
  return wide > 0 && invalidLines * 100 <= wide && invalidLines * 100 <= lines;
}

}  // namespace

bool converted(std::string_view in, const char* from, const char* to, std::string& out) {
  iconv_t converter = iconv_open(to, from);
  require(converter != reinterpret_cast<iconv_t>(-1));
  out.assign(4 * in.size() + 16, '\0');
  char* source = const_cast<char*>(in.data());
  size_t sourceLeft = in.size();
  char* target = out.data();
  size_t room = out.size();
  size_t result = iconv(converter, &source, &sourceLeft, &target, &room);
  iconv_close(converter);
  out.resize(out.size() - room);
  return result != static_cast<size_t>(-1);
}

phonebook::FileEncoding utf16ByRule(std::string_view sample) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(sample.data());
  const size_t units = sample.size() / 2;
  size_t ascii[2] = {0, 0};  // little endian, big endian
  bool spaced[2] = {false, false};
  for (size_t i = 0; i < units; ++i) {
    const unsigned first = bytes[2 * i], second = bytes[2 * i + 1];
    const unsigned codes[2] = {first | second << 8, first << 8 | second};
    for (int side = 0; side < 2; ++side) {
      if (codes[side] == 0 || codes[side] > 0x7F) continue;
      ++ascii[side];
      spaced[side] =
          spaced[side] || std::strchr(" \t\n\v\f\r", static_cast<int>(codes[side])) != nullptr;
    }
  }
  if (spaced[0] && ascii[0] >= (units + 7) / 8 && ascii[0] >= ascii[1]) {
    return phonebook::FileEncoding::kUtf16Le;
  }
  if (spaced[1] && ascii[1] >= (units + 7) / 8 && ascii[1] >= ascii[0]) {
    return phonebook::FileEncoding::kUtf16Be;
  }
  return phonebook::FileEncoding::kCp949;
}

std::string sampleOf(std::string_view file) {
  std::string sample(file.substr(0, phonebook::kEncodingSample));
  sample.resize(phonebook::kEncodingSample, ' ');
  return sample;
}

AsCp949 asCp949(std::string_view file, phonebook::FileEncoding unmarked) {
  using namespace std::string_view_literals;
  const char* from = nullptr;
  if (file.starts_with("\xFF\xFE\0\0"sv) || file.starts_with("\0\0\xFE\xFF"sv)) {
    from = file[0] == '\xFF' ? "UTF-32LE" : "UTF-32BE";
    file.remove_prefix(4);
  } else if (file.starts_with("\xEF\xBB\xBF")) {
    from = "UTF-8";
    file.remove_prefix(3);
  } else if (file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF")) {
    from = file[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
    file.remove_prefix(2);
  } else if (unmarked != phonebook::FileEncoding::kCp949) {
    from = unmarked == phonebook::FileEncoding::kUtf16Le ? "UTF-16LE" : "UTF-16BE";
  } else if (isUtf8ByRule(file)) {
    // UTF-8 but for a few lines, or not at all: in one piece, with a lost
    // character (a zero byte) for each invalid sequence and each character
    // that CP949 lacks.
    AsCp949 result;
    result.text = fuzz_model::toCp949(file);
    result.asItStands = false;
    return result;
  }
  AsCp949 result;
  if (from == nullptr) {
    result.text = file;
  } else {
    result.whole = converted(file, from, "CP949", result.text);
    result.asItStands = false;
  }
  return result;
}

}  // namespace fuzz_model
