#include "ui/UiSeam.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

namespace corvidan::ui {

namespace {
/// The file dialog's own captions, which Qt shows in English without its translations.
void labelInJapanese(QFileDialog& dialog, const QString& accept)
{
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("ファイルの場所:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("ファイル名:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("ファイルの種類:"));
    dialog.setLabelText(QFileDialog::Accept, accept);
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("キャンセル"));
}
} // namespace

MsgAnswer QtUiSeam::messageBox(QWidget* parent, const QString& text, const QString& title,
                               MsgButtons buttons, MsgIcon icon)
{
    QMessageBox box(parent);
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning:
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoDefaultNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    // The buttons speak the program's language whatever translations Qt has.
    const std::pair<QMessageBox::StandardButton, QString> captions[] = {
        {QMessageBox::Ok, QStringLiteral("OK")},
        {QMessageBox::Cancel, QStringLiteral("キャンセル")},
        {QMessageBox::Yes, QStringLiteral("はい(&Y)")},
        {QMessageBox::No, QStringLiteral("いいえ(&N)")},
    };
    for (const auto& [which, caption] : captions) {
        if (QAbstractButton* b = box.button(which))
            b->setText(caption);
    }
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    default: return isQuestion(buttons) ? MsgAnswer::No : MsgAnswer::Ok;
    }
}

std::optional<QString> QtUiSeam::openFileName(QWidget* parent, const QString& title,
                                              const QString& filter)
{
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setOption(QFileDialog::ReadOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    labelInJapanese(dialog, QStringLiteral("開く(&O)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString name = dialog.selectedFiles().constFirst();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> QtUiSeam::saveFileName(QWidget* parent, const QString& title,
                                              const QString& filter)
{
    const QString name = QFileDialog::getSaveFileName(parent, title, QString(), filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<PrintChoice> QtUiSeam::choosePrinter(QWidget* parent, bool selectionOffered)
{
    PrintChoice choice;
    choice.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(choice.printer.get(), parent);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, selectionOffered);
    if (selectionOffered)
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    choice.copies = choice.printer->copyCount();
    // We draw each copy ourselves; keep the device from multiplying them again.
    choice.printer->setCopyCount(1);
    return choice;
}

bool QtUiSeam::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace corvidan::ui
