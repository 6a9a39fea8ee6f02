// Fuzz target: GB18030 record fields and conversions. The first byte picks a
// field size, the rest is the text (as UTF-8 for writing, as field bytes for
// reading).
#include "platform/text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t field = data[0] % 48 + 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    constexpr std::size_t kGuard = 8;

    // Into a record field: whole characters, terminated, zero-filled, nothing
    // written past the field.
    std::vector<char> buf(field + kGuard, 0x5A);
    std::size_t n = qelm::CopyToGbField(buf.data(), field, text);
    Check(n < field);
    for (std::size_t i = n; i < field; ++i)
        Check(buf[i] == 0);
    for (std::size_t i = field; i < buf.size(); ++i)
        Check(buf[i] == 0x5A);
    Check(qelm::Gb18030ToUtf8(std::string_view(buf.data(), n)).has_value());

    // Into a C array: whole characters of valid text, terminated, bounded.
    std::vector<char> arr(field + kGuard, 0x5A);
    n = qelm::CopyBounded(arr.data(), field, text);
    Check(n < field && arr[n] == 0);
    for (std::size_t i = field; i < arr.size(); ++i)
        Check(arr[i] == 0x5A);
    if (qelm::IsValidUtf8(text))
        Check(qelm::IsValidUtf8(std::string_view(arr.data(), n)));

    // Any field bytes read back as valid UTF-8.
    Check(qelm::IsValidUtf8(qelm::ReadGbField(text.data(), text.size())));

    // Whole-text conversions: GB18030 encodes every character, so UTF-8 text
    // comes back unchanged.
    if (auto gb = qelm::Utf8ToGb18030(text)) {
        auto back = qelm::Gb18030ToUtf8(*gb);
        Check(back.has_value() && *back == text);
    }
    if (auto utf8 = qelm::Gb18030ToUtf8(text))
        Check(qelm::IsValidUtf8(*utf8));
    return 0;
}
