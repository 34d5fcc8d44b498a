#include <QApplication>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QTest>
#include <QTextLayout>
#include <gtest/gtest.h>

#include "SubViewClass/Buttons.h"
#include "SubViewClass/MainWindow.h"

TEST(Controls, TagButtonColourGroupsComeFromTheIdentifier) {
    struct Case {
        const char* id;
        int64_t number;
        bool teamA;
        QColor background;
    };
    const QColor green(63, 138, 63), orange(255, 139, 64), blue(64, 139, 255), purple(139, 64, 139),
        salmon(255, 157, 128);
    const Case cases[] = {{"A3", 3, true, green},   {"B12", 12, false, purple},
                          {"Ax", 0, true, green},   {"B-1", -1, false, salmon},
                          {"B5", 5, false, orange}, {"A11", 11, true, blue}};
    for (const Case& c : cases) {
        TagButton b("ラック", c.id);
        b.viewWillDraw();
        EXPECT_EQ(b.index_num, c.number) << c.id;
        EXPECT_EQ(b.index_type, c.teamA) << c.id;
        EXPECT_EQ(b.background_color, c.background) << c.id;
        // Only the first draw decides.
        b.setObjectName("A17");
        b.viewWillDraw();
        EXPECT_EQ(b.background_color, c.background) << c.id;
    }
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
    EXPECT_TRUE(tag->styleSheet().contains(QColor(139, 64, 139).name(QColor::HexArgb)));
}

// The check-all header's two states must be real, different pictures on a
// plain Debian machine, not the same missing-glyph box.
TEST(Controls, CheckAllSignsHaveGlyphsAndDiffer) {
    QFont font("Hiragino Sans GB");
    font.setPixelSize(24);
    auto draw = [&font](const QString& sign) {
        QTextLayout layout(sign, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        EXPECT_FALSE(runs.isEmpty());
        for (const QGlyphRun& run : runs)
            for (quint32 glyph : run.glyphIndexes())
                EXPECT_NE(glyph, 0u)
                    << sign.toStdString() << " in " << run.rawFont().familyName().toStdString();
        QImage picture(40, 40, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(picture.rect(), Qt::AlignCenter, sign);
        return picture;
    };
    const QImage off = draw(QString::fromUtf8("❎"));
    const QImage on = draw(QString::fromUtf8("✅"));
    EXPECT_NE(off, on);
    QImage blank(40, 40, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    EXPECT_NE(off, blank);
}
