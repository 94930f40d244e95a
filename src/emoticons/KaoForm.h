#pragma once

#include "emoticons/PaletteFiles.h"

#include <QWidget>
#include <array>

class QPlainTextEdit;
class QTabWidget;

namespace corvidan::ui {
class Application;
}

namespace corvidan::emoticons {

/// The emoticon palette "絵・顔文字": twelve editable pages, each the whole of one
/// text file, whose selections go into the compose window's body. The files are
/// read when the window opens and written back when it closes.
class KaoForm : public QWidget {
    Q_OBJECT
public:
    explicit KaoForm(ui::Application& app, QWidget* parent = nullptr);

    void Form_Load();
    void Form_Unload();

    /// "新規作成本文に挿入": the selection of page `page` into the compose body, then close.
    void InsertButton_Click(int page);
    /// "お気に入りに追加": the selection of page `page` into the favourites page.
    void FavouriteButton_Click(int page);
    /// "追加（貼付）": the clipboard into page `page` at its caret.
    void PasteButton_Click(int page);

    QPlainTextEdit* pageBox(int page) const { return m_boxes.at(page); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* buildPage(int page);
    void buildTabRows();
    void buildCredits();
    QString passSelectionThroughClipboard(QPlainTextEdit* box);

    ui::Application& m_app;
    QTabWidget* SSTab1 = nullptr;
    std::array<QPlainTextEdit*, PageCount> m_boxes{};
    /// Pages whose file exists but could not be read: never written back.
    std::array<bool, PageCount> m_unreadable{};
};

} // namespace corvidan::emoticons
