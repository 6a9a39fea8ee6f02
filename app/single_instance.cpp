// Single instance over QLockFile and QLocalServer.
#include "app/single_instance.h"

#include "platform/paths.h"
#include "platform/wnd.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>

struct CSingleInstance::Impl {
    std::string name;
    std::unique_ptr<QLockFile> lock;
    std::unique_ptr<QLocalServer> server;
    QPointer<CWnd> mainWnd;
};

CSingleInstance::CSingleInstance(const std::string& appName) : d(std::make_unique<Impl>())
{
    d->name = appName;
}

CSingleInstance::~CSingleInstance()
{
    if (d->server)
        d->server->close();
}

bool CSingleInstance::Acquire()
{
    // Kept in the data folder, so separate installations do not meet.
    const std::string base = qelm::DataDir() + d->name;
    d->lock = std::make_unique<QLockFile>(QString::fromStdString(base + ".lock"));
    d->lock->setStaleLockTime(0); // a crashed holder's lock is taken over (its pid is gone)
    const QString socketPath = QString::fromStdString(base + ".sock");
    if (!d->lock->tryLock(0)) {
        QLocalSocket peer;
        peer.connectToServer(socketPath);
        if (peer.waitForConnected(1000)) {
            peer.write("show\n");
            peer.waitForBytesWritten(1000);
            peer.disconnectFromServer();
        }
        return false;
    }
    QLocalServer::removeServer(socketPath); // a socket file left by a crashed holder
    d->server = std::make_unique<QLocalServer>();
    d->server->listen(socketPath);
    QObject::connect(d->server.get(), &QLocalServer::newConnection, [impl = d.get()] {
        while (QLocalSocket* s = impl->server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::readyRead, s, [impl, s] {
                if (s->readAll().startsWith("show") && impl->mainWnd) {
                    CWnd* w = impl->mainWnd;
                    if (w->isMinimized())
                        w->showNormal();
                    w->raise();
                    w->activateWindow();
                }
            });
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}

void CSingleInstance::SetMainWindow(CWnd* wnd)
{
    d->mainWnd = wnd;
}
