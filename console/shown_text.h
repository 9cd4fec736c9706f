// Names and numbers as the screen may show them: their bytes come from the
// user or from a file that may have been crafted, so none may drive the
// terminal.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace phonebook {

// Appends a name or a number to `out` as the screen may show it. Its bytes
// come from the user or from a file that may have been crafted, so none may
// drive the terminal: each byte that does not begin a CP949 character a
// terminal shows (cp949ShownLength) shows as "?", a control byte as much as
// a lone 0x9B, which terminals that take 8-bit controls read as CSI. (In a
// UTF-8 terminal the C1 controls U+0080..U+009F would act too, but no CP949
// character converts to one.)
void appendShown(std::string& out, std::string_view text);

// `format` with each "%s" replaced by the next of `args`, texts of the
// phone book, shown as appendShown shows them.
std::string formatShown(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace phonebook
