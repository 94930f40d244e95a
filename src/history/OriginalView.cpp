#include "history/OriginalView.h"

#include "history/OriginalText.h"
#include "ui/Twips.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace corvidan::history {

OriginalView::OriginalView(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("OriginalView"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* label = new QLabel(QStringLiteral("文字コード(&C)"), this);
    label->setObjectName(QStringLiteral("Label1"));
    cboCharset = new QComboBox(this);
    cboCharset->setObjectName(QStringLiteral("cboCharset"));
    label->setBuddy(cboCharset);
    cboCharset->addItem(QStringLiteral("自動"), QByteArray());
    for (const char* name : {"ISO-2022-JP", "Shift_JIS", "EUC-JP", "UTF-8"})
        cboCharset->addItem(QString::fromLatin1(name), QByteArray(name));

    txtGenbun = new QPlainTextEdit(this);
    txtGenbun->setObjectName(QStringLiteral("txtGenbun"));
    txtGenbun->setReadOnly(true);
    txtGenbun->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 10));

    auto* bar = new QHBoxLayout;
    bar->addWidget(label);
    bar->addWidget(cboCharset);
    bar->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(txtGenbun);

    connect(cboCharset, &QComboBox::currentIndexChanged, this, &OriginalView::cboCharset_Change);
    resize(ui::px(9225), ui::px(7230));
}

void OriginalView::setMessage(const QByteArray& message, const QString& subject)
{
    m_message = message;
    setWindowTitle(QStringLiteral("原文 - ") + subject);
    cboCharset_Change();
}

QByteArray OriginalView::chosenCharset() const
{
    return cboCharset->currentData().toByteArray();
}

void OriginalView::cboCharset_Change()
{
    txtGenbun->setPlainText(original::readableText(m_message, chosenCharset()));
}

} // namespace corvidan::history
