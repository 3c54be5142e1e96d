#include "app/SingleCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

SingleCopy::SingleCopy(const QString& dataPath) : m_dataPath(QDir(dataPath).absolutePath()) {}

SingleCopy::~SingleCopy() = default;

QString SingleCopy::serverName() const {
    const QByteArray h =
        QCryptographicHash::hash(m_dataPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("stolva-") + QString::fromLatin1(h);
}

SingleCopy::Result SingleCopy::acquire() {
    QDir().mkpath(m_dataPath);
    m_lock = std::make_unique<QLockFile>(m_dataPath + "/Stolva.lock");
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0))
        return m_lock->error() == QLockFile::LockFailedError ? Result::AlreadyRunning
                                                             : Result::Failed;
    m_server = new QLocalServer(this);
    QLocalServer::removeServer(serverName());
    m_server->listen(serverName());
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = m_server->nextPendingConnection()) {
            s->deleteLater();
            if (m_window) {
                m_window->showNormal();
                m_window->raise();
                m_window->activateWindow();
            }
        }
    });
    return Result::Acquired;
}

bool SingleCopy::wakeRunningCopy() {
    QLocalSocket s;
    s.connectToServer(serverName());
    if (!s.waitForConnected(1000))
        return false;
    s.write("show\n");
    s.waitForBytesWritten(500);
    s.disconnectFromServer();
    return true;
}
