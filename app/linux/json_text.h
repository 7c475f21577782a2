// JSON text for oskel-update --list --json. Strings come from devices and the system (a
// controller's name is its own USB strings): each is quoted as JSON requires, and bytes that are
// not UTF-8 become U+FFFD, so that the document is valid whatever a device says.
#pragma once

#include <string>

// The text as a JSON string, quotes included: '"', '\' and the control characters escaped
// (U+007F, U+2028 and U+2029 too), invalid UTF-8 replaced by U+FFFD.
std::string JsonString(const std::string& text);
