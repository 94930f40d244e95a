#pragma once

namespace corvidan::storage {

enum class HistoryKind { Received = 1, Sent = 2 };

} // namespace corvidan::storage
