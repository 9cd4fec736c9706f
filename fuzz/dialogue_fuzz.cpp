// Any bytes as standard input to the whole dialogue, in process, against a
// phone book loaded from a small file. It must end at the end of the input
// without a crash or a leak, a phone book it saves must load again, and
// nothing typed or loaded may reach the screen as a control: the only ones
// there are the program's own tabs and line breaks.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "console/main_menu.h"
#include "console/scripted_terminal.h"
#include "store/file_reading.h"
#include "store/phone_file.h"
#include "tests/memory_file.h"
#include "text/byte_rules.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// Choice 0 saves into memory, after failing `failures` times first: a
// failed save goes back to the menu, and the dialogue goes on from there.
phonebook::SaveReport saveInMemory(int& failures) {
  using Result = phonebook::SaveReport::Result;
  if (failures > 0) {
    --failures;
    return {failures % 2 == 0 ? Result::kFailed : Result::kRefused, "reason", "advice\n"};
  }
  phonebook::testing::MemoryFile file;
  return {phonebook::writePhoneList(file) ? Result::kSaved : Result::kFailed, "", ""};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string codeset = data[0] & 1 ? "UTF-8" : "";
  const std::string seed =
      "Ahn 1\r\nLee 2\r\nLee 3\r\n\xC8\xAB\xB1\xE6\xB5\xBF 010-123-456\r\n"
      "\xB1\xE8\xC3\xB6\xBC\xF6 02-987-654\r\nEsc\x1b]0;title\x07 1\x1b[2J\x7f\r\n";
  phonebook::testing::MemoryFile file(seed);
  require(phonebook::readPhoneList(file) == phonebook::LoadResult::kLoaded);
  int failures = data[0] >> 6;

  phonebook::ScriptedTerminal terminal(
      std::string(reinterpret_cast<const char*>(data + 1), size - 1), 1 + data[0] % 64);
  {
    phonebook::Console console(terminal, codeset);
    int status = phonebook::runMainMenu(console, [&failures] { return saveInMemory(failures); });
    require(status == 0 || status == 1);
  }
  const std::string& screen = terminal.output();
  for (std::size_t i = 0; i < screen.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(screen[i]);
    require(!phonebook::isControlByte(byte) || byte == '\t' || byte == '\n');
    // In a UTF-8 terminal, no C1 control (U+0080..U+009F) either.
    unsigned char next = i + 1 < screen.size() ? static_cast<unsigned char>(screen[i + 1]) : 0;
    require(codeset.empty() || byte != 0xC2 || next < 0x80 || next > 0x9F);
  }
  phonebook::clearList();
  return 0;
}
