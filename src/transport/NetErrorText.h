#pragma once

#include "transport/NetError.h"

#include <QString>

namespace corvidan::transport {

/// The one table of texts for mail server failures, shared by the receive, the
/// send and the connection check: what happened and what to try on the first
/// line(s), the server's reply and technical detail on lines of their own.
QString NetErrorText(const NetError& error);

/// Only what happened and what to try, without the detail lines.
QString NetErrorHeadline(const NetError& error);

} // namespace corvidan::transport
