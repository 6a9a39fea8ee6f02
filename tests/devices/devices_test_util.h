// Helpers of the device tree and panel tests: the fixture device file, a
// reset of the program-wide lists, a text dump of a tree, a host window that
// stands in for the main window's forwarding operations, and a small fake
// cloud server on 127.0.0.1.
#pragma once

#include "core/config_store.h"
#include "devices/dev_teardown.h"
#include "devices/dev_tree.h"
#include "media/control_wrappers.h"
#include "tests/core/config_globals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devtest {

inline std::string SourceDir()
{
    const char* dir = std::getenv("QELM2_TEST_SOURCE_DIR");
    return dir ? dir : ".";
}

// Empties every list the trees read and puts the page state back.
inline void ResetAll()
{
    CDevTree::GetInstance()->StopP2PStatusThread();
    if (g_pRtspPullCtrl)
        g_pRtspPullCtrl->StopAll(); // the P2P log-in streams and their threads
    DeleteDeviceSinks();
    cfgtest::ResetConfigGlobals();
    g_lstRelayServer.clear();
    g_nCurPage = 0;
    g_bVideoTab = 1;
    g_nCfgSubPage = 0;
    g_strRClickText.clear();
    SetDeviceServices(nullptr);
}

inline DeviceInfo* FindDev(const char* devId, const char* name);

// Loads tests/devices/DevInfo.xml (GB18030 on disk, as the program's own
// files) into the lists, then gives the records the run-time states the
// loader does not keep: a refused NVR and ONVIF camera, two online channels.
inline void LoadFixture(const std::string& path = SourceDir() + "/tests/devices/DevInfo.xml")
{
    TiXmlDocument doc;
    ASSERT_EQ(qelm::cfg::LoadXmlFile(path, doc), qelm::cfg::LoadResult::Ok) << path;
    LoadDevList(doc.RootElement()->FirstChildElement("DevList"));
    LoadDevGroupList(doc.RootElement()->FirstChildElement("GroupList"));
    struct { const char* id; const char* name; int online; } states[] = {
        {"NVR001", "NVR-A", -1}, {"NVR001", "Channel-1", 1}, {"NVR001", "Channel-3", 1}, {"IPC003", "Side", -1}};
    for (auto s : states)
        if (DeviceInfo* d = FindDev(s.id, s.name))
            d->Online = s.online;
}

inline DeviceInfo* FindDev(const char* devId, const char* name)
{
    for (DeviceInfo& d : g_lstDevInfo)
        if (std::string(d.DevId) == devId && std::string(d.DevName) == name)
            return &d;
    return nullptr;
}

inline std::vector<std::string> Names()
{
    std::vector<std::string> out;
    for (const DeviceInfo& d : g_lstDevInfo)
        out.push_back(d.DevName);
    return out;
}

// One line per item: two blanks per level, the text and the icon index.
inline std::string DumpTree(QTreeWidget* tree)
{
    std::string out;
    std::function<void(QTreeWidgetItem*, int)> dump = [&](QTreeWidgetItem* item, int level) {
        out += std::string(level * 2, ' ') + item->text(0).toStdString() + " [" +
               std::to_string(devtree::GetItemImage(item)) + "]\n";
        for (int i = 0; i < item->childCount(); ++i)
            dump(item->child(i), level + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        dump(tree->topLevelItem(i), 0);
    return out;
}

inline QTreeWidgetItem* FindItem(QTreeWidget* tree, const QString& text)
{
    QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

inline bool WaitFor(const std::function<bool()>& done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// An HTTP peer that answers each connection with the next scripted body
// (wrapped in a 200 reply) and records the requests.
class FakeCloud {
public:
    FakeCloud()
    {
        m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        EXPECT_EQ(listen(m_listen, 8), 0);
        m_thread = std::thread([this] { Run(); });
    }
    ~FakeCloud()
    {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    int port() const { return m_port; }
    void Script(std::vector<std::string> bodies)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        for (auto& b : bodies)
            m_script.push_back(std::move(b));
    }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_requests;
    }
    static std::string Http(const std::string& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }

private:
    void Run()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            for (int i = 0; i < 100; ++i) {
                pollfd q{fd, POLLIN, 0};
                if (poll(&q, 1, 30) <= 0) {
                    if (request.find("\r\n\r\n") != std::string::npos)
                        break;
                    continue;
                }
                char buf[8192];
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, static_cast<std::size_t>(n));
            }
            std::string reply;
            {
                std::lock_guard<std::mutex> g(m_mutex);
                m_requests.push_back(request);
                if (!m_script.empty()) {
                    reply = m_script.front();
                    m_script.pop_front();
                }
            }
            if (!reply.empty())
                send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            close(fd);
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::deque<std::string> m_script;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace devtest
