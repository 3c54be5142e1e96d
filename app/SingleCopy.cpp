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
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleCopy::SingleCopy(const QString& dataPath) : m_dataPath(QDir(dataPath).absolutePath()) {}

QString SingleCopy::serverName(const QString& canonicalPath) {
    const QByteArray h =
        QCryptographicHash::hash(canonicalPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("stolva-") + QString::fromLatin1(h);
}

QString SingleCopy::socketPath(const QString& dataPath) {
    const QString canonical = QFileInfo(dataPath).canonicalFilePath();
    return QDir(QDir::tempPath()).filePath(serverName(canonical.isEmpty() ? dataPath : canonical));
}

namespace {
// The files a copy ended by a signal (a logout, `kill`) would leave behind:
// paths fixed when the copy starts, removed by the handler itself, which may
// only make async-signal-safe calls.
char g_socketFile[4096];
char g_lockFile[4096];

void removeFilesAndEnd(int sig) {
    if (g_socketFile[0])
        ::unlink(g_socketFile);
    if (g_lockFile[0])
        ::unlink(g_lockFile);
    // Ends as the signal would have ended it; the ledger is as safe as after
    // a power cut, which its journal is made for.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void keepPath(char (&into)[4096], const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    if (p.size() < int(sizeof into))
        std::memcpy(into, p.constData(), size_t(p.size()) + 1);
}

void removeFilesOnSignals(const QString& socketFile, const QString& lockFile) {
    keepPath(g_socketFile, socketFile);
    keepPath(g_lockFile, lockFile);
    struct sigaction sa {};
    sa.sa_handler = removeFilesAndEnd;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}
} // namespace

SingleCopy::~SingleCopy() {
    // Once this copy no longer holds them, the files are not its to remove.
    if (m_server) {
        g_socketFile[0] = 0;
        g_lockFile[0] = 0;
    }
    if (m_folderLock >= 0)
        ::close(m_folderLock);
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
    removeFilesOnSignals(m_server->fullServerName(), m_lock->fileName());
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
