// Shared by the configuration-file tests: a temporary Config folder with the
// program-wide lists emptied, and GB18030 helpers.
#pragma once

#include "core/config_store.h"
#include "core/devinfo.h"
#include "core/helpers.h"
#include "core/log.h"
#include "core/recinfo.h"
#include "core/recover.h"
#include "core/userinfo.h"
#include "core_test_util.h"
#include "tests/core/config_globals.h"
#include "platform/text.h"

#include <tinyxml.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace cfgtest {

inline std::string Gb(const std::string& utf8)
{
    return qelm::Utf8ToGb18030(utf8).value();
}

// The names of the element's child elements, in order.
inline std::vector<std::string> ChildNames(const TiXmlElement* e)
{
    std::vector<std::string> names;
    for (const TiXmlElement* c = e ? e->FirstChildElement() : nullptr; c; c = c->NextSiblingElement())
        names.push_back(c->Value());
    return names;
}

// Files of a folder whose names contain `part`.
inline std::vector<std::string> FilesWith(const std::string& dir, const std::string& part)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.find(part) != std::string::npos)
                out.push_back(name);
        }
        closedir(d);
    }
    return out;
}

// A fresh Config folder under a temporary data folder (the log goes there
// too), the lists emptied and the settings at their start values.
class ConfigTest : public testing::Test {
protected:
    void SetUp() override
    {
        CloseLog();
        m_config = m_tmp / "Config/";
        mkdir(m_config.c_str(), 0755);
        SetConfigDir(m_config);
        setenv("QELM2_DATA", m_tmp.path().c_str(), 1);
        ResetGlobals();
    }
    void TearDown() override
    {
        CloseLog();
        SetConfigDir("");
        unsetenv("QELM2_DATA");
        ResetGlobals();
    }
    static void ResetGlobals()
    {
        ResetConfigGlobals();
        g_szUserName[0] = '\0';
    }
    std::string Path(const char* name) const { return m_config + name; }
    std::string Read(const char* name) const { return coretest::ReadAll(Path(name)); }
    void Write(const char* name, const std::string& data) const { coretest::WriteAll(Path(name), data); }
    // Opens the program log in the temporary folder; its text so far.
    void OpenTestLog() { ASSERT_EQ(OpenLog((m_tmp / "clientlog.txt").c_str()), 0); }
    std::string LogText() const
    {
        FlushLog();
        return coretest::ReadAll(m_tmp / "clientlog.txt");
    }

    coretest::TempDir m_tmp;
    std::string m_config;
};

} // namespace cfgtest
