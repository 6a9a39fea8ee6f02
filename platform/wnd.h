// The window base of every window class of the system: a Qt widget with a
// window handle, a message map, posted messages, timers and the handlers the
// system's code is written against (OnTimer, OnClose, PreTranslateMessage, ...).
#pragma once

#include "platform/geometry.h"
#include "platform/types.h"

#include <QWidget>
#include <map>
#include <string>

class CWnd;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    POINT pt;
};

// Header of a WM_NOTIFY payload.
struct NMHDR {
    HWND hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

// ---------------------------------------------------------------------------
// Message maps: a table per class from message number (and, for WM_COMMAND and
// WM_NOTIFY, notification code and control id) to a member function. The
// table of a class chains to that of its base.

using MsgThunk = LRESULT (*)(CWnd* wnd, UINT msg, WPARAM wParam, LPARAM lParam);

struct MsgMapEntry {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    UINT nLastID;
    MsgThunk pfn;
};

struct MsgMap {
    const MsgMap* (*pfnGetBaseMap)();
    const MsgMapEntry* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const MsgMap* GetThisMessageMap();                                                      \
    const MsgMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const MsgMap* theClass::GetMessageMap() const { return GetThisMessageMap(); }                  \
    const MsgMap* theClass::GetThisMessageMap()                                                    \
    {                                                                                              \
        using ThisClass = theClass;                                                                \
        using TheBaseClass = baseClass;                                                            \
        static const MsgMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, 0, nullptr }                                                                        \
    };                                                                                             \
    static const MsgMap map = { &TheBaseClass::GetThisMessageMap, &entries[0] };                   \
    return &map;                                                                                   \
    }

// LRESULT ThisClass::fn(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                             \
    { message, 0, 0, 0,                                                                            \
      [](CWnd* w, UINT, WPARAM wp, LPARAM lp) -> LRESULT {                                         \
          return (static_cast<ThisClass*>(w)->*(memberFxn))(wp, lp);                               \
      } },

// void ThisClass::fn(): a control notification (code) from control id.
#define ON_CONTROL(code, id, memberFxn)                                                            \
    { WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),           \
      [](CWnd* w, UINT, WPARAM, LPARAM) -> LRESULT {                                               \
          (static_cast<ThisClass*>(w)->*(memberFxn))();                                            \
          return 0;                                                                                \
      } },

#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_BN_DOUBLECLICKED(id, memberFxn) ON_CONTROL(BN_DOUBLECLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(CBN_SELCHANGE, id, memberFxn)

// void ThisClass::fn(UINT id): commands id1..id2.
#define ON_COMMAND_RANGE(id1, id2, memberFxn)                                                      \
    { WM_COMMAND, 0, static_cast<UINT>(id1), static_cast<UINT>(id2),                               \
      [](CWnd* w, UINT, WPARAM wp, LPARAM) -> LRESULT {                                            \
          (static_cast<ThisClass*>(w)->*(memberFxn))(LOWORD(wp));                                  \
          return 0;                                                                                \
      } },

// void ThisClass::fn(NMHDR*, LRESULT*)
#define ON_NOTIFY(code, id, memberFxn)                                                             \
    { WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),            \
      [](CWnd* w, UINT, WPARAM, LPARAM lp) -> LRESULT {                                            \
          LRESULT r = 0;                                                                           \
          (static_cast<ThisClass*>(w)->*(memberFxn))(reinterpret_cast<NMHDR*>(lp), &r);            \
          return r;                                                                                \
      } },

// ---------------------------------------------------------------------------

// SetWindowPos flags and insert-after values.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
extern CWnd* const wndTop;
extern CWnd* const wndTopMost;
extern CWnd* const wndNoTopMost;

// OnSize types.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;

// Mouse key-state flags passed to mouse handlers.
constexpr UINT MK_LBUTTON = 0x0001;
constexpr UINT MK_RBUTTON = 0x0002;
constexpr UINT MK_SHIFT = 0x0004;
constexpr UINT MK_CONTROL = 0x0008;
constexpr UINT MK_MBUTTON = 0x0010;

class CWnd : public QWidget {
public:
    explicit CWnd(QWidget* parent = nullptr);
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The handle, null until the window is created and after it is destroyed.
    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    static CWnd* FromHandle(HWND hWnd); // UI thread; null for a dead handle

    // Creates a child window (or a top-level one without parent) and gives it its handle.
    BOOL Create(CWnd* pParent, const CRect& rect, UINT nID = 0, const char* text = nullptr);
    // Destroys the window: OnDestroy, timers killed, handle released, hidden.
    // The C++ object stays; its owner deletes it.
    virtual BOOL DestroyWindow();

    // --- messages -----------------------------------------------------------
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Runs the message through the message map (UI thread). Unhandled
    // WM_COMMAND and WM_NOTIFY go to the parent window.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // True when the last WindowProc call found a handler (here or in a parent).
    bool LastMessageHandled() const { return m_bLastHandled; }
    // Called for posted and input messages before they are dispatched, from the
    // target up through its parents; TRUE consumes the message.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // --- handlers -------------------------------------------------------------
    virtual void OnTimer(UINT_PTR nIDEvent);
    virtual void OnClose();   // default: DestroyWindow
    virtual void OnDestroy(); // before the handle goes away
    virtual void OnPaint();   // inside a paint event: open a QPainter on this
    virtual void OnSize(UINT nType, int cx, int cy);
    virtual void OnMove(int x, int y);
    virtual void OnShowWindow(BOOL bShow, UINT nStatus);
    virtual void OnMouseMove(UINT nFlags, CPoint point);
    virtual void OnLButtonDown(UINT nFlags, CPoint point);
    virtual void OnLButtonUp(UINT nFlags, CPoint point);
    virtual void OnLButtonDblClk(UINT nFlags, CPoint point);
    virtual void OnRButtonDown(UINT nFlags, CPoint point);
    virtual void OnRButtonUp(UINT nFlags, CPoint point);
    virtual BOOL OnMouseWheel(UINT nFlags, short zDelta, CPoint pt);
    virtual void OnMouseLeave();

    // --- timers -----------------------------------------------------------------
    // Setting an id that runs already restarts its period. UI thread.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // --- geometry and state -----------------------------------------------------
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const { return isVisible(); }
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const { return isEnabled(); }
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(const CRect& rect, BOOL bRepaint = TRUE);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void GetClientRect(CRect* pRect) const;
    void GetWindowRect(CRect* pRect) const; // screen coordinates
    void ScreenToClient(CRect* pRect) const;
    void ScreenToClient(CPoint* pPoint) const;
    void ClientToScreen(CRect* pRect) const;
    void ClientToScreen(CPoint* pPoint) const;
    void Invalidate(BOOL bErase = TRUE);
    void UpdateWindow();
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    void SetWindowText(const char* text);    // UTF-8
    void SetWindowText(const wchar_t* text);
    std::string GetWindowText() const;       // UTF-8
    CWnd* GetParent() const;                 // nearest window above, or null
    CWnd* SetFocus();
    void BringWindowToTop();
    BOOL SetForegroundWindow();
    UINT GetDlgCtrlID() const { return m_nID; }
    void SetDlgCtrlID(UINT nID);

    // --- child controls by id -------------------------------------------------------
    QWidget* GetDlgItem(UINT nID) const;
    template <class T> T* GetDlgItemT(UINT nID) const { return dynamic_cast<T*>(GetDlgItem(nID)); }
    void SetDlgItemText(UINT nID, const char* text);
    void SetDlgItemText(UINT nID, const wchar_t* text);
    std::string GetDlgItemText(UINT nID) const;
    void SetDlgItemInt(UINT nID, int value);
    int GetDlgItemInt(UINT nID, BOOL* pTrans = nullptr) const;
    void CheckDlgButton(UINT nID, UINT nCheck);
    UINT IsDlgButtonChecked(UINT nID) const;

protected:
    // The message map of this class; DECLARE_MESSAGE_MAP overrides it.
    virtual const MsgMap* GetMessageMap() const;
    static const MsgMap* GetThisMessageMap();
    // Gives the window its handle (Create, DoModal call this).
    void CreateHandle();
    void ReleaseHandle();

    // Qt events mapped to the handlers above.
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    bool FindHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    UINT m_nID = 0;
    bool m_bLastHandled = false;
    std::map<UINT_PTR, int> m_timers; // id -> Qt timer id
};

// Window handles of plain Qt controls, so that MSG::hwnd can name them.
namespace qelm {

// Gives a control its id (object name "id:N", which the automation endpoint
// reads) and a handle, and routes its notifications as WM_COMMAND to the
// nearest window above it: button clicks (BN_CLICKED), edit changes
// (EN_CHANGE), combo-box choices (CBN_SELCHANGE).
void SetControlId(QWidget* control, UINT nID);
// The id a control or window was given (0 when none).
UINT ControlId(const QWidget* w);
// The handle of a window or of a control with an id (null for anything else).
HWND HandleOf(const QWidget* w);
// The widget behind a handle (UI thread; null for a dead handle).
QWidget* WidgetFromHandle(HWND h);
// The nearest window at or above w.
CWnd* OwningWnd(QWidget* w);

// Text, check state and choices of any control, as a user would read them.
std::string ControlText(const QWidget* w);
void SetControlText(QWidget* w, const std::string& utf8);

// Class name of a window or control: the C++ class of a window, the Qt class of a control.
std::string WidgetClassName(const QWidget* w);

QColor ToQColor(COLORREF c);
COLORREF FromQColor(const QColor& c);

} // namespace qelm

// Thread-safe: true while the handle names a live window or control.
BOOL IsWindow(HWND hWnd);
