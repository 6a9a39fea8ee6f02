// The automation endpoint (see automation.h).
#include "platform/automation.h"

#include "platform/dialog.h"
#include "platform/logsink.h"
#include "platform/msgbox.h"
#include "platform/wnd.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdlib>
#include <functional>

namespace qelm {

namespace {
// A window that only has a caption; closing it (WM_CLOSE, Cancel) ends it.
class CaptionedBox : public CDialog {
public:
    CaptionedBox() : CDialog(0, nullptr) {}
    void OnCancel() override
    {
        DestroyWindow();
        deleteLater();
    }
};
} // namespace

namespace {

QString Utf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

qulonglong HandleNumber(const QWidget* w)
{
    return static_cast<qulonglong>(reinterpret_cast<std::uintptr_t>(HandleOf(w)));
}

// --- finding windows and controls ---------------------------------------------------

bool NameMatches(QWidget* w, const QString& name)
{
    if (Utf8(WidgetClassName(w)) == name || w->windowTitle() == name)
        return true;
    bool ok = false;
    const qulonglong number = name.toULongLong(&ok, 0);
    return ok && number != 0 && number == HandleNumber(w);
}

// Top-level windows first, then windows inside them (pages); visible ones first.
QWidget* FindWindow(const QString& name)
{
    QList<QWidget*> candidates;
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget* t : tops)
        candidates.append(t);
    for (QWidget* t : tops)
        for (QWidget* c : t->findChildren<QWidget*>())
            if (dynamic_cast<CWnd*>(c))
                candidates.append(c);
    for (int pass = 0; pass < 2; ++pass)
        for (QWidget* w : candidates)
            if ((pass == 1 || w->isVisible()) && NameMatches(w, name))
                return w;
    return nullptr;
}

QWidget* FindControl(QWidget* window, int id)
{
    const QString name = QStringLiteral("id:%1").arg(id);
    if (auto* direct = window->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly))
        return direct;
    QWidget* hidden = nullptr;
    for (QWidget* w : window->findChildren<QWidget*>(name)) {
        if (w->isVisible())
            return w;
        if (!hidden)
            hidden = w;
    }
    return hidden;
}

// --- describing them -------------------------------------------------------------

void AddRows(QJsonArray& items, const QAbstractItemModel* model, const QModelIndex& parent, int depth)
{
    for (int r = 0; r < model->rowCount(parent) && items.size() < 5000; ++r) {
        QStringList cols;
        for (int c = 0; c < model->columnCount(parent); ++c)
            cols << model->index(r, c, parent).data(Qt::DisplayRole).toString();
        items.append(QString(depth * 2, QLatin1Char(' ')) + cols.join(QLatin1Char('\t')));
        const QModelIndex child = model->index(r, 0, parent);
        if (model->hasChildren(child))
            AddRows(items, model, child, depth + 1);
    }
}

QJsonObject Describe(QWidget* w, QWidget* top)
{
    QJsonObject o;
    const QPoint pos = w == top ? QPoint(0, 0) : w->mapTo(top, QPoint(0, 0));
    o["id"] = static_cast<qint64>(ControlId(w));
    o["class"] = Utf8(WidgetClassName(w));
    o["x"] = pos.x();
    o["y"] = pos.y();
    o["w"] = w->width();
    o["h"] = w->height();
    o["visible"] = w->isVisible();
    o["enabled"] = w->isEnabled();
    o["text"] = Utf8(ControlText(w));
    if (HandleOf(w))
        o["hwnd"] = static_cast<qint64>(HandleNumber(w));
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && b->isCheckable())
        o["checked"] = b->isChecked();
    QJsonArray items;
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        for (int i = 0; i < c->count(); ++i)
            items.append(c->itemText(i));
        o["current"] = c->currentIndex();
    } else if (auto* v = qobject_cast<QAbstractItemView*>(w); v && v->model()) {
        AddRows(items, v->model(), v->rootIndex(), 0);
        o["current"] = v->currentIndex().isValid() ? v->currentIndex().row() : -1;
    }
    if (!items.isEmpty() || o.contains("current"))
        o["items"] = items;
    return o;
}

// --- popup menus ----------------------------------------------------------------

// The open popup menu, if any.
QMenu* OpenMenu()
{
    if (auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        return m;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMenu*>(top); m && m->isVisible())
            return m;
    return nullptr;
}

// The items of the open menu: command id (the action's data), text, checked, enabled.
QJsonArray MenuItems(QMenu* menu)
{
    QJsonArray items;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            continue;
        items.append(QJsonObject{{"id", static_cast<qint64>(a->data().toLongLong())},
                                 {"text", a->text()},
                                 {"checked", a->isChecked()},
                                 {"enabled", a->isEnabled()}});
    }
    return items;
}

QAction* MenuAction(QMenu* menu, qint64 id)
{
    for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->data().isValid() && a->data().toLongLong() == id)
            return a;
    return nullptr;
}

// A tab of a tab bar by its index or its text; -1 when there is none.
int TabIndex(const QTabBar* bar, const QJsonObject& req)
{
    if (req.contains("index")) {
        const int i = req.value("index").toInt();
        return i >= 0 && i < bar->count() ? i : -1;
    }
    const QString text = req.value("text").toString();
    for (int i = 0; i < bar->count(); ++i)
        if (bar->tabText(i) == text)
            return i;
    return -1;
}

QJsonObject DescribeWindow(QWidget* top)
{
    QJsonObject o = Describe(top, top);
    const QRect g = top->geometry();
    o["x"] = g.x();
    o["y"] = g.y();
    o["title"] = top->windowTitle();
    o["modal"] = top->isModal();
    o["active"] = top->isActiveWindow();
    QJsonArray controls;
    for (QWidget* c : top->findChildren<QWidget*>()) {
        if (ControlId(c) == 0 && !dynamic_cast<CWnd*>(c))
            continue;
        QJsonObject d = Describe(c, top);
        if (CWnd* owner = OwningWnd(c->parentWidget()))
            d["owner"] = Utf8(WidgetClassName(owner));
        controls.append(d);
    }
    o["controls"] = controls;
    return o;
}

// --- synthetic input --------------------------------------------------------------

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

// Mouse events go to the deepest child under the point, as they would from
// a real pointer.
QWidget* TargetAt(QWidget* w, QPoint& local)
{
    QWidget* child = w->childAt(local);
    if (!child)
        return w;
    local = child->mapFrom(w, local);
    return child;
}

void Click(QPointer<QWidget> w, QPoint local, Qt::MouseButton button, bool dbl)
{
    if (!w)
        return;
    QWidget* target = TargetAt(w, local);
    QPointer<QWidget> t = target;
    SendMouse(target, QEvent::MouseButtonPress, local, button, button);
    if (t)
        SendMouse(t, QEvent::MouseButtonRelease, local, button, Qt::NoButton);
    if (dbl && t) {
        SendMouse(t, QEvent::MouseButtonDblClick, local, button, button);
        if (t)
            SendMouse(t, QEvent::MouseButtonRelease, local, button, Qt::NoButton);
    }
}

bool ParseKey(const QString& spec, int& key, Qt::KeyboardModifiers& mods, QString& text)
{
    static const std::map<QString, int> names = {
        {"return", Qt::Key_Return}, {"enter", Qt::Key_Enter}, {"escape", Qt::Key_Escape},
        {"esc", Qt::Key_Escape},    {"tab", Qt::Key_Tab},     {"space", Qt::Key_Space},
        {"backspace", Qt::Key_Backspace}, {"delete", Qt::Key_Delete}, {"up", Qt::Key_Up},
        {"down", Qt::Key_Down},     {"left", Qt::Key_Left},   {"right", Qt::Key_Right},
        {"home", Qt::Key_Home},     {"end", Qt::Key_End},     {"pageup", Qt::Key_PageUp},
        {"pagedown", Qt::Key_PageDown}};
    mods = Qt::NoModifier;
    QStringList parts = spec.split(QLatin1Char('+'));
    QString last = parts.takeLast();
    if (last.isEmpty() && !parts.isEmpty()) { // "ctrl++"
        parts.removeLast();
        last = QStringLiteral("+");
    }
    for (const QString& m : parts) {
        const QString l = m.toLower();
        if (l == "ctrl") mods |= Qt::ControlModifier;
        else if (l == "shift") mods |= Qt::ShiftModifier;
        else if (l == "alt") mods |= Qt::AltModifier;
        else return false;
    }
    const QString lower = last.toLower();
    if (auto it = names.find(lower); it != names.end()) {
        key = it->second;
        text = key == Qt::Key_Space ? QStringLiteral(" ") : key == Qt::Key_Return || key == Qt::Key_Enter ? QStringLiteral("\r") : QString();
        return true;
    }
    if (lower.size() >= 2 && lower[0] == QLatin1Char('f')) {
        bool ok = false;
        const int n = lower.mid(1).toInt(&ok);
        if (ok && n >= 1 && n <= 24) {
            key = Qt::Key_F1 + n - 1;
            text.clear();
            return true;
        }
    }
    if (last.size() == 1) {
        const QChar c = last[0];
        key = c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : c.unicode();
        text = mods & Qt::ControlModifier ? QString() : last;
        return true;
    }
    return false;
}

void SendKey(QPointer<QWidget> w, int key, Qt::KeyboardModifiers mods, const QString& text)
{
    if (!w)
        return;
    w->setFocus(Qt::OtherFocusReason);
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &press);
    if (!w)
        return;
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(w, &release);
}

// Input runs after the answer is sent: a click may open a modal box whose
// loop must keep serving this endpoint.
void Later(std::function<void()> fn)
{
    QTimer::singleShot(0, qApp, std::move(fn));
}

// --- the server -------------------------------------------------------------------

class AutomationServer : public QObject {
public:
    explicit AutomationServer(const QString& path)
    {
        QLocalServer::removeServer(path);
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_server.listen(path)) {
            PlatformLog(3, "Automation: cannot listen on %s: %s", path.toUtf8().constData(),
                        m_server.errorString().toUtf8().constData());
            return;
        }
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QLocalSocket::readyRead, this, [this, s] { Serve(s); });
                connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        PlatformLog(6, "Automation: listening on %s", path.toUtf8().constData());
    }

private:
    void Serve(QLocalSocket* s)
    {
        while (s->canReadLine()) {
            const QByteArray line = s->readLine().trimmed();
            if (line.isEmpty())
                continue;
            QJsonParseError err;
            const QJsonDocument doc = QJsonDocument::fromJson(line, &err);
            QJsonObject answer;
            if (err.error != QJsonParseError::NoError || !doc.isObject())
                answer = Fail("request is not a JSON object");
            else
                answer = Handle(doc.object());
            FlushPlatformLog(); // what the request made the program log is in the file when the answer comes
            s->write(QJsonDocument(answer).toJson(QJsonDocument::Compact));
            s->write("\n");
            s->flush();
        }
    }

    static QJsonObject Fail(const QString& why)
    {
        return QJsonObject{{"ok", false}, {"error", why}};
    }

    static QJsonObject Ok(QJsonObject o = {})
    {
        o["ok"] = true;
        return o;
    }

    QJsonObject Handle(const QJsonObject& req)
    {
        const QString cmd = req.value("cmd").toString();
        if (cmd == "ping")
            return Ok();
        if (cmd == "windows") {
            QJsonArray list;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (dynamic_cast<CWnd*>(top) || top->isVisible())
                    list.append(DescribeWindow(top));
            return Ok({{"windows", list}});
        }
        if (cmd == "msgbox") {
            const MessageBoxInfo box = LastMessageBox();
            return Ok({{"text", Utf8(box.text)}, {"caption", Utf8(box.caption)}, {"open", box.hwnd != nullptr},
                       {"shown", box.shown}});
        }
        if (cmd == "msgbox-answer") {
            const MessageBoxInfo box = LastMessageBox();
            QWidget* w = WidgetFromHandle(box.hwnd);
            if (!w)
                return Fail("no message box is open");
            auto* b = qobject_cast<QAbstractButton*>(FindControl(w, req.value("button").toInt()));
            if (!b)
                return Fail("the message box has no such button");
            QPointer<QAbstractButton> pb = b;
            Later([pb] { if (pb) pb->click(); });
            return Ok();
        }

        if (cmd == "menu") {
            QMenu* menu = OpenMenu();
            if (!menu)
                return Fail("no menu is open");
            return Ok({{"items", MenuItems(menu)}});
        }
        if (cmd == "menu-choose") {
            QMenu* menu = OpenMenu();
            if (!menu)
                return Fail("no menu is open");
            QAction* action = MenuAction(menu, req.value("item").toVariant().toLongLong());
            if (!action)
                return Fail("the menu has no such item");
            if (!action->isEnabled())
                return Fail("the menu item is disabled");
            QPointer<QMenu> pm = menu;
            QPointer<QAction> pa = action;
            Later([pm, pa] {
                if (pm)
                    pm->close();
                if (pa)
                    pa->trigger();
            });
            return Ok();
        }
        if (cmd == "open-window") {
            // A plain top-level window with a caption, standing for another
            // component's box (a web page's message) that the program must find.
            const QString title = req.value("title").toString();
            Later([title] {
                auto* w = new CaptionedBox;
                w->Create(0, nullptr);
                w->setWindowTitle(title);
                w->resize(240, 120);
                w->show();
            });
            return Ok();
        }
        QWidget* window = FindWindow(req.value("window").toString());
        if (!window)
            return Fail("no such window");
        QWidget* target = window;
        if (req.contains("id")) {
            target = FindControl(window, req.value("id").toInt());
            if (!target)
                return Fail("no such control");
        }
        if (cmd == "wm-close") {
            // The window system's close (title-bar button, Alt+F4 of the desktop).
            QPointer<QWidget> w = window;
            Later([w] { if (w) w->close(); });
            return Ok();
        }
        if (cmd == "save") {
            const QString path = req.value("path").toString();
            if (path.isEmpty() || !target->grab().save(path, "PNG"))
                return Fail("cannot save the picture");
            return Ok();
        }
        if (!target->isEnabled() && cmd != "select")
            return Fail("control is disabled");

        QPointer<QWidget> t = target;
        QPoint at = target->rect().center();
        if (req.contains("x") && req.contains("y"))
            at = QPoint(req.value("x").toInt(), req.value("y").toInt());
        if (cmd == "click" || cmd == "dblclick" || cmd == "rclick") {
            const Qt::MouseButton button = cmd == "rclick" ? Qt::RightButton : Qt::LeftButton;
            const bool dbl = cmd == "dblclick";
            Later([t, at, button, dbl] { Click(t, at, button, dbl); });
            return Ok();
        }
        if (cmd == "drag") {
            const QJsonArray from = req.value("from").toArray();
            const QJsonArray to = req.value("to").toArray();
            if (from.size() != 2 || to.size() != 2)
                return Fail("drag needs from and to points");
            QPointer<QWidget> dest = t;
            if (req.contains("to_id")) {
                dest = FindControl(window, req.value("to_id").toInt());
                if (!dest)
                    return Fail("no such drop control");
            }
            const QPoint p0(from[0].toInt(), from[1].toInt());
            const QPoint p1(to[0].toInt(), to[1].toInt());
            Later([t, dest, p0, p1] {
                if (!t || !dest)
                    return;
                SendMouse(t, QEvent::MouseButtonPress, p0, Qt::LeftButton, Qt::LeftButton);
                // Moves in steps, past the drag distance, in the source's coordinates.
                const QPoint end = t->mapFromGlobal(dest->mapToGlobal(p1));
                for (int i = 1; i <= 8 && t; ++i)
                    SendMouse(t, QEvent::MouseMove, p0 + (end - p0) * i / 8, Qt::NoButton, Qt::LeftButton);
                if (dest)
                    SendMouse(dest, QEvent::MouseButtonRelease, p1, Qt::LeftButton, Qt::NoButton);
            });
            return Ok();
        }
        if (cmd == "key") {
            int key = 0;
            Qt::KeyboardModifiers mods;
            QString text;
            if (!ParseKey(req.value("key").toString(), key, mods, text))
                return Fail("unknown key");
            Later([t, key, mods, text] { SendKey(t, key, mods, text); });
            return Ok();
        }
        if (cmd == "type") {
            const QString text = req.value("text").toString();
            Later([t, text] {
                for (const QChar c : text)
                    SendKey(t, c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : c.unicode(),
                            Qt::NoModifier, QString(c));
            });
            return Ok();
        }
        if (cmd == "select") {
            if (auto* bar = qobject_cast<QTabBar*>(target)) {
                const int index = TabIndex(bar, req);
                if (index < 0)
                    return Fail("no such tab");
                QPointer<QTabBar> pb = bar;
                Later([pb, index] {
                    if (pb)
                        pb->setCurrentIndex(index);
                });
                return Ok();
            }
            if (auto* c = qobject_cast<QComboBox*>(target)) {
                int index = req.contains("index") ? req.value("index").toInt() : c->findText(req.value("text").toString());
                if (index < 0 || index >= c->count())
                    return Fail("no such item");
                QPointer<QComboBox> pc = c;
                Later([pc, index] {
                    if (!pc)
                        return;
                    pc->setCurrentIndex(index);
                    emit pc->activated(index);
                });
                return Ok();
            }
            if (auto* v = qobject_cast<QAbstractItemView*>(target); v && v->model()) {
                const int row = req.value("index").toInt();
                if (row < 0 || row >= v->model()->rowCount(v->rootIndex()))
                    return Fail("no such item");
                QPointer<QAbstractItemView> pv = v;
                Later([pv, row] {
                    if (pv)
                        pv->setCurrentIndex(pv->model()->index(row, 0, pv->rootIndex()));
                });
                return Ok();
            }
            return Fail("control has no items");
        }
        if (cmd == "tree-item") {
            // An item of a tree by the texts from its top-level item down:
            // ticks or clears its box ("check") and/or makes it current ("select").
            auto* tree = qobject_cast<QTreeWidget*>(target);
            if (!tree)
                return Fail("control is not a tree");
            const QJsonArray path = req.value("path").toArray();
            QTreeWidgetItem* item = nullptr;
            for (int level = 0; level < path.size(); ++level) {
                const QString text = path[level].toString();
                QTreeWidgetItem* found = nullptr;
                const int n = item ? item->childCount() : tree->topLevelItemCount();
                for (int i = 0; i < n && !found; ++i) {
                    QTreeWidgetItem* c = item ? item->child(i) : tree->topLevelItem(i);
                    if (c->text(0) == text)
                        found = c;
                }
                if (!found)
                    return Fail("no such item");
                item = found;
            }
            if (!item)
                return Fail("no such item");
            QPointer<QTreeWidget> pt = tree;
            const bool setCheck = req.contains("check");
            const bool check = req.value("check").toBool();
            const bool select = req.value("select").toBool();
            QTreeWidgetItem* it = item;
            Later([pt, it, setCheck, check, select] {
                if (!pt)
                    return;
                // The item may have gone with a refill since the request.
                bool alive = false;
                for (QTreeWidgetItemIterator i(pt); *i && !alive; ++i)
                    alive = *i == it;
                if (!alive)
                    return;
                if (setCheck)
                    it->setCheckState(0, check ? Qt::Checked : Qt::Unchecked);
                if (select)
                    pt->setCurrentItem(it);
            });
            return Ok();
        }
        return Fail("unknown command");
    }

    QLocalServer m_server;
};

AutomationServer* g_server = nullptr;

} // namespace

void StartAutomationFromEnvironment()
{
    const char* path = std::getenv("QELM2_AUTOMATION");
    if (!path || !*path || g_server || !QApplication::instance())
        return;
    g_server = new AutomationServer(QString::fromUtf8(path));
}

void StopAutomation()
{
    delete g_server;
    g_server = nullptr;
}

} // namespace qelm
