#include "app/SingleInstance.h"

#include "platform/DebugPrint.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

const char kMarkerGuid[] = "{ef42fe31-73f8-4894-836e-33d205d2136d}";
constexpr qint64 kMaxMessage = 16;

} // namespace

QString InstanceMarkerName() {
    return QStringLiteral("vindrel-%1-%2").arg(QString::fromLatin1(kMarkerGuid)).arg(::getuid());
}

bool ActivateRunningCopy(const QString& name, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(QByteArray::number(kInstanceMarkerValue) + '\n');
    socket.waitForBytesWritten(timeoutMs);
    // Wait for the running copy to close the connection, so that it has read the request.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

InstanceMarker::InstanceMarker(const QString& name, std::function<void()> onActivate, QObject* parent)
    : QObject(parent), m_server(new QLocalServer(this)), m_onActivate(std::move(onActivate)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name)) {
        // A copy that crashed leaves its socket file behind; nobody answered on it, so take it over.
        QLocalServer::removeServer(name);
        if (!m_server->listen(name))
            DebugPrint("InstanceMarker: cannot listen on %s", qPrintable(name));
    }
    connect(m_server, &QLocalServer::newConnection, this, &InstanceMarker::OnNewConnection);
}

InstanceMarker::~InstanceMarker() {
    m_server->close();
}

bool InstanceMarker::listening() const {
    return m_server->isListening();
}

void InstanceMarker::OnNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                // Anything longer than the marker is not a copy of ours.
                if (socket->bytesAvailable() > kMaxMessage)
                    socket->disconnectFromServer();
                return;
            }
            const QByteArray line = socket->readLine(kMaxMessage).trimmed();
            socket->disconnectFromServer();
            if (line == QByteArray::number(kInstanceMarkerValue) && m_onActivate)
                m_onActivate();
        });
    }
}
