#pragma once

#include <QThread>

#include <atomic>
#include <memory>

// A TCP proxy on 127.0.0.1 that holds every piece of data it passes for a
// while in each direction, as a Wi-Fi hop does: a round trip through it
// costs twice the delay. It runs in a thread of its own.
class DelayProxy {
  public:
    DelayProxy(quint16 upstreamPort, int delayMicroseconds);
    ~DelayProxy();
    quint16 port() const { return m_port; }
    // The connection that next sends COMMIT (as PostgreSQL's simple query)
    // is cut: after the server has answered it (the answer lost on the way),
    // or before the server sees it. Later connections pass as before, except
    // after AnswerAndAway: then none passes until cutAtNextCommit(None).
    enum class Cut { None, AnswerOfCommit, Commit, AnswerAndAway, Away };
    void cutAtNextCommit(Cut how) { m_cut->store(int(how)); }

  private:
    QThread m_thread;
    quint16 m_port = 0;
    std::shared_ptr<std::atomic<int>> m_cut = std::make_shared<std::atomic<int>>(0);
};
