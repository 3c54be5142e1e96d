#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QWidget;

// One running copy per data folder: the first copy holds a lock file in the
// folder and listens; a later copy asks it to come to the front and ends.
class SingleCopy : public QObject {
    Q_OBJECT
  public:
    explicit SingleCopy(const QString& dataPath);
    ~SingleCopy() override;

    enum class Result { Acquired, AlreadyRunning, Failed };
    // Acquired when this copy is the one that runs; Failed when the data
    // folder cannot hold the lock file (not writable, missing drive).
    Result acquire();
    // Asks the running copy to show its window; true when it answered.
    bool wakeRunningCopy();
    // The window the running copy brings to the front when woken.
    void setWindow(QWidget* w) { m_window = w; }
    // Where the running copy listens (a socket file) for a data folder.
    static QString socketPath(const QString& dataPath);

  private:
    static QString serverName(const QString& canonicalPath);
    QString serverName() const { return serverName(m_dataPath); }
    QString m_dataPath;
    std::unique_ptr<QLockFile> m_lock;
    int m_folderLock = -1; // the data folder, locked (flock) while this copy runs
    QLocalServer* m_server = nullptr;
    QWidget* m_window = nullptr;
};
