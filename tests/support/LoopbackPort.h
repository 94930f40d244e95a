#pragma once

#include <QtGlobal>

namespace corvidan::test {

/// A port of 127.0.0.1 taken with port 0 and held until this goes away, so
/// nothing else can start listening there meanwhile (a port probed and then
/// released can be taken by a server of another test at any time).
class LoopbackPort {
public:
    /// Bound, never listening: every connection is refused.
    static LoopbackPort refusing() { return LoopbackPort(false); }
    /// Listening, never accepting: connections wait in the backlog, never greeted.
    static LoopbackPort silent() { return LoopbackPort(true); }

    LoopbackPort(LoopbackPort&& other) noexcept;
    LoopbackPort& operator=(LoopbackPort&&) = delete;
    LoopbackPort(const LoopbackPort&) = delete;
    ~LoopbackPort();

    quint16 port() const { return m_port; }
    bool isValid() const { return m_port != 0; }

private:
    explicit LoopbackPort(bool listening);

    int m_fd = -1;
    quint16 m_port = 0;
};

} // namespace corvidan::test
