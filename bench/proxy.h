#pragma once

#include <QThread>

// A TCP proxy on 127.0.0.1 that holds every piece of data it passes for a
// while in each direction, as a Wi-Fi hop does: a round trip through it
// costs twice the delay. It runs in a thread of its own.
class DelayProxy {
  public:
    DelayProxy(quint16 upstreamPort, int delayMicroseconds);
    ~DelayProxy();
    quint16 port() const { return m_port; }

  private:
    QThread m_thread;
    quint16 m_port = 0;
};
