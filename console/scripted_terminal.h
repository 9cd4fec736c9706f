// A terminal that a test or a fuzz target feeds in process: its input is a
// fixed script of bytes, handed out in small pieces as a pipe would, and its
// output is collected. Clearing the screen leaves a visible mark. It may
// stand for a terminal that marks the characters CP949 lacks in its input,
// as a Windows console does.
#pragma once

#include <algorithm>
#include <string>
#include <utility>

#include "platform/terminal.h"

namespace phonebook {

class ScriptedTerminal : public Terminal {
 public:
  static constexpr char kClearMark[] = "<clear>";

  explicit ScriptedTerminal(std::string input, std::size_t piece = 7, bool marksLost = false)
      : input_(std::move(input)), piece_(piece), marksLost_(marksLost) {}

  std::size_t readInput(char* buffer, std::size_t size) override {
    std::size_t count = std::min({size, piece_, input_.size() - consumed_});
    std::copy_n(input_.data() + consumed_, count, buffer);
    consumed_ += count;
    return count;
  }
  bool marksLostCharacters() override { return marksLost_; }
  void writeOutput(const char* data, std::size_t size) override { output_.append(data, size); }
  void writeErrors(const char* data, std::size_t size) override { errors_.append(data, size); }
  void clearScreen() override { output_ += kClearMark; }
  bool hasKeyboard() override { return false; }
  void waitForKey() override {}

  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }

 private:
  std::string input_;
  std::size_t piece_;
  bool marksLost_;
  std::size_t consumed_ = 0;
  std::string output_;
  std::string errors_;
};

}  // namespace phonebook
