// CWnd, the handle table, control ids and notifications, and the input filter
// that offers key and mouse input to PreTranslateMessage.
#include "platform/wnd.h"

#include "platform/clock.h"
#include "platform/message_internal.h"
#include "platform/text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <QThread>
#include <QVariant>
#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <unordered_map>

namespace {

const char* const kIdProperty = "qelm_id";
const char* const kHandleProperty = "qelm_hwnd";

struct HandleEntry {
    QWidget* widget;
    CWnd* wnd; // null for a plain control
};

std::unordered_map<std::uintptr_t, HandleEntry>& HandleTable()
{
    static std::unordered_map<std::uintptr_t, HandleEntry> table;
    return table;
}

std::uintptr_t g_nextHandle = 0x10000;

// Stand-ins for the insert-after values of SetWindowPos; only compared.
alignas(CWnd) char g_topMarker[1];
alignas(CWnd) char g_topMostMarker[1];
alignas(CWnd) char g_noTopMostMarker[1];

UINT MouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers mods)
{
    UINT f = 0;
    if (buttons & Qt::LeftButton) f |= MK_LBUTTON;
    if (buttons & Qt::RightButton) f |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton) f |= MK_MBUTTON;
    if (mods & Qt::ShiftModifier) f |= MK_SHIFT;
    if (mods & Qt::ControlModifier) f |= MK_CONTROL;
    return f;
}

CPoint LocalPoint(const QMouseEvent* e)
{
    const QPointF p = e->position();
    return CPoint(static_cast<int>(p.x()), static_cast<int>(p.y()));
}

} // namespace

CWnd* const wndTop = reinterpret_cast<CWnd*>(g_topMarker);
CWnd* const wndTopMost = reinterpret_cast<CWnd*>(g_topMostMarker);
CWnd* const wndNoTopMost = reinterpret_cast<CWnd*>(g_noTopMostMarker);

// --- handle table ------------------------------------------------------------------

namespace qelm::detail {

std::mutex& HandleMutex()
{
    static std::mutex m;
    return m;
}

HWND RegisterHandle(QWidget* w, CWnd* wnd)
{
    std::lock_guard<std::mutex> lock(HandleMutex());
    const std::uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    HandleTable()[value] = HandleEntry{w, wnd};
    return reinterpret_cast<HWND>(value);
}

void UnregisterHandle(HWND h)
{
    std::lock_guard<std::mutex> lock(HandleMutex());
    HandleTable().erase(reinterpret_cast<std::uintptr_t>(h));
}

QWidget* LookupWidgetLocked(HWND h)
{
    auto it = HandleTable().find(reinterpret_cast<std::uintptr_t>(h));
    return it == HandleTable().end() ? nullptr : it->second.widget;
}

CWnd* LookupWndLocked(HWND h)
{
    auto it = HandleTable().find(reinterpret_cast<std::uintptr_t>(h));
    return it == HandleTable().end() ? nullptr : it->second.wnd;
}

bool PreTranslateWalk(CWnd* from, MSG* msg)
{
    // Look each level up through the handle: a filter may destroy windows.
    std::vector<HWND> chain;
    for (CWnd* w = from; w; w = w->GetParent())
        if (w->m_hWnd)
            chain.push_back(w->m_hWnd);
    for (HWND h : chain) {
        CWnd* w = CWnd::FromHandle(h);
        if (w && w->PreTranslateMessage(msg))
            return true;
    }
    return false;
}

namespace {

UINT QtKeyToVk(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<UINT>('A' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<UINT>('0' + (key - Qt::Key_0));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_End: return VK_END;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    default: return 0;
    }
}

// Offers key and mouse input to PreTranslateMessage before the widget sees it.
class InputFilter : public QObject {
protected:
    bool eventFilter(QObject* obj, QEvent* ev) override
    {
        UINT message = 0;
        switch (ev->type()) {
        case QEvent::KeyPress: message = WM_KEYDOWN; break;
        case QEvent::KeyRelease: message = WM_KEYUP; break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: break;
        default: return false;
        }
        if (!obj->isWidgetType())
            return false;
        // Qt offers an unaccepted event to each parent in turn; a message is
        // translated once.
        auto* input = static_cast<QInputEvent*>(ev);
        if (ev == m_last && input->timestamp() == m_lastStamp && ev->type() == m_lastType)
            return false;
        m_last = ev;
        m_lastStamp = input->timestamp();
        m_lastType = ev->type();

        auto* widget = static_cast<QWidget*>(obj);
        CWnd* wnd = qelm::OwningWnd(widget);
        if (!wnd)
            return false;
        MSG msg;
        msg.hwnd = qelm::HandleOf(widget);
        if (!msg.hwnd)
            msg.hwnd = wnd->m_hWnd;
        msg.time = timeGetTime();
        if (message == WM_KEYDOWN || message == WM_KEYUP) {
            auto* ke = static_cast<QKeyEvent*>(ev);
            msg.message = message;
            msg.wParam = QtKeyToVk(ke->key());
            // The context bit: Alt was down with the key.
            if (ke->modifiers() & Qt::AltModifier)
                msg.lParam = LPARAM(1) << 29;
        } else {
            auto* me = static_cast<QMouseEvent*>(ev);
            const bool right = me->button() == Qt::RightButton;
            switch (ev->type()) {
            case QEvent::MouseButtonPress: msg.message = right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN; break;
            case QEvent::MouseButtonRelease: msg.message = right ? WM_RBUTTONUP : WM_LBUTTONUP; break;
            case QEvent::MouseButtonDblClick: msg.message = right ? WM_RBUTTONDBLCLK : WM_LBUTTONDBLCLK; break;
            default: msg.message = WM_MOUSEMOVE; break;
            }
            msg.wParam = MouseFlags(me->buttons(), me->modifiers());
            const QPointF p = me->position();
            msg.lParam = MAKELPARAM(static_cast<WORD>(static_cast<int>(p.x())), static_cast<WORD>(static_cast<int>(p.y())));
            const QPointF g = me->globalPosition();
            msg.pt.x = static_cast<LONG>(g.x());
            msg.pt.y = static_cast<LONG>(g.y());
        }
        return PreTranslateWalk(wnd, &msg);
    }

private:
    const QEvent* m_last = nullptr;
    quint64 m_lastStamp = 0;
    QEvent::Type m_lastType = QEvent::None;
};

} // namespace

void EnsureInputFilter()
{
    static InputFilter* filter = nullptr;
    if (filter || !qApp)
        return;
    filter = new InputFilter;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

} // namespace qelm::detail

using namespace qelm::detail;

BOOL IsWindow(HWND hWnd)
{
    if (!hWnd)
        return FALSE;
    std::lock_guard<std::mutex> lock(HandleMutex());
    return LookupWidgetLocked(hWnd) ? TRUE : FALSE;
}

// --- CWnd --------------------------------------------------------------------------

CWnd::CWnd(QWidget* parent) : QWidget(parent) {}

CWnd::~CWnd()
{
    // Too late for OnDestroy: the derived part is gone. Releasing the handle
    // first makes later posts fail; ~QObject then frees the pending ones.
    ReleaseHandle();
}

const MsgMap* CWnd::GetThisMessageMap()
{
    static const MsgMapEntry entries[] = {{0, 0, 0, 0, nullptr}};
    static const MsgMap map = {nullptr, &entries[0]};
    return &map;
}

const MsgMap* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    std::lock_guard<std::mutex> lock(HandleMutex());
    return LookupWndLocked(hWnd);
}

void CWnd::CreateHandle()
{
    if (m_hWnd)
        return;
    EnsureInputFilter();
    m_hWnd = RegisterHandle(this, this);
    setProperty(kHandleProperty, QVariant::fromValue<qulonglong>(reinterpret_cast<std::uintptr_t>(m_hWnd)));
}

void CWnd::ReleaseHandle()
{
    for (auto& [id, qtId] : m_timers)
        killTimer(qtId);
    m_timers.clear();
    if (!m_hWnd)
        return;
    UnregisterHandle(m_hWnd);
    m_hWnd = nullptr;
    setProperty(kHandleProperty, QVariant());
}

BOOL CWnd::Create(CWnd* pParent, const CRect& rect, UINT nID, const char* text)
{
    if (m_hWnd)
        return FALSE;
    if (pParent)
        setParent(pParent);
    setGeometry(rect.ToQ());
    if (nID)
        SetDlgCtrlID(nID);
    if (text)
        SetWindowText(text);
    CreateHandle();
    show();
    return TRUE;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    OnDestroy();
    // Children go with their parent, as they would on the system.
    for (QObject* child : children()) {
        if (auto* w = dynamic_cast<CWnd*>(child))
            w->DestroyWindow();
    }
    ReleaseHandle();
    hide();
    return TRUE;
}

bool CWnd::FindHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message == WM_NOTIFY) {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (!hdr)
            return false;
        code = hdr->code;
        id = static_cast<UINT>(hdr->idFrom);
    }
    const bool keyed = message == WM_COMMAND || message == WM_NOTIFY;
    for (const MsgMap* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const MsgMapEntry* e = map->lpEntries; e && e->pfn; ++e) {
            if (e->nMessage != message)
                continue;
            if (keyed && (e->nCode != code || id < e->nID || id > e->nLastID))
                continue;
            *pResult = e->pfn(this, message, wParam, lParam);
            return true;
        }
        if (map->pfnGetBaseMap == nullptr)
            break;
    }
    return false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    HWND self = m_hWnd;
    bool handled = FindHandler(message, wParam, lParam, &result);
    if (!handled && (message == WM_COMMAND || message == WM_NOTIFY)) {
        // Unhandled notifications go to the parent window.
        if (CWnd* parent = GetParent()) {
            result = parent->WindowProc(message, wParam, lParam);
            handled = parent->LastMessageHandled();
        }
    } else if (!handled && message == WM_CLOSE) {
        OnClose();
        handled = true;
    } else if (!handled && message == WM_TIMER) {
        OnTimer(wParam);
        handled = true;
    }
    // The handler may have destroyed this window.
    if (self && CWnd::FromHandle(self) == this)
        m_bLastHandled = handled;
    return result;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

void CWnd::OnTimer(UINT_PTR) {}
void CWnd::OnClose() { DestroyWindow(); }
void CWnd::OnDestroy() {}
void CWnd::OnPaint() {}
void CWnd::OnSize(UINT, int, int) {}
void CWnd::OnMove(int, int) {}
void CWnd::OnShowWindow(BOOL, UINT) {}
void CWnd::OnMouseMove(UINT, CPoint) {}
void CWnd::OnLButtonDown(UINT, CPoint) {}
void CWnd::OnLButtonUp(UINT, CPoint) {}
void CWnd::OnLButtonDblClk(UINT, CPoint) {}
void CWnd::OnRButtonDown(UINT, CPoint) {}
void CWnd::OnRButtonUp(UINT, CPoint) {}
BOOL CWnd::OnMouseWheel(UINT, short, CPoint) { return FALSE; }
void CWnd::OnMouseLeave() {}

bool CWnd::event(QEvent* e)
{
    if (e->type() == PostedEventType()) {
        auto* ev = static_cast<PostedMsgEvent*>(e);
        // A message for an earlier life of this object is not delivered; the
        // event's destructor frees its payload.
        if (m_hWnd && ev->hwnd == m_hWnd)
            DeliverPosted(this, ev);
        return true;
    }
    if (e->type() == SentEventType()) {
        auto* ev = static_cast<SentMsgEvent*>(e);
        ev->Complete(m_hWnd && ev->hwnd == m_hWnd ? WindowProc(ev->msg, ev->wParam, ev->lParam) : 0);
        return true;
    }
    return QWidget::event(e);
}

void CWnd::paintEvent(QPaintEvent*)
{
    OnPaint();
}

void CWnd::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    UINT type = SIZE_RESTORED;
    if (windowState() & Qt::WindowMinimized)
        type = SIZE_MINIMIZED;
    else if (windowState() & Qt::WindowMaximized)
        type = SIZE_MAXIMIZED;
    OnSize(type, width(), height());
}

void CWnd::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    OnMove(x(), y());
}

void CWnd::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    OnShowWindow(TRUE, 0);
}

void CWnd::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    OnShowWindow(FALSE, 0);
}

void CWnd::closeEvent(QCloseEvent* e)
{
    // The window decides through OnClose; Qt must not close it behind its back.
    e->ignore();
    if (m_hWnd)
        OnClose();
}

void CWnd::timerEvent(QTimerEvent* e)
{
    for (const auto& [id, qtId] : m_timers) {
        if (qtId == e->timerId()) {
            OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(e);
}

void CWnd::mousePressEvent(QMouseEvent* e)
{
    const UINT flags = MouseFlags(e->buttons(), e->modifiers());
    if (e->button() == Qt::LeftButton)
        OnLButtonDown(flags, LocalPoint(e));
    else if (e->button() == Qt::RightButton)
        OnRButtonDown(flags, LocalPoint(e));
}

void CWnd::mouseReleaseEvent(QMouseEvent* e)
{
    const UINT flags = MouseFlags(e->buttons(), e->modifiers());
    if (e->button() == Qt::LeftButton)
        OnLButtonUp(flags, LocalPoint(e));
    else if (e->button() == Qt::RightButton)
        OnRButtonUp(flags, LocalPoint(e));
}

void CWnd::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        OnLButtonDblClk(MouseFlags(e->buttons(), e->modifiers()), LocalPoint(e));
    else
        mousePressEvent(e);
}

void CWnd::mouseMoveEvent(QMouseEvent* e)
{
    OnMouseMove(MouseFlags(e->buttons(), e->modifiers()), LocalPoint(e));
}

void CWnd::wheelEvent(QWheelEvent* e)
{
    const QPointF g = e->globalPosition();
    if (!OnMouseWheel(MouseFlags(e->buttons(), e->modifiers()), static_cast<short>(e->angleDelta().y()),
                      CPoint(static_cast<int>(g.x()), static_cast<int>(g.y()))))
        e->ignore();
}

void CWnd::leaveEvent(QEvent* e)
{
    QWidget::leaveEvent(e);
    OnMouseLeave();
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse)
{
    if (!m_hWnd)
        return 0;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, nIDEvent, nElapse] { SetTimer(nIDEvent, nElapse); }, Qt::QueuedConnection);
        return nIDEvent;
    }
    auto it = m_timers.find(nIDEvent);
    if (it != m_timers.end()) {
        killTimer(it->second);
        m_timers.erase(it);
    }
    // As on the system, shorter periods are raised to 10 ms.
    const int qtId = startTimer(static_cast<int>(std::max<UINT>(nElapse, 10)), Qt::PreciseTimer);
    if (qtId == 0)
        return 0;
    m_timers[nIDEvent] = qtId;
    return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, nIDEvent] { KillTimer(nIDEvent); }, Qt::QueuedConnection);
        return TRUE;
    }
    auto it = m_timers.find(nIDEvent);
    if (it == m_timers.end())
        return FALSE;
    killTimer(it->second);
    m_timers.erase(it);
    return TRUE;
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    const BOOL wasVisible = isVisible();
    switch (nCmdShow) {
    case SW_HIDE: hide(); break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE: isWindow() ? showMinimized() : show(); break;
    case SW_SHOWMAXIMIZED: isWindow() ? showMaximized() : show(); break;
    case SW_RESTORE: isWindow() ? showNormal() : show(); break;
    default: show(); break;
    }
    return wasVisible;
}

BOOL CWnd::EnableWindow(BOOL bEnable)
{
    const BOOL wasDisabled = !isEnabled();
    setEnabled(bEnable != FALSE);
    return wasDisabled;
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint)
{
    setGeometry(x, y, std::max(0, nWidth), std::max(0, nHeight));
    if (bRepaint)
        update();
}

void CWnd::MoveWindow(const CRect& rect, BOOL bRepaint)
{
    MoveWindow(rect.left, rect.top, rect.Width(), rect.Height(), bRepaint);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    if (!(nFlags & SWP_NOZORDER) && pWndInsertAfter) {
        if (pWndInsertAfter == wndTopMost || pWndInsertAfter == wndNoTopMost) {
            const bool wasVisible = isVisible();
            setWindowFlag(Qt::WindowStaysOnTopHint, pWndInsertAfter == wndTopMost);
            if (wasVisible)
                show(); // changing window flags hides a window
            raise();
        } else if (pWndInsertAfter == wndTop) {
            raise();
        } else if (pWndInsertAfter->parentWidget() == parentWidget()) {
            stackUnder(const_cast<CWnd*>(pWndInsertAfter));
        }
    }
    if (!(nFlags & SWP_NOMOVE))
        move(x, y);
    if (!(nFlags & SWP_NOSIZE))
        resize(std::max(0, cx), std::max(0, cy));
    if (nFlags & SWP_SHOWWINDOW)
        show();
    if (nFlags & SWP_HIDEWINDOW)
        hide();
    return TRUE;
}

void CWnd::GetClientRect(CRect* pRect) const
{
    *pRect = CRect(0, 0, width(), height());
}

void CWnd::GetWindowRect(CRect* pRect) const
{
    *pRect = CRect(QRect(mapToGlobal(QPoint(0, 0)), size()));
}

void CWnd::ScreenToClient(CRect* pRect) const
{
    const QPoint o = mapFromGlobal(QPoint(pRect->left, pRect->top));
    pRect->MoveToXY(o.x(), o.y());
}

void CWnd::ScreenToClient(CPoint* pPoint) const
{
    *pPoint = CPoint(mapFromGlobal(pPoint->ToQ()));
}

void CWnd::ClientToScreen(CRect* pRect) const
{
    const QPoint o = mapToGlobal(QPoint(pRect->left, pRect->top));
    pRect->MoveToXY(o.x(), o.y());
}

void CWnd::ClientToScreen(CPoint* pPoint) const
{
    *pPoint = CPoint(mapToGlobal(pPoint->ToQ()));
}

void CWnd::Invalidate(BOOL)
{
    update();
}

void CWnd::UpdateWindow()
{
    update();
}

void CWnd::CenterWindow(CWnd* pAlternateOwner)
{
    QRect area;
    QWidget* owner = pAlternateOwner ? pAlternateOwner : parentWidget();
    if (owner)
        area = QRect(owner->mapToGlobal(QPoint(0, 0)), owner->size());
    else if (QScreen* s = screen())
        area = s->availableGeometry();
    else
        return;
    QRect r(QPoint(0, 0), size());
    r.moveCenter(area.center());
    move(isWindow() ? r.topLeft() : parentWidget()->mapFromGlobal(r.topLeft()));
}

void CWnd::SetWindowText(const char* text)
{
    setWindowTitle(QString::fromUtf8(text ? text : ""));
    update();
}

void CWnd::SetWindowText(const wchar_t* text)
{
    setWindowTitle(text ? QString::fromWCharArray(text) : QString());
    update();
}

std::string CWnd::GetWindowText() const
{
    return windowTitle().toStdString();
}

CWnd* CWnd::GetParent() const
{
    for (QWidget* p = parentWidget(); p; p = p->parentWidget())
        if (auto* w = dynamic_cast<CWnd*>(p))
            return w;
    return nullptr;
}

CWnd* CWnd::SetFocus()
{
    CWnd* previous = qelm::OwningWnd(QApplication::focusWidget());
    setFocus(Qt::OtherFocusReason);
    return previous;
}

void CWnd::BringWindowToTop()
{
    raise();
}

BOOL CWnd::SetForegroundWindow()
{
    QWidget* top = window();
    if (top->isMinimized())
        top->showNormal();
    top->raise();
    top->activateWindow();
    return TRUE;
}

void CWnd::SetDlgCtrlID(UINT nID)
{
    m_nID = nID;
    setObjectName(QStringLiteral("id:%1").arg(nID));
    setProperty(kIdProperty, nID);
}

QWidget* CWnd::GetDlgItem(UINT nID) const
{
    const QString name = QStringLiteral("id:%1").arg(nID);
    if (auto* w = findChild<QWidget*>(name, Qt::FindDirectChildrenOnly))
        return w;
    return findChild<QWidget*>(name);
}

void CWnd::SetDlgItemText(UINT nID, const char* text)
{
    if (QWidget* w = GetDlgItem(nID))
        qelm::SetControlText(w, text ? text : "");
}

void CWnd::SetDlgItemText(UINT nID, const wchar_t* text)
{
    if (QWidget* w = GetDlgItem(nID))
        qelm::SetControlText(w, (text ? QString::fromWCharArray(text) : QString()).toStdString());
}

std::string CWnd::GetDlgItemText(UINT nID) const
{
    QWidget* w = GetDlgItem(nID);
    return w ? qelm::ControlText(w) : std::string();
}

void CWnd::SetDlgItemInt(UINT nID, int value)
{
    SetDlgItemText(nID, std::to_string(value).c_str());
}

int CWnd::GetDlgItemInt(UINT nID, BOOL* pTrans) const
{
    const std::string text = GetDlgItemText(nID);
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    const bool ok = !text.empty() && end && *end == '\0';
    if (pTrans)
        *pTrans = ok ? TRUE : FALSE;
    return ok ? static_cast<int>(v) : 0;
}

void CWnd::CheckDlgButton(UINT nID, UINT nCheck)
{
    if (auto* b = dynamic_cast<QAbstractButton*>(GetDlgItem(nID))) {
        b->setCheckable(true);
        b->setChecked(nCheck != 0);
    }
}

UINT CWnd::IsDlgButtonChecked(UINT nID) const
{
    auto* b = dynamic_cast<QAbstractButton*>(GetDlgItem(nID));
    return b && b->isChecked() ? 1u : 0u;
}

// --- controls --------------------------------------------------------------------

namespace qelm {

namespace {

void Notify(QWidget* control, UINT code)
{
    CWnd* owner = OwningWnd(control->parentWidget());
    if (!owner || !owner->m_hWnd)
        return;
    const UINT id = ControlId(control);
    owner->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code)),
                       reinterpret_cast<LPARAM>(HandleOf(control)));
}

} // namespace

void SetControlId(QWidget* control, UINT nID)
{
    if (auto* wnd = dynamic_cast<CWnd*>(control)) {
        wnd->SetDlgCtrlID(nID);
        return;
    }
    control->setObjectName(QStringLiteral("id:%1").arg(nID));
    control->setProperty(kIdProperty, nID);
    if (control->property(kHandleProperty).isValid())
        return; // bound already
    EnsureInputFilter();
    HWND h = RegisterHandle(control, nullptr);
    control->setProperty(kHandleProperty, QVariant::fromValue<qulonglong>(reinterpret_cast<std::uintptr_t>(h)));
    QObject::connect(control, &QObject::destroyed, [h] { UnregisterHandle(h); });

    if (auto* b = qobject_cast<QAbstractButton*>(control))
        QObject::connect(b, &QAbstractButton::clicked, b, [b] { Notify(b, BN_CLICKED); });
    else if (auto* e = qobject_cast<QLineEdit*>(control))
        QObject::connect(e, &QLineEdit::textChanged, e, [e] { Notify(e, EN_CHANGE); });
    else if (auto* t = qobject_cast<QTextEdit*>(control))
        QObject::connect(t, &QTextEdit::textChanged, t, [t] { Notify(t, EN_CHANGE); });
    else if (auto* c = qobject_cast<QComboBox*>(control))
        QObject::connect(c, &QComboBox::activated, c, [c] { Notify(c, CBN_SELCHANGE); });
}

UINT ControlId(const QWidget* w)
{
    if (!w)
        return 0;
    const QVariant v = w->property(kIdProperty);
    return v.isValid() ? v.toUInt() : 0;
}

HWND HandleOf(const QWidget* w)
{
    if (!w)
        return nullptr;
    const QVariant v = w->property(kHandleProperty);
    return v.isValid() ? reinterpret_cast<HWND>(static_cast<std::uintptr_t>(v.toULongLong())) : nullptr;
}

QWidget* WidgetFromHandle(HWND h)
{
    std::lock_guard<std::mutex> lock(HandleMutex());
    return LookupWidgetLocked(h);
}

CWnd* OwningWnd(QWidget* w)
{
    for (; w; w = w->parentWidget())
        if (auto* wnd = dynamic_cast<CWnd*>(w))
            return wnd;
    return nullptr;
}

std::string ControlText(const QWidget* w)
{
    if (!w)
        return {};
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text().toStdString();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text().toStdString();
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return t->toPlainText().toStdString();
    if (auto* p = qobject_cast<const QPlainTextEdit*>(w)) return p->toPlainText().toStdString();
    if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText().toStdString();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title().toStdString();
    if (dynamic_cast<const CWnd*>(w)) return w->windowTitle().toStdString();
    const QVariant v = w->property("text");
    if (v.isValid()) return v.toString().toStdString();
    return w->windowTitle().toStdString();
}

void SetControlText(QWidget* w, const std::string& utf8)
{
    const QString text = QString::fromUtf8(utf8);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
    else if (auto* t = qobject_cast<QTextEdit*>(w)) t->setPlainText(text);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) p->setPlainText(text);
    else if (auto* c = qobject_cast<QComboBox*>(w)) c->setEditText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
    else if (auto* wnd = dynamic_cast<CWnd*>(w)) wnd->SetWindowText(utf8.c_str());
    else if (w->property("text").isValid()) w->setProperty("text", text);
    else w->setWindowTitle(text);
}

std::string WidgetClassName(const QWidget* w)
{
    if (!w)
        return {};
    // A stand-in page carries the class name of the page it stands for.
    if (const QVariant named = w->property("qelm2_class"); named.isValid())
        return named.toString().toStdString();
    const char* mangled = typeid(*w).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

QColor ToQColor(COLORREF c)
{
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

COLORREF FromQColor(const QColor& c)
{
    return RGB(c.red(), c.green(), c.blue());
}

} // namespace qelm
