// Fuzzes what the record search makes of a device's answers: the file
// search answer (count, files, the relay answer text built from them) and
// the recorder's day answer.
#include "playback/dev_rec_request.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 20)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const recsearch::FileSearchAnswer files = recsearch::ParseFileSearchAnswer(text.c_str());
    std::list<RecFileItem> items(files.files.begin(), files.files.end());
    for (const RecFileItem& item : items)
        if (strnlen(item.szPath, sizeof item.szPath) == sizeof item.szPath ||
            strnlen(item.szSize, sizeof item.szSize) == sizeof item.szSize)
            __builtin_trap(); // every field stays terminated
    std::string reply;
    recsearch::BuildRelayAnswerText(items, reply);
    const recsearch::DayQueryAnswer day = recsearch::ParseDayQueryAnswer(text.c_str());
    if (day.map.size() > kDayMinutes)
        __builtin_trap();
    return 0;
}
