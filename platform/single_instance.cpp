#include "platform/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <unistd.h>

namespace velkor {

namespace {
constexpr QByteArrayView kFrontRequest = "front\n";
}

SingleInstance::SingleInstance(const QString& lockName, QObject* parent)
    : QObject(parent), name_(QStringLiteral("%1-%2").arg(lockName).arg(::getuid()))
{
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire()
{
    auto server = std::make_unique<QLocalServer>();
    // An abstract socket name disappears with the process: no stale lock after a crash.
    server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (server->listen(name_)) {
        connect(server.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                    if (peer->readAll().startsWith(QByteArray(kFrontRequest.data(), kFrontRequest.size())) &&
                        onFront_)
                        onFront_();
                    peer->disconnectFromServer();
                });
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            }
        });
        server_ = std::move(server);
        return true;
    }
    // The name is taken: tell the running copy, then give up the lock attempt.
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name_);
    if (socket.waitForConnected(1000)) {
        socket.write(kFrontRequest.data(), kFrontRequest.size());
        socket.waitForBytesWritten(1000);
        socket.disconnectFromServer();
    }
    return false;
}

} // namespace velkor
