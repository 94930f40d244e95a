#pragma once

#include "transport/NMail.h"
#include "transport/NetError.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace corvidan::transport {

struct CheckRequest {
    /// Host names, or whole settings lines ("pop3s://host:995") whose host is taken.
    QString pop3Server;
    QString smtpServer;
    /// The account; an empty one means no login is tried.
    QString user;
    QString password;
    bool apop = false;
    CheckPorts ports;
    /// Trust and TLS memory as the program uses them.
    NMailOptions options;
    /// Each probe's own deadline for connecting, and again for each reply.
    int stepTimeoutMs = 1200;
};

enum class ProbeKind { Pop3s, Pop3Stls, Pop3Plain, Smtps, Submission, Smtp };

enum class LoginOutcome { NotTried, Accepted, Refused };

/// What one probe found on one port.
struct ProbeResult {
    ProbeKind kind = ProbeKind::Pop3s;
    QString host;
    quint16 port = 0;
    /// The protocol's greeting came.
    bool reached = false;
    /// The session ended up inside TLS, certificate verified.
    bool tls = false;
    bool tlsOffered = false;
    QStringList loginMethods;
    QStringList certificateNames;
    QString certificateExpiry;
    LoginOutcome login = LoginOutcome::NotTried;
    NetError error;

    /// The server setting that selects this way of connecting.
    QString settingsLine() const;
    /// True when the program can use it without sending a password in clear.
    bool usable(bool apop) const;
};

struct CheckReport {
    QList<ProbeResult> probes;
    /// The lines to type into the settings; empty when nothing usable was found.
    QString pop3Line;
    QString smtpLine;
    /// The account logs in with APOP, which may run without TLS.
    bool apop = false;
};

/// Probes every way of reaching the configured servers at once, each probe
/// under its own short deadline, so a host that never answers costs seconds.
/// Logs in (nothing fetched, nothing deleted) only inside TLS, or with APOP.
CheckReport RunConnectionCheck(const CheckRequest& request);

} // namespace corvidan::transport
