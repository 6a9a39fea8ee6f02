// Checks of the addresses and ports typed into the device form.
#pragma once

#include <string>

namespace devform {

// A dotted IPv4 address: four decimal numbers 0 to 255, no leading zeros.
bool IsIPv4Address(const std::string& text);

// A host name: dot-separated labels of letters, digits and '-' (1 to 63
// characters, no '-' at either end), at most 253 characters, one trailing
// dot allowed; the last label is not all digits, so "999.1.1.1" is none.
bool IsHostName(const std::string& text);

// A port number: decimal digits only, 1 to 65535.
bool IsPortNumber(const std::string& text);

} // namespace devform
