// One running client per data folder: a lock file held while the process
// runs, and a local socket through which a second start asks the first to
// bring its main window forward.
#pragma once

#include <memory>
#include <string>

class CWnd;

class CSingleInstance {
public:
    explicit CSingleInstance(const std::string& appName);
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // True when this process now holds the instance; false when another runs
    // (it has then been asked to bring its main window forward).
    bool Acquire();
    // The window a later start brings forward (null: nothing to show yet).
    void SetMainWindow(CWnd* wnd);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
