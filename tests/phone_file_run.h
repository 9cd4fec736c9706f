// What the end-to-end tests of the phone list file share: the texts that
// tell how a run went, and what a failed save must leave.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace phonebook::testing {

inline const std::string kFileOpenFail = "File Open Fail";
inline const std::string kSaved = cp949("\n\n전화번호부를 저장합니다.\n\n");
// What the start shows when a file is there but cannot be read whole.
inline const std::string kCannotReadStart =
    kFileOpenFail + cp949(
                        "저장된 파일을 불러옵니다.\n\nPhoneList.txt 파일을 읽을 수 없어, "
                        "이번에 바꾼 내용은 저장되지 않습니다.\n");

inline bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The names of the files in `dir`: a failed save must leave nothing behind.
inline std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A phone book of `count` records, larger than any limit the tests set.
inline std::string manyRecords(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "Name" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n";
  return text;
}

// Every way a save can fail: "File Open Fail", no save text, status 1, the
// old file byte for byte as it was and no new file left behind.
inline void expectFailedSave(const Outcome& outcome, const std::string& file,
                             const std::string& before) {
  EXPECT_TRUE(endsWith(outcome.output, kFileOpenFail)) << outcome.output;
  EXPECT_EQ(outcome.output.find(kSaved), std::string::npos);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(readFile(file), before);
}

}  // namespace phonebook::testing
