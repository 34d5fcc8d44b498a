#include "MainViewController.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "ClipVideoConvertor/ClipViewController.h"
#include "SubViewClass/EditableNSTextField.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/MenuButton.h"
#include "SubViewClass/Style.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "client/LibraryClient.h"
#include "keys/KeyRouter.h"
#include "player/Player.h"
#include "season/LibraryWindow.h"

namespace {
constexpr int kMenuWidth = 86;
} // namespace

MainViewController::MainViewController(QWidget* parent, std::unique_ptr<Player> player)
    : QWidget(parent), session(new SessionController(tagDataModel, m_fSave, this)),
      tagHistory(session->history), tagJournal(session->journal) {
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
    // The window keeps the size it was given on its screen: what a screen
    // holds scrolls or is cut inside it, and never pushes the window (and
    // its ×) past the screen's edge.
    for (QWidget* panel : {editModePanel, playModePanel})
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

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
    videoPlacement_.setSingleShot(true);
    videoPlacement_.setInterval(0);
    connect(&videoPlacement_, &QTimer::timeout, this, [this] { updateAVView(); });
    resizableTimer_.setSingleShot(true);
    connect(&resizableTimer_, &QTimer::timeout, this, [this] { emit resizableChanged(false); });
    viewDidLoad();
}

MainViewController::~MainViewController() = default;

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
    playViewController->followCodeWindow(editViewController->codeWindow());

    keyRouter_ = new KeyRouter(this);

    MediaPlayer->setupPlayerOption();
    for (QLineEdit* label :
         {editViewController->mediaTimeLabel, playViewController->mediaTimeLabel})
        connect(MediaPlayer, &MediaPlayerView::timeTextChanged, label, &QLineEdit::setText);
    session->setView(MediaPlayer);
    MediaPlayer->beforeOpen = [this](const std::string&) {
        if (leaveAsked_) {
            leaveAsked_ = false;
            // Given up when asked: the sequence's next video replaces them.
            return true;
        }
        return session->mayReplaceVideo();
    };
    // Saved tags go to the season library at once, on its own thread.
    connect(session, &SessionController::saved, this,
            [this](const std::string& video, const std::string& sessionFile) {
                library()->indexSaved(video, sessionFile, tagDataModel.data);
            });
    connect(MediaPlayer, &MediaPlayerView::openFailed, this,
            [this](const QString& path, const QString& reason) {
                session->videoFailed(path.toStdString(), reason.toStdString());
                emit matchChanged({});
            });
    MediaPlayer->raise();
    // A screen shown for the first time settles after the switch (its text
    // and controls follow its height): the video follows its box.
    for (QWidget* box : {static_cast<QWidget*>(editViewController->mediaPlayerBox),
                         static_cast<QWidget*>(playViewController->mediaPlayerBox)})
        box->installEventFilter(this);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(mainViewSizeFor(screen->size()).toSize());
    // Saves the last run closed on before the library took them: its scan
    // (on the library's thread) reads them from their files now.
    if (LibraryClient::owedScans().contains(library::SeasonLibrary::defaultDatabase()))
        library();
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
    painter.setBrush(Style::panel());
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
        videoPlacement_.start();
}

bool MainViewController::eventFilter(QObject* watched, QEvent* event) {
    const QWidget* shown =
        sys_index == 0 ? editViewController->mediaPlayerBox : playViewController->mediaPlayerBox;
    if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && appeared_ &&
        watched == shown)
        videoPlacement_.start();
    return QWidget::eventFilter(watched, event);
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
        // The window keeps the size it was given on its screen: what a screen
        // holds scrolls or is cut inside it, and never pushes the window (and
        // its ×) past the screen's edge.
        for (QWidget* panel : {editModePanel, playModePanel})
            panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    } else {
        editModePanel->hide();
        playModePanel->show();
    }
    // A screen shown the first time sizes its lists to their font, which asks
    // for another layout pass: settle it now, so the screen does not jump
    // under the pointer a moment after the switch.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
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
    emit resizableChanged(true);
    emit fullScreenToggled();
}

std::string MainViewController::getCSVFileName() const {
    return session->sessionPath();
}

bool MainViewController::saveTagData() {
    return session->save();
}

void MainViewController::onSave() {
    saveTagData();
}

void MainViewController::afterOpenMedia(const std::string&) {
    session->videoOpened();
    emit matchChanged(matchName());
}

QString MainViewController::matchName() const {
    const Player* player = MediaPlayer ? MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return {};
    return QString::fromStdString(std::filesystem::path(player->currentPath()).stem().string());
}

void MainViewController::openVideo(const std::string& path, std::function<void()> opened) {
    MediaPlayer->callBack = [this, opened = std::move(opened)](const std::string& url) {
        afterOpenMedia(url);
        if (opened)
            opened();
    };
    MediaPlayer->openPath(path);
}

void MainViewController::performTagEdit(TagEdit edit, StoreChange::Kind kind) {
    leaveAsked_ = false;
    session->perform(std::move(edit), kind);
}

bool MainViewController::mayLeaveVideo() {
    leaveAsked_ = session->mayReplaceVideo();
    return leaveAsked_;
}

LibraryClient* MainViewController::library() {
    if (!library_) {
        library_ = new LibraryClient(this);
        connect(library_, &LibraryClient::notice, this, &MainViewController::libraryNotice);
        library_->open();
    }
    return library_;
}

QWidget* MainViewController::showLibraryWindow() {
    if (!libraryWindow_) {
        libraryWindow_ = new LibraryWindow(this, window());
        // In the middle of the main window's screen.
        if (const QScreen* screen = window()->screen()) {
            const QRect area = screen->availableGeometry();
            QRect r(QPoint(0, 0), libraryWindow_->size().boundedTo(area.size()));
            r.moveCenter(area.center());
            libraryWindow_->setGeometry(r);
        }
    }
    libraryWindow_->show();
    libraryWindow_->raise();
    libraryWindow_->activateWindow();
    return libraryWindow_;
}

bool MainViewController::isOpenVideo(const std::string& video) const {
    Player* player = MediaPlayer ? MediaPlayer->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return false;
    std::error_code ec;
    return player->currentPath() == video ||
           std::filesystem::equivalent(player->currentPath(), video, ec);
}

std::shared_ptr<TagRowData> MainViewController::sessionTag(int position, double time,
                                                           const std::string& code) const {
    const auto& rows = tagDataModel.data;
    // The store keeps the session file's order until a tag is recorded.
    auto near = [&](const TagRowData& t) { return std::abs(t.time_val - time) < 0.5; };
    if (position >= 0 && position < static_cast<int>(rows.size()) &&
        rows[static_cast<size_t>(position)]->name == code &&
        near(*rows[static_cast<size_t>(position)]))
        return rows[static_cast<size_t>(position)];
    std::shared_ptr<TagRowData> best;
    for (const auto& t : rows)
        if (t->name == code &&
            (!best || std::abs(t->time_val - time) < std::abs(best->time_val - time)))
            best = t;
    return best;
}

void MainViewController::openAtTag(const std::string& video, int position, double time,
                                   const std::string& code, std::function<void()> done) {
    // The row on the edit screen, where the tags are changed.
    auto show = [this, position, time, code, done = std::move(done)] {
        if (sys_index != 0)
            onMenuSelectEditMode();
        if (auto tag = sessionTag(position, time, code))
            editViewController->showTag(tag, true);
        else
            MediaPlayer->seek(static_cast<float>(time), 2.0);
        // The video in front and the keys with it; the library stays open
        // behind for the next result.
        window()->raise();
        window()->activateWindow();
        if (done)
            done();
    };
    if (isOpenVideo(video))
        show();
    else
        openVideo(video, std::move(show));
}

bool MainViewController::mayChangeTags() {
    return session->mayChangeTags();
}

bool MainViewController::isViewOnly() const {
    return session->isViewOnly();
}

bool MainViewController::undoTagEdit() {
    leaveAsked_ = false;
    return session->undo();
}

bool MainViewController::redoTagEdit() {
    leaveAsked_ = false;
    return session->redo();
}

void MainViewController::onClose() {
    // A running export is asked about first, and stopped only once the tags
    // too let the application go: a cancelled close loses neither.
    if (!runningExports(window()).empty() && !askToStopExports())
        return;
    if (!session->mayClose())
        return;
    // Stopped cleanly before anything is torn down: nothing half-written stays.
    for (ClipViewController* job : runningExports(window()))
        job->stopNow();
    terminate();
}

void MainViewController::terminate() {
    terminating_ = true;
    if (QWidget* w = window(); w && w != this)
        w->close();
    QApplication::quit();
}

void MainViewController::focusCoding() {
    keyRouter_->focusVideo();
}
