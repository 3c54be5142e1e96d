#pragma once

#include "store/Store.h"

#include <QObject>
#include <atomic>

class QThread;

// Changes to saved counts, as they happen: this PC's own (announced by the
// one who made them) and, on a server, every PC's, which the server sends
// when a sheet's version is raised. Heard on a connection of its own that
// runs no other statement, so no notice waits behind a long query; that
// connection is opened, watched and opened again on a thread of its own, so
// the window never waits for a server that is slow to answer or gone.
class CountNotices : public QObject {
    Q_OBJECT
  public:
    explicit CountNotices(Store& store, QObject* parent = nullptr);
    ~CountNotices() override;
    // Starts listening on the store's server (nothing on a local file); again
    // after the store opened another ledger. The connection is made in the
    // background: listening() turns true once the server hears this PC.
    void listen();
    void stop();
    // A change this PC made to the count of `day` (ISO date).
    void announce(const QString& day);
    bool listening() const { return m_listening; }

  signals:
    // The saved count of `day` changed; an empty day: any may have (notices
    // were missed while the server was away).
    void recorded(const QString& day);

  private:
    class Listener;
    Store& m_store;
    QThread* m_thread = nullptr;
    Listener* m_listener = nullptr; // lives on m_thread
    std::atomic<bool> m_listening{false};
};
