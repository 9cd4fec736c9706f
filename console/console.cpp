#include "console/console.h"

#include <algorithm>
#include <cstdlib>

#include "console/messages.h"
#include "console/shown_text.h"
#include "text/byte_rules.h"

namespace phonebook {
namespace {

// Output is written once this much has been queued.
constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr std::size_t kInputChunk = 64 * 1024;

}  // namespace

Console::Console(Terminal& terminal, const std::string& codeset)
    : terminal_(terminal), codec_(codeset) {
  output_.reserve(kOutputChunk + 1024);
  // Ready before it is needed: by then no storage may be had.
  codec_.toTerminal(kOutOfStorage, outOfStorage_);
}

void Console::print(std::string_view text) {
  codec_.toTerminal(text, output_);
  if (output_.size() >= kOutputChunk) flush();
}

void Console::printPiece(std::string& text) {
  if (codec_.passesThrough() && output_.empty()) {
    output_.swap(text);
    if (output_.size() >= kOutputChunk) flush();
  } else {
    print(text);
  }
  text.clear();
}

void Console::printFormat(std::string_view format, std::initializer_list<std::string_view> args) {
  print(formatShown(format, args));
}

void Console::flush() {
  if (output_.empty()) return;
  terminal_.writeOutput(output_.data(), output_.size());
  if (terminal_.editsLines()) {
    std::size_t lineBreak = output_.rfind('\n');
    if (lineBreak == std::string::npos) {
      shownLine_ += output_;
    } else {
      shownLine_.assign(output_, lineBreak + 1);
    }
  }
  output_.clear();
}

void Console::printErrors(std::string_view text) {
  flush();
  std::string converted;
  codec_.toTerminal(text, converted);
  terminal_.writeErrors(converted.data(), converted.size());
}

void Console::setFarewell(std::string_view text) {
  std::string converted;
  codec_.toTerminal(text, converted);
  terminal_.setFarewell(converted);
}

void Console::clearScreen() {
  flush();
  terminal_.clearScreen();
  shownLine_.clear();
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
  inputPos_ = 0;
  if (terminal_.editsLines()) {
    terminalDrained_ = !readEditedLine();
    return !terminalDrained_;
  }
  // The user is about to be waited on: everything asked must be on screen.
  flush();
  input_.resize(kInputChunk);
  std::size_t got = terminal_.readInput(input_.data(), input_.size());
  input_.resize(got);
  if (got == 0) terminalDrained_ = true;
  return got > 0;
}

bool Console::readEditedLine() {
  // The editor shows the current line itself, so that it can redraw it as
  // the user edits: what is queued of that line is handed to it as its
  // prompt instead of being written, and what is already on the screen is
  // written again by it from the start of the line.
  std::size_t lineStart = output_.rfind('\n');
  lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
  std::string prompt = output_.substr(lineStart);
  output_.resize(lineStart);
  flush();
  if (!shownLine_.empty()) {
    terminal_.writeOutput("\r", 1);
    prompt.insert(0, shownLine_);
  }
  shownLine_.clear();  // the line ends with the user's Enter
  bool read = terminal_.readEditedLine(prompt, answerKind_, input_);
  if (!read) input_.clear();
  return read;
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

void Console::exitOutOfStorage() {
  flush();
  terminal_.writeErrors(outOfStorage_.data(), outOfStorage_.size());
  std::exit(1);
}

}  // namespace phonebook
