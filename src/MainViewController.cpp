#include "MainViewController.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "Media/Player.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/SystemLog.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/KeyEvents.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/MenuButton.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/MomentSequence.h"
#include "SubViewController/PlayViewController.h"

namespace {
const QColor kBackground = QColor::fromRgbF(0.2f, 0.253f, 0.285f);
constexpr int kMenuWidth = 86;
} // namespace

MainViewController::MainViewController(QWidget* parent, std::unique_ptr<Player> player)
    : QWidget(parent) {
    setObjectName("MainViewController");

    menu_button_panel = new QWidget(this);
    menu_button_panel->setObjectName("menu_button_panel");
    menu_button_panel->setFixedWidth(kMenuWidth);
    auto* menuLayout = new QVBoxLayout(menu_button_panel);
    menuLayout->setContentsMargins(6, 10, 6, 10);
    menuLayout->setSpacing(12);
    menu_editMode_btn = new MenuButton("menu_edit_mode_button", "編集モード", menu_button_panel);
    menu_playMode_btn = new MenuButton("menu_play_mode_button", "再生モード", menu_button_panel);
    for (MenuButton* b : {menu_editMode_btn, menu_playMode_btn}) {
        b->setFixedSize(kMenuWidth - 12, kMenuWidth);
        menuLayout->addWidget(b);
    }
    menuLayout->addStretch(1);
    // The layout's initial state: edit mode shown and chosen.
    menu_editMode_btn->setBackImage();
    connect(menu_editMode_btn, &QToolButton::clicked, this, [this] { onMenuSelectEditMode(); });
    connect(menu_playMode_btn, &QToolButton::clicked, this, [this] { onMenuSelectPlayMode(); });

    editModePanel = new QWidget(this);
    editModePanel->setObjectName("editModePanel");
    playModePanel = new QWidget(this);
    playModePanel->setObjectName("playModePanel");
    playModePanel->hide();

    // Panels sit 10 to the right of the menu column and 10 from the top: the
    // video view's placement counts on it.
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 10, 10, 10);
    layout->setHorizontalSpacing(10);
    layout->addWidget(menu_button_panel, 0, 0);
    layout->addWidget(editModePanel, 0, 1);
    layout->addWidget(playModePanel, 0, 1);
    layout->setColumnStretch(1, 1);

    MediaPlayer = new MediaPlayerView(this, std::move(player));
    resizableTimer_.setSingleShot(true);
    connect(&resizableTimer_, &QTimer::timeout, this, [this] {
        if (auto* w = qobject_cast<MainWindow*>(window()))
            w->setResizable(false);
    });
    journalCheck_.setSingleShot(true);
    connect(&journalCheck_, &QTimer::timeout, this, [this] { reportJournalFailure(); });
    viewDidLoad();
    qApp->installEventFilter(this);
}

MainViewController::~MainViewController() {
    qApp->removeEventFilter(this);
}

void MainViewController::viewDidLoad() {
    sys_index = 0;
    auto place = [](QWidget* screen, QWidget* panel) {
        auto* l = new QVBoxLayout(panel);
        l->setContentsMargins(0, 0, 0, 0);
        l->addWidget(screen);
    };
    editViewController = new EditViewController(this, editModePanel);
    place(editViewController, editModePanel);
    playViewController = new PlayViewController(this, playModePanel);
    place(playViewController, playModePanel);

    MediaPlayer->setupPlayerOption(this);
    MediaPlayer->beforeOpen = [this](const std::string&) { return askBeforeReplacingVideo(); };
    connect(MediaPlayer, &MediaPlayerView::openFailed, this,
            [this](const QString& path, const QString& reason) {
                openFailed(path.toStdString(), reason.toStdString());
            });
    MediaPlayer->raise();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(mainViewSizeFor(screen->size()).toSize());
}

QSizeF MainViewController::mainViewSizeFor(QSizeF screen) {
    double w = 0.9 * screen.width();
    double h = w * 969.0 / 1669.0;
    if (screen.height() < h) {
        h = 0.9 * screen.height();
        w = h * 1669.0 / 969.0;
    }
    return {w, h};
}

QRectF MainViewController::mediaFrameFor(double m, QRectF box) {
    return {m + 10 + box.x() + 8, box.y() + 10 + 8, box.width() - 16, box.height() - 16};
}

void MainViewController::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBackground);
    painter.drawRoundedRect(rect(), 5.0, 5.0);
}

void MainViewController::showEvent(QShowEvent*) {
    if (!appeared_) {
        appeared_ = true;
        // Laid out only once the widgets have their sizes.
        QTimer::singleShot(0, this, [this] { viewDidAppear(); });
    }
}

void MainViewController::viewDidAppear() {
    updateAVView();
}

void MainViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The video follows its box whenever the window changes size (full
    // screen included), or it would be left where the old box was.
    if (appeared_)
        QTimer::singleShot(0, this, [this] { updateAVView(); });
}

void MainViewController::onMenuSelectEditMode() {
    menu_editMode_btn->setBackImage();
    menu_playMode_btn->clearBackImage();
    exchagePanel(0);
    updateAVView();
}

void MainViewController::onMenuSelectPlayMode() {
    menu_editMode_btn->clearBackImage();
    menu_playMode_btn->setBackImage();
    exchagePanel(1);
    updateAVView();
}

void MainViewController::exchagePanel(int64_t index) {
    sys_index = index;
    if (index == 0) {
        editModePanel->show();
        playModePanel->hide();
    } else {
        editModePanel->hide();
        playModePanel->show();
        playViewController->reloadTagDataTable(true);
    }
}

void MainViewController::updateAVView() {
    if (!layout())
        return;
    layout()->activate();
    const double m = menu_button_panel->width();
    QWidget* screen = sys_index == 0 ? static_cast<QWidget*>(editViewController)
                                     : static_cast<QWidget*>(playViewController);
    mediaPlayerBox =
        sys_index == 0 ? editViewController->mediaPlayerBox : playViewController->mediaPlayerBox;
    if (screen->layout())
        screen->layout()->activate();
    const QRectF box(mediaPlayerBox->mapTo(screen, QPoint(0, 0)), mediaPlayerBox->size());
    if (!MediaPlayer->isFullScreenMode()) {
        MediaPlayer->setGeometry(mediaFrameFor(m, box).toRect());
        MediaPlayer->raise();
    }
    resizableTimer_.start(100);
}

void MainViewController::onMinimize() {
    if (QWidget* w = window())
        w->showMinimized();
}

void MainViewController::onMaximize() {
    auto* w = qobject_cast<MainWindow*>(window());
    if (!w)
        return;
    w->setResizable(true);
    w->toggleFullScreen();
}

std::string MainViewController::getCSVFileName() const {
    if (!MediaPlayer || !MediaPlayer->player() || !MediaPlayer->player()->hasCurrentItem())
        return {};
    return TagFileManager::sessionFilePath(MediaPlayer->player()->currentPath());
}

bool MainViewController::saveTagData() {
    const std::string path = getCSVFileName();
    if (path.empty())
        return false;
    const bool wasPlaying = MediaPlayer->isPlaying();
    MediaPlayer->player()->pause();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (ConfirmBox("保存データがあります。上書きしますか？", "お知らせ") != "yes") {
            if (wasPlaying)
                MediaPlayer->play();
            return false;
        }
        // The old file stays until the new one is complete: the write
        // replaces it in one step, so a failure leaves it intact.
    }
    std::string kept;
    if (!keepDamagedSession(path, kept)) {
        if (wasPlaying)
            MediaPlayer->play();
        return false;
    }
    const std::string keptNote =
        kept.empty() ? "" : "\n読み込めなかった元のファイルは次の名前で残しています。\n" + kept;
    const std::string error = TagFileManager::saveCSVFile(path, tagDataModel.data, true);
    if (error.empty()) {
        m_fSave = false;
        // Saved: the journal's changes are in the session file now.
        tagJournal.retire();
        tagJournal.setSession(stampOfFile(path));
        AlertBox("タグ情報が保存されました。" + keptNote, "成功", "success");
    } else {
        AlertBox(error + keptNote, "保存失敗", "error");
    }
    if (wasPlaying)
        MediaPlayer->play();
    return error.empty();
}

void MainViewController::onSave() {
    saveTagData();
}

void MainViewController::onClose() {
    if (MediaPlayer->isOpenStatus().value_or(false) && m_fSave) {
        const std::string answer =
            ConfirmBox("タグデータが変更されています。保存しますか？", "保存");
        // A question closed without an answer keeps everything, like cancel.
        if (answer == "cancel" || answer == "error")
            return;
        // Quit only once the tags are safe: a declined overwrite or a failed
        // write keeps the window open with every tag.
        if (answer != "no" && !saveTagData())
            return;
        if (answer == "no")
            tagJournal.retire();
    }
    terminate();
}

void MainViewController::terminate() {
    terminating_ = true;
    if (QWidget* w = window(); w && w != this)
        w->close();
    QApplication::quit();
}

bool MainViewController::askBeforeReplacingVideo() {
    if (!MediaPlayer->isOpenStatus().value_or(false) || !m_fSave)
        return true;
    const std::string answer = ConfirmBox("タグデータが変更されています。保存しますか？", "保存");
    if (answer == "no") {
        tagJournal.retire();
        return true;
    }
    if (answer == "yes")
        return saveTagData();
    return false;
}

void MainViewController::afterOpenMedia(const std::string&) {
    const std::string path = getCSVFileName();
    tagDataModel.replaceData(loadSession(path));
    m_fSave = false;
    tagHistory.clear();
    openJournal(path);
    showNewStore();
}

void MainViewController::openJournal(const std::string& sessionPath) {
    Player* player = MediaPlayer->player();
    const std::string video = player && player->hasCurrentItem() ? player->currentPath() : "";
    if (video.empty()) {
        tagJournal.close();
        return;
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(video, ec);
    const std::string name = ec ? video : absolute.lexically_normal().string();
    const SessionStamp stamp = stampOfFile(sessionPath);
    // Whatever is still on its way (the retirement of this very journal after
    // a save, say) lands before the journal is read.
    tagJournal.flush();
    tagJournal.open(name, stamp);
    JournalContents found = readJournal(tagJournal.file(), name);
    if (!found.error.empty())
        systemLog(found.error);
    // A journal naming another video is left alone; this video's first
    // change replaces it.
    if (!found.ours)
        return;
    std::string question = "前回保存されていない変更が残っています。復元しますか？";
    if (found.session != stamp)
        question += "\nセッションファイルは、この変更の記録を始めた後に変更されています。"
                    "復元すると、記録の最後の時点のタグ一覧全体に戻ります。";
    if (found.damaged)
        question += "\n記録の途中に壊れた箇所があるため、その手前までの変更を復元します。";
    if (MessageBox(question, "復元") != "yes") {
        tagJournal.retire();
        return;
    }
    const int64_t counter = std::max(tagDataModel.index, found.store.index);
    tagDataModel.data = std::move(found.store.data);
    tagDataModel.index = counter;
    m_fSave = true;
    // The restored store is the start of this run's journal.
    tagJournal.restart(tagDataModel);
    watchJournal();
}

void MainViewController::performTagEdit(TagEdit edit) {
    const TagEdit& done = tagHistory.perform(tagDataModel, std::move(edit));
    tagJournal.changed(done, tagDataModel);
    m_fSave = true;
    watchJournal();
}

bool MainViewController::undoTagEdit() {
    return afterHistoryStep(tagHistory.undo(tagDataModel));
}

bool MainViewController::redoTagEdit() {
    return afterHistoryStep(tagHistory.redo(tagDataModel));
}

bool MainViewController::afterHistoryStep(const TagEdit* applied) {
    if (!applied)
        return false;
    tagJournal.changed(*applied, tagDataModel);
    m_fSave = true;
    watchJournal();
    showAfterHistoryStep();
    return true;
}

void MainViewController::showAfterHistoryStep() {
    for (TagTableScreen* screen : {static_cast<TagTableScreen*>(editViewController),
                                   static_cast<TagTableScreen*>(playViewController)})
        screen->reloadTagDataTable(true);
    // The comment editor shows the chosen tag's comment as it now stands.
    const int64_t chosen = editViewController->tagTableSelectedRowIndex;
    const auto& data = tagDataModel.data;
    const auto it = std::find_if(data.begin(), data.end(),
                                 [chosen](const auto& t) { return t->index == chosen; });
    if (it == data.end())
        editViewController->forgetChosenTag();
    else
        editViewController->commentTextField->setPlainText(QString::fromStdString((*it)->comment));
}

void MainViewController::watchJournal() {
    // Failures surface from the writer thread; looked at shortly after.
    if (!journalCheck_.isActive())
        journalCheck_.start(300);
}

void MainViewController::reportJournalFailure() {
    const std::string error = tagJournal.takeError();
    if (error.empty())
        return;
    AlertBox("タグの変更を記録できません。タグの入力は続けられますが、保存するまでの変更は、"
             "異常終了すると失われます。\n" +
                 error,
             "warning", "warning");
}

void MainViewController::showNewStore() {
    // Both screens list the new store: a hidden screen left on the old rows
    // would act on the new video's tags that share their indexes.
    editViewController->clearClips();
    for (TagTableScreen* screen : {static_cast<TagTableScreen*>(editViewController),
                                   static_cast<TagTableScreen*>(playViewController)}) {
        screen->forgetChosenTag();
        screen->reloadTagDataTable(true);
    }
    reportSessionProblem();
}

namespace {

// "3, 7, 12行目", at most ten numbers.
std::string lineList(const std::vector<size_t>& lines) {
    constexpr size_t kShown = 10;
    std::string text;
    for (size_t i = 0; i < lines.size() && i < kShown; ++i)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    text += "行目";
    if (lines.size() > kShown)
        text += "ほか" + std::to_string(lines.size() - kShown) + "行";
    return text;
}

std::string readFailureText(int err) {
    switch (err) {
    case EISDIR:
        return "同じ名前のフォルダーがあります。保存するには、このフォルダーの名前を変えてください"
               "。";
    case kNotRegularFile:
        return "通常のファイルではありません（名前付きパイプやデバイスなど）。保存するには、これの"
               "名前を変えるか取り除いてください。";
    case EACCES:
    case EPERM:
        return "読み取りの権限がありません。";
    case EIO:
        return "読み取り中に入出力エラーが発生しました。";
    default:
        return std::string("読み取りに失敗しました（") + std::strerror(err) + "）。";
    }
}

} // namespace

std::vector<std::shared_ptr<TagRowData>> MainViewController::loadSession(const std::string& path) {
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(path);
    damagedSession_ = loaded.damaged() ? path : "";
    sessionProblemNote_.clear();
    constexpr const char* kKept =
        "上書き保存のときは、元のファイルを別の名前で残してから保存します。";
    if (!loaded.error.empty()) {
        systemLog(loaded.error);
        sessionProblemNote_ = "セッションファイルを読み込めませんでした。\n" + path + "\n" +
                              readFailureText(loaded.errorCode);
        // A folder or a FIFO is never written over, so nothing is kept either.
        if (loaded.errorCode != EISDIR && loaded.errorCode != kNotRegularFile)
            sessionProblemNote_ += std::string("\n") + kKept;
    } else if (loaded.damaged()) {
        std::string text = "セッションファイルの一部を読み込めませんでした。\n" + path + "\n";
        if (loaded.headerMissing)
            text += "1行目: 見出し行ではないため、読み込みませんでした。\n";
        if (!loaded.shortRows.empty())
            text += lineList(loaded.shortRows) + ": 項目が足りないため、読み込みませんでした。\n";
        if (!loaded.longRows.empty())
            text += lineList(loaded.longRows) +
                    ": 項目が多すぎるため、6番目より後を読み込みませんでした。\n";
        if (!loaded.unreadableTimes.empty())
            text += lineList(loaded.unreadableTimes) +
                    ": 時刻を読み取れないため、0:00:00 としました。\n";
        if (!loaded.unclosedQuotes.empty())
            text += lineList(loaded.unclosedQuotes) +
                    ": 引用符（\"）が閉じられていないため、引用符も文字として読み込みました。\n";
        text +=
            "読み込めたタグ" + std::to_string(loaded.rows.size()) + "件を表示しています。" + kKept;
        sessionProblemNote_ = std::move(text);
    }
    return std::move(loaded.rows);
}

void MainViewController::reportSessionProblem() {
    if (sessionProblemNote_.empty())
        return;
    const std::string note = std::move(sessionProblemNote_);
    sessionProblemNote_.clear();
    AlertBox(note, "エラー", "error");
}

bool MainViewController::keepDamagedSession(const std::string& path, std::string& kept) {
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    // A FIFO or a device in the session file's place stays as it is: the
    // write would replace it with a plain file.
    if (type != std::filesystem::file_type::regular &&
        type != std::filesystem::file_type::directory &&
        type != std::filesystem::file_type::not_found && !ec) {
        AlertBox("セッションファイルの場所に通常のファイルではないもの（名前付きパイプやデバイスな"
                 "ど）があるため、保存しませんでした。\n" +
                     path,
                 "保存失敗", "error");
        return false;
    }
    // A folder of that name cannot be written over, and a vanished file holds
    // nothing to keep.
    if (path != damagedSession_ || type != std::filesystem::file_type::regular)
        return true;
    const std::string error = keepDamagedCopy(path, kept);
    if (!error.empty()) {
        AlertBox(
            "読み込めなかった元のファイルを別の名前で残せなかったため、保存しませんでした。\n" +
                error,
            "保存失敗", "error");
        return false;
    }
    damagedSession_.clear();
    return true;
}

void MainViewController::showNoVideo() {
    tagDataModel.replaceData({});
    m_fSave = false;
    tagHistory.clear();
    tagJournal.close();
    showNewStore();
}

void MainViewController::openFailed(const std::string& path, const std::string& reason) {
    systemLog(reason);
    // The previous video is closed by now; its tags were saved or given up
    // when the user was asked.
    showNoVideo();
    AlertBox("動画を開けませんでした。\n" + path + "\n" + reason, "エラー", "error");
}

void MainViewController::mediaBackward() {
    Player* player = MediaPlayer ? MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return;
    const double target = std::max(0.0, player->currentTime() - 2.0);
    player->seekExact(std::round(target));
}

namespace {

// 1 for undo (Ctrl+Z), 2 for redo (Ctrl+Shift+Z, Ctrl+Y), else 0.
int historyKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods =
        event.modifiers() &
        (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event.key() == Qt::Key_Z && mods == Qt::ControlModifier)
        return 1;
    if ((event.key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) ||
        (event.key() == Qt::Key_Y && mods == Qt::ControlModifier))
        return 2;
    return 0;
}

} // namespace

void MainViewController::keyDown(QKeyEvent* event) {
    if (const int h = historyKey(*event)) {
        h == 1 ? undoTagEdit() : redoTagEdit();
        return;
    }
    MediaPlayerView* view = MediaPlayer;
    Player* player = view ? view->player() : nullptr;
    if (!player)
        return;
    const uint16_t code = keycodeOf(*event);
    if (code == Keycode::pageDown || code == Keycode::pageUp) {
        playViewController->sequenceStep(code == Keycode::pageDown ? 1 : -1);
        return;
    }
    // Any other key takes over from a playing sequence (modifiers alone do not).
    if (!isModifierKey(*event))
        playViewController->endSequence();
    switch (code) {
    case Keycode::a:
        view->play();
        break;
    case Keycode::s:
        player->pause();
        break;
    case Keycode::d:
        player->playImmediatelyAtRate(MediaPlayerView::kSlowRate);
        view->playSlowMode = true;
        break;
    case Keycode::o:
        if (isCommandOnly(*event) && !isCapsLockOn(*event))
            view->open([this](const std::string& url) { afterOpenMedia(url); });
        break;
    case Keycode::space:
        if (view->isPlaying())
            player->pause();
        else
            view->resume();
        break;
    case Keycode::leftArrow:
        mediaBackward();
        break;
    case Keycode::rightArrow:
        view->forward();
        break;
    case Keycode::downArrow:
        view->volumnDown();
        break;
    case Keycode::upArrow:
        view->volumnUp();
        break;
    default:
        break; // consumed without effect
    }
}

void MainViewController::keyPressEvent(QKeyEvent* event) {
    keyDown(event);
    event->accept();
}

bool MainViewController::keepsKeys(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(w))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w))
        return !text->isReadOnly();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

bool MainViewController::isSequenceKey(const QWidget* w, const QEvent* event) const {
    // Page Down / Page Up step a playing sequence even from the lead and lag
    // boxes of the play screen.
    const auto* key = static_cast<const QKeyEvent*>(event);
    const uint16_t code = keycodeOf(*key);
    return (code == Keycode::pageDown || code == Keycode::pageUp) &&
           playViewController->isAncestorOf(w) && playViewController->sequence &&
           playViewController->sequence->isActive();
}

bool MainViewController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || !w->isWidgetType() || (keepsKeys(w) && !isSequenceKey(w, event)))
        return false;
    const bool inEdit = editViewController->isAncestorOf(w) || w == editViewController;
    const bool inPlay = playViewController->isAncestorOf(w) || w == playViewController;
    if (!inEdit && !inPlay)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // Undo and redo of tag edits act on both screens alike.
    if (const int h = historyKey(*key)) {
        if (event->type() == QEvent::KeyPress)
            h == 1 ? undoTagEdit() : redoTagEdit();
        key->accept();
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed here so no shortcut of a focused control acts first.
        key->accept();
        return true;
    }
    if (inEdit)
        editViewController->keyDown(key);
    else
        keyDown(key);
    key->accept();
    return true;
}
