#pragma once

#include "store/Store.h"

#include <QObject>
#include <QTimer>

class QSqlDriver;

// Changes to saved counts, as they happen: this PC's own (announced by the
// one who made them) and, on a server, every PC's, which the server sends
// when a sheet's version is raised. Heard on a connection of its own that
// runs no other statement, so no notice waits behind a long query.
class CountNotices : public QObject {
    Q_OBJECT
  public:
    explicit CountNotices(Store& store, QObject* parent = nullptr);
    ~CountNotices() override;
    // Starts listening on the store's server (nothing on a local file); again
    // after the store opened another ledger.
    void listen();
    void stop();
    // A change this PC made to the count of `day` (ISO date).
    void announce(const QString& day);
    bool listening() const { return m_driver != nullptr; }

  signals:
    // The saved count of `day` changed; an empty day: any may have (notices
    // were missed while the server was away).
    void recorded(const QString& day);

  private:
    void check();
    Store& m_store;
    QString m_connection;
    QSqlDriver* m_driver = nullptr;
    QTimer m_watch; // a lost connection is opened again
};
