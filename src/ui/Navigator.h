#pragma once

#include <QString>

namespace corvidan::ui {

/// How one window asks for another. Only the composition knows every window,
/// so the window folders never include each other or the launcher.
class Navigator {
public:
    virtual ~Navigator() = default;

    /// Shows the compose window ("新規作成").
    virtual void showCompose() = 0;
    /// Puts text into the compose window's body at its cursor.
    virtual void insertIntoCompose(const QString& text) = 0;
    /// Shows the emoticon palette.
    virtual void showPalette() = 0;
    /// Opens the history viewer on history `kind`: 1 received, 2 sent.
    virtual void openHistory(int kind) = 0;
    /// Shows the address book with `address` in its address box.
    virtual void showAddressBookFor(const QString& address) = 0;
    /// Shows the reply window filled from the message being read.
    virtual void showReply(const QString& subject, const QString& address, const QString& body) = 0;
};

} // namespace corvidan::ui
