#pragma once

#include "common/Status.h"
#include "transport/ReceiveMail.h"

#include <QString>

namespace corvidan::texts {

/// What a window shows of a storage failure under its own first line: the
/// reason's sentence (or the bare detail), then any failure that followed it.
QString StatusText(const common::Status& status);

/// A received message whose record could not be written.
QString StoreFailureText(const common::Status& status);

/// The receive's box for a notice, and its title (empty: the application's).
QString ReceiveNoticeText(const transport::ReceiveNotice& notice);
QString ReceiveNoticeTitle(const transport::ReceiveNotice& notice);

} // namespace corvidan::texts
