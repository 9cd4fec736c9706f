// The texts as the program holds them: the CP949 bytes that the build makes
// from the UTF-8 of console/messages.h.in, one 64-bit FNV-1a digest each,
// taken from the bytes that the program printed when the texts were still
// written as escapes.
#include "console/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

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
    {"kAddRejected", kAddRejected, 0xc12fd13faba1b86b},
    {"kAddLostRejected", kAddLostRejected, 0xae803d85bd00d3cb},
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
    {"kEditRejected", kEditRejected, 0x944ae74c5ca21ff3},
    {"kEditLostRejected", kEditLostRejected, 0x256e544764eb022a},
    {"kDeletePrompt", kDeletePrompt, 0x6df2e789dab1482e},
    {"kDeleted", kDeleted, 0x961ad506f50e6215},
    {"kNotDeleted", kNotDeleted, 0x17ea02cafd584641},
    {"kFileOpenFail", kFileOpenFail, 0xe4642e02f2df3fcb},
    {"kCannotReadFile", kCannotReadFile, 0xe955ba57ec331f27},
    {"kAlreadyOpen", kAlreadyOpen, 0x529cb89913a5ba40},
    {"kSaveFailed", kSaveFailed, 0x4e10b9cfc79a6ceb},
    {"kSaveFailedHint", kSaveFailedHint, 0x23dd651c3e8d8317},
    {"kNotReadWholeReason", kNotReadWholeReason, 0x120b26dd0919ac7d},
    {"kLostCharactersReason", kLostCharactersReason, 0xf60944f471063bc4},
    {"kLostCharactersReasonEnd", kLostCharactersReasonEnd, 0xa776d06e594db5ed},
    {"kChangedOnDiskReason", kChangedOnDiskReason, 0xb2ce92642123ed4b},
    {"kRemovedOnDiskReason", kRemovedOnDiskReason, 0xb477c96418be6e65},
    {"kCreatedOnDiskReason", kCreatedOnDiskReason, 0x277cbb3a2c761778},
    {"kReplacedOnDiskReason", kReplacedOnDiskReason, 0x91dc73f795839bfd},
    {"kNowALinkReason", kNowALinkReason, 0xa1b9fb0a79cd5b29},
    {"kChangesNotSaved", kChangesNotSaved, 0xbdec89b7932b7b2f},
    {"kLostStart", kLostStart, 0xd1c69ebc6c056db1},
    {"kLostLine", kLostLine, 0x7a57ecbc4c0f0a1a},
    {"kLostMore", kLostMore, 0xb7b28880a1c1493a},
    {"kLostMoreEnd", kLostMoreEnd, 0xa4e55a1a92c963fa},
    {"kLostEnd", kLostEnd, 0xe52c120297275dd9},
    {"kCannotSaveHere", kCannotSaveHere, 0xa72bdf9a0baa8f30},
    {"kUnchangeableReason", kUnchangeableReason, 0x8282a3505f70f099},
    {"kOthersFileReason", kOthersFileReason, 0xff1c467a3c444ba2},
    {"kGroupNotKept", kGroupNotKept, 0x69927a8636cd9136},
    {"kUsage", kUsage, 0xd98287bc972d5ca2},
};

TEST(MessagesTest, EveryTextKeepsItsBytes) {
  for (const Text& text : kTexts) EXPECT_EQ(fnv1a(text.bytes), text.digest) << text.name;
}

}  // namespace
}  // namespace phonebook
