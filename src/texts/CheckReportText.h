#pragma once

#include "transport/ConnectionCheck.h"

#include <QString>

namespace corvidan::texts {

/// The connection check's report: one line per way tried, then the lines to type.
QString CheckReportText(const transport::CheckReport& report);

} // namespace corvidan::texts
