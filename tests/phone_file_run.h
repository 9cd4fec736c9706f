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
// What a failed save shows before its reason, and after it; what a refused
// one shows before its reason.
inline const std::string kSaveFailed =
    kFileOpenFail + cp949("\n\n전화번호부를 저장하지 못했습니다: ");
inline const std::string kSaveFailedAdvice =
    cp949("\n원인을 해결한 뒤 0을 다시 고르십시오.\n저장하지 않고 끝내려면 Ctrl-C를 누르십시오.\n");
inline const std::string kSaveRefused = cp949("\n\n전화번호부를 저장하지 않았습니다: ");
// The reason of a failed save where this user may not write.
inline const std::string kNoPermission = cp949("이 파일이나 폴더를 바꿀 권한이 없습니다.");
inline const std::string kChangesNotSaved = cp949("\n바꾼 내용을 저장하지 않고 끝냅니다.\n");
// What a save says on standard error when the new file could not be given
// the old one's group.
inline const std::string kGroupNotKept = cp949(
    "\nPhoneList.txt를 저장했지만, 이 사용자가 속하지 않은 원래 그룹은 지키지 "
    "못했습니다.\n새 파일은 지금의 그룹에 아무 권한도 주지 않습니다.\n원래 그룹에 "
    "돌려주려면 그 그룹에 속한 사용자나 관리자에게 chgrp를 부탁하십시오.\n");
// What the start shows when a file is there but cannot be opened, or
// cannot be read whole.
inline const std::string kCannotOpenStart =
    kFileOpenFail +
    cp949(
        "저장된 파일을 불러옵니다.\n\nPhoneList.txt가 있지만 파일로 열 수 없습니다.\n"
        "폴더이거나 읽을 권한이 없는 파일일 수 있습니다.\n그것을 덮어쓰지 않도록 "
        "이번 실행에서는 저장하지 않습니다.\n확인한 뒤 다시 실행하십시오.\n");
inline const std::string kCannotReadStart = cp949(
    "저장된 파일을 불러옵니다.\n\nPhoneList.txt를 끝까지 읽지 못했습니다.\n읽지 못한 항목을 "
    "잃지 않도록 이번 실행에서는 저장하지 않습니다.\n파일을 확인한 뒤 다시 실행하십시오.\n");
// Why a save is refused after such a start.
inline const std::string kNotReadWhole =
    kSaveRefused +
    cp949(
        "PhoneList.txt를 처음에 끝까지 읽지 못해, 저장하면 읽지 못한 항목을 잃습니다.\n이번 "
        "실행에서는 저장할 수 없습니다.\n저장하지 않고 끝내려면 Ctrl-C를 누르십시오.\n");

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

// Every way a save can fail or be refused: what is `said`, back to the menu
// until the input ends, no save text, status 1, and the old file byte for
// byte as it was. A failed save says "File Open Fail", why (`reason`, where
// given) and what the user can do.
inline void expectUnsaved(const Outcome& outcome, const std::string& file,
                          const std::string& before, const std::string& said) {
  EXPECT_NE(outcome.output.find(said), std::string::npos) << outcome.output;
  EXPECT_EQ(outcome.output.find(kSaved), std::string::npos);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(readFile(file), before);
}
inline void expectFailedSave(const Outcome& outcome, const std::string& file,
                             const std::string& before, const std::string& reason = "") {
  expectUnsaved(outcome, file, before, kSaveFailed + reason);
  EXPECT_NE(outcome.output.find(kSaveFailedAdvice), std::string::npos);
}

}  // namespace phonebook::testing
