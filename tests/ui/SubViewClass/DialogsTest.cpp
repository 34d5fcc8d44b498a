#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

#include "SubViewClass/CustomAlert.h"

namespace {

// What a message box showed the user.
struct Seen {
    QString heading, body;
    bool headingBold = false;
    QStringList buttons;
    QString defaultButton;
};

} // namespace

TEST(QtDialogs, ButtonsDefaultsAndAnswers) {
    auto look = [](Qt::Key key, auto show) {
        auto seen = std::make_shared<Seen>();
        // Answered once the box is up and has the keyboard, however slow the
        // machine is.
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, seen, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (QApplication::activeWindow() != box) {
                box->activateWindow();
                return;
            }
            poll->stop();
            poll->deleteLater();
            QTextDocument heading;
            heading.setHtml(box->text());
            seen->heading = heading.toPlainText();
            const QTextBlock::iterator first = heading.begin().begin();
            seen->headingBold =
                !first.atEnd() && first.fragment().charFormat().fontWeight() >= QFont::Bold;
            seen->body = box->informativeText();
            for (QAbstractButton* b : box->buttons())
                seen->buttons << b->text();
            seen->defaultButton = box->defaultButton() ? box->defaultButton()->text() : "";
            QTest::keyClick(box, key);
        });
        poll->start(20);
        const std::string answer = show();
        return std::make_pair(answer, *seen);
    };
    auto [confirm, c] = look(Qt::Key_Return, [] { return ConfirmBox("保存しますか？", "保存"); });
    EXPECT_EQ(confirm, "no"); // Return answers the first button
    EXPECT_EQ(c.heading, "保存");
    EXPECT_TRUE(c.headingBold);
    EXPECT_EQ(c.body, "保存しますか？");
    EXPECT_EQ(c.buttons.size(), 3);
    EXPECT_TRUE(c.buttons.contains("いいえ") && c.buttons.contains("はい") &&
                c.buttons.contains("キャンセル"));
    EXPECT_EQ(c.defaultButton, "いいえ");
    EXPECT_EQ(look(Qt::Key_Escape, [] { return ConfirmBox("m", "t"); }).first, "cancel");

    auto [message, m] = look(Qt::Key_Escape, [] { return MessageBox("削除しますか？", "削除"); });
    EXPECT_EQ(message, "no"); // Escape never answers yes
    EXPECT_EQ(m.buttons.size(), 2);
    EXPECT_EQ(m.defaultButton, "いいえ");

    auto [alert, a] = look(Qt::Key_Return, [] {
        AlertBox("本文", "", "Warning");
        return std::string("shown");
    });
    EXPECT_EQ(a.buttons, QStringList{"確認"});
    EXPECT_EQ(a.heading, "");
    EXPECT_EQ(a.body, "本文");
}
