#include "store/Notices.h"

#include "store/Schema.h"

#include <QSqlDriver>
#include <QSqlQuery>

CountNotices::CountNotices(Store& store, QObject* parent)
    : QObject(parent), m_store(store),
      m_connection(QStringLiteral("stolva-notices-%1").arg(quintptr(this))) {
    m_watch.setInterval(10000);
    connect(&m_watch, &QTimer::timeout, this, &CountNotices::check);
}

CountNotices::~CountNotices() {
    stop();
}

void CountNotices::stop() {
    m_watch.stop();
    m_driver = nullptr;
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

void CountNotices::listen() {
    stop();
    const auto& address = m_store.serverAddress();
    if (!address || !m_store.isOpen())
        return;
    m_watch.start();
    if (!server::connect(m_connection, *address, Store::DefaultBusyTimeoutMs))
        return; // tried again by the watch
    QSqlDriver* driver = QSqlDatabase::database(m_connection, false).driver();
    if (!driver->subscribeToNotification(QString::fromUtf8(schema::CountChannel)))
        return;
    m_driver = driver;
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString&, QSqlDriver::NotificationSource, const QVariant& payload) {
                emit recorded(payload.toString());
            });
}

void CountNotices::announce(const QString& day) {
    // On a server the notice comes back from it, with everyone else's.
    if (!m_driver)
        emit recorded(day);
}

void CountNotices::check() {
    QSqlDatabase d = QSqlDatabase::database(m_connection, false);
    if (m_driver && d.isOpen() && QSqlQuery(d).exec(QStringLiteral("SELECT 1")))
        return;
    // The server went away and is back: what it said meanwhile is lost.
    listen();
    if (m_driver)
        emit recorded(QString());
}
