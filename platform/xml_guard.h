#pragma once
// Checks made on XML text before it reaches TinyXML, whose parser recurses
// once per nesting level: a hostile file must not drive it off the stack.

#include <string_view>

namespace qelm {

// Deep enough for every file the program writes, far below what the stack holds.
constexpr int kMaxXmlNesting = 600;

// True when no element nests deeper than `limit`, reading tags the way
// TinyXML does (comments, CDATA, declarations and quoted attributes skipped).
bool XmlNestingWithin(std::string_view text, int limit = kMaxXmlNesting);

} // namespace qelm
