#include "localsocketinstancechannel.h"

#include "instancerequest.h"
#include "lockfileinstanceguard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QByteArray taken("ok\n");
// How long a later start may take to say what it wants.
constexpr int requestPatienceMs = 5000;

int remaining(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(deadline.remainingTime(), 0));
}
} // namespace

LocalSocketInstanceChannel::LocalSocketInstanceChannel(const CollectionId &collection,
                                                       int patienceMs, QObject *parent)
    : InstanceChannel(parent)
    , m_collection(collection)
    , m_patienceMs(patienceMs)
{
    connect(&m_server, &QLocalServer::newConnection, this,
            &LocalSocketInstanceChannel::takeConnections);
}

QString LocalSocketInstanceChannel::socketPathFor(const CollectionId &collection)
{
    return QFileInfo(LockFileInstanceGuard::lockPathFor(collection)).absolutePath() +
           QStringLiteral("/legisdisco-") + collection.key() + QStringLiteral(".sock");
}

bool LocalSocketInstanceChannel::listen()
{
    if (m_server.isListening()) {
        return true;
    }
    // The socket is made under a name of its own and then renamed into place: a socket
    // left by a copy that ended (or one still ending while a restart starts this one) is
    // replaced at once, and no copy ever removes the name another one listens on.
    const QByteArray path = QFile::encodeName(socketPathFor(m_collection));
    const QByteArray made = path + ".tmp-" + QByteArray::number(QCoreApplication::applicationPid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(made.size()) >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, made.constData(), size_t(made.size()) + 1);
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return false;
    }
    ::unlink(made.constData());
    // This user alone may connect, wherever the runtime folder is.
    if (::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(made.constData(), 0600) != 0 || ::listen(descriptor, 16) != 0 ||
        ::rename(made.constData(), path.constData()) != 0) {
        ::unlink(made.constData());
        ::close(descriptor);
        return false;
    }
    if (!m_server.listen(descriptor)) {
        ::close(descriptor);
        return false;
    }
    return true;
}

void LocalSocketInstanceChannel::takeConnections()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A start that says nothing is not waited for.
        QTimer::singleShot(requestPatienceMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QByteArray bytes = socket->property("request").toByteArray();
            bytes += socket->read(maxInstanceRequestBytes + 1 - bytes.size());
            if (!bytes.contains('\n') && bytes.size() <= maxInstanceRequestBytes) {
                socket->setProperty("request", bytes);
                return;
            }
            const std::optional<QString> document = readInstanceRequest(bytes);
            if (!document) {
                socket->abort();
                return;
            }
            socket->write(taken);
            socket->flush();
            socket->disconnectFromServer();
            emit requested(*document);
        });
    }
}

bool LocalSocketInstanceChannel::send(const QString &document)
{
    const QByteArray request = instanceRequest(document);
    if (request.size() > maxInstanceRequestBytes) {
        return false;
    }
    const QString path = socketPathFor(m_collection);
    const QDeadlineTimer deadline(m_patienceMs);
    QLocalSocket socket;
    // The running copy may still be starting, and not yet listening.
    for (;;) {
        socket.connectToServer(path);
        if (socket.waitForConnected(qMin(remaining(deadline), 1000))) {
            break;
        }
        socket.abort();
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(100);
    }
    socket.write(request);
    if (!socket.waitForBytesWritten(remaining(deadline))) {
        return false;
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < taken.size() &&
           socket.waitForReadyRead(remaining(deadline))) {
        answer += socket.readAll();
    }
    return answer == taken;
}

// Compiled here rather than with the other classes of this folder, so that a program using
// this class alone (a start that hands its document to the running copy) does not take in
// the browser classes with them.
#include "moc_instancechannel.cpp"
#include "moc_localsocketinstancechannel.cpp"
