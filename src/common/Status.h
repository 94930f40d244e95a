#pragma once

#include <QString>

#include <memory>

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

/// What the user is told beyond the code, when the code alone does not say it.
enum class Reason {
    None,
    /// The file is a symbolic link and was not written through.
    SymbolicLink,
    /// Another writer held the data folder longer than the wait; number() is the wait in ms.
    WriterBusy,
    /// The history record number() is no longer the one the list showed.
    ShownMailChanged,
    /// The address book record number() is no longer the one shown.
    ShownAddressChanged,
};

/// Outcome of a core operation: ok, or an error code with the detail
/// (a path, a server line) that the window side turns into a message.
class [[nodiscard]] Status {
public:
    Status() = default;
    static Status ok() { return {}; }
    static Status fail(ErrorCode code, QString detail = {}) { return Status(code, std::move(detail)); }
    /// `detail` is then the file the reason is about.
    static Status fail(ErrorCode code, Reason reason, QString detail, qint64 number = 0)
    {
        Status st(code, std::move(detail));
        st.m_reason = reason;
        st.m_number = number;
        return st;
    }
    /// This failure, with a second one that followed it (a failed undo after a failed step).
    Status followedBy(const Status& next) const
    {
        Status st = *this;
        st.m_next = std::make_shared<const Status>(next);
        return st;
    }

    bool isOk() const { return m_code == ErrorCode::None; }
    explicit operator bool() const { return isOk(); }
    ErrorCode code() const { return m_code; }
    const QString& detail() const { return m_detail; }
    Reason reason() const { return m_reason; }
    qint64 number() const { return m_number; }
    /// The failure that followed this one, or null.
    const Status* next() const { return m_next.get(); }

private:
    Status(ErrorCode code, QString detail) : m_code(code), m_detail(std::move(detail)) {}
    ErrorCode m_code = ErrorCode::None;
    QString m_detail;
    Reason m_reason = Reason::None;
    qint64 m_number = 0;
    std::shared_ptr<const Status> m_next;
};

} // namespace corvidan::common
