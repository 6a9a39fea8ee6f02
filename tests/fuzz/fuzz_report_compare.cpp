// Fuzz target: the report list's cell comparison (hexadecimal, decimal,
// date-time and text rules). The input is two texts separated by a NUL.
#include "ui/report_compare.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string all(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = all.find('\0');
    const std::string a = all.substr(0, nul);
    const std::string b = nul == std::string::npos ? std::string() : all.substr(nul + 1);
    const int ab = qelm::report::CompareCellTexts(a, b);
    const int ba = qelm::report::CompareCellTexts(b, a);
    // The same rule decides both ways, so the answers mirror each other.
    if (ab < -1 || ab > 1 || ab != -ba)
        std::abort();
    if (qelm::report::CompareCellTexts(a, a) != 0)
        std::abort();
    return 0;
}
