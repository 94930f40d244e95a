#pragma once

#include "transport/NetError.h"

#include <QString>

namespace corvidan::texts {

/// The one table of texts for mail server failures, shared by the receive, the
/// send and the connection check: what happened and what to try on the first
/// line(s), the server's reply and technical detail on lines of their own.
QString NetErrorText(const transport::NetError& error);

/// Only what happened and what to try, without the detail lines.
QString NetErrorHeadline(const transport::NetError& error);

/// The technical words of the detail line, empty when there are none.
QString NetErrorDetail(const transport::NetError& error);

/// A protocol fault: one sentence that already holds the server's words, shown
/// by the connection check as a detail, without a headline of its own.
bool IsProtocolFault(transport::NetErrorKind kind);

} // namespace corvidan::texts
