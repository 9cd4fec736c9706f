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
// What a failed save shows, before and after its reason.
inline const std::string kSaveFailed =
    kFileOpenFail + cp949("\n\n전화번호부를 저장하지 못했습니다: ");
inline const std::string kSaveFailedHint = cp949(
    "\n원인을 해결한 뒤 0을 고르면 다시 저장합니다. 저장하지 않고 끝내려면 Ctrl-C를 누르십시오.\n");
inline const std::string kChangesNotSaved = cp949("\n바꾼 내용을 저장하지 않고 끝냅니다.\n");
// What a save says on standard error when the new file could not be given
// the old one's group.
inline const std::string kGroupNotKept = cp949(
    "\nPhoneList.txt를 저장했지만, 이 사용자가 속하지 않은 원래 그룹은 지키지 "
    "못했습니다. 새 파일은 지금의 그룹에 아무 권한도 주지 않습니다. 원래 그룹에 "
    "돌려주려면 그 그룹에 속한 사용자나 관리자에게 chgrp를 부탁하십시오.\n");
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

// Every way a save can fail: "File Open Fail" and why, back to the menu
// until the input ends, no save text, status 1, and the old file byte for
// byte as it was.
inline void expectFailedSave(const Outcome& outcome, const std::string& file,
                             const std::string& before, const std::string& reason = "") {
  EXPECT_NE(outcome.output.find(kSaveFailed + reason), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find(kSaveFailedHint), std::string::npos);
  EXPECT_EQ(outcome.output.find(kSaved), std::string::npos);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(readFile(file), before);
}

}  // namespace phonebook::testing
