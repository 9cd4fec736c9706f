// Linux only: converting text with glibc's iconv, each sequence that it
// refuses (invalid, cut off, or without a character on the other side)
// replaced by one `replacement` ("?" for the screen, kLostCharacter for a
// file). The terminal codec and the phone list file's converter both
// convert this way.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>

namespace phonebook {

// Appends `text`, converted by `converter`, to `out`. Where iconv refuses
// the sequence at the start of `rest`, one `replacement` stands for
// refusedLength(rest) bytes of it. Returns false when any was refused.
template <class RefusedLength>
bool convertReplacing(iconv_t converter, std::string_view text, std::string& out,
                      RefusedLength refusedLength, char replacement = '?') {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  bool whole = true;
  char* source = const_cast<char*>(text.data());
  std::size_t sourceLeft = text.size();
  char piece[1024];
  while (sourceLeft > 0) {
    char* target = piece;
    std::size_t room = sizeof piece;
    std::size_t result = iconv(converter, &source, &sourceLeft, &target, &room);
    int error = errno;
    out.append(piece, static_cast<std::size_t>(target - piece));
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ or EINVAL: an invalid, unmappable or cut-off sequence.
    std::size_t skip = refusedLength(std::string_view(source, sourceLeft));
    out.push_back(replacement);
    source += skip;
    sourceLeft -= skip;
    whole = false;
  }
  // The end of a stateful encoding's last shift.
  char* target = piece;
  std::size_t room = sizeof piece;
  iconv(converter, nullptr, nullptr, &target, &room);
  out.append(piece, static_cast<std::size_t>(target - piece));
  return whole;
}

}  // namespace phonebook
