// Drives the real application on a video and saves screenshots of what a
// person sees: the edit screen with tags, clips and the pointer over a tag
// button and a row; play mode; a question; the clip export window and its
// report. Run under a display (scripts/screenshots uses Xvfb).
// With RUCKTAG_TOUR_WINDOW=1 it codes the match by keyboard with a window of
// 25 codes (some lasting) and two label groups instead, and saves the edit
// screen with labels and the play screen with the bars of the lasting tags.
// Usage: screenshot_tour VIDEO OUT_DIR
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "Media/Player.h"
#include "Model/CodeWindow.h"
#include "SubModuleClass/CodeWindowFile.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/TableModels.h"
#include "SubViewClass/TagTimeline.h"
#include "SubViewClass/TallyTableModel.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"

namespace {

QString outDir;

void shoot(const QString& name) {
    QApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(outDir + "/" + name + ".png");
    std::printf("saved %s/%s.png\n", qPrintable(outDir), qPrintable(name));
}

// Real message boxes, photographed and then answered with their default
// button; save panels answered with a file in the output folder.
class TourDialogs : public DialogProvider {
public:
    explicit TourDialogs(DialogProvider& real) : real_(real) {}
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        const QString name = shotName;
        QTimer::singleShot(700, [name] {
            if (!name.isEmpty())
                shoot(name);
            if (QWidget* box = QApplication::activeModalWidget())
                QTest::keyClick(box, Qt::Key_Return);
        });
        shotName.clear();
        return real_.showBox(kind, message, title, style, buttons);
    }
    void openFilePanel(QWidget*, const FilePanel&, PathCallback done) override { done({}); }
    void saveFilePanel(QWidget*, const FilePanel& panel, PathCallback done) override {
        done((outDir + "/" + panel.proposedName + ".mp4").toStdString());
    }
    QString shotName;

private:
    DialogProvider& real_;
};

// 25 codes per team, keys 1…0 and F…O for team A, with Shift for B; the
// phases last and exclude each other.
CodeWindow tourWindow() {
    CodeWindow w;
    w.name = "15人制 詳細";
    const char* names[] = {
        "ラック",         "モール",         "タックル",     "ミスタックル", "キック",
        "ハイボール",     "スクラム",       "ラインアウト", "キックオフ",   "ドロップアウト",
        "ターンオーバー", "ペナルティ",     "FK",           "ノックオン",   "スローフォワード",
        "トライ",         "ゴール",         "PG",           "DG",           "選手交代",
        "22m進入",        "ラインブレイク", "攻撃",         "防御",         "チェック"};
    const char* colours[] = {"#3f8a3f", "#3f8a3f", "#2e7d9a", "#2e7d9a", "#c08a20",
                             "#c08a20", "#e06020", "#e06020", "#e06020", "#e06020",
                             "#408bff", "#b03030", "#b03030", "#b03030", "#b03030",
                             "#8b408b", "#8b408b", "#8b408b", "#8b408b", "#707070",
                             "#20a0a0", "#20a0a0", "#d04080", "#4060d0", "#ff9d80"};
    const char keys[] = "1234567890FGHJKLPQWERTYUI";
    for (size_t i = 0; i < 25; ++i) {
        Code c;
        c.name = names[i];
        c.color = colours[i];
        c.keyA = std::string(1, keys[i]);
        c.keyB = "Shift+" + c.keyA;
        if (i == 22 || i == 23) {
            c.mode = CodeMode::Duration;
            c.group = "局面";
        }
        w.codes.push_back(c);
    }
    w.labels.push_back({"結果", {"成功", "失敗"}, {"Z", "X"}});
    w.labels.push_back({"エリア", {"自陣22m", "自陣", "敵陣", "敵陣22m"}, {"C", "V", "B", "N"}});
    return w;
}

// Two minutes coded by keys where a click on the list left the focus.
int windowTour(MainWindow& window, const char* video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    PlayViewController* play = main->playViewController;
    const int which = edit->codeWindowPopUp->findText("15人制 詳細");
    if (which < 0)
        return 3;
    edit->codeWindowPopUp->setCurrentIndex(which);
    emit edit->codeWindowPopUp->activated(which);
    bool opened = false;
    main->openVideo(video, [&] { opened = true; });
    if (!QTest::qWaitFor([&] { return opened; }, 15000))
        return 1;
    Player* player = main->MediaPlayer->player();
    struct Step {
        double at;
        Qt::Key key;
        bool teamB;
    };
    std::mt19937 rng(5);
    std::vector<Step> steps;
    bool attackA = true;
    steps.push_back({1, Qt::Key_Y, false}); // 攻撃 of A starts
    for (double t = 3; t < 116; t += 2.5 + (rng() % 30) / 10.0) {
        const Qt::Key codes[] = {Qt::Key_1, Qt::Key_1, Qt::Key_3, Qt::Key_3, Qt::Key_5,
                                 Qt::Key_7, Qt::Key_8, Qt::Key_F, Qt::Key_J, Qt::Key_T};
        steps.push_back({t, codes[rng() % 10], !attackA});
        if (rng() % 4 == 0)
            steps.push_back({t + 0.2, rng() % 2 ? Qt::Key_Z : Qt::Key_X, false});
        if (rng() % 5 == 0)
            steps.push_back({t + 0.3, rng() % 2 ? Qt::Key_B : Qt::Key_V, false});
        if (rng() % 6 == 0) { // possession changes: the other team's phase
            // The attack ends at its second press; the other team's starts.
            steps.push_back({t + 0.5, Qt::Key_Y, !attackA});
            attackA = !attackA;
            steps.push_back({t + 0.6, Qt::Key_Y, !attackA});
        }
    }
    bool focused = false;
    for (const Step& s : steps) {
        player->seekExact(s.at);
        QTest::qWait(60);
        if (!focused && !edit->tagTableData.empty()) {
            CustomTableView* table = edit->tagTableView;
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                              table->visualRect(table->model()->index(0, 4)).center());
            focused = true;
        }
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget()
                                                      : static_cast<QWidget*>(main->MediaPlayer);
        QTest::keyClick(target, s.key, s.teamB ? Qt::ShiftModifier : Qt::NoModifier);
    }
    player->seekExact(60);
    QTest::qWait(1500);
    player->pause();
    QTest::qWait(300);
    shoot("labels-edit");
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    CustomTableView* list = play->tagTableView;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(5, 3)).center());
    QTest::qWait(1200);
    player->pause();
    QTest::qWait(300);
    shoot("durations-play");
    // The tally as the matrix of a label group.
    play->tallyLabelPopUp->setCurrentIndex(1);
    emit play->tallyLabelPopUp->activated(1);
    QTest::qWait(300);
    shoot("labels-tally");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QFont::insertSubstitutions("Hiragino Sans GB", {"Noto Sans CJK JP"});
    QFont::insertSubstitutions("Arial", {"Liberation Sans", "DejaVu Sans"});
    QApplication::setFont(QFont("Hiragino Sans GB"));
    if (argc < 3)
        return 2;
    outDir = argv[2];
    // The tour's lead and lag must not become the user's.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    TourDialogs dialogs(dialogProvider());
    setDialogProvider(&dialogs);
    const bool withWindow = qEnvironmentVariable("RUCKTAG_TOUR_WINDOW") == "1";
    QTemporaryDir configDir;
    if (withWindow) {
        // Nor its window, nor the journal of its tags.
        qputenv("XDG_CONFIG_HOME", configDir.path().toUtf8());
        qputenv("XDG_STATE_HOME", (configDir.path() + "/state").toUtf8());
        std::filesystem::create_directories(codeWindowFolder());
        if (!writeCodeWindowFile(codeWindowFolder() / "tour.json", tourWindow()).empty())
            return 3;
    }

    MainWindow window;
    MainViewController* main = window.mainViewController();
    window.fitMainView(main->size());
    window.move(20, 20);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    if (withWindow)
        return windowTour(window, argv[1]);
    EditViewController* edit = main->editViewController;
    PlayViewController* play = main->playViewController;

    bool opened = false;
    main->openVideo(argv[1], [&] { opened = true; });
    if (!QTest::qWaitFor([&] { return opened; }, 15000))
        return 1;
    Player* player = main->MediaPlayer->player();

    // Tags at several times, one with a comment, and two clips by keys.
    const char* presses[] = {"A6", "B0", "A12", "B9", "A3", "B15", "A4"};
    double t = 4;
    for (const char* id : presses) {
        player->seekExact(t);
        QTest::qWait(150);
        for (TagButton* b : edit->tagButtons)
            if (b->objectName() == id)
                QTest::mouseClick(b, Qt::LeftButton);
        t += 7;
    }
    edit->commentTextField->setPlainText("ラインアウトからのモール、\n前進 5m");
    edit->onCommentAdd();
    for (double start : {12.0, 30.0}) {
        player->seekExact(start);
        QTest::qWait(200);
        QTest::keyClick(main->MediaPlayer, Qt::Key_Comma);
        player->seekExact(start + 6);
        QTest::qWait(200);
        QTest::keyClick(main->MediaPlayer, Qt::Key_Period);
    }
    // A few hundred more, as a whole match gives: open play all along, set
    // pieces and scores less often.
    std::mt19937 rng(3);
    const int weights[] = {30, 12, 40, 14, 6, 2, 8, 7, 2, 5, 6, 3, 2, 1, 1, 7, 1, 2};
    std::discrete_distribution<int> pick(std::begin(weights), std::end(weights));
    std::uniform_real_distribution<float> when(1.0f, 119.0f);
    for (int i = 0; i < 300; ++i) {
        auto tag = std::make_shared<TagRowData>();
        tag->team = rng() % 2;
        tag->time_val = when(rng);
        tag->time_string = MediaPlayerView::createTimeString(tag->time_val);
        tag->name = MainViewController::TAG_LABEL[static_cast<size_t>(pick(rng))];
        main->tagDataModel.appent(tag);
    }
    edit->reloadTagDataTable(true);
    player->playImmediatelyAtRate(1.0f);
    QTest::qWait(1500);

    // Pointer over a tag button, then over a row of the table.
    for (TagButton* b : edit->tagButtons)
        if (b->objectName() == "B6")
            QTest::mouseMove(b, b->rect().center());
    QTest::qWait(300);
    shoot("edit-hover-button");
    CustomTableView* table = edit->tagTableView;
    QTest::mouseMove(table->viewport(), table->visualRect(table->model()->index(2, 3)).center());
    QTest::qWait(300);
    shoot("edit-hover-row");

    // The exchange menu open, then the import's question: a code without a
    // team and codes the window lacks, the copy of the window offered.
    QTimer::singleShot(600, [edit] {
        shoot("edit-exchange-menu");
        if (QMenu* menu = edit->exchangeButton->menu())
            menu->close();
    });
    QTest::mouseClick(edit->exchangeButton, Qt::LeftButton);
    const std::string xml = (outDir + "/import-tour.xml").toStdString();
    std::ofstream(xml) << "<file><ALL_INSTANCES>"
                          "<instance><ID>1</ID><start>20</start><end>26</end>"
                          "<code>Carry</code></instance>"
                          "<instance><ID>2</ID><start>40</start><end>44</end>"
                          "<code>A ラインブレイク</code></instance>"
                          "<instance><ID>3</ID><start>60</start><end>62</end>"
                          "<code>B 22m進入</code></instance>"
                          "</ALL_INSTANCES></file>";
    QTimer::singleShot(800, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != "importDialog")
            return;
        if (auto* box = dialog->findChild<QCheckBox*>("addToWindowCopy"))
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QTest::qWait(200);
        shoot("import-dialog");
        // Nothing imported, no window written: the tour goes on as before.
        if (auto* cancel = dialog->findChild<QAbstractButton*>("importCancel"))
            cancel->click();
    });
    edit->importEditList(xml);
    // Read on a worker thread: the question comes, and goes, once it is read.
    (void)QTest::qWaitFor(
        [edit] {
            const auto* bar = edit->window()->findChild<QWidget*>("importProgress");
            return !bar || !bar->isVisible();
        },
        10000);
    std::filesystem::remove(xml);

    // Play mode with a chosen tag.
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    QTest::mouseClick(
        play->tagTableView->viewport(), Qt::LeftButton, {},
        play->tagTableView->visualRect(play->tagTableView->model()->index(3, 3)).center());
    QTest::qWait(800);
    shoot("play-mode");
    // A count of the tally: team A's scrums alone.
    QTableView* tally = play->tallyTableView;
    QTest::mouseClick(
        tally->viewport(), Qt::LeftButton, {},
        tally->visualRect(tally->model()->index(6, TallyTableModel::TeamACol)).center());
    QTest::qWait(500);
    shoot("play-tally-count");
    main->onMenuSelectEditMode();
    QTest::qWait(300);

    // The strip zoomed around its middle, the pointer on a mark.
    TagTimeline* strip = edit->tagTimeline;
    const QPoint middle(strip->width() / 2, strip->height() / 4);
    for (int i = 0; i < 6; ++i) {
        QWheelEvent wheel(middle, strip->mapToGlobal(middle), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(strip, &wheel);
    }
    for (int x = middle.x(); x < strip->width(); ++x)
        if (!strip->marksAt({x, middle.y()}).empty()) {
            QTest::mouseMove(strip, {x, middle.y()});
            // Xvfb's pointer does not follow, so the tip is asked for here.
            QHelpEvent tip(QEvent::ToolTip, {x, middle.y()},
                           strip->mapToGlobal(QPoint(x, middle.y())));
            QApplication::sendEvent(strip, &tip);
            break;
        }
    QTest::qWait(1500);
    shoot("edit-timeline-zoomed");
    QTest::mouseDClick(strip, Qt::LeftButton, {}, {2, strip->height() - 2});
    QTest::qWait(300);

    // A question, as the user sees it.
    dialogs.shotName = "dialog-delete";
    edit->tagModel()->setTicked(1, true);
    MessageBox("選択された項目を削除しますか？", "削除");

    // Export a long clip: the progress window, then the report.
    player->seekExact(5);
    QTest::qWait(200);
    edit->mediaClipStart();
    player->seekExact(115);
    QTest::qWait(200);
    edit->mediaClipEnd();
    edit->clipModel()->setTicked(2, true);
    dialogs.shotName = "clip-done";
    edit->onClipOutput();
    (void)QTest::qWaitFor([&] { return !window.findChildren<ClipWindowController*>().isEmpty(); },
                          3000);
    QTest::qWait(2500);
    shoot("clip-progress");
    (void)QTest::qWaitFor([&] { return window.findChildren<ClipWindowController*>().isEmpty(); },
                          120000);
    QTest::qWait(300);

    // Play mode: the listed tags' moments in sequence, then as one highlight.
    main->onMenuSelectPlayMode();
    QTest::qWait(500);
    // Two seconds either side keep the demo's tags apart.
    play->momentLeadSpinBox->setValue(2);
    play->momentLagSpinBox->setValue(2);
    QTest::mouseClick(play->findChild<QAbstractButton*>("onSequencePlay"), Qt::LeftButton);
    QTest::qWait(2500);
    shoot("play-sequence");
    QTest::keyClick(play->tagTableView, Qt::Key_PageDown);
    QTest::qWait(1500);
    shoot("play-sequence-next");
    dialogs.shotName = "highlight-done";
    QTest::mouseClick(play->findChild<QAbstractButton*>("onHighlightOutput"), Qt::LeftButton);
    (void)QTest::qWaitFor([&] { return !window.findChildren<ClipWindowController*>().isEmpty(); },
                          3000);
    QTest::qWait(2500);
    shoot("highlight-progress");
    (void)QTest::qWaitFor([&] { return window.findChildren<ClipWindowController*>().isEmpty(); },
                          300000);
    QTest::qWait(300);
    setDialogProvider(nullptr);
    return 0;
}
