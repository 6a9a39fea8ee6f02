#include "platform/xml_guard.h"

#include <cstring>

namespace qelm {

namespace {

// Finds "end" from position i; npos when missing.
std::size_t Skip(std::string_view s, std::size_t i, const char* end)
{
    std::size_t e = s.find(end, i);
    return e == std::string_view::npos ? e : e + std::strlen(end);
}

} // namespace

bool XmlNestingWithin(std::string_view s, int limit)
{
    int depth = 0;
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        if (s[i] != '<') {
            ++i;
            continue;
        }
        if (s.compare(i, 4, "<!--") == 0) {
            i = Skip(s, i + 4, "-->");
        } else if (s.compare(i, 9, "<![CDATA[") == 0) {
            i = Skip(s, i + 9, "]]>");
        } else if (s.compare(i, 2, "<?") == 0 || s.compare(i, 2, "<!") == 0) {
            i = Skip(s, i + 2, ">");
        } else if (s.compare(i, 2, "</") == 0) {
            if (depth > 0)
                --depth;
            i = Skip(s, i + 2, ">");
        } else {
            std::size_t j = i + 1;
            char quote = 0;
            for (; j < n; ++j) {
                char c = s[j];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (j >= n)
                return true; // unterminated tag: the parse fails there
            if (s[j - 1] != '/' && ++depth > limit)
                return false;
            i = j + 1;
        }
        if (i == std::string_view::npos)
            return true;
    }
    return true;
}

} // namespace qelm
