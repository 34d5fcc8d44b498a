// The screens on laptops and desktops: screen_tests runs on the offscreen
// platform with the screens of support/laptop-screens.json, 1366x728 (a
// laptop's free area under a desktop panel) the first.
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>

#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/EditableNSTextField.h"
#include "match/MatchPanel.h"
#include "support/ScreenFixture.h"
#include "support/Tags.h"
#include "timeline/TagTimeline.h"

namespace {

// A hand-edited session: every tag button's name and 40 names of no button,
// 300 tags in all.
void writeSession(const std::filesystem::path& path) {
    std::vector<std::string> names(kTagLabels.begin(), kTagLabels.end());
    for (int i = 1; i <= 40; ++i)
        names.push_back("ハンドオフ" + std::to_string(i));
    std::vector<std::shared_ptr<TagRowData>> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back(tag(i % 3 != 0, static_cast<float>(i * 2),
                           names[static_cast<size_t>(i) % names.size()], i % 4 ? "" : "要確認"));
    std::ofstream(path, std::ios::binary) << TagFileManager::csvText(rows, true);
}

// An analyst's own window: twelve codes, four of them lasting, and three
// label groups, 選手 with fifteen players.
std::string analystWindow() {
    std::string codes;
    const char* names[] = {"ラック",       "モール",   "タックル",     "キック",
                           "ポゼッション", "敵陣滞在", "スクラム",     "ラインアウト",
                           "ペナルティ",   "アタック", "ディフェンス", "トライ"};
    for (int i = 0; i < 12; ++i)
        codes += std::string(i ? ",\n" : "") + R"({"name": ")" + names[i] + R"(")" +
                 (i == 4 || i == 5 || i == 9 || i == 10 ? R"(, "mode": "duration")" : "") + "}";
    std::string players;
    for (int p = 1; p <= 15; ++p)
        players += (p > 1 ? ", \"" : "\"") + std::to_string(p) + "\"";
    return R"({"format": "rucktag-codewindow", "version": 1, "name": "分析",
 "codes": [)" +
           codes + R"(],
 "labels": [{"group": "結果", "texts": ["成功", "失敗", "反則"]},
            {"group": "エリア", "texts": ["自陣22m", "自陣", "敵陣", "敵陣22m"]},
            {"group": "選手", "texts": [)" +
           players + "]}]}\n";
}

// 200 tags of that window, half of them lasting, with labels and comments.
void writeLabelledSession(const std::filesystem::path& path) {
    const char* names[] = {"ラック", "ポゼッション", "タックル", "アタック", "ラインアウト"};
    std::vector<std::shared_ptr<TagRowData>> rows;
    for (int i = 0; i < 200; ++i) {
        auto t = tag(i % 2 == 0, static_cast<float>(i * 25), names[i % 5], i % 3 ? "" : "要確認");
        if (i % 2)
            t->end = TagEnd::at(static_cast<float>(i * 25 + 19));
        t->labels = {{"結果", i % 3 ? "成功" : "反則"},
                     {"エリア", "敵陣22m"},
                     {"選手", std::to_string(1 + i % 15)}};
        rows.push_back(t);
    }
    std::ofstream(path, std::ios::binary) << TagFileManager::csvText(rows, true);
}

// Where `w` is in `top`'s coordinates.
QRect placeIn(const QWidget* w, const QWidget* top) {
    return {w->mapTo(top, QPoint(0, 0)), w->size()};
}

// Each cell's text and each title fit their column, every row counted, not
// only those in sight; titles are painted in their viewport's font.
void expectColumnsFit(QTableView* table, const QList<int>& columns) {
    QStyleOptionViewItem option;
    option.font = table->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.widget = table;
    QAbstractItemModel* model = table->model();
    QHeaderView* header = table->horizontalHeader();
    QFont titleFont = header->viewport()->font();
    titleFont.setBold(true);
    const int grid = table->showGrid() ? 1 : 0; // a cell is its column less the grid line
    for (int c : columns) {
        const QString title = model->headerData(c, Qt::Horizontal).toString();
        EXPECT_LE(std::max(header->sectionSizeHint(c),
                           QFontMetrics(titleFont).horizontalAdvance(title) + 8),
                  table->columnWidth(c))
            << table->objectName().toStdString() << " title " << title.toStdString();
        QString widest;
        int need = 0;
        for (int r = 0; r < model->rowCount(); ++r) {
            const QModelIndex cell = model->index(r, c);
            if (const int w = table->itemDelegate()->sizeHint(option, cell).width(); w > need) {
                need = w;
                widest = cell.data().toString();
            }
        }
        EXPECT_LE(need, table->columnWidth(c) - grid)
            << table->objectName().toStdString() << " column " << c << ": " << widest.toStdString();
    }
}

} // namespace

class ScreenSizes : public Screens {
protected:
    // The video sits in the shown screen's media box, inset as drawn, once
    // the screen has settled.
    void expectVideoInItsBox(TagTableScreen* screen) {
        const QRect box = placeIn(screen->mediaPlayerBox, main);
        const QRect expected = box.adjusted(8, 8, -8, -8);
        QWidget* video = main->MediaPlayer;
        EXPECT_TRUE(QTest::qWaitFor([&] { return video->geometry() == expected; }, 2000))
            << "video " << video->width() << "x" << video->height() << "+" << video->y() << ", box "
            << expected.width() << "x" << expected.height() << "+" << expected.y();
        EXPECT_LT(video->geometry().bottom(), placeIn(screen->tagTimeline, main).top());
    }
    // `w` is shown whole inside the window, at least at its smallest size.
    void expectInSight(const QWidget* w, const char* what) {
        ASSERT_NE(w, nullptr) << what;
        EXPECT_TRUE(w->isVisible()) << what;
        const QRect r = placeIn(w, window.get());
        EXPECT_TRUE(window->rect().contains(r))
            << what << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height()
            << " in " << window->width() << "x" << window->height();
        // Lists and text scroll; anything else is never squeezed.
        if (!qobject_cast<const QAbstractScrollArea*>(w)) {
            EXPECT_GE(w->height(), w->minimumSizeHint().height()) << what;
        }
    }
    void expectTransportInSight(TagTableScreen* screen) {
        expectInSight(screen->tagTimeline, "timeline");
        expectInSight(screen->mediaTimeLabel, "time");
        for (MediaToolButtonView* b : screen->findChildren<MediaToolButtonView*>())
            expectInSight(b, qPrintable(b->objectName()));
    }
};

// A hand-edited session on the standard window, and the analyst's own window
// (labels, lasting tags) on the first visit to the play screen: the window
// keeps its place and size, its × on the screen; the tally (58 names, or the
// 選手 matrix) scrolls, the video and its time keep their room.
TEST_F(ScreenSizes, BothScreensFitEveryScreen) {
    writeSession(dir / "match.csv");
    std::filesystem::create_directories(windowFolder());
    std::ofstream(windowFolder() / "analyst.json") << analystWindow();
    writeLabelledSession(dir / "labelled.csv");
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 5);
    for (const bool analyst : {false, true}) {
        for (QScreen* screen : screens) {
            SCOPED_TRACE(screen->name().toStdString() + (analyst ? " analyst" : ""));
            makeWindow(screen);
            if (analyst)
                chooseFilter(edit->codePanel->codeWindowPopUp, "分析");
            openVideo(analyst ? "labelled.mp4" : "match.mp4", 5400);
            ASSERT_EQ(main->tagDataModel.data.size(), analyst ? 200u : 300u);
            const QRect free = screen->availableGeometry();
            const QRect placed = window->geometry();
            EXPECT_TRUE(free.contains(placed));

            click("menu_play_mode_button");
            QApplication::processEvents();
            EXPECT_EQ(window->geometry(), placed);
            auto* close = window->findChild<QWidget*>("window_close");
            EXPECT_TRUE(free.contains(QRect(close->mapToGlobal(QPoint(0, 0)), close->size())));
            expectVideoInItsBox(play);
            expectTransportInSight(play);
            expectInSight(play->tagTableView, "tag list");
            expectInSight(play->commentTextView, "comment");
            QTableView* tally = play->tallyTableView;
            expectInSight(tally, "tally");
            expectColumnsFit(play->tagTableView, {0, 1, 2, 3, 4});
            if (analyst) {
                const int video = main->MediaPlayer->width();
                chooseFilter(play->tallyLabelPopUp, "選手");
                // Once the screen has settled on the wider tally.
                EXPECT_TRUE(QTest::qWaitFor(
                    [&] { return window->rect().contains(placeIn(tally, window.get())); }, 2000));
                EXPECT_EQ(tally->model()->columnCount(), 18);
                EXPECT_EQ(window->geometry(), placed);
                expectVideoInItsBox(play);
                expectTransportInSight(play);
                EXPECT_GE(main->MediaPlayer->width(), video * 4 / 5);
                EXPECT_GE(main->MediaPlayer->width(), play->width() / 3);
                // The time whole: "0:00:00 / 1:30:00".
                EditableNSTextField* time = play->mediaTimeLabel;
                EXPECT_LE(time->fontMetrics().horizontalAdvance(time->text()),
                          time->contentsRect().width())
                    << time->text().toStdString();
            } else {
                // 58 names do not fit: the tally scrolls, its names and titles whole.
                EXPECT_EQ(tally->model()->rowCount(), 58);
                EXPECT_GT(tally->verticalScrollBar()->maximum(), 0);
                expectColumnsFit(tally, {0, 1, 2, 3});
            }

            click("menu_edit_mode_button");
            QApplication::processEvents();
            EXPECT_EQ(window->geometry(), placed);
            expectVideoInItsBox(edit);
            expectTransportInSight(edit);
            expectInSight(edit->tagTableView, "edit tag list");
            expectInSight(edit->commentTextField, "comment editor");
            expectInSight(edit->clipTableView, "clip list");
            for (TagButton* b : edit->codePanel->tagButtons)
                expectInSight(b, qPrintable(b->objectName()));
            if (analyst)
                continue;
            // The period row beneath the comment buttons, whole.
            for (QPushButton* b : edit->matchPanel->findChildren<QPushButton*>())
                expectInSight(b, qPrintable(b->objectName()));
            expectInSight(edit->matchPanel->periodList, "period list");
            expectInSight(edit->matchPanel->periodEdge, "period edge");
            expectColumnsFit(edit->tagTableView, {0, 1, 2, 3, 4, 5});
            // The filter pop-up shows a code's name whole beside its row's
            // buttons (the exchange behind one of them).
            expectInSight(edit->tagFilterCombo, "edit filter");
            // CSV出力 is a button of its own, beside the exchange.
            for (const char* id : {"tagExchangeButton", "onTagCSVOutput"})
                expectInSight(edit->findChild<QPushButton*>(id), id);
            EXPECT_GE(edit->tagFilterCombo->width(),
                      edit->tagFilterCombo->fontMetrics().horizontalAdvance("キックリターン") + 40);
        }
    }
}
