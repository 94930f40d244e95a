#pragma once

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QList>
#include <QString>
#include <QTextCharFormat>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace corvidan::test {

/// The one child of `form` named `name` of type T; fails the test when the
/// name is missing or used twice.
template <class T>
T* control(QWidget* form, const QString& name)
{
    const QList<T*> found = form->findChildren<T*>(name);
    EXPECT_EQ(found.size(), 1) << "control " << name.toStdString() << " found " << found.size()
                               << " times";
    return found.isEmpty() ? nullptr : found.first();
}

/// Sends what an input method (fcitx5 with Mozc) sends while a word is typed:
/// the reading as underlined preedit with the cursor after it.
inline void sendPreedit(QWidget* box, const QString& reading)
{
    QTextCharFormat underline;
    underline.setFontUnderline(true);
    const int length = static_cast<int>(reading.size());
    QInputMethodEvent preedit(reading, {{QInputMethodEvent::TextFormat, 0, length, underline},
                                        {QInputMethodEvent::Cursor, length, 1, QVariant()}});
    QCoreApplication::sendEvent(box, &preedit);
}

/// ... and then the word the user accepts, which replaces the preedit.
inline void sendCommit(QWidget* box, const QString& word)
{
    QInputMethodEvent commit;
    commit.setCommitString(word);
    QCoreApplication::sendEvent(box, &commit);
}

/// Types Japanese into `box` through the input method's events: a reading
/// is no text until it is accepted, a reading given up leaves nothing, and
/// accepted words land after what `text` held before.
inline void expectInputMethodTyping(QWidget* box, const std::function<QString()>& text)
{
    SCOPED_TRACE(box->objectName().toStdString());
    EXPECT_TRUE(box->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_TRUE(box->inputMethodQuery(Qt::ImEnabled).toBool());
    EXPECT_TRUE(box->inputMethodQuery(Qt::ImCursorRectangle).toRect().isValid())
        << "the candidate window is placed by it";

    box->setFocus();
    const QString before = text();
    sendPreedit(box, QStringLiteral("にほんご"));
    EXPECT_EQ(text(), before) << "the reading is not text yet";
    sendCommit(box, QStringLiteral("日本語"));
    EXPECT_EQ(text(), before + QStringLiteral("日本語"));

    sendPreedit(box, QStringLiteral("きごう"));
    QInputMethodEvent cancel(QString(), {});
    QCoreApplication::sendEvent(box, &cancel);
    EXPECT_EQ(text(), before + QStringLiteral("日本語")) << "a reading given up (Esc)";
    sendCommit(box, QStringLiteral("①㈱～ｶﾅ"));
    EXPECT_EQ(text(), before + QStringLiteral("日本語①㈱～ｶﾅ"));
}

} // namespace corvidan::test
