#include "ShellTestSupport.h"

#include "addressbook/FriendForm.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "emoticons/KaoForm.h"
#include "history/TyakuForm.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "support/Controls.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

namespace corvidan::test {
namespace {

/// The controls Tab visits in `window`, in order, starting after the window itself.
QList<QWidget*> tabStops(QWidget* window)
{
    QList<QWidget*> stops;
    QWidget* w = window;
    for (int guard = 0; guard < 1000; ++guard) {
        w = w->nextInFocusChain();
        if (w == window)
            break;
        if (w->window() == window && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window)
            && w->isEnabled())
            stops << w;
    }
    return stops;
}

QStringList names(const QList<QWidget*>& widgets)
{
    QStringList out;
    for (const QWidget* w : widgets)
        out << w->objectName();
    return out;
}

/// Tab stops the user cannot see: empty, or with their middle outside the window.
QStringList unseenStops(QWidget* window)
{
    QStringList out;
    for (QWidget* w : tabStops(window)) {
        const QRect at(w->mapTo(window, QPoint(0, 0)), w->size());
        if (at.isEmpty() || !window->rect().contains(at.center()))
            out << w->objectName() + QStringLiteral(" (") + QString::fromLatin1(w->metaObject()->className())
                       + QStringLiteral(")");
    }
    return out;
}

class KeyboardAccess : public LauncherTest {
protected:
    void SetUp() override
    {
        start(QByteArray("SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n"));
        launcher->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(launcher));
    }
    QLabel* label(const char* name) { return control<QLabel>(launcher, QString::fromLatin1(name)); }

    template <class Form>
    Form* shown()
    {
        auto* form = app->forms().get<Form>();
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form));
        return form;
    }
};

TEST_F(KeyboardAccess, LauncherTabVisitsTheFunctionLabelsColumnByColumn)
{
    EXPECT_EQ(names(tabStops(launcher)),
              (QStringList{QStringLiteral("Label9"), QStringLiteral("Label8"), QStringLiteral("Label7"),
                           QStringLiteral("Label6"), QStringLiteral("Label10"), QStringLiteral("Label11"),
                           QStringLiteral("Label5"), QStringLiteral("Label4")}));
}

TEST_F(KeyboardAccess, EnterAndSpaceOnALauncherLabelActAsItsClick)
{
    label("Label11")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(label("Label11"), Qt::Key_Return);
    auto* hub = app->forms().find<settings::SetForm>();
    ASSERT_NE(hub, nullptr);
    EXPECT_TRUE(hub->isVisible());

    hub->close();
    settle();
    launcher->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(launcher));
    label("Label10")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(label("Label10"), Qt::Key_Space);
    auto* book = app->forms().find<addressbook::FriendForm>();
    ASSERT_NE(book, nullptr);
    EXPECT_TRUE(book->isVisible());
}

TEST_F(KeyboardAccess, ALabelReachedWithTabShowsItsHintUnderlined)
{
    QLabel* receive = label("Label8");
    receive->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("新着メールの受信を行います。"));
    EXPECT_TRUE(receive->font().underline());

    label("Label7")->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(receive->font().underline());
    EXPECT_TRUE(label("Label7")->font().underline());
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("着信（着信履歴）したメールを見ます。"));

    // Focus the window gives on its own is no reason to show anything.
    label("Label6")->setFocus(Qt::ActiveWindowFocusReason);
    EXPECT_FALSE(label("Label6")->font().underline());
    EXPECT_EQ(launcher->statusLine(), QStringLiteral("着信（着信履歴）したメールを見ます。"));
}

TEST_F(KeyboardAccess, NoWindowHasATabStopNobodyCanSee)
{
    EXPECT_EQ(unseenStops(launcher), QStringList{});
    EXPECT_EQ(unseenStops(shown<settings::SetForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<settings::OptionForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<settings::IdPassForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<history::TyakuForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<compose::BackForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<addressbook::FriendForm>()), QStringList{});
    EXPECT_EQ(unseenStops(shown<emoticons::KaoForm>()), QStringList{});
}

TEST_F(KeyboardAccess, ComposeWindowTabsIntoTheAddressPanelOnlyWhileItIsShown)
{
    auto* compose = shown<compose::WriteForm>();
    EXPECT_EQ(unseenStops(compose), QStringList{});
    EXPECT_FALSE(names(tabStops(compose)).contains(QStringLiteral("List1")));

    control<QPushButton>(compose, QStringLiteral("Command4"))->click(); // アドレス帳: the window widens
    EXPECT_EQ(unseenStops(compose), QStringList{});
    EXPECT_TRUE(names(tabStops(compose)).contains(QStringLiteral("List1")));

    control<QPushButton>(compose, QStringLiteral("Command6"))->click(); // 元のサイズ
    EXPECT_EQ(unseenStops(compose), QStringList{});
    EXPECT_FALSE(names(tabStops(compose)).contains(QStringLiteral("List1")));
}

TEST_F(KeyboardAccess, HistoryViewerButtonRowTabsLeftToRight)
{
    auto* viewer = shown<history::TyakuForm>();
    QList<QWidget*> row;
    for (QWidget* w : tabStops(viewer)) {
        if (qobject_cast<QPushButton*>(w) && w->objectName() != QStringLiteral("Command1"))
            row << w;
    }
    ASSERT_EQ(row.size(), 5);
    QList<QWidget*> byPosition = row;
    std::sort(byPosition.begin(), byPosition.end(), [viewer](QWidget* a, QWidget* b) {
        return a->mapTo(viewer, QPoint(0, 0)).x() < b->mapTo(viewer, QPoint(0, 0)).x();
    });
    EXPECT_EQ(names(row), names(byPosition));
}

} // namespace
} // namespace corvidan::test
