#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

#include "SubViewClass/Buttons.h"
#include "SubViewClass/MainWindow.h"

// The identifier gives the team and the number; the number picks the colour
// group, once, at the first draw.
TEST(Controls, TagButtonColourGroupsComeFromTheIdentifier) {
    const std::tuple<const char*, int64_t, bool> cases[] = {
        {"A3", 3, true}, {"B12", 12, false}, {"Ax", 0, true}, {"B-1", -1, false}};
    std::map<int64_t, QColor> seen;
    for (const auto& [id, number, teamA] : cases) {
        TagButton b("ラック", id);
        b.viewWillDraw();
        EXPECT_EQ(b.index_num, number) << id;
        EXPECT_EQ(b.index_type, teamA) << id;
        const QColor first = b.background_color;
        b.setObjectName("A17");
        b.viewWillDraw();
        EXPECT_EQ(b.background_color, first) << id;
        seen[number] = first;
    }
    // 0 and 3 share a group; 12 and -1 are of others.
    EXPECT_EQ(seen[0], seen[3]);
    EXPECT_NE(seen[3], seen[12]);
    EXPECT_NE(seen[12], seen[-1]);
}

TEST(Controls, HoverButtonsShowTheHandAndLeaveTheArrow) {
    QWidget window;
    window.resize(300, 200);
    auto* tag = new TagButton("トライ", "A12", &window);
    auto* tool = new MediaToolButtonView("mediaBackward_play", &window);
    auto* general = new GeneralButton("削除", "onTagDelete", &window);
    tool->move(0, 60);
    general->move(0, 120);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    for (int round = 0; round < 5; ++round) {
        for (QWidget* b : std::initializer_list<QWidget*>{tag, tool, general}) {
            QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
            QApplication::sendEvent(b, &enter);
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(b, &leave);
        }
    }
    // The hand belongs to the buttons; nothing is left pushed over the rest.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(tag->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(tool->toolTip(), "クイック巻き戻し(<-)");
    // The resting colour is back after leaving.
    EXPECT_TRUE(tag->styleSheet().contains(tag->background_color.name(QColor::HexArgb)));
    EXPECT_NE(tag->background_color, tag->hover_color);
}
