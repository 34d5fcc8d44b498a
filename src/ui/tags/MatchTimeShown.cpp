// How a screen's list and strip read tag times: as match time where the
// store's match has periods and the 試合時間 switch is on, else as video time.

#include <QCheckBox>
#include <QFontMetrics>
#include <algorithm>

#include "MainViewController.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/Style.h"
#include "tags/TableModels.h"
#include "tags/TagTableScreen.h"
#include "timeline/TagTimeline.h"
#include "workspace/Workspace.h"

QCheckBox* TagTableScreen::makeMatchTimeSwitch(QWidget* parent) {
    matchTimeCheckBox = new QCheckBox("試合時間", parent);
    matchTimeCheckBox->setObjectName(QString::fromStdString(prefix_ + "MatchTimeCheckBox"));
    matchTimeCheckBox->setToolTip("オフで映像時間");
    matchTimeCheckBox->setStyleSheet(Style::teamCheckBox());
    matchTimeCheckBox->hide();
    if (Workspace* shared = workspace()) {
        matchTimeCheckBox->setChecked(shared->showMatchTime());
        connect(matchTimeCheckBox, &QCheckBox::toggled, shared, &Workspace::setShowMatchTime);
        connect(shared, &Workspace::showMatchTimeChanged, this, [this] { followMatch(); });
    }
    return matchTimeCheckBox;
}

void TagTableScreen::followMatch() {
    if (!myParent || !tagModel_)
        return;
    const MatchInfo& match = myParent->tagDataModel.match;
    const bool periods = !match.periods.empty();
    const bool on = workspace()->showMatchTime();
    if (matchTimeCheckBox) {
        const QSignalBlocker quiet(matchTimeCheckBox);
        matchTimeCheckBox->setChecked(on);
        matchTimeCheckBox->setVisible(periods);
    }
    std::optional<MatchInfo> shown;
    if (periods && on)
        shown = match;
    // Every press passes here: the columns are fitted again only for another
    // match or the switch.
    const bool changed = shown != tagModel_->match();
    tagTimeline->setMatch(shown);
    tagModel_->setMatch(std::move(shown));
    if (changed)
        fitShownColumns();
}

QString TagTableScreen::timeSample(bool lasting) const {
    const std::optional<MatchInfo>& match = tagModel_->match();
    if (!match)
        return lasting ? "00:00:00–00:00:00" : "00:00:00";
    // The widest text a time of this match can read as.
    const QFontMetrics fm(tagTableView->font());
    QString widest = "ハーフタイム";
    const auto consider = [&](const QString& text) {
        if (fm.horizontalAdvance(text) > fm.horizontalAdvance(widest))
            widest = text;
    };
    for (const MatchPeriod& p : match->periods) {
        consider(QString::fromStdString(p.name) + " 00:00");
        consider(QString::fromStdString(p.name) + "後");
    }
    return lasting ? widest + "–" + widest : widest;
}
