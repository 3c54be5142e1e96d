#pragma once

#include <QByteArray>
#include <QString>

// Files written whole or not at all: the bytes go to a temporary name beside
// the target, are forced to the disk and checked, and only then replace the
// target by rename, so a full disk or a crash leaves the old file as it was.
namespace wholefile {

// What went wrong, in Japanese, for the user ("ディスクの空きが足りません" …);
// empty when nothing did.
struct Outcome {
    bool ok = true;
    QString error;
    explicit operator bool() const { return ok; }
};

// The system's reason for errno `code`, in Japanese.
QString reason(int code);

// Writes bytes to path whole.
Outcome write(const QString& path, const QByteArray& bytes);

// A temporary name beside path, for a writer that produces the file itself
// (a PDF, a database copy); commit() checks and moves it into place.
class Temp {
  public:
    // OwnerOnly: the file keeps 0600 (a copy of the ledger); Shared: it gets
    // the user's usual permissions when it takes its name (an export). While
    // it is written it is 0600 either way.
    enum Access { Shared, OwnerOnly };
    explicit Temp(const QString& target, Access access = Shared);
    ~Temp(); // removes the temporary file unless committed
    Temp(const Temp&) = delete;
    Temp& operator=(const Temp&) = delete;
    QString path() const { return m_temp; }
    // Forces the written file to the disk, checks it is not empty (unless
    // allowEmpty), renames it over the target and syncs the folder.
    Outcome commit(bool allowEmpty = false);
    // The failure of a writer that could not finish the file.
    Outcome fail() const;

  private:
    QString m_target, m_temp;
    Access m_access;
    bool m_done = false;
};

// Forces a file (or a folder's entries) to the disk.
Outcome sync(const QString& path);

// The ledger's own files and folders are for their owner alone: a folder
// made (with its parents) 0700 when it did not exist; a file made 0600.
bool makeOwnFolder(const QString& path);
void ownerOnly(const QString& file);

} // namespace wholefile
