// The automation endpoint's tree request: an item found by its texts from
// the top gets its box ticked or cleared and is made current.
#include "platform/automation.h"
#include "platform/wnd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class AutomationTree : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("auto.sock");
        setenv("QELM2_AUTOMATION", path.toUtf8().constData(), 1);
        qelm::StartAutomationFromEnvironment();
        window.setObjectName("TreeHost");
        window.setWindowTitle("TreeHost");
        tree = new QTreeWidget(&window);
        qelm::SetControlId(tree, 1142);
        auto* root = new QTreeWidgetItem(tree, QStringList("Device List"));
        for (const char* name : {"Gate", "Yard"}) {
            auto* c = new QTreeWidgetItem(root, QStringList(name));
            c->setCheckState(0, Qt::Unchecked);
        }
        window.show();
        socket.connectToServer(path);
        ASSERT_TRUE(Wait([this] { return socket.state() == QLocalSocket::ConnectedState; }));
    }
    void TearDown() override
    {
        socket.disconnectFromServer();
        qelm::StopAutomation();
        unsetenv("QELM2_AUTOMATION");
    }
    template <class Fn>
    static bool Wait(Fn done)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    QJsonObject Request(const QJsonObject& req)
    {
        socket.write(QJsonDocument(req).toJson(QJsonDocument::Compact) + "\n");
        QByteArray line;
        Wait([&] {
            line += socket.readAll();
            return line.contains('\n');
        });
        QJsonObject answer = QJsonDocument::fromJson(line.left(line.indexOf('\n'))).object();
        for (int i = 0; i < 5; ++i) // the change itself runs after the answer
            QApplication::processEvents();
        return answer;
    }

    QTemporaryDir dir;
    QString path;
    CWnd window;
    QTreeWidget* tree = nullptr;
    QLocalSocket socket;
};

TEST_F(AutomationTree, TicksAndSelectsANestedItem)
{
    QJsonObject req{{"cmd", "tree-item"}, {"window", "TreeHost"}, {"id", 1142},
                    {"path", QJsonArray{"Device List", "Yard"}}, {"check", true}, {"select", true}};
    const QJsonObject answer = Request(req);
    EXPECT_TRUE(answer.value("ok").toBool()) << answer.value("error").toString().toStdString();
    QTreeWidgetItem* yard = tree->topLevelItem(0)->child(1);
    EXPECT_EQ(yard->checkState(0), Qt::Checked);
    EXPECT_EQ(tree->currentItem(), yard);
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->checkState(0), Qt::Unchecked);

    req["check"] = false;
    req.remove("select");
    EXPECT_TRUE(Request(req).value("ok").toBool());
    EXPECT_EQ(yard->checkState(0), Qt::Unchecked);

    req["path"] = QJsonArray{"Device List", "Dock"};
    EXPECT_EQ(Request(req).value("error").toString(), "no such item");
    req["id"] = 9999;
    EXPECT_EQ(Request(req).value("error").toString(), "no such control");
}

} // namespace
