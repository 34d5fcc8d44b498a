#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QTableView>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <gmock/gmock.h>

#include "SubModuleClass/TagFileManager.h"
#include "codewindow/CodeWindowFile.h"
#include "exchange/XmlEditList.h"
#include "platform/AtomicFile.h"
#include "support/ScreenFixture.h"
#include "support/Tags.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr int kNo = 0, kYes = 1; // ConfirmBox: いいえ, はい, キャンセル

// XML読込 and CSV読込 read on a worker thread: waits until the bar is gone,
// by when the merge and its questions are over.
bool imported(const std::unique_ptr<MainWindow>& window) {
    return QTest::qWaitFor(
        [&] {
            const auto* bar = window->findChild<QWidget*>("importProgress");
            return !bar || !bar->isVisible();
        },
        60000);
}

// Chooses item `which` (0 チームA, 1 チームB) for row `row` of the import
// question's table as a person does: a click on the team opens its pop-up,
// a click on the item.
bool chooseTeam(QTableView* table, int row, int which) {
    const QModelIndex cell = table->model()->index(row, 1);
    table->scrollTo(cell);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(cell).center());
    auto* combo = qobject_cast<QComboBox*>(table->indexWidget(cell));
    if (!combo)
        return false;
    QPointer<QAbstractItemView> list = combo->view();
    if (!QTest::qWaitFor([&] { return list && list->isVisible(); }, 2000))
        return false;
    const QModelIndex item = list->model()->index(which, 0);
    // The pop-up ignores a release too soon after it opened.
    for (int attempt = 0; attempt < 3 && list && list->isVisible(); ++attempt) {
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
        (void)QTest::qWaitFor([&] { return !list || !list->isVisible(); }, 1000);
    }
    return !list || !list->isVisible();
}

// The question comes once the file is read, which may be while the menu that
// chose it still waits for the main window to be active again; a window
// manager gives the window under a closed dialog its activation back, the
// offscreen platform does not.
void reactivate(QDialog* dialog) {
    if (QWidget* under = dialog->parentWidget())
        under->window()->activateWindow();
}

// Answers the import question when it opens: B for the codes at `teamB`
// (kAll: 全部をチームB), the copy of the window ticked when `copy`, then
// 読み込む (or キャンセル).
class TeamAnswer {
public:
    static constexpr int kAll = -1;
    TeamAnswer(std::vector<int> teamB, bool accept, bool copy = false)
        : teamB_(std::move(teamB)), accept_(accept), copy_(copy) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }
    struct Seen {
        std::vector<std::string> outside;
        int asked = 0, rows = 0;
        bool chosen = true; // every team asked for was chosen
        bool fits = false;  // the question on the screen
    } seen;

private:
    void answer() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (busy_ || !dialog || dialog->objectName() != "importDialog" || !dialog->isVisible())
            return;
        busy_ = true; // choosing waits for pop-ups, and this timer goes on meanwhile
        ++seen.asked;
        auto* table = dialog->findChild<QTableView*>("teamlessCodes");
        seen.rows = table ? table->model()->rowCount() : 0;
        const QSize room = dialog->screen()->availableGeometry().size();
        seen.fits = dialog->frameGeometry().width() <= room.width() &&
                    dialog->frameGeometry().height() <= room.height();
        auto* all = dialog->findChild<QAbstractButton*>("allTeamB");
        for (int row : teamB_) {
            seen.chosen =
                seen.chosen && (row == kAll ? all != nullptr : table && chooseTeam(table, row, 1));
            if (row == kAll && all)
                QTest::mouseClick(all, Qt::LeftButton);
        }
        if (auto* list = dialog->findChild<QListWidget*>("outsideCodes"))
            for (int i = 0; i < list->count(); ++i)
                seen.outside.push_back(list->item(i)->text().toStdString());
        if (copy_) {
            auto* box = dialog->findChild<QCheckBox*>("addToWindowCopy");
            if (box)
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        }
        const char* button = accept_ ? "importOk" : "importCancel";
        QTest::mouseClick(dialog->findChild<QAbstractButton*>(button), Qt::LeftButton);
        reactivate(dialog);
        busy_ = false;
    }
    std::vector<int> teamB_;
    bool accept_, copy_;
    bool busy_ = false;
    QTimer timer_;
};

} // namespace

// The main view on the fake player, for the XML and CSV exchange.
class Exchange : public Screens {
protected:
    // Reads `file` by the menu item `action` to the end, the import question
    // answered as TeamAnswer does: what the question showed.
    TeamAnswer::Seen importFile(const std::filesystem::path& file, std::vector<int> teamB = {},
                                bool accept = true, bool copy = false,
                                const char* action = "onTagXMLInput") {
        TeamAnswer answer(std::move(teamB), accept, copy);
        dialogs.paths = {file.string()};
        click(action);
        EXPECT_TRUE(imported(window)) << "still reading " << file;
        return answer.seen;
    }
};

namespace {

const char* kTheirs = "\xEF\xBB\xBF<?xml version=\"1.0\"?><file><ALL_INSTANCES>"
                      "<instance><ID>1</ID><start>40</start><end>41</end><code>Carry</code>"
                      "<free_text>a & b</free_text></instance>"
                      "<instance><ID>2</ID><start>20</start><end>30</end><code>B スクラム</code>"
                      "</instance>"
                      "<instance><ID>3</ID><start>10</start><end>10</end><code>Carry</code>"
                      "<label><text>good</text></label></instance>"
                      "<instance><ID>4</ID><start>30</start><end>30</end><code>トライ</code>"
                      "<label><group>チーム</group><text>A</text></label></instance>"
                      "<instance><ID>5</ID><start>50</start><code>Kick</code></instance>"
                      "</ALL_INSTANCES><clock/>"
                      "<ROWS><row><code>Carry</code><R>65535</R><G>0</G><B>0</B></row></ROWS>"
                      "</file>";

} // namespace

TEST_F(Exchange, XmlExportOnBothScreensWritesTheListedTags) {
    click("onTagXMLOutput");
    EXPECT_EQ(dialogs.shown.back().message, "出力するデータがありません。");
    EXPECT_TRUE(dialogs.panels.empty());

    openVideo("a.mp4", 100.0);
    play->momentLeadSpinBox->setValue(8);
    play->momentLagSpinBox->setValue(4);
    press("A12", 30);
    press("B12", 10);
    press("A12", 98);
    press("A0", 5);
    chooseFilter(edit->tagFilterCombo, "トライ");
    QTest::mouseClick(edit->teamB_checkBox, Qt::LeftButton);

    const auto out = dir / "edit.xml";
    dialogs.paths = {(dir / "edit").string()}; // typed without the extension
    click("onTagXMLOutput");
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_EQ(dialogs.panels[0].panel.extensions, QStringList{"xml"});
    EXPECT_EQ(dialogs.shown.back().message, "XMLファイルが作成されました。");
    std::string text, error;
    ASSERT_TRUE(readWholeFile(out, text, error)) << error;
    EditList list = readEditList(text);
    ASSERT_EQ(list.instances.size(), 2u);
    EXPECT_EQ(list.instances[0].start, "22.0"); // play screen's 前 8 and 後 4
    EXPECT_EQ(list.instances[1].end, "100.0");  // clamped to the video

    // The play screen lists every tag, by its own filter.
    click("menu_play_mode_button");
    dialogs.paths = {(dir / "play.xml").string()};
    click("onPlayTagXMLOutput");
    ASSERT_TRUE(readWholeFile(dir / "play.xml", text, error)) << error;
    list = readEditList(text);
    ASSERT_EQ(list.instances.size(), 4u);
    EXPECT_EQ(list.instances[3].code, "ラック");
    EXPECT_EQ(list.instances[3].start, "0.0");
}

TEST_F(Exchange, XmlImportAsksTeamsOnceIsOneUndoStepAndAsksBeforeDuplicates) {
    openVideo("a.mp4");
    press("A0", 1);
    const auto theirs = dir / "theirs.xml";
    std::ofstream(theirs) << kTheirs;

    // Cancelling the team question adds nothing.
    EXPECT_EQ(importFile(theirs, {}, false).asked, 1);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    ASSERT_FALSE(dialogs.panels.empty());
    EXPECT_EQ(dialogs.panels.back().panel.extensions, QStringList{"xml"});

    // Carry and Kick have no team: asked once each, Kick (the second) set B.
    const TeamAnswer::Seen seen = importFile(theirs, {1});
    EXPECT_EQ(seen.asked, 1);
    EXPECT_TRUE(seen.chosen);
    // By time; Kick, the second code without a team, set B; a range is its
    // own moment.
    EXPECT_EQ(
        tagLines(main->tagDataModel.data),
        (std::vector<std::string>{"A 1.0 ラック", "A 10.0 Carry [ラベル=good]",
                                  "B 20.0-30.0 スクラム [Rucktag=範囲]", "A 30.0 トライ",
                                  "A 40.0-41.0 Carry [Rucktag=範囲] \"a & b\"", "B 50.0 Kick"}));
    EXPECT_EQ(edit->tagTableData.size(), 6u);
    EXPECT_TRUE(main->m_fSave);
    const std::string& report = dialogs.shown.back().message;
    EXPECT_EQ(report.rfind("5 件のタグを読み込みました。", 0), 0u) << report;
    EXPECT_THAT(report, HasSubstr("コードウィンドウにないコード: Carry Kick"));
    EXPECT_THAT(report, HasSubstr("<clock>"));
    EXPECT_THAT(report, HasSubstr("「&」"));

    // One undo step takes the whole import back; redo brings it again.
    // The question was the active window; the main window is again.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->tagTableData.size(), 1u);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);

    // The same file again: asked first; いいえ adds only what is new (none).
    dialogs.answers = {kNo};
    importFile(theirs, {1});
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);
    EXPECT_THAT(dialogs.shown[dialogs.shown.size() - 2].message, HasSubstr("同じタグが 5 件"));
    EXPECT_THAT(dialogs.shown.back().message, HasSubstr("すでにある 5 件は加えませんでした"));
    // はい adds them again.
    dialogs.answers = {kYes};
    importFile(theirs, {1});
    EXPECT_EQ(main->tagDataModel.data.size(), 11u);

    // The import is journaled: a crash keeps it.
    crashAndRestart();
    dialogs.answers = {0}; // restore
    openVideo("a.mp4");
    EXPECT_EQ(main->tagDataModel.data.size(), 11u);
}

// Instances past the video's end and times no video has are left out and
// named in the report.
// Codes the chosen window lacks are listed; ticked, they go into a copy of
// the window beside it, which is chosen; the original file stays as it was.
TEST_F(Exchange, ImportOffersACopyOfTheWindowWithTheCodesItLacks) {
    restartWithWindows({{"7人制.json", kSevens}});
    chooseWindow("7人制");
    const auto folder = windowFolder();
    openVideo("a.mp4");
    const auto theirs = dir / "theirs.xml";
    std::ofstream(theirs) << kTheirs;

    // Not ticked: the tags come, no window is written.
    TeamAnswer::Seen seen = importFile(theirs);
    EXPECT_EQ(seen.asked, 1);
    EXPECT_EQ(seen.outside, (std::vector<std::string>{"Carry", "トライ", "Kick"}));
    EXPECT_EQ(main->tagDataModel.data.size(), 5u);
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"7人制.json"});
    EXPECT_THAT(dialogs.shown.back().message,
                HasSubstr("コードウィンドウにないコード: Carry トライ Kick"));

    // Ticked: a copy named after the window, the codes added after its own.
    dialogs.answers = {kYes};
    EXPECT_EQ(importFile(theirs, {}, true, true).asked, 1);
    EXPECT_EQ(main->tagDataModel.data.size(), 10u);
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{"7人制 (読込).json", "7人制.json"}));
    EXPECT_EQ(slurp(folder / "7人制.json"), kSevens);
    const CodeWindowRead copy = readCodeWindowFile(folder / "7人制 (読込).json");
    ASSERT_TRUE(copy.ok()) << copy.problems[0];
    EXPECT_EQ(copy.window.name, "7人制 (読込)");
    ASSERT_EQ(copy.window.codes.size(), 5u);
    EXPECT_EQ(copy.window.codes[1].mode, CodeMode::Duration); // the original's codes as they were
    EXPECT_EQ(copy.window.codes[2].name, "Carry");
    EXPECT_EQ(copy.window.codes[2].color, "#ff0000"); // the file's colour
    EXPECT_EQ(copy.window.codes[4].color, "#808080"); // none given: grey
    // The copy is the chosen window: its buttons, the pop-up.
    EXPECT_EQ(edit->codePanel->codeWindowPopUp->currentText(), "7人制 (読込)");
    EXPECT_EQ(edit->codePanel->tagButtons.size(), 10u);
    EXPECT_THAT(dialogs.shown.back().message,
                HasSubstr("「7人制 (読込)」を作り、3 個のコードを加えました"));

    // Again from the copy: nothing lacks, nothing asked but the duplicates;
    // a copy of a copy would be named anew rather than written over.
    dialogs.answers = {kNo};
    seen = importFile(theirs, {}, true, true);
    EXPECT_EQ(seen.asked, 1); // Carry and Kick still have no team
    EXPECT_TRUE(seen.outside.empty());
    EXPECT_EQ(namesIn(folder).size(), 2u);
}

namespace {

// An export of CSV出力 with ends and labels, written as that form writes it:
// whole seconds as H:MM:SS.
const char* const kExported = "Team, INDEX, 再生時刻, タグ内容, コメント, 終了時刻, ラベル\n"
                              "B,1,0:01:05,スクラム,\"押し, 勝ち\",0:01:10,結果=成功\n"
                              "A,2,1:00:01,トライ,,,\n"
                              "A,3,0:00:30,Carry,,,Player=10;結果=失敗\n";

} // namespace

// Another analyst's CSV出力 and the session file of another video merge into
// the open video's tags, each as one undo step.
TEST_F(Exchange, CsvImportMergesAnExportAndAnotherSessionAsOneStepEach) {
    openVideo("a.mp4", 4000.0);
    press("A0", 1);
    std::ofstream(dir / "theirs.csv") << kExported;
    const std::vector other{tag(true, 12.34f, "ラック", "速い"), tag(false, 7.5f, "モール")};
    other[1]->end = TagEnd::at(9.25f);
    other[1]->labels = {{"結果", "成功"}};
    ASSERT_EQ(TagFileManager::saveCSVFile(dir / "other.csv", other, true), "");

    // The export: Carry is outside the standard window, so the question
    // comes (no team to ask); by time, after the tag already there.
    const TeamAnswer::Seen seen = importFile(dir / "theirs.csv", {}, true, false, "onTagCSVInput");
    EXPECT_EQ(seen.asked, 1);
    EXPECT_EQ(seen.outside, std::vector<std::string>{"Carry"});
    ASSERT_FALSE(dialogs.panels.empty());
    EXPECT_EQ(dialogs.panels.back().panel.extensions, QStringList{"csv"});
    const auto& data = main->tagDataModel.data;
    EXPECT_EQ(tagLines(data),
              (std::vector<std::string>{"A 1.0 ラック", "A 30.0 Carry [Player=10] [結果=失敗]",
                                        "B 65.0-70.0 スクラム [結果=成功] \"押し, 勝ち\"",
                                        "A 3601.0 トライ"}));
    EXPECT_EQ(edit->tagTableData.size(), 4u);
    EXPECT_EQ(dialogs.shown.back().message.rfind("3 件のタグを読み込みました。", 0), 0u)
        << dialogs.shown.back().message;

    // The session of another video: its exact seconds, no question (its
    // codes are the window's).
    const size_t shownBefore = dialogs.shown.size();
    EXPECT_EQ(importFile(dir / "other.csv", {}, true, false, "onTagCSVInput").asked, 0);
    ASSERT_EQ(dialogs.shown.size(), shownBefore + 1);
    ASSERT_EQ(data.size(), 6u);
    EXPECT_EQ(tagLine(*data[4]), "B 7.5-9.25 モール [結果=成功]");
    EXPECT_EQ(tagLine(*data[5]), "A 12.34 ラック \"速い\"");
    EXPECT_TRUE(main->m_fSave);

    // One undo takes the session's two away, the next the export's three.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    clickCell(edit->tagTableView, 0, 4);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 4u);
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->tagTableData.size(), 1u);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(main->tagDataModel.data.size(), 6u);
    // The question before duplicates and the journal are the XML import's too.
}

// A damaged CSV is told line by line and what could be read is offered; a
// file that is no tag CSV or XML edit list adds nothing. The file itself is never touched.
TEST_F(Exchange, CsvImportOfADamagedFileOffersWhatCouldBeRead) {
    openVideo("a.mp4");
    press("A0", 1);
    const std::string damaged =
        std::string(TagFileManager::kHeader) +
        "\nA,1,0:00:05,キック,\"\",5.5\nshort,line\nB,2,0:00:07,PG,\"\",7.25\n";
    std::ofstream(dir / "damaged.csv") << damaged;

    dialogs.answers = {kNo};
    EXPECT_EQ(importFile(dir / "damaged.csv", {}, true, false, "onTagCSVInput").asked, 0);
    EXPECT_EQ(main->tagDataModel.data.size(), 1u);
    const std::string question = dialogs.shown.back().message;
    EXPECT_EQ(question.rfind("CSVファイルの一部を読み込めませんでした。", 0), 0u) << question;
    EXPECT_THAT(question, HasSubstr("3行目: 項目が足りないため"));
    EXPECT_THAT(question, HasSubstr("読み込めたタグ 2 件を読み込みますか？"));

    dialogs.answers = {kYes};
    EXPECT_EQ(importFile(dir / "damaged.csv", {}, true, false, "onTagCSVInput").asked, 0);
    ASSERT_EQ(main->tagDataModel.data.size(), 3u);
    EXPECT_EQ(main->tagDataModel.data[2]->time_val, 7.25f);
    EXPECT_THAT(dialogs.shown.back().message, HasSubstr("3行目"));
    EXPECT_EQ(slurp(dir / "damaged.csv"), damaged);

    // Files of something else, and files that are not there, add nothing.
    const std::tuple<const char*, const char*, const char*, const char*> others[] = {
        {"onTagCSVInput", "notes.csv", "買い物\n牛乳\n", "タグのCSVファイルではありません"},
        {"onTagXMLInput", "x.xml", "Team, INDEX\nA,1", "XML編集リストではありません。"}};
    for (const auto& [action, name, text, told] : others) {
        std::ofstream(dir / name) << text;
        for (const std::string& file : {std::string(name), "missing-" + std::string(name)}) {
            SCOPED_TRACE(file);
            EXPECT_EQ(importFile(dir / file, {}, true, false, action).asked, 0);
            if (file == name) {
                EXPECT_THAT(dialogs.shown.back().message, StartsWith(told));
            } else {
                EXPECT_EQ(dialogs.shown.back().style, "error");
            }
        }
    }
    EXPECT_EQ(main->tagDataModel.data.size(), 3u);
}

namespace {

// The menu item and the file it reads.
using LargeImport = std::pair<const char*, const char*>;
class ImportReading : public Exchange, public ::testing::WithParamInterface<LargeImport> {};

// 2,000 tags of the standard window with long comments: 16 MB to read,
// nothing to ask.
std::vector<std::shared_ptr<TagRowData>> largeTags() {
    std::vector<std::shared_ptr<TagRowData>> tags;
    for (int i = 0; i < 2000; ++i)
        tags.push_back(tag(i % 2 == 0, static_cast<float>(10 + i),
                           MainViewController::TAG_LABEL[static_cast<size_t>(i) % 18],
                           std::string(8000, 'x')));
    return tags;
}

} // namespace

// The file is read beside the screen: キャンセル while it reads leaves the
// tags as they were and asks nothing; read to the end, a timer ticks and a
// tag button records meanwhile, a second import is refused, and the file's
// tags come after.
TEST_P(ImportReading, GoesOnBesideTheScreenAndCancelsWithoutATrace) {
    openVideo("a.mp4", 4000.0);
    press("A0", 1);
    const auto [action, name] = GetParam();
    const auto file = dir / name;
    if (file.extension() == ".xml")
        std::ofstream(file) << editListText(largeTags(), 0, 0);
    else
        ASSERT_EQ(TagFileManager::saveCSVFile(file, largeTags(), true), "");
    const auto& data = main->tagDataModel.data;

    dialogs.paths = {file.string()};
    click(action);
    QPointer<QWidget> bar = window->findChild<QWidget*>("importProgress");
    ASSERT_TRUE(bar && bar->isVisible());
    const size_t shown = dialogs.shown.size();
    QTest::mouseClick(bar->findChild<QAbstractButton*>("importReadCancel"), Qt::LeftButton);
    EXPECT_TRUE(!bar || !bar->isVisible());
    QThreadPool::globalInstance()->waitForDone();
    QTest::qWait(50);
    EXPECT_EQ(data.size(), 1u);
    EXPECT_EQ(edit->tagTableData.size(), 1u);
    EXPECT_EQ(dialogs.shown.size(), shown);

    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (bar && bar->isVisible())
            ++ticks;
    });
    timer.start();
    dialogs.paths = {file.string()};
    click(action);
    bar = window->findChild<QWidget*>("importProgress");
    ASSERT_TRUE(bar && bar->isVisible());
    EXPECT_EQ(data.size(), 1u);
    const size_t panels = dialogs.panels.size();
    click(action);
    EXPECT_EQ(dialogs.panels.size(), panels);
    EXPECT_TRUE(dialogs.saw("ファイルを読み込んでいるところです。読み終わるか、キャンセルしてから"
                            "読み込んでください。"));
    // Recorded beside the read (which a fast machine may have finished by now).
    press("B0", 2);
    EXPECT_TRUE(std::any_of(data.begin(), data.end(), [](const auto& tag) {
        return !tag->team && tag->time_val == 2.0f && tag->name == "ラック";
    }));
    ASSERT_TRUE(imported(window));
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(dialogs.shown.back().message.rfind("2000 件のタグを読み込みました。", 0), 0u)
        << dialogs.shown.back().message;
    EXPECT_EQ(data.size(), 2002u);
    EXPECT_EQ(edit->tagTableData.size(), 2002u);
}

INSTANTIATE_TEST_SUITE_P(XmlAndCsv, ImportReading,
                         ::testing::Values(LargeImport{"onTagXMLInput", "large.xml"},
                                           LargeImport{"onTagCSVInput", "large.csv"}),
                         [](const auto& info) {
                             return std::string(
                                 info.param.first == std::string("onTagXMLInput") ? "Xml" : "Csv");
                         });

// 20,000 codes without a team: one table to answer, 全部をチームB sets every
// row, the question stays on the screen and the report lists a few codes
// and counts the rest.
TEST_F(Exchange, ImportOfTwentyThousandCodesAsksInATableAndReportsInShort) {
    openVideo("a.mp4", 4000.0);
    std::string xml = "<file><ALL_INSTANCES>";
    for (int i = 0; i < 20000; ++i) {
        const std::string at = std::to_string(i / 10) + "." + std::to_string(i % 10);
        xml += "<instance><ID>" + std::to_string(i + 1) + "</ID><start>" + at + "</start><end>" +
               at + "</end><code>コード" + std::to_string(i) + "</code></instance>";
    }
    xml += "</ALL_INSTANCES></file>";
    std::ofstream(dir / "many.xml") << xml;

    const TeamAnswer::Seen seen = importFile(dir / "many.xml", {TeamAnswer::kAll});
    EXPECT_EQ(seen.rows, 20000);
    EXPECT_TRUE(seen.chosen);
    EXPECT_TRUE(seen.fits);
    const auto& data = main->tagDataModel.data;
    ASSERT_EQ(data.size(), 20000u);
    EXPECT_TRUE(std::none_of(data.begin(), data.end(), [](const auto& tag) { return tag->team; }));
    const std::string& report = dialogs.shown.back().message;
    EXPECT_EQ(report.rfind("20000 件のタグを読み込みました。", 0), 0u) << report.substr(0, 200);
    EXPECT_THAT(report, HasSubstr("コードウィンドウにないコード: コード0 コード1 "));
    EXPECT_THAT(report, HasSubstr(" コード19 ほか 19980 件"));
    EXPECT_LT(report.size(), 1000u);
}

TEST_F(Exchange, MatchReportOnBothScreensWritesItsPages) {
    openVideo("a.mp4", 100.0);
    for (const auto& [id, at] : std::vector<std::pair<std::string, double>>{
             {"A12", 30}, {"B13", 10}, {"A12", 60}, {"A0", 5}, {"B0", 7}, {"B6", 70}})
        press(id, at);
    dialogs.paths = {(dir / "report").string()}; // typed without the extension
    click("onMatchReport");
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_EQ(dialogs.panels[0].panel.extensions, QStringList{"pdf"});
    EXPECT_EQ(dialogs.shown.back().message, "試合レポートが作成されました。");
    EXPECT_TRUE(std::filesystem::exists(dir / "report-1.png"));
    // The screen's tags are what it counts: two tries of team A.
    EXPECT_NE(slurp(dir / "report.html")
                  .find("<tr><td>トライ</td><td class=\"n\">2</td><td class=\"n\">0</td><td "
                        "class=\"n\">2</td></tr>"),
              std::string::npos);
    click("menu_play_mode_button");
    dialogs.paths = {(dir / "play.pdf").string()};
    click("onPlayMatchReport");
    EXPECT_EQ(dialogs.shown.back().message, "試合レポートが作成されました。");
    EXPECT_TRUE(std::filesystem::exists(dir / "play.html"));
}
