#include "store/Notices.h"

#include "store/Schema.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

// The listening connection and its watch, on the notices' thread: every
// member is used there only.
class CountNotices::Listener : public QObject {
  public:
    explicit Listener(CountNotices* owner)
        : m_owner(owner), m_connection(QStringLiteral("stolva-notices-%1").arg(quintptr(owner))) {}

    void start(const server::Address& address) {
        close();
        m_address = address;
        if (!m_watch) {
            m_watch = new QTimer(this);
            m_watch->setInterval(10000);
            QObject::connect(m_watch, &QTimer::timeout, this, [this] { check(); });
        }
        m_watch->start();
        // Made while the window was already reading: what changed before this
        // PC was heard may be on screen already, or not.
        if (open()) // else tried again by the watch
            tell(QString());
    }

    void close() {
        if (m_watch)
            m_watch->stop();
        m_driver = nullptr;
        m_owner->m_listening = false;
        if (QSqlDatabase::contains(m_connection)) {
            QSqlDatabase::database(m_connection, false).close();
            QSqlDatabase::removeDatabase(m_connection);
        }
    }

  private:
    bool open() {
        if (QSqlDatabase::contains(m_connection)) {
            QSqlDatabase::database(m_connection, false).close();
            QSqlDatabase::removeDatabase(m_connection);
        }
        m_driver = nullptr;
        m_owner->m_listening = false;
        if (!server::connect(m_connection, m_address, Store::DefaultBusyTimeoutMs))
            return false;
        QSqlDriver* driver = QSqlDatabase::database(m_connection, false).driver();
        if (!driver->subscribeToNotification(QString::fromUtf8(schema::CountChannel)))
            return false;
        m_driver = driver;
        QObject::connect(driver, &QSqlDriver::notification, this,
                         [this](const QString&, QSqlDriver::NotificationSource,
                                const QVariant& payload) { tell(payload.toString()); });
        m_owner->m_listening = true;
        return true;
    }

    void check() {
        QSqlDatabase d = QSqlDatabase::database(m_connection, false);
        if (m_driver && d.isOpen() && QSqlQuery(d).exec(QStringLiteral("SELECT 1")))
            return;
        // The server went away and is back: what it said meanwhile is lost.
        if (open())
            tell(QString());
    }

    // Said on the window's thread, where the owner's receivers live.
    void tell(const QString& day) {
        CountNotices* owner = m_owner;
        QMetaObject::invokeMethod(
            owner, [owner, day] { emit owner->recorded(day); }, Qt::QueuedConnection);
    }

    CountNotices* m_owner;
    QString m_connection;
    server::Address m_address;
    QSqlDriver* m_driver = nullptr;
    QTimer* m_watch = nullptr;
};

CountNotices::CountNotices(Store& store, QObject* parent) : QObject(parent), m_store(store) {}

CountNotices::~CountNotices() {
    stop();
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_listener;
        delete m_thread;
    }
}

void CountNotices::stop() {
    if (m_listener)
        QMetaObject::invokeMethod(
            m_listener, [l = m_listener] { l->close(); }, Qt::BlockingQueuedConnection);
}

void CountNotices::listen() {
    stop();
    const auto& address = m_store.serverAddress();
    if (!address || !m_store.isOpen())
        return;
    if (!m_thread) {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("notices"));
        m_listener = new Listener(this);
        m_listener->moveToThread(m_thread);
        m_thread->start();
    }
    const server::Address a = *address;
    QMetaObject::invokeMethod(
        m_listener, [l = m_listener, a] { l->start(a); }, Qt::QueuedConnection);
}

void CountNotices::announce(const QString& day) {
    // On a server the notice comes back from it, with everyone else's.
    if (!m_listening)
        emit recorded(day);
}
