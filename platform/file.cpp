// The one loop of reads and writes of the program: every File reads until
// it has what was asked or the file ends, and writes until all is written,
// whatever pieces the system moves at a time.
#include "platform/file.h"

#include <cerrno>

namespace phonebook {

std::ptrdiff_t File::read(char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    std::ptrdiff_t part = readSome(buffer + got, size - got);
    if (part == 0) break;
    if (part < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<std::size_t>(part);
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool File::write(const char* data, std::size_t size) {
  while (size > 0) {
    std::ptrdiff_t put = writeSome(data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace phonebook
