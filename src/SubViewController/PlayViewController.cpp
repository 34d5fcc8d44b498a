#include "SubViewController/PlayViewController.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/TableModels.h"
#include "SubViewClass/VerticallyCenteredTextFieldCell.h"
#include "SubViewController/MomentSequence.h"

PlayViewController::PlayViewController(MainViewController* parent, QWidget* container)
    : TagTableScreen(parent, container, "Play") {
    setObjectName("PlayViewController");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(10);
    grid->addWidget(makeMediaColumn(false), 0, 0);

    auto* list = new QWidget(this);
    auto* l = new QVBoxLayout(list);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(4);
    l->addWidget(makeFilterRow());
    l->addWidget(makeMomentRow());
    // The row number comes first: a click on column 0 never seeks.
    makeTagTable({{"PlayTagIndexCol", "No."},
                  {"PlayTagTeamCol", "チーム"},
                  {"PlayTagTimeCol", "時間"},
                  {"PlayTagNameCol", "タグ"},
                  {"PlayTagCommentCol", "コメント"}},
                 false);
    tagTableView->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    l->addWidget(tagTableView, 1);
    auto* caption = new VerticallyCenteredTextFieldCell("コメント", list);
    caption->setStyleSheet("color: #c9d3da;");
    l->addWidget(caption);
    commentTextView = new QPlainTextEdit(list);
    commentTextView->setObjectName("commentTextView");
    commentTextView->setReadOnly(true);
    commentTextView->setStyleSheet("QPlainTextEdit { background-color: #27343b; color: white;"
                                   " border: 1px solid #4a5a63; border-radius: 3px; }");
    l->addWidget(commentTextView);
    grid->addWidget(list, 0, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);

    connect(tagTableView, &CustomTableView::headerClicked, this,
            &PlayViewController::onTagHeaderClicked);
    connect(tagTableView, &CustomTableView::rowClicked, this,
            &PlayViewController::onSelectTagTableRow);
    viewDidLoad();
}

void PlayViewController::viewDidLoad() {
    tagTableSelectedRowIndex = -1;
}

void PlayViewController::onSelectTagTableRow() {
    endSequence();
    const int row = tagTableView->selectedRow();
    if (tagTableView->clickedRow() < 0 || tagTableView->clickedColumn() == 0 || row < 0 ||
        row >= static_cast<int>(tagTableData.size()))
        return;
    const auto& tag = tagTableData[static_cast<size_t>(row)];
    commentTextView->setPlainText(QString::fromStdString(tag->comment));
    tagTableSelectedRowIndex = tag->index;
    if (myParent)
        myParent->MediaPlayer->seek(tag->time_val, 2.0);
}

void PlayViewController::forgetChosenTag() {
    // Another video (or none): its moments are gone.
    endSequence();
    TagTableScreen::forgetChosenTag();
    commentTextView->clear();
}

void PlayViewController::hideEvent(QHideEvent* event) {
    // Leaving the play screen leaves its sequence.
    if (!event->spontaneous())
        endSequence();
    TagTableScreen::hideEvent(event);
}

void PlayViewController::updateView() {
    TagTableScreen::updateView();
    const double h = height();
    QFont jp("Hiragino Sans GB");
    jp.setPixelSize(std::max(1, static_cast<int>(h * 0.019)));
    commentTextView->setFont(jp);
    // Three lines of comment without taking the list's room.
    const int line = QFontMetrics(jp).lineSpacing();
    commentTextView->setFixedHeight(3 * line + 12);
}

void PlayViewController::onTagHeaderClicked(int column) {
    toggleSortFor(tagModel_->columnIdentifier(column));
    reloadTagDataTable(true);
}

namespace {
// Lead and lag are remembered between runs (the only preferences kept).
QSettings settings() {
    return QSettings("Rucktag", "Rucktag");
}
} // namespace

QWidget* PlayViewController::makeMomentRow() {
    auto* row = new QWidget(this);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(6);
    const QString style = "color: #c9d3da;";
    auto spin = [&](const char* id, const char* label, const char* key, int fallback) {
        auto* caption = new QLabel(QString::fromUtf8(label), row);
        caption->setStyleSheet(style);
        auto* box = new QSpinBox(row);
        box->setObjectName(id);
        box->setRange(0, 60);
        box->setSuffix(" s");
        box->setValue(std::clamp(settings().value(key, fallback).toInt(), 0, 60));
        connect(box, &QSpinBox::valueChanged, this, [key](int v) { settings().setValue(key, v); });
        l->addWidget(caption);
        l->addWidget(box);
        return box;
    };
    momentLeadSpinBox = spin("momentLeadSpinBox", "前", "moments/lead", 8);
    momentLagSpinBox = spin("momentLagSpinBox", "後", "moments/lag", 4);
    auto* playButton = new QPushButton("連続再生", row);
    playButton->setObjectName("onSequencePlay");
    connect(playButton, &QPushButton::clicked, this, &PlayViewController::onSequencePlay);
    auto* outputButton = new QPushButton("ハイライト出力", row);
    outputButton->setObjectName("onHighlightOutput");
    connect(outputButton, &QPushButton::clicked, this, &PlayViewController::onHighlightOutput);
    highlightPerTagCheckBox = new QCheckBox("タグごとに別ファイル", row);
    highlightPerTagCheckBox->setObjectName("highlightPerTagCheckBox");
    highlightPerTagCheckBox->setStyleSheet(style);
    for (QWidget* w : {static_cast<QWidget*>(playButton), static_cast<QWidget*>(outputButton)})
        w->setFocusPolicy(Qt::NoFocus);
    l->addWidget(playButton);
    l->addWidget(outputButton);
    l->addWidget(highlightPerTagCheckBox);
    l->addStretch(1);

    sequence = new MomentSequence(this);
    sequence->onMoment = [this](const Moment& m) { chooseTagOf(m); };
    // Any transport button of this screen ends the sequence.
    for (auto* b : findChildren<QAbstractButton*>())
        if (b->objectName().startsWith("media"))
            connect(b, &QAbstractButton::clicked, this, &PlayViewController::endSequence);
    return row;
}

std::vector<Moment> PlayViewController::listedMoments() const {
    Player* player = myParent ? myParent->MediaPlayer->player() : nullptr;
    const double length = player ? player->duration() : NAN;
    return makeMoments(tagTableData, momentLeadSpinBox->value(), momentLagSpinBox->value(), length);
}

void PlayViewController::onSequencePlay() {
    Player* player = myParent ? myParent->MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return;
    std::vector<Moment> moments = listedMoments();
    if (moments.empty())
        return;
    // The speed chosen: slow play stays slow.
    const float rate = player->rate() > 0                    ? player->rate()
                       : myParent->MediaPlayer->playSlowMode ? MediaPlayerView::kSlowRate
                                                             : MediaPlayerView::kNormalRate;
    sequence->start(player, std::move(moments), rate);
}

bool PlayViewController::sequenceStep(int direction) {
    return sequence && sequence->step(direction);
}

void PlayViewController::endSequence() {
    if (sequence)
        sequence->stop();
}

void PlayViewController::chooseTagOf(const Moment& moment) {
    if (moment.tags.empty())
        return;
    const auto& tag = moment.tags.front();
    tagTableSelectedRowIndex = tag->index;
    reselectChosenTag();
    commentTextView->setPlainText(QString::fromStdString(tag->comment));
}

void PlayViewController::onHighlightOutput() {
    endSequence();
    Player* player = myParent ? myParent->MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return;
    player->pause();
    if (listedMoments().empty()) {
        AlertBox("出力するタグがありません。", "お知らせ", "warning");
        return;
    }
    const bool perTag = highlightPerTagCheckBox->isChecked();
    QWidget* w = window();
    if (!w || w == this)
        return;
    QPointer<PlayViewController> self(this);
    DialogProvider::FilePanel panel{"save highlight video file", {"mp4"}, "Highlight"};
    dialogProvider().saveFilePanel(w, panel, [self, perTag](std::optional<std::string> path) {
        if (self && path)
            self->exportHighlight(*path, perTag);
    });
}

void PlayViewController::exportHighlight(const std::string& path, bool perTag) {
    Player* player = myParent ? myParent->MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem() || player->currentPath().empty())
        return;
    const std::vector<Moment> moments = listedMoments();
    if (moments.empty())
        return;
    auto* windowController = new ClipWindowController(myParent->window());
    ClipViewController* job = windowController->contentViewController();
    job->setJobName("ハイライト出力");
    job->clipInputUrl = player->currentPath();
    job->clipOutputUrl = path;
    for (const Moment& m : moments)
        job->ranges.emplace_back(m.start, m.end);
    if (perTag) {
        // One file per moment, in a folder named as the chosen file.
        std::filesystem::path folder(path);
        folder.replace_extension();
        std::error_code ec;
        const bool made = std::filesystem::create_directories(folder, ec);
        for (size_t i = 0; i < moments.size(); ++i)
            job->separateOutputs.push_back(
                (folder / momentFileName(i + 1, *moments[i].tags.front())).string());
        // A failed job leaves no empty folder of its own making.
        if (made)
            connect(job, &ClipViewController::finished, this, [folder] {
                std::error_code ignored;
                std::filesystem::remove(folder, ignored); // only when empty
            });
    }
    windowController->showWindow();
}
