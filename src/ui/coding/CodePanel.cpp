// The edit screen's tag buttons: built from the chosen code window, pressed
// by the mouse or by a code's key, recorded through the window's rules.

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "coding/CodePanel.h"

#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/Style.h"
#include "codewindow/CodeWindowFile.h"
#include "coding/CodeWindowEditor.h"
#include "text/UnicodeText.h"
#include "workspace/Workspace.h"

namespace {

// The standard window's tags of a team in rows of a grid, by colour group:
// open play, set pieces and restarts, change of possession, scores and
// discipline, and the check.
const std::vector<std::vector<int>> kButtonRows = {{0, 1, 2},   {3, 4},       {5, 6, 7},   {8},
                                                   {9, 10, 11}, {12, 13, 14}, {15, 16, 17}};

// Lines of the start-up notice about window files.
constexpr size_t kProblemsShown = 8;
constexpr size_t kProblemBytes = 300;

// Columns of a custom window's grid: up to 40 codes per team still fit a
// 1366×768 screen in four columns of ten.
int columnsFor(size_t codes) {
    return codes <= 5 ? 1 : codes <= 12 ? 2 : codes <= 24 ? 3 : 4;
}

} // namespace

CodePanel::CodePanel(std::function<double()> clock, Workspace* workspace, QWidget* parent)
    : QWidget(parent), clock_(std::move(clock)), workspace_(workspace) {
    auto* panel = this;
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    codeWindowPopUp = new QComboBox(panel);
    codeWindowPopUp->setObjectName("codeWindowPopUp");
    codeWindowPopUp->setToolTip("コードウィンドウ");
    codeWindowEditButton = new QPushButton("編集…", panel);
    codeWindowEditButton->setObjectName("codeWindowEditButton");
    codeWindowEditButton->setToolTip(
        "コードウィンドウを編集します（標準は複製して編集します）。読込・書き出しもここから");
    connect(codeWindowEditButton, &QPushButton::clicked, this, &CodePanel::openCodeWindowEditor);
    auto* chooser = new QHBoxLayout();
    chooser->setSpacing(6);
    chooser->addWidget(codeWindowPopUp, 1);
    chooser->addWidget(codeWindowEditButton);
    playersButton = new QPushButton("選手…", panel);
    playersButton->setObjectName("matchPlayersButton");
    playersButton->setToolTip("選手名簿と、この試合に出場した選手");
    chooser->addWidget(playersButton);
    anglesButton = new QPushButton("アングル…", panel);
    anglesButton->setObjectName("matchAnglesButton");
    anglesButton->setToolTip("別のカメラの動画を加え、本編に合わせます");
    chooser->addWidget(anglesButton);
    l->addLayout(chooser);
    // The buttons scroll when a window has more than the screen can show:
    // the main window never grows past the screen with them.
    codeScroll = new QScrollArea(panel);
    codeScroll->setObjectName("codeScroll");
    codeScroll->setFrameShape(QFrame::NoFrame);
    codeScroll->setWidgetResizable(true);
    auto* inner = new QWidget(codeScroll);
    auto* rows = new QVBoxLayout(inner);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(6);
    auto* teams = new QHBoxLayout();
    teams->setSpacing(10);
    teams->addWidget(makeTeamPanel(true, inner), 1);
    teams->addWidget(makeTeamPanel(false, inner), 1);
    rows->addLayout(teams, 1);
    labelPanel = new QWidget(inner);
    labelPanel->setObjectName("labelPanel");
    new QGridLayout(labelPanel);
    labelPanel->layout()->setContentsMargins(0, 0, 0, 0);
    labelPanel->hide();
    rows->addWidget(labelPanel);
    playerPanel = new QWidget(inner);
    playerPanel->setObjectName("playerPanel");
    auto* teamsOfPlayers = new QHBoxLayout(playerPanel);
    teamsOfPlayers->setContentsMargins(0, 0, 0, 0);
    teamsOfPlayers->setSpacing(10);
    for (QGridLayout*& g : playerGrids_) {
        g = new QGridLayout();
        g->setSpacing(3);
        teamsOfPlayers->addLayout(g, 1);
    }
    playerPanel->hide();
    rows->addWidget(playerPanel);
    codeScroll->setWidget(inner);
    // The screen's own background shows through, as before the scrolling.
    inner->setAutoFillBackground(false);
    codeScroll->viewport()->setAutoFillBackground(false);
    l->addWidget(codeScroll, 1);
    connect(codeWindowPopUp, &QComboBox::activated, this, [this](int which) {
        chooseCodeWindow(which);
        workspace_->rememberCodeWindow(QString::fromStdString(codeWindow().name));
    });
    loadCodeWindows();
}

QWidget* CodePanel::makeTeamPanel(bool teamA, QWidget* parent) {
    auto* panel = new QWidget(parent);
    auto* l = new QVBoxLayout(panel);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    auto* header = new EditableNSTextField(teamA ? "チームA" : "チームB", panel);
    header->setObjectName(teamA ? "teamA_header" : "teamB_header");
    header->setAlignment(Qt::AlignCenter);
    header->setStyleSheet(Style::teamHeader(teamA));
    header->setMinimumHeight(28);
    (teamA ? teamA_header : teamB_header) = header;
    l->addWidget(header);
    auto* buttons = new QWidget(panel);
    auto* g = new QGridLayout(buttons);
    g->setContentsMargins(0, 0, 0, 0);
    g->setSpacing(5);
    buttonGrids_[teamA ? 0 : 1] = g;
    l->addWidget(buttons, 1);
    return panel;
}

void CodePanel::loadCodeWindows(const std::string& choose) {
    CodeWindowList list = listCodeWindows(codeWindowFolder());
    windows_ = std::move(list.windows);
    windowFiles_ = std::move(list.files);
    codeWindowPopUp->clear();
    for (const CodeWindow& w : windows_)
        codeWindowPopUp->addItem(QString::fromStdString(w.name));
    if (!choose.empty())
        workspace_->rememberCodeWindow(QString::fromStdString(choose));
    const QString wanted = workspace_->rememberedCodeWindow();
    chooseCodeWindow(std::max(0, codeWindowPopUp->findText(wanted)));
    // Said once a run; the editor reports its own files.
    if (list.problems.empty() || std::exchange(windowProblemsShown_, true))
        return;
    // The first few, so that the box and its button stay on the screen
    // however many files are bad; the editor's 読込… says all of a file.
    std::string note = "コードウィンドウのファイルに問題があります。";
    const size_t shown = std::min(list.problems.size(), kProblemsShown);
    for (size_t i = 0; i < shown; ++i) {
        // A name or key of thousands of characters is cut too.
        const std::string_view line = utf8Prefix(list.problems[i], kProblemBytes);
        note += "\n" + std::string(line) + (line.size() < list.problems[i].size() ? "…" : "");
    }
    if (shown < list.problems.size())
        note += "\nほか " + std::to_string(list.problems.size() - shown) + " 件";
    // Once the window is up, not over an empty screen.
    QTimer::singleShot(0, this, [note] { AlertBox(note, "お知らせ", "warning"); });
}

void CodePanel::chooseCodeWindow(int which) {
    if (which < 0 || static_cast<size_t>(which) >= windows_.size())
        return;
    codeWindowPopUp->setCurrentIndex(which);
    recorder_ = std::make_unique<CodeRecorder>(windows_[static_cast<size_t>(which)], clock_);
    // Built out of sight: each button is laid out and sized once, when the
    // grids show again, not at every button added.
    for (QGridLayout* g : buttonGrids_)
        g->parentWidget()->hide();
    for (TagButton* b : tagButtons)
        delete b;
    tagButtons.clear();
    UEImageButtonA = UEImageButtonB = nullptr;
    buildTagButtons(true);
    buildTagButtons(false);
    for (QGridLayout* g : buttonGrids_)
        g->parentWidget()->show();
    buildLabelPanel();
    emit windowChosen();
}

void CodePanel::openCodeWindowEditor() {
    const int which = codeWindowPopUp->currentIndex();
    if (which < 0 || static_cast<size_t>(which) >= windows_.size())
        return;
    std::vector<std::string> others;
    for (size_t i = 0; i < windows_.size(); ++i)
        if (i != static_cast<size_t>(which) || windows_[i].builtIn)
            others.push_back(windows_[i].name);
    auto* editor =
        new CodeWindowEditor(windows_[static_cast<size_t>(which)],
                             windowFiles_[static_cast<size_t>(which)], std::move(others), this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::finished, this, [this, editor] {
        if (editor->deleted())
            loadCodeWindows(std::string(kStandardWindowName));
        else if (!editor->savedName().empty())
            loadCodeWindows(editor->savedName());
    });
    editor->open();
}

void CodePanel::buildLabelPanel() {
    for (QPushButton* b : labelButtons)
        delete b;
    labelButtons.clear();
    auto* g = static_cast<QGridLayout*>(labelPanel->layout());
    while (QLayoutItem* item = g->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const CodeWindow& window = codeWindow();
    labelPanel->setVisible(!window.labels.empty());
    // The group names take their width, the texts share the rest.
    for (int c = 0; c < g->columnCount(); ++c)
        g->setColumnStretch(c, c == 0 ? 0 : 1);
    size_t most = 0;
    for (const LabelGroup& group : window.labels)
        most = std::max(most, group.texts.size());
    for (size_t c = 1; c <= most; ++c)
        g->setColumnStretch(static_cast<int>(c), 1);
    // A group a row: its name, then its texts.
    for (size_t r = 0; r < window.labels.size(); ++r) {
        const LabelGroup& group = window.labels[r];
        auto* name = new QLabel(QString::fromStdString(group.group), labelPanel);
        name->setStyleSheet(Style::caption());
        g->addWidget(name, static_cast<int>(r), 0);
        for (size_t t = 0; t < group.texts.size(); ++t) {
            const QString id = QString("label_%1_%2").arg(r).arg(t);
            auto* b = new LabelButton(QString::fromStdString(group.texts[t]), id, labelPanel);
            b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
            b->setMinimumSize(20, 24);
            const std::string key = t < group.keys.size() ? group.keys[t] : "";
            if (!key.empty())
                b->setToolTip(
                    QString::fromStdString(group.group + ": " + group.texts[t] + " (" + key + ")"));
            connect(b, &QPushButton::clicked, this, [this, r, t] {
                const LabelGroup& lg = codeWindow().labels[r];
                emit labelButtonClicked(lg.group, lg.texts[t]);
            });
            g->addWidget(b, static_cast<int>(r), static_cast<int>(t) + 1);
            labelButtons.push_back(b);
        }
    }
}

void CodePanel::showLabels(const TagLabels* labels, int team) {
    const auto carries = [labels](const std::string& group, const std::string& text) {
        return labels &&
               std::find(labels->begin(), labels->end(), std::pair(group, text)) != labels->end();
    };
    size_t b = 0;
    for (const LabelGroup& group : codeWindow().labels)
        for (const std::string& text : group.texts)
            labelButtons[b++]->setChecked(carries(group.group, text));
    const std::string group(kPlayerGroup);
    b = 0;
    for (size_t t = 0; t < 2; ++t)
        for (const MatchPlayer& p : players_[t]) {
            LabelButton* button = playerButtons[b++];
            button->setChecked(carries(group, playerLabel(p)));
            // A player labels the tags of the team.
            button->setEnabled(team < 0 || static_cast<size_t>(team) == t);
        }
}

void CodePanel::setPlayers(const std::array<std::vector<MatchPlayer>, 2>& players) {
    if (players == players_)
        return;
    players_ = players;
    buildPlayerPanel();
}

void CodePanel::buildPlayerPanel() {
    for (LabelButton* b : playerButtons)
        delete b;
    playerButtons.clear();
    // Rows of eight: a match day squad of 23 is three rows under each team.
    constexpr size_t kColumns = 8;
    for (size_t t = 0; t < 2; ++t) {
        for (size_t c = 0; c < kColumns; ++c)
            playerGrids_[t]->setColumnStretch(static_cast<int>(c), 1);
        for (size_t i = 0; i < players_[t].size(); ++i) {
            const MatchPlayer& p = players_[t][i];
            const QString id = QString("player_%1_%2").arg(t == 0 ? 'A' : 'B').arg(p.number);
            auto* b = new LabelButton(QString::number(p.number), id, playerPanel);
            b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
            b->setMinimumSize(20, 22);
            const std::string text = playerLabel(p);
            b->setToolTip(QString::fromStdString(
                std::string(kPlayerGroup) + ": " + text +
                (p.position.empty() ? std::string() : " (" + p.position + ")")));
            connect(b, &QPushButton::clicked, this,
                    [this, text] { emit labelButtonClicked(std::string(kPlayerGroup), text); });
            playerGrids_[t]->addWidget(b, static_cast<int>(i / kColumns),
                                       static_cast<int>(i % kColumns));
            playerButtons.push_back(b);
        }
    }
    playerPanel->setVisible(!playerButtons.empty());
}

void CodePanel::buildTagButtons(bool teamA) {
    QGridLayout* g = buttonGrids_[teamA ? 0 : 1];
    QWidget* holder = g->parentWidget();
    const CodeWindow& window = codeWindow();
    const size_t n = window.codes.size();
    const int columns = columnsFor(n);
    for (int c = 0; c < g->columnCount(); ++c)
        g->setColumnStretch(c, 0);
    for (int r = 0; r < g->rowCount(); ++r)
        g->setRowStretch(r, 0);
    auto add = [&](size_t i, int row, int column, int span) {
        const Code& code = window.codes[i];
        auto* b = new TagButton(QString::fromStdString(code.name),
                                QString::fromStdString(codeIdentifier(teamA, i)), holder);
        // The grid decides the size, never the text: long names shrink.
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        b->setMinimumSize(20, 18);
        if (!window.builtIn) {
            const QColor face(QString::fromStdString(code.color));
            b->setColors(face, face.darker(130));
        }
        connect(b, &QPushButton::clicked, this, [this, b] { emit tagButtonClicked(b); });
        g->addWidget(b, row, column, 1, span);
        b->show();
        tagButtons.push_back(b);
        // The key is told where the name is, as a label button's is.
        if (const std::string& keyText = teamA ? code.keyA : code.keyB; !keyText.empty())
            b->setToolTip(QString::fromStdString(code.name + " (" + keyText + ")"));
        if (window.builtIn && code.name == "UE") {
            (teamA ? UEImageButtonA : UEImageButtonB) = b;
            b->setToolTip("アンフォーストエラー");
        }
    };
    if (window.builtIn) {
        for (size_t r = 0; r < kButtonRows.size(); ++r) {
            const auto& row = kButtonRows[r];
            // A lone button of a row spans it, two share it.
            const int span = row.size() == 1 ? 6 : row.size() == 2 ? 3 : 2;
            for (size_t c = 0; c < row.size(); ++c)
                add(static_cast<size_t>(row[c]), static_cast<int>(r), static_cast<int>(c) * span,
                    span);
        }
        return;
    }
    const int rows =
        static_cast<int>((n + static_cast<size_t>(columns) - 1) / static_cast<size_t>(columns));
    for (size_t i = 0; i < n; ++i)
        add(i, static_cast<int>(i) / columns, static_cast<int>(i) % columns, 1);
    // Few codes keep the standard buttons' height rather than growing.
    for (int r = 0; r < std::max(rows, static_cast<int>(kButtonRows.size())); ++r)
        g->setRowStretch(r, 1);
    for (int c = 0; c < columns; ++c)
        g->setColumnStretch(c, 1);
}

void CodePanel::showPress(size_t code, bool teamA) {
    // Team A's buttons first, each team's in code order.
    const size_t n = codeWindow().codes.size();
    if (code >= n || tagButtons.size() < 2 * n)
        return;
    TagButton* b = tagButtons[teamA ? code : n + code];
    b->setDown(true);
    QTimer::singleShot(150, b, [b] { b->setDown(false); });
}

TagEdit CodePanel::press(TagDataModel& store, size_t code, bool teamA) {
    if (code >= codeWindow().codes.size()) {
        TagEdit none; // no steps: nothing recorded, as the recorder says it
        none.kind = TagEdit::Kind::Steps;
        return none;
    }
    return recorder_->press(store, code, teamA);
}

TagEdit CodePanel::press(TagDataModel& store, const TagButton& button) {
    // The button's name is its team and code: "A3" is team A's fourth code.
    const QString id = button.objectName();
    bool number = false;
    const qulonglong code = id.mid(1).toULongLong(&number);
    if (id.isEmpty() || !number) {
        TagEdit none; // no steps: nothing recorded, as the recorder says it
        none.kind = TagEdit::Kind::Steps;
        return none;
    }
    return recorder_->press(store, static_cast<size_t>(code), id.front() == 'A');
}
