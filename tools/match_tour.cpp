// The match tour: a match of two named teams with two halves and squads,
// coded with shirt numbers typed after the tag buttons; the squad dialog,
// the edit screen in match time, the tally by period and the first page of
// the match report.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "coding/CodePanel.h"
#include "match/Squad.h"
#include "player/Player.h"
#include "session/TagEdit.h"
#include "squads/SquadDialog.h"
#include "tour.h"

namespace {

using namespace tours;

Squad squadOf(const char* name, const std::vector<const char*>& surnames) {
    static const char* positions[] = {"PR", "HO", "PR",  "LO",  "LO",  "FL",  "FL", "No8",
                                      "SH", "SO", "WTB", "CTB", "CTB", "WTB", "FB"};
    Squad s{name, {}};
    for (int n = 1; n <= 25; ++n)
        s.players.push_back({n, surnames[static_cast<size_t>(n - 1) % surnames.size()],
                             n <= 15 ? positions[n - 1] : "控え"});
    return s;
}

bool writeSquads() {
    std::filesystem::create_directories(squadFolder());
    const Squad squads[] = {
        squadOf("東京", {"佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村", "小林",
                         "加藤", "吉田", "山田", "佐々木", "山口", "松本"}),
        squadOf("大阪", {"井上", "木村", "林", "斎藤", "清水", "山崎", "森", "池田", "橋本", "阿部",
                         "石川", "山下", "中島", "石井", "小川"})};
    for (const Squad& s : squads) {
        std::ofstream out(squadFilePath(squadFolder(), s.name));
        out << squadJson(s);
        if (!out)
            return false;
    }
    return true;
}

void click(QWidget* w) {
    if (w)
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    QTest::qWait(80);
}

QAbstractButton* buttonNamed(QWidget* in, const char* id) {
    return in->findChild<QAbstractButton*>(id);
}

// Marks a period edge by its button with the video at `at`.
void markAt(MainViewController* main, Player* player, double at, const char* id) {
    player->seekExact(at);
    QTest::qWait(150);
    click(buttonNamed(main->editViewController, id));
}

bool chooseSquads(MainWindow& window, EditViewController* edit) {
    click(buttonNamed(edit, "matchPlayersButton"));
    auto* dialog = window.findChild<SquadDialog*>();
    if (!dialog || !dialog->isVisible())
        return false;
    for (const auto& [id, name] : {std::pair{"squadChooserA", "東京"}, {"squadChooserB", "大阪"}}) {
        auto* chooser = dialog->findChild<QComboBox*>(id);
        const int at = chooser ? chooser->findText(name) : -1;
        if (at < 0)
            return false;
        chooser->setCurrentIndex(at);
        emit chooser->activated(at);
    }
    QTest::qWait(400);
    shoot("squad-dialog");
    click(dialog->findChild<QPushButton*>("squadsOk"));
    return !dialog->isVisible();
}

// A tag button pressed at `at`, then the shirt number typed.
void tagWithPlayer(EditViewController* edit, Player* player, double at, const char* button,
                   const char* number) {
    player->seekExact(at);
    QTest::qWait(120);
    for (TagButton* b : edit->codePanel->tagButtons)
        if (b->objectName() == button)
            click(b);
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : edit;
    for (const char* d = number; *d; ++d)
        QTest::keyClick(target, static_cast<Qt::Key>(Qt::Key_0 + (*d - '0')));
    QTest::qWait(60);
}

} // namespace

int matchTour(MainWindow& window, const std::string& video) {
    MainViewController* main = window.mainViewController();
    EditViewController* edit = main->editViewController;
    PlayViewController* play = main->playViewController;
    if (!writeSquads())
        return failed("the squads could not be written");
    const QString folder = outFolder() + "/match-video";
    QDir().mkpath(folder);
    const QString copy = folder + "/2026-09-06_東京戦.mp4";
    QFile::remove(copy);
    for (const QString& stale : QDir(folder).entryList({"*.csv", "*.json"}))
        QFile::remove(folder + "/" + stale);
    if (!QFile::copy(QString::fromStdString(video), copy) || !openAndWait(main, copy.toStdString()))
        return failed("the match video did not open");
    Player* player = main->MediaPlayer->player();

    MatchInfo named = main->tagDataModel.match;
    named.teams = {"東京", "大阪"};
    main->performTagEdit(TagEdit::match(main->tagDataModel, named));
    markAt(main, player, 4, "periodStart");
    markAt(main, player, 56, "periodEnd");
    markAt(main, player, 64, "periodStart");
    markAt(main, player, 117, "periodEnd");
    if (main->tagDataModel.match.periods.size() != 2)
        return failed("the periods were not marked");
    if (!chooseSquads(window, edit))
        return failed("the squads were not chosen");

    struct Press {
        double at;
        const char* button;
        const char* number;
    };
    const Press presses[] = {
        {6, "A0", "9"},   {9, "B2", "7"},   {13, "A2", "12"},  {17, "A1", "4"},   {21, "B0", "9"},
        {25, "A4", "2"},  {29, "B3", "10"}, {33, "A2", "6"},   {38, "B2", "6"},   {43, "A0", "9"},
        {47, "A8", "13"}, {52, "B5", "15"}, {60, "A3", ""},    {66, "B4", "2"},   {70, "A2", "12"},
        {74, "B0", "9"},  {79, "A6", "1"},  {84, "B2", "4"},   {88, "A0", "9"},   {93, "B8", "11"},
        {98, "A2", "7"},  {103, "B1", "8"}, {108, "A5", "10"}, {112, "A8", "14"}, {119, "B3", ""}};
    // A click on the list puts the focus on the edit screen, as a person would.
    window.activateWindow();
    click(edit->tagTableView->viewport());
    for (const Press& p : presses)
        tagWithPlayer(edit, player, p.at, p.button, p.number);
    player->seekExact(70);
    QTest::qWait(800);
    shoot("match-edit");

    main->onMenuSelectPlayMode();
    QTest::qWait(400);
    const int byPeriod = play->tallyLabelPopUp->findText("期間別");
    if (byPeriod < 0)
        return failed("the tally offers no 期間別");
    play->tallyLabelPopUp->setCurrentIndex(byPeriod);
    emit play->tallyLabelPopUp->activated(byPeriod);
    QTest::qWait(400);
    shoot("match-tally");

    // The report beside the video's copy, its pages as PNG: the first is kept.
    click(buttonNamed(play, "onPlayMatchReport"));
    const QString page = outFolder() + "/2026-09-06_東京戦-1.png";
    if (!QTest::qWaitFor([&] { return QFile::exists(page); }, 20000))
        return failed("the report wrote no page");
    QFile::remove(outFolder() + "/report-page.png");
    QFile::copy(page, outFolder() + "/report-page.png");
    madeShot("report-page");
    return 0;
}
