#include "match/MatchPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

#include "MainViewController.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "match/PeriodMarking.h"
#include "player/Player.h"
#include "tags/TagTableScreen.h"

namespace {
const char* const kTeamDefault[2] = {"チームA", "チームB"};
} // namespace

MatchPanel::MatchPanel(TagTableScreen* screen, EditableNSTextField* teamA,
                       EditableNSTextField* teamB)
    : QWidget(screen), screen_(screen), teams_{teamA, teamB} {
    setObjectName("matchPanel");
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(makeRow());
    for (int t = 0; t < 2; ++t)
        connect(teams_[t], &QLineEdit::editingFinished, this, [this, t] { nameTeam(t); });
    if (MainViewController* main = screen_->myParent)
        connect(main->session, &SessionController::storeChanged, this, &MatchPanel::followStore);
    showMatch();
}

QWidget* MatchPanel::makeRow() {
    // Three short rows: the comment column is narrow on a 1366-pixel screen,
    // and a period's text should show whole.
    auto* row = new QWidget(this);
    auto* g = new QGridLayout(row);
    g->setContentsMargins(0, 0, 0, 0);
    g->setHorizontalSpacing(4);
    g->setVerticalSpacing(4);
    auto* caption = new QLabel("期間", row);
    caption->setStyleSheet(Style::caption());
    g->addWidget(caption, 0, 0);
    periodList = new QComboBox(row);
    periodList->setObjectName("periodList");
    periodList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    g->addWidget(periodList, 0, 1, 1, 4);
    periodEdge = new QComboBox(row);
    periodEdge->setObjectName("periodEdge");
    periodEdge->addItems({"開始", "終了"});
    periodEdge->setToolTip("動かす側");
    g->addWidget(periodEdge, 2, 0);
    const auto button = [&](const char* title, const char* id, const char* tip, int r, int c,
                            int span, auto act) {
        auto* b = new GeneralButton(title, id, row);
        b->setToolTip(tip);
        connect(b, &QPushButton::clicked, this, act);
        g->addWidget(b, r, c, 1, span);
    };
    button("開始", "periodStart", "期間の開始([)", 1, 0, 2, [this] { markStart(); });
    button("終了", "periodEnd", "期間の終了(])", 1, 2, 2, [this] { markEnd(); });
    button("削除", "periodRemove", "選んだ期間を削除", 1, 4, 1, [this] { removeChosen(); });
    button("-1秒", "periodBackSecond", "1秒前へ", 2, 1, 1, [this] { moveChosen(-1.0); });
    button("-1コマ", "periodBackFrame", "1コマ前へ", 2, 2, 1,
           [this] { moveChosen(-frameSeconds()); });
    button("+1コマ", "periodForwardFrame", "1コマ後へ", 2, 3, 1,
           [this] { moveChosen(frameSeconds()); });
    button("+1秒", "periodForwardSecond", "1秒後へ", 2, 4, 1, [this] { moveChosen(1.0); });
    for (int c = 1; c < 5; ++c)
        g->setColumnStretch(c, 1);
    return row;
}

bool MatchPanel::videoIsOpen() const {
    const MediaPlayerView* view = screen_->mediaView();
    return screen_->myParent && view && view->isOpenStatus().value_or(false);
}

template <typename Change> bool MatchPanel::edit(Change change) {
    if (!videoIsOpen() || !screen_->myParent->mayChangeTags())
        return false;
    MainViewController* main = screen_->myParent;
    MatchInfo after = main->tagDataModel.match;
    std::string why;
    if (!change(after, why)) {
        AlertBox(why, "お知らせ", "warning");
        return false;
    }
    main->performTagEdit(TagEdit::match(main->tagDataModel, std::move(after)));
    return true;
}

void MatchPanel::markStart() {
    const Player* player = screen_->currentPlayer();
    const double now = player ? player->currentTime() : 0.0;
    if (edit([now](MatchInfo& m, std::string& why) { return markPeriodStart(m, now, why); }))
        periodList->setCurrentIndex(periodList->count() - 1);
}

void MatchPanel::markEnd() {
    const Player* player = screen_->currentPlayer();
    const double now = player ? player->currentTime() : 0.0;
    if (edit([now](MatchInfo& m, std::string& why) { return markPeriodEnd(m, now, why); }))
        periodList->setCurrentIndex(periodList->count() - 1);
}

void MatchPanel::moveChosen(double seconds) {
    const int which = periodList->currentIndex();
    const bool end = periodEdge->currentIndex() == 1;
    const bool moved = edit([&](MatchInfo& m, std::string& why) {
        return movePeriodEdge(m, which < 0 ? m.periods.size() : static_cast<size_t>(which), end,
                              seconds, why);
    });
    if (!moved)
        return;
    periodList->setCurrentIndex(which);
    // The analyst sees the frame the edge now stands on.
    const MatchPeriod& p =
        screen_->myParent->tagDataModel.match.periods[static_cast<size_t>(which)];
    if (Player* player = screen_->currentPlayer())
        player->seekExact(end ? p.end : p.start);
}

void MatchPanel::removeChosen() {
    const int which = periodList->currentIndex();
    if (edit([which](MatchInfo& m, std::string& why) {
            return removePeriod(m, which < 0 ? m.periods.size() : static_cast<size_t>(which), why);
        }))
        periodList->setCurrentIndex(std::min(which, periodList->count() - 1));
}

void MatchPanel::nameTeam(int team) {
    const QString typed = teams_[team]->text().trimmed();
    const std::string name = typed == kTeamDefault[team] ? std::string() : typed.toStdString();
    MainViewController* main = screen_->myParent;
    if (!main || name == main->tagDataModel.match.teams[static_cast<size_t>(team)] ||
        !edit([&](MatchInfo& m, std::string&) {
            m.teams[static_cast<size_t>(team)] = name;
            return true;
        }))
        showMatch(); // as it was: nothing changed, or no video to name it for
}

void MatchPanel::followStore(const StoreChange& change) {
    if (!change.edit || change.edit->kind == TagEdit::Kind::Match)
        showMatch();
}

void MatchPanel::showMatch() {
    static const MatchInfo none;
    const MatchInfo& match = screen_->myParent ? screen_->myParent->tagDataModel.match : none;
    for (int t = 0; t < 2; ++t) {
        const std::string& name = match.teams[static_cast<size_t>(t)];
        const QString shown = name.empty() ? kTeamDefault[t] : QString::fromStdString(name);
        if (teams_[t]->text() != shown)
            teams_[t]->setText(shown);
    }
    const int chosen = periodList->currentIndex();
    periodList->clear();
    for (const MatchPeriod& p : match.periods)
        periodList->addItem(QString::fromStdString(periodText(p)));
    periodList->setCurrentIndex(std::min(std::max(chosen, 0), periodList->count() - 1));
}
