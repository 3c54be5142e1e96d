#include "app/SingleCopy.h"

#include "base/WholeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleCopy::SingleCopy(const QString& dataPath) : m_dataPath(QDir(dataPath).absolutePath()) {}

SingleCopy::~SingleCopy() {
    if (m_folderLock >= 0)
        ::close(m_folderLock);
}

QString SingleCopy::serverName() const {
    const QByteArray h =
        QCryptographicHash::hash(m_dataPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("stolva-") + QString::fromLatin1(h);
}

SingleCopy::Result SingleCopy::acquire() {
    wholefile::makeOwnFolder(m_dataPath); // the ledger's folder, for its owner alone
    // One folder, whatever path (a link, "..") leads to it.
    const QString canonical = QFileInfo(m_dataPath).canonicalFilePath();
    if (canonical.isEmpty())
        return Result::Failed;
    m_dataPath = canonical;
    // The folder itself is locked while this copy runs: a lock file someone
    // deleted must not let a second copy rebuild the work file under the first.
    m_folderLock =
        ::open(QFile::encodeName(m_dataPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderLock < 0)
        return Result::Failed;
    if (::flock(m_folderLock, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(m_folderLock);
        m_folderLock = -1;
        return held ? Result::AlreadyRunning : Result::Failed;
    }
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
