#include "base/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace wholefile {

namespace {
QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

Outcome failed(const QString& path, int code) {
    return Outcome{false, QStringLiteral("%1 を書き込めませんでした: %2")
                              .arg(QDir::toNativeSeparators(path), reason(code))};
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}
} // namespace

QString reason(int code) {
    switch (code) {
    case ENOSPC:
    case EFBIG:
        return QStringLiteral("ディスクの空きが足りません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量の上限に達しています");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込む権限がありません");
    case EROFS:
        return QStringLiteral("読み取り専用の場所です");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("フォルダがありません");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダがあります");
    case EIO:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case ENAMETOOLONG:
        return QStringLiteral("ファイル名が長すぎます");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("ほかのプログラムが使用中です");
    default:
        return QStringLiteral("システムのエラー（番号 %1）").arg(code);
    }
}

namespace {
// Why a writer that reports no errno produced nothing: a full disk, or else
// a failed write.
int emptyReason(const QString& target) {
    struct statvfs fs;
    if (::statvfs(native(folderOf(target)).constData(), &fs) == 0 &&
        double(fs.f_bavail) * double(fs.f_frsize) < 64 * 1024)
        return ENOSPC;
    return EIO;
}

// 0, or the errno of forcing path to the disk.
int syncPath(const QString& path) {
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int code = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the data itself is synced.
    return code == EINVAL || code == EBADF ? 0 : code;
}
} // namespace

Outcome Temp::fail() const {
    return failed(m_target, emptyReason(m_target));
}

Outcome sync(const QString& path) {
    const int code = syncPath(path);
    return code ? failed(path, code) : Outcome{};
}

bool makeOwnFolder(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    if (!QDir().mkpath(path))
        return false;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

void ownerOnly(const QString& file) {
    ::chmod(native(file).constData(), 0600);
}

namespace {
// The permissions a file the user saves gets: 0666 less the user's umask.
mode_t usualMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(077);
        ::umask(mask);
        return mode_t(0666 & ~mask);
    }();
    return mode;
}
} // namespace

Temp::Temp(const QString& target, Access access) : m_target(target), m_access(access) {
    const QFileInfo fi(target);
    m_temp = fi.absolutePath() + "/." + fi.fileName() + "." +
             QUuid::createUuid().toString(QUuid::Id128).left(8) + ".part";
}

Temp::~Temp() {
    if (!m_done)
        ::unlink(native(m_temp).constData());
}

Outcome Temp::commit(bool allowEmpty) {
    struct stat st;
    if (::stat(native(m_temp).constData(), &st) != 0)
        return failed(m_target, errno);
    if (!S_ISREG(st.st_mode) || (st.st_size == 0 && !allowEmpty))
        return failed(m_target, emptyReason(m_target));
    if (::chmod(native(m_temp).constData(), m_access == OwnerOnly ? 0600 : usualMode()) != 0)
        return failed(m_target, errno);
    if (const int code = syncPath(m_temp))
        return failed(m_target, code);
    if (std::rename(native(m_temp).constData(), native(m_target).constData()) != 0)
        return failed(m_target, errno);
    m_done = true;
    return sync(folderOf(m_target));
}

Outcome write(const QString& path, const QByteArray& bytes) {
    Temp temp(path);
    const int fd =
        ::open(native(temp.path()).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return failed(path, errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return failed(path, code);
        }
        done += n;
    }
    // A full disk may only show when the data is forced out or the file closed.
    const int synced = ::fsync(fd) == 0 ? 0 : errno;
    const int closed = ::close(fd) == 0 ? 0 : errno;
    if (synced || closed)
        return failed(path, synced ? synced : closed);
    return temp.commit(true);
}

} // namespace wholefile
