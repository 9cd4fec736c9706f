// Why a call of the system failed, as the screens say it.
#pragma once

#include <string>

namespace phonebook {

// `error`, an errno value, in the program's own words (CP949), ending with a
// full stop: the causes that a user meets by name, and for any other the
// system's text in parentheses.
std::string reasonFor(int error);

}  // namespace phonebook
