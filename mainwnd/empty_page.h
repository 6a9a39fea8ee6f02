// A page whose own folder has not built it yet: an empty dialog that stands
// where the page goes, known by the page's class name (to the automation
// endpoint and to the main window's lookups).
#pragma once

#include "platform/dialog.h"

#include <string>

class CEmptyPage : public CDialog {
public:
    // child: a page inside parent; otherwise a hidden top-level popup.
    CEmptyPage(const char* className, UINT nIDTemplate, CWnd* parent, bool child);
    const std::string& ClassName() const { return m_className; }

private:
    std::string m_className;
};

// The class name a page goes by: the empty page's given name, else its type.
std::string PageClassName(const CWnd* page);
