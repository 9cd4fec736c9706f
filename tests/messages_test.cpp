// The texts as the program holds them: the CP949 bytes that the build makes
// from the UTF-8 of console/messages.h.in, one 64-bit FNV-1a digest each.
// The menu's and the screens' texts are pinned as the program has always
// printed them (taken when they were still written as escapes); a text of
// our own changes its row when it is reworded.
#include "console/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "console/reasons.h"
#include "tests/test_support.h"

namespace phonebook {
namespace {

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t digest = 0xcbf29ce484222325;
  for (unsigned char byte : bytes) digest = (digest ^ byte) * 0x100000001b3;
  return digest;
}

struct Text {
  const char* name;
  std::string_view bytes;
  std::uint64_t digest;
};

const Text kTexts[] = {
    {"kMenuTitle", kMenuTitle, 0xf40520b28e4445ce},
    {"kAddChoice", kAddChoice, 0x0248137b3a50cc67},
    {"kListChoice", kListChoice, 0x1792a17ab5241ada},
    {"kSearchChoice", kSearchChoice, 0x1504e829892c9846},
    {"kEditChoice", kEditChoice, 0x4b949788e2863d61},
    {"kDeleteChoice", kDeleteChoice, 0x07685b64376f34ba},
    {"kQuitChoice", kQuitChoice, 0x9f5ee4baccb40aaf},
    {"kMenuPrompt", kMenuPrompt, 0xcd271aa54c5f267e},
    {"kInvalidChoice", kInvalidChoice, 0xc737c08d61ee9039},
    {"kLoading", kLoading, 0x2a8a4516a8a9132b},
    {"kSaved", kSaved, 0x52e6e14024794b17},
    {"kPausePrompt", kPausePrompt, 0x595b9a2a9da1e13d},
    {"kAddTitle", kAddTitle, 0xe5d6d124aa73912b},
    {"kAddNamePrompt", kAddNamePrompt, 0x5e6fc89c05da9c5d},
    {"kAddPhonePrompt", kAddPhonePrompt, 0xc7ac54be56d2a97a},
    {"kAddDone", kAddDone, 0xd5746dc6795b1d55},
    {"kAddRejected", kAddRejected, 0x70943d0a19b905c3},
    {"kAddLostRejected", kAddLostRejected, 0xf72ce6c3482120e9},
    {"kListTitle", kListTitle, 0x60d76370c2cebf7b},
    {"kListHeadingName", kListHeadingName, 0x5f2689c3b83d8c6c},
    {"kListHeadingPhone", kListHeadingPhone, 0x4dc843c3785c5714},
    {"kSearchTitle", kSearchTitle, 0x74ca0d03a0d83c8d},
    {"kFoundFirst", kFoundFirst, 0x95351d9384e5f4cc},
    {"kFoundLater", kFoundLater, 0xcc9d9f2ab2483d57},
    {"kNotFound", kNotFound, 0x7c83d8cd91bea9ee},
    {"kItemPrompt", kItemPrompt, 0x00d13b408b8ad238},
    {"kEditTitle", kEditTitle, 0x5a6704fde45fd496},
    {"kEdited", kEdited, 0x6e2bf914c52ae67e},
    {"kEditRejected", kEditRejected, 0x762fb957cd16b43d},
    {"kEditLostRejected", kEditLostRejected, 0x3fe633c8645368c4},
    {"kDeletePrompt", kDeletePrompt, 0x6df2e789dab1482e},
    {"kDeleted", kDeleted, 0x961ad506f50e6215},
    {"kNotDeleted", kNotDeleted, 0x17ea02cafd584641},
    {"kFileOpenFail", kFileOpenFail, 0xe4642e02f2df3fcb},
    {"kCannotReadFile", kCannotReadFile, 0x3ec96e98e7d72ac2},
    {"kAlreadyOpen", kAlreadyOpen, 0xd43ecbdf00f59588},
    {"kSaveFailed", kSaveFailed, 0x4e10b9cfc79a6ceb},
    {"kNotReadWholeReason", kNotReadWholeReason, 0xcb0775525f9c708c},
    {"kLostCharactersReason", kLostCharactersReason, 0xf60944f471063bc4},
    {"kLostCharactersReasonEnd", kLostCharactersReasonEnd, 0x20326906c7a1b358},
    {"kChangedOnDiskReason", kChangedOnDiskReason, 0xf36168ce63067118},
    {"kRemovedOnDiskReason", kRemovedOnDiskReason, 0x58a1451f4abda431},
    {"kCreatedOnDiskReason", kCreatedOnDiskReason, 0x9c7fd827defb2aae},
    {"kReplacedOnDiskReason", kReplacedOnDiskReason, 0xfef8379532a6bcca},
    {"kNowALinkReason", kNowALinkReason, 0xdeaf9d418a1b3e4b},
    {"kChangesNotSaved", kChangesNotSaved, 0xbdec89b7932b7b2f},
    {"kLostStart", kLostStart, 0x84205daaf1108c82},
    {"kLostLine", kLostLine, 0x7a57ecbc4c0f0a1a},
    {"kLostMore", kLostMore, 0xb7b28880a1c1493a},
    {"kLostMoreEnd", kLostMoreEnd, 0xa4e55a1a92c963fa},
    {"kLostEnd", kLostEnd, 0x93fb035a719462d0},
    {"kCannotSaveHere", kCannotSaveHere, 0xcff1fae4b4c63c97},
    {"kUnchangeableReason", kUnchangeableReason, 0xae0ecc3a805fd593},
    {"kOthersFileReason", kOthersFileReason, 0x0f32814a108ebfac},
    {"kGroupNotKept", kGroupNotKept, 0xbb763c957ed01926},
    {"kUsage", kUsage, 0xd98287bc972d5ca2},
};

TEST(MessagesTest, EveryTextKeepsItsBytes) {
  for (const Text& text : kTexts) EXPECT_EQ(fnv1a(text.bytes), text.digest) << text.name;
}

// The causes that a user meets in the program's own words; any other in the
// system's, in parentheses.
TEST(MessagesTest, ASystemErrorIsSaidInKorean) {
  const struct {
    int error;
    std::string said;  // in UTF-8
  } reasons[] = {
      {EACCES, "이 파일이나 폴더를 바꿀 권한이 없습니다."},
      {EPERM, "이 파일이나 폴더를 바꿀 권한이 없습니다."},
      {ENOSPC, "디스크에 남은 공간이 없습니다."},
      {EROFS, "읽기 전용인 디스크나 파일 시스템이라 쓸 수 없습니다."},
      {EIO, "디스크를 읽거나 쓰는 중에 오류가 났습니다."},
      {EFBIG, "파일이 너무 큽니다."},
      {ENAMETOOLONG, "파일 이름이나 폴더 경로가 너무 깁니다."},
      {EBUSY, "다른 프로그램이 이 파일을 쓰고 있습니다."},
      {EINVAL, "시스템 오류가 났습니다 (" + std::string(std::strerror(EINVAL)) + ")."},
  };
  for (const auto& reason : reasons) {
    EXPECT_EQ(reasonFor(reason.error), testing::cp949(reason.said)) << reason.error;
  }
}

}  // namespace
}  // namespace phonebook
