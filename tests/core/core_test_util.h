// Helpers shared by the core tests: a temporary folder and whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace coretest {

// A fresh folder under /tmp, removed with its contents at the end of the scope.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/qelm2-core-XXXXXX";
        if (mkdtemp(tmpl))
            m_path = tmpl;
        EXPECT_FALSE(m_path.empty());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteAll(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

// Matches text against a mask of the same length: '9' a digit, '_' a digit
// or a blank, 'A' a letter, 'X' an upper-case hex digit, '*' any byte;
// every other byte stands for itself.
inline bool MatchMask(const std::string& text, const std::string& mask)
{
    if (text.size() != mask.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool digit = c >= '0' && c <= '9';
        switch (mask[i]) {
        case '9': if (!digit) return false; break;
        case '_': if (!digit && c != ' ') return false; break;
        case 'A': if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false; break;
        case 'X': if (!digit && !(c >= 'A' && c <= 'F')) return false; break;
        case '*': break;
        default: if (text[i] != mask[i]) return false;
        }
    }
    return true;
}

} // namespace coretest
