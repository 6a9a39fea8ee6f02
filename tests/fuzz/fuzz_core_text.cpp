// Fuzzes the core text utilities with outside text: Base64 (cloud replies),
// the pinyin search matcher (typed keys, device names) and string splitting.
#include "core/helpers.h"
#include "core/textutil.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4096)
        return 0;
    const std::string in(reinterpret_cast<const char*>(data), size);

    // Decode into a buffer just large enough, then round-trip what came out.
    const int cap = Base64Length(static_cast<int>(size), false) + 4;
    std::vector<unsigned char> decoded(static_cast<std::size_t>(cap));
    int n = Base64DecodeBuf(in.data(), static_cast<int>(size), decoded.data(), cap);
    if (n < 0 || n >= cap)
        std::abort();
    std::vector<char> text(static_cast<std::size_t>(Base64Length(n, true) + 1));
    int t = Base64EncodeBuf(decoded.data(), n, text.data(), static_cast<int>(text.size()));
    if (t != Base64Length(n, true))
        std::abort();
    std::vector<unsigned char> again(static_cast<std::size_t>(n) + 1);
    if (Base64DecodeBuf(text.data(), t, again.data(), n + 1) != n || std::memcmp(again.data(), decoded.data(), static_cast<std::size_t>(n)) != 0)
        std::abort();

    // Character helpers and the matcher on the text up to the first NUL.
    const std::string z = in.substr(0, in.find('\0'));
    if (DbcsLeft(z.c_str(), DbcsCharCount(z.c_str())) != z)
        std::abort();
    const std::size_t nl = z.find('\n');
    const std::string name = z.substr(0, nl);
    const std::string key = nl == std::string::npos ? std::string() : z.substr(nl + 1);
    MatchPinyinKey(name.c_str(), key.c_str(), '*');
    MatchPinyinKey(key.c_str(), name.c_str(), '*');

    // Splitting without skipping loses nothing.
    if (!key.empty()) {
        std::vector<std::string> pieces;
        int count = SplitString(name, key, 0, pieces);
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i)
            joined += (i ? key : std::string()) + pieces[i];
        if (count != static_cast<int>(pieces.size()) || joined != name)
            std::abort();
    }
    return 0;
}
