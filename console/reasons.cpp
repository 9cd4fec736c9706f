#include "console/reasons.h"

#include "console/messages.h"
#include "platform/system_error.h"

namespace phonebook {

std::string reasonFor(int error) {
  switch (systemErrorOf(error)) {
    case SystemError::kNoPermission:
      return kNoPermissionReason;
    case SystemError::kNoRoom:
      return kNoRoomReason;
    case SystemError::kQuota:
      return kQuotaReason;
    case SystemError::kReadOnly:
      return kReadOnlyReason;
    case SystemError::kIo:
      return kIoReason;
    case SystemError::kTooLarge:
      return kTooLargeReason;
    case SystemError::kNameTooLong:
      return kNameTooLongReason;
    case SystemError::kInUse:
      return kInUseReason;
    case SystemError::kOther:
      break;
  }
  return std::string(kOtherReason) + " (" + systemErrorText(error) + ").";
}

}  // namespace phonebook
