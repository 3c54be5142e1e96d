#include "bench/proxy.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <memory>

namespace {
using Cut = DelayProxy::Cut;

// What the two directions of one connection share: a COMMIT whose answer is to be lost.
struct Connection {
    std::shared_ptr<std::atomic<int>> cut;
    bool dropAnswer = false;
};

// One direction of a connection: pieces wait their delay, then go out in order.
class Pipe : public QObject {
  public:
    Pipe(QTcpSocket* from, QTcpSocket* to, qint64 delayNs, std::shared_ptr<Connection> c,
         bool toServer)
        : QObject(from), m_from(from), m_to(to), m_delay(delayNs) {
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Pipe::release);
        connect(from, &QTcpSocket::readyRead, this, [this, c, toServer] {
            QByteArray bytes = m_from->readAll();
            if (!toServer && c->dropAnswer) {
                // The server has answered the COMMIT: the client never hears it.
                m_to->abort();
                return;
            }
            if (toServer && bytes.contains(QByteArray("COMMIT\0", 7))) {
                const int how = c->cut->exchange(int(Cut::None));
                if (how == int(Cut::AnswerOfCommit) || how == int(Cut::AnswerAndAway)) {
                    c->dropAnswer = true;
                    if (how == int(Cut::AnswerAndAway))
                        c->cut->store(int(Cut::Away));
                } else if (how == int(Cut::Commit)) {
                    m_to->abort();
                    m_from->abort();
                    return;
                }
            }
            m_waiting.push_back({m_clock.nsecsElapsed() + m_delay, std::move(bytes)});
            if (!m_timer.isActive())
                schedule();
        });
    }

  private:
    void schedule() {
        if (m_waiting.empty())
            return;
        const qint64 wait = m_waiting.front().due - m_clock.nsecsElapsed();
        m_timer.start(int(std::max<qint64>(0, wait / 1000000)));
    }
    void release() {
        // A millisecond timer: the rest of the wait is spun out.
        while (!m_waiting.empty()) {
            const qint64 left = m_waiting.front().due - m_clock.nsecsElapsed();
            if (left > 1000000)
                break;
            while (m_clock.nsecsElapsed() < m_waiting.front().due) {
            }
            m_to->write(m_waiting.front().bytes);
            m_waiting.pop_front();
        }
        schedule();
    }
    struct Piece {
        qint64 due;
        QByteArray bytes;
    };
    QTcpSocket *m_from, *m_to;
    qint64 m_delay;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<Piece> m_waiting;
};
} // namespace

DelayProxy::DelayProxy(quint16 upstreamPort, int delayMicroseconds) {
    const std::shared_ptr<std::atomic<int>> cut = m_cut;
    auto* server = new QTcpServer;
    server->listen(QHostAddress::LocalHost, 0);
    m_port = server->serverPort();
    server->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, server, &QObject::deleteLater);
    QObject::connect(server, &QTcpServer::newConnection, server, [=] {
        while (QTcpSocket* client = server->nextPendingConnection()) {
            if (cut->load() == int(Cut::Away)) {
                client->abort();
                client->deleteLater();
                continue;
            }
            auto* upstream = new QTcpSocket(client);
            upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            upstream->connectToHost(QHostAddress::LocalHost, upstreamPort);
            auto c = std::make_shared<Connection>(Connection{cut});
            new Pipe(client, upstream, qint64(delayMicroseconds) * 1000, c, true);
            new Pipe(upstream, client, qint64(delayMicroseconds) * 1000, c, false);
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(upstream, &QTcpSocket::disconnected, client,
                             &QTcpSocket::disconnectFromHost);
        }
    });
    m_thread.start();
}

DelayProxy::~DelayProxy() {
    m_thread.quit();
    m_thread.wait();
}
