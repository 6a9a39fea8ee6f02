// Text and queue utilities (see textutil.h).
#include "core/textutil.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Bytes of the character at s (at most avail): a whole UTF-8 sequence, or 1
// for a malformed byte. Continuation bytes are checked before they are
// stepped over, so a lead byte before the terminator never swallows it.
std::size_t CharLen(const char* s, std::size_t avail)
{
    if (avail == 0)
        return 0;
    unsigned char c = static_cast<unsigned char>(s[0]);
    std::size_t need = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                     : (c >= 0xF0 && c <= 0xF4) ? 4 : 1;
    if (need > avail)
        return 1;
    for (std::size_t i = 1; i < need; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 1;
    }
    return need;
}

// Splits text into its characters.
std::vector<std::string_view> Chars(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t n = CharLen(text.data() + i, text.size() - i);
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string_view Join(const std::vector<std::string_view>& chars, std::size_t from, std::size_t count)
{
    if (count == 0)
        return {};
    const char* begin = chars[from].data();
    const char* end = chars[from + count - 1].data() + chars[from + count - 1].size();
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// First and last GB2312 code of each pinyin initial. h ends at BBF6 and m at
// C4C2: the characters after them begin with j and n.
struct PinyinRange {
    std::uint32_t first;
    std::uint32_t last;
    char letter;
};
constexpr PinyinRange kPinyin[23] = {
    {0xB0A1, 0xB0C4, 'a'}, {0xB0C5, 0xB2C0, 'b'}, {0xB2C1, 0xB4ED, 'c'}, {0xB4EE, 0xB6E9, 'd'},
    {0xB6EA, 0xB7A1, 'e'}, {0xB7A2, 0xB8C0, 'f'}, {0xB8C1, 0xB9FD, 'g'}, {0xB9FE, 0xBBF6, 'h'},
    {0xBBF7, 0xBFA5, 'j'}, {0xBFA6, 0xC0AB, 'k'}, {0xC0AC, 0xC2E7, 'l'}, {0xC2E8, 0xC4C2, 'm'},
    {0xC4C3, 0xC5B5, 'n'}, {0xC5B6, 0xC5BD, 'o'}, {0xC5BE, 0xC6D9, 'p'}, {0xC6DA, 0xC8BA, 'q'},
    {0xC8BB, 0xC8F5, 'r'}, {0xC8F6, 0xCBF9, 's'}, {0xCBFA, 0xCDD9, 't'}, {0xCDDA, 0xCEF3, 'w'},
    {0xCEF4, 0xD1B8, 'x'}, {0xD1B9, 0xD4D0, 'y'}, {0xD4D1, 0xD7F9, 'z'},
};

char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void FreeNode(BoundedFifoNode* node)
{
    if (node->item.length)
        std::free(node->item.data);
    delete node;
}

void ClearNodes(BoundedFifo* q)
{
    BoundedFifoNode* n = q->head;
    while (n) {
        BoundedFifoNode* next = n->next;
        FreeNode(n);
        n = next;
    }
    q->head = q->tail = nullptr;
    q->count = 0;
}

} // namespace

int Base64EncodeBuf(const void* data, int len, char* out, int outSize)
{
    if (!out || outSize <= 0)
        return -1;
    out[0] = '\0';
    if (len < 0 || (len > 0 && !data))
        return -1;
    const int need = Base64Length(len, true);
    if (need < 0 || need >= outSize)
        return -1;
    const auto* p = static_cast<const unsigned char*>(data);
    int o = 0;
    for (int i = 0; i < len; i += 3) {
        unsigned v = static_cast<unsigned>(p[i]) << 16;
        if (i + 1 < len)
            v |= static_cast<unsigned>(p[i + 1]) << 8;
        if (i + 2 < len)
            v |= p[i + 2];
        out[o++] = kAlphabet[(v >> 18) & 63];
        out[o++] = kAlphabet[(v >> 12) & 63];
        out[o++] = i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
        out[o++] = i + 2 < len ? kAlphabet[v & 63] : '=';
    }
    out[o] = '\0';
    return o;
}

int Base64DecodeBuf(const char* text, int len, void* out, int outSize)
{
    if (!out || outSize <= 0 || len < 0 || (len > 0 && !text))
        return -1;
    auto* o = static_cast<unsigned char*>(out);
    int n = 0;
    unsigned acc = 0;
    int bits = 0;
    for (int i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=')
            break;
        int v = Base64Value(c);
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (n + 1 >= outSize) { // room for this byte and the final zero
                o[0] = 0;
                return -1;
            }
            o[n++] = static_cast<unsigned char>(acc >> bits);
            acc &= (1u << bits) - 1;
        }
    }
    o[n] = 0;
    return n;
}

int Base64Length(int len, bool encoding)
{
    if (len < 0)
        return 0;
    if (encoding)
        return len > (0x7FFFFFFF / 4) * 3 - 3 ? -1 : (len + 2) / 3 * 4;
    return len / 4 * 3;
}

int DbcsCharCount(const char* text)
{
    if (!text)
        return 0;
    return static_cast<int>(Chars(text).size());
}

std::string DbcsLeft(const char* text, int n)
{
    if (!text || n <= 0)
        return {};
    std::vector<std::string_view> chars = Chars(text);
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), chars.size());
    return std::string(Join(chars, 0, count));
}

int IsStrDiffer(const char* a, const char* b)
{
    return std::strcmp(a ? a : "", b ? b : "") != 0 ? 1 : 0;
}

bool IsPinyinInitial(unsigned char lead, unsigned char trail, char letter)
{
    const std::uint32_t code = (static_cast<std::uint32_t>(lead) << 8) | trail;
    int low = 0, high = 22;
    while (low <= high) {
        int mid = (low + high) / 2;
        if (code < kPinyin[mid].first)
            high = mid - 1;
        else if (code > kPinyin[mid].last)
            low = mid + 1;
        else
            return kPinyin[mid].letter == letter;
    }
    return false;
}

bool MatchPinyinChars(std::string_view name, std::string_view key)
{
    std::vector<std::string_view> n = Chars(name);
    std::vector<std::string_view> k = Chars(key);
    if (n.size() != k.size())
        return false;
    for (std::size_t i = 0; i < n.size(); ++i) {
        if (k[i].size() > 1) {
            if (k[i] != n[i])
                return false;
        } else if (n[i].size() > 1) {
            std::optional<std::string> gb = qelm::Utf8ToGb18030(n[i]);
            if (!gb || gb->size() != 2 ||
                !IsPinyinInitial(static_cast<unsigned char>((*gb)[0]), static_cast<unsigned char>((*gb)[1]),
                                 Lower(k[i][0])))
                return false;
        } else if (Lower(n[i][0]) != Lower(k[i][0])) {
            return false;
        }
    }
    return true;
}

bool MatchPinyinKey(const char* name, const char* key, char wildcard)
{
    if (!name || !*name || (static_cast<unsigned char>(wildcard) & 0x80))
        return false;
    if (!key || !*key)
        return true;
    const std::string_view k(key);
    const int stars = static_cast<int>(std::count(k.begin(), k.end(), wildcard));
    enum { Prefix, Suffix, Middle, Inner } mode = Prefix;
    std::string_view prefix, suffix, middle;
    if (stars >= 3)
        return false;
    if (stars == 0) {
        prefix = k;
    } else if (stars == 1) {
        if (k.size() == 1)
            return true;
        if (k.front() == wildcard) {
            mode = Suffix;
            suffix = k.substr(1);
        } else if (k.back() == wildcard) {
            prefix = k.substr(0, k.size() - 1);
        } else {
            mode = Middle;
            std::size_t at = k.find(wildcard);
            prefix = k.substr(0, at);
            suffix = k.substr(at + 1);
        }
    } else {
        if (k.size() == 2)
            return true;
        if (k.front() != wildcard || k.back() != wildcard)
            return false;
        mode = Inner;
        middle = k.substr(1, k.size() - 2);
    }

    std::vector<std::string_view> n = Chars(name);
    const std::size_t nPrefix = Chars(prefix).size();
    const std::size_t nSuffix = Chars(suffix).size();
    if (n.size() < nPrefix || n.size() < nSuffix)
        return false;
    switch (mode) {
    case Prefix:
        return MatchPinyinChars(Join(n, 0, nPrefix), prefix);
    case Suffix:
        return MatchPinyinChars(Join(n, n.size() - nSuffix, nSuffix), suffix);
    case Middle:
        return MatchPinyinChars(Join(n, 0, nPrefix), prefix) &&
               MatchPinyinChars(Join(n, n.size() - nSuffix, nSuffix), suffix);
    case Inner: {
        const std::size_t nMiddle = Chars(middle).size();
        if (n.size() < nMiddle + 2)
            return false;
        for (std::size_t at = 1; at + nMiddle <= n.size() - 1; ++at) {
            if (MatchPinyinChars(Join(n, at, nMiddle), middle))
                return true;
        }
        return false;
    }
    }
    return false;
}

int BoundedFifoInit(BoundedFifo* q)
{
    if (!q)
        return -1;
    q->head = q->tail = nullptr;
    q->count = 0;
    q->capacity = 50;
    return 0;
}

int BoundedFifoPush(BoundedFifo* q, const BoundedFifoItem* item)
{
    if (!q || !item || !item->data || item->length <= 0)
        return -1;
    auto* node = new BoundedFifoNode;
    node->item = *item;
    qelm::CsLock lock(q->cs);
    if (!q->tail) {
        q->head = q->tail = node;
        q->count = 1;
    } else {
        node->prev = q->tail;
        q->tail->next = node;
        q->tail = node;
        ++q->count;
    }
    while (q->count > q->capacity && q->head) {
        BoundedFifoNode* oldest = q->head;
        q->head = oldest->next;
        if (q->head)
            q->head->prev = nullptr;
        else
            q->tail = nullptr;
        --q->count;
        FreeNode(oldest);
    }
    return item->length;
}

int BoundedFifoPop(BoundedFifo* q, BoundedFifoItem* out)
{
    if (!q || !out)
        return -1;
    qelm::CsLock lock(q->cs);
    BoundedFifoNode* node = q->head;
    if (!node)
        return 0;
    q->head = node->next;
    if (q->head)
        q->head->prev = nullptr;
    else
        q->tail = nullptr;
    --q->count;
    *out = node->item;
    delete node;
    return out->length;
}

int BoundedFifoCount(BoundedFifo* q)
{
    if (!q)
        return 0;
    qelm::CsLock lock(q->cs);
    return q->count;
}

int BoundedFifoClear(BoundedFifo* q)
{
    if (!q)
        return 0;
    qelm::CsLock lock(q->cs);
    ClearNodes(q);
    return 0;
}

int BoundedFifoClearUnlocked(BoundedFifo* q)
{
    if (!q)
        return -1;
    ClearNodes(q);
    return 0;
}
