#pragma once

#include <QString>

namespace corvidan::common {

enum class ErrorCode {
    None,
    NotFound,
    Io,
    DiskFull,
    TooManyRecords,
    Corrupt,
    Network,
    Protocol,
    Auth,
    Tls,
    Timeout,
    Cancelled,
};

/// Outcome of a core operation: ok, or an error code with the detail
/// (a path, a server line) that the window side turns into a message.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status ok() { return {}; }
    static Status fail(ErrorCode code, QString detail = {}) { return Status(code, std::move(detail)); }

    bool isOk() const { return m_code == ErrorCode::None; }
    explicit operator bool() const { return isOk(); }
    ErrorCode code() const { return m_code; }
    const QString& detail() const { return m_detail; }

private:
    Status(ErrorCode code, QString detail) : m_code(code), m_detail(std::move(detail)) {}
    ErrorCode m_code = ErrorCode::None;
    QString m_detail;
};

} // namespace corvidan::common
