#include "mainwnd/empty_page.h"

#include "platform/wnd.h"

CEmptyPage::CEmptyPage(const char* className, UINT nIDTemplate, CWnd* parent, bool child)
    : CDialog(nIDTemplate, parent), m_className(className)
{
    SetChildStyle(child);
    // The automation endpoint names windows by this property when present.
    setProperty("qelm2_class", QString::fromUtf8(className));
}

std::string PageClassName(const CWnd* page)
{
    if (!page)
        return {};
    if (auto* empty = dynamic_cast<const CEmptyPage*>(page))
        return empty->ClassName();
    return qelm::WidgetClassName(page);
}
