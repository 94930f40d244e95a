#pragma once

#include "common/AppDir.h"
#include "storage/MailRecord.h"
#include "storage/ServerSettings.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace corvidan::ui {

/// The rich-text editor's state, which outlives the viewer window.
struct EditorState {
    QString EditorFileName;
    bool EditorModified = false;
    std::int16_t BoldToggle = 0;
    std::int16_t ItalicToggle = 0;
    std::int16_t UnderlineToggle = 0;
};

/// The values every window shares, owned by the application (never globals).
struct AppState {
    explicit AppState(common::AppDir dir) : appDir(std::move(dir)) {}

    common::AppDir appDir;
    storage::ServerSettings server; // SmtpServer, Pop3Server, MailAddress, ApopFlag
    QString PopUserId;
    QString PopPassword;
    int HistoryKind = 1;
    storage::MailRecord ReceivedRecord;
    storage::MailRecord SentRecord;
    std::int16_t CurrentRecordNo = 0;
    EditorState editor;
    /// The launcher's clock box text while the launcher is open; sent mail is dated by it.
    std::function<std::optional<QString>()> LauncherClock;
};

} // namespace corvidan::ui
