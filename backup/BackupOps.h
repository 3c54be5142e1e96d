#pragma once

#include "store/Store.h"

#include <QDateTime>
#include <functional>

// Copies of the main file in <data>/backup: one a day at start, one before
// each erase and each restore, and those the user makes. A restore puts a
// copy back in place of the main file.
namespace backup {

// The kind is in the file name: Stolva-YYYYMMDD-HHMMSS[-kind][-n].mdb, no
// suffix for the daily copy.
// A closing copy is named by the count's date alone: Stolva-YYYYMMDD-確定.mdb.
enum class Kind { Daily, Erase, Manual, Restore, Closing };

struct Copy {
    QString path;
    QDateTime made;
    Kind kind = Kind::Daily;
    qint64 bytes = 0;
    int sheets = -1;   // saved sheets (date and category) in the copy, -1 when unreadable
    int products = -1; // products in the copy
    bool sound = true; // opens as a ledger (checked where it matters)
    QDate counted;     // a closing copy's count date
};

// How long copies stay: the newest 14 daily ones, erase and restore copies 90
// days; copies the user made stay until the user removes them.
constexpr int DailyKept = 14;
constexpr int DaysKept = 90;
// A closing copy stays with the books: seven years from the return that
// follows the count, so until the count's year + 8 begins.
constexpr int ClosingYearsKept = 8;

QString folder(const Store& store);
QString kindName(Kind kind); // the caption of a kind in the list

// A consistent copy of the main file (VACUUM INTO) into `dir` (the backup
// folder when empty), named by `now` and the kind; gives its path.
Result<QString> makeCopy(Store& store, Kind kind, const QDateTime& now,
                         const QString& dir = QString());

// The ledger as it was when the count of `counted` was closed, whole or not
// at all; a later closing of the same date replaces it. Gives its path.
Result<QString> closingCopy(Store& store, const QDate& counted);

// Removes what copies and restores cut short left behind (temporary names).
void removeLeftovers(const Store& store);
// At start: when no sound copy was made today, a daily copy, then the old
// copies go (only sound copies count toward the 14 kept). Gives the new
// copy's path, empty when today's copy existed.
Result<QString> dailyCopy(Store& store, const QDateTime& now);
// The copies the keeping rule lets go at `now`: paths, oldest first.
QStringList expired(const QVector<Copy>& copies, const QDateTime& now);

// Every copy in the backup folder, newest first; with details, each one's
// sheets and products are read from the copy.
QVector<Copy> list(const Store& store, bool details);

// A file that is a sound main file of this or an older version, or why not:
// a plain file, a ledger's tables and, for this version, exactly this
// version's schema. quick skips the integrity check of every page and the
// contents. Messages name the file as shownAs when given (a snapshot is
// reported as the copy it was taken of).
Status check(const QString& path, int schemaVersion, bool quick = false,
             const QString& shownAs = QString());
// Replaces the main file by the copy: the copy is checked, a snapshot of it
// as SQLite reads it written beside the main file and checked again, the
// current main file copied aside (kind Restore), the snapshot renamed into
// place and the store reopened, then afterOpen run (the windows' reset).
// When the reopen or afterOpen fails the previous file goes back. Gives the
// path of the aside copy. On a failure the main file is as it was.
Result<QString> restore(Store& store, const QString& path, const QDateTime& now,
                        const std::function<Status()>& afterOpen = {});

} // namespace backup
