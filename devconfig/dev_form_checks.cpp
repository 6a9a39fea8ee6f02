#include "devconfig/dev_form_checks.h"

#include <arpa/inet.h>

#include <cctype>

namespace devform {

bool IsIPv4Address(const std::string& text)
{
    in_addr a{};
    return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

bool IsHostName(const std::string& text)
{
    std::string name = text;
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.empty() || name.size() > 253)
        return false;
    std::size_t start = 0;
    bool lastAllDigits = false;
    while (start <= name.size()) {
        std::size_t end = name.find('.', start);
        if (end == std::string::npos)
            end = name.size();
        const std::size_t len = end - start;
        if (len == 0 || len > 63 || name[start] == '-' || name[end - 1] == '-')
            return false;
        lastAllDigits = true;
        for (std::size_t i = start; i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(name[i]);
            if (!std::isalnum(c) && c != '-')
                return false;
            if (!std::isdigit(c))
                lastAllDigits = false;
        }
        start = end + 1;
    }
    return !lastAllDigits;
}

bool IsPortNumber(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return false;
    long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

} // namespace devform
