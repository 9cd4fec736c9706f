#include "console/console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "console/messages.h"
#include "store/text.h"

namespace phonebook {
namespace {

// Output is written once this much has been queued.
constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr std::size_t kInputChunk = 64 * 1024;

}  // namespace

Console::Console(Terminal& terminal, const std::string& codeset)
    : terminal_(terminal), codec_(codeset) {
  output_.reserve(kOutputChunk + 1024);
}

void Console::print(std::string_view text) {
  codec_.toTerminal(text, output_);
  if (output_.size() >= kOutputChunk) flush();
}

void Console::printFormat(std::string_view format, std::initializer_list<std::string_view> args) {
  auto arg = args.begin();
  std::size_t start = 0;
  for (std::size_t at = format.find("%s"); at != std::string_view::npos && arg != args.end();
       at = format.find("%s", start)) {
    print(format.substr(start, at - start));
    printData(*arg++);
    start = at + 2;
  }
  print(format.substr(start));
}

void Console::printData(std::string_view text) {
  if (!hasControlByte(text)) {
    print(text);
    return;
  }
  // In a UTF-8 terminal the C1 controls (U+0080..U+009F) would act too, but
  // no CP949 character converts to one: the control bytes are all there is.
  std::string shown(text);
  std::replace_if(
      shown.begin(), shown.end(),
      [](char c) { return isControlByte(static_cast<unsigned char>(c)); }, '?');
  print(shown);
}

void Console::flush() {
  if (output_.empty()) return;
  terminal_.writeOutput(output_.data(), output_.size());
  output_.clear();
}

void Console::clearScreen() {
  flush();
  terminal_.clearScreen();
}

void Console::pause() {
  if (!terminal_.hasKeyboard()) return;
  print(kPausePrompt);
  flush();
  terminal_.waitForKey();
  print("\n");
}

bool Console::fillInput() {
  if (terminalDrained_) return false;
  // The user is about to be waited on: everything asked must be on screen.
  flush();
  input_.resize(kInputChunk);
  std::size_t got = terminal_.readInput(input_.data(), input_.size());
  input_.resize(got);
  inputPos_ = 0;
  if (got == 0) terminalDrained_ = true;
  return got > 0;
}

int Console::peekByte() {
  if (inputPos_ == input_.size() && !fillInput()) return kEndOfInput;
  return static_cast<unsigned char>(input_[inputPos_]);
}

int Console::getByte() {
  int byte = peekByte();
  if (byte != kEndOfInput) ++inputPos_;
  return byte;
}

void exitOutOfStorage(Console& console) {
  console.flush();
  std::fputs("phonebook: out of memory; the phone list file is left as it was\n", stderr);
  std::exit(1);
}

}  // namespace phonebook
