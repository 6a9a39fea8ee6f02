#include "platform/msgbox.h"

#include "platform/dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <mutex>
#include <vector>

namespace {

constexpr UINT kTextId = 0xFFFF;

std::mutex g_lastMutex;
qelm::MessageBoxInfo g_last;

class CSysMsgBox : public CDialog {
public:
    CSysMsgBox(CWnd* owner, std::string text, std::string caption, UINT type)
        : CDialog(0, owner), m_text(std::move(text)), m_caption(std::move(caption)), m_type(type) {}

protected:
    void CreateControls() override
    {
        SetWindowText(m_caption.c_str());
        auto* layout = new QVBoxLayout(this);
        auto* label = new QLabel(QString::fromUtf8(m_text), this);
        label->setWordWrap(true);
        label->setMinimumWidth(240);
        qelm::SetControlId(label, kTextId);
        layout->addWidget(label);
        auto* row = new QHBoxLayout;
        row->addStretch();
        for (const auto& [id, caption] : Buttons()) {
            auto* b = new QPushButton(QString::fromUtf8(caption), this);
            qelm::SetControlId(b, static_cast<UINT>(id));
            QObject::connect(b, &QPushButton::clicked, this, [this, id = id] { EndDialog(id); });
            row->addWidget(b);
        }
        layout->addLayout(row);
    }

    BOOL OnInitDialog() override
    {
        std::lock_guard<std::mutex> lock(g_lastMutex);
        g_last.text = m_text;
        g_last.caption = m_caption;
        g_last.hwnd = m_hWnd;
        g_last.shown = true;
        return TRUE;
    }

    void OnCancel() override
    {
        // Esc and the close box answer Cancel or No when the box has one.
        const UINT kind = m_type & MB_TYPEMASK;
        if (kind == MB_OK)
            EndDialog(IDOK);
        else if (kind == MB_YESNO)
            EndDialog(IDNO);
        else
            EndDialog(IDCANCEL);
    }

    void OnOK() override
    {
        const UINT kind = m_type & MB_TYPEMASK;
        EndDialog(kind == MB_YESNO || kind == MB_YESNOCANCEL ? IDYES : IDOK);
    }

private:
    std::vector<std::pair<int, const char*>> Buttons() const
    {
        switch (m_type & MB_TYPEMASK) {
        case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
        case MB_YESNOCANCEL: return {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
        case MB_YESNO: return {{IDYES, "Yes"}, {IDNO, "No"}};
        default: return {{IDOK, "OK"}};
        }
    }

    std::string m_text;
    std::string m_caption;
    UINT m_type;
};

} // namespace

int MessageBoxA(HWND hWnd, const char* lpText, const char* lpCaption, UINT uType)
{
    CSysMsgBox box(CWnd::FromHandle(hWnd), lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType);
    const int result = static_cast<int>(box.DoModal());
    std::lock_guard<std::mutex> lock(g_lastMutex);
    g_last.hwnd = nullptr;
    return result;
}

int MessageBoxW(HWND hWnd, const wchar_t* lpText, const wchar_t* lpCaption, UINT uType)
{
    const std::string text = lpText ? QString::fromWCharArray(lpText).toStdString() : std::string();
    const std::string caption = lpCaption ? QString::fromWCharArray(lpCaption).toStdString() : std::string("Error");
    return MessageBoxA(hWnd, text.c_str(), caption.c_str(), uType);
}

int AfxMessageBox(const char* lpszText, UINT nType)
{
    return MessageBoxA(nullptr, lpszText, QApplication::applicationName().toStdString().c_str(), nType);
}

namespace qelm {
MessageBoxInfo LastMessageBox()
{
    std::lock_guard<std::mutex> lock(g_lastMutex);
    return g_last;
}
} // namespace qelm
