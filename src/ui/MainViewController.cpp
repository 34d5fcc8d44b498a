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
#include "keys/KeyRouter.h"
#include "live/LiveRecording.h"
#include "player/Player.h"
#include "review/MomentSequence.h"
#include "video/VideoPlacement.h"
#include "workspace/Workspace.h"

namespace {
constexpr int kMenuWidth = 86;
} // namespace

MainViewController::MainViewController(QWidget* parent, std::unique_ptr<Player> player)
    : QWidget(parent), workspace(new Workspace(this)),
      session(new SessionController(tagDataModel, m_fSave, this)), tagHistory(session->history),
      tagJournal(session->journal) {
    setObjectName("MainViewController");

    menu_button_panel = makeMenuColumn(this, kMenuWidth, menu_editMode_btn, menu_playMode_btn);
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
    MediaPlayer->playSlowMode.keepIn(workspace);
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

    keyRouter_ = new KeyRouter(this);

    MediaPlayer->setupPlayerOption();
    for (QLineEdit* label :
         {editViewController->mediaTimeLabel, playViewController->mediaTimeLabel})
        connect(MediaPlayer, &MediaPlayerView::timeTextChanged, label, &QLineEdit::setText);
    session->setView(MediaPlayer);
    // The match's other cameras follow its file: opened, edited, undone.
    connect(session, &SessionController::storeChanged, MediaPlayer, [this] {
        const auto path = std::filesystem::path(session->sessionPath());
        MediaPlayer->setAngles(tagDataModel.match.angles, path.parent_path().string());
    });
    connect(MediaPlayer, &MediaPlayerView::openFailed, this,
            [this](const QString& path, const QString& reason) {
                session->videoFailed(path.toStdString(), reason.toStdString());
                emit matchChanged({});
            });
    MediaPlayer->raise();
    auto* placement = new VideoPlacement(
        this, [this] { return shownScreen()->mediaPlayerBox; }, [this] { viewDidAppear(); },
        [this] { updateAVView(); });
    placement->follow(editViewController->mediaPlayerBox);
    placement->follow(playViewController->mediaPlayerBox);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(mainViewSizeFor(screen->size()).toSize());
    libraryLink_ = new LibraryLink(this);
}

TagTableScreen* MainViewController::shownScreen() const {
    return isEditShown() ? static_cast<TagTableScreen*>(editViewController) : playViewController;
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

void MainViewController::viewDidAppear() {
    updateAVView();
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
    QWidget* screen = shownScreen();
    mediaPlayerBox = shownScreen()->mediaPlayerBox;
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

void MainViewController::afterOpenMedia(const std::string&) {
    session->videoOpened();
    emit matchChanged(session->matchName());
}

void MainViewController::openVideo(const std::string& path, std::function<void()> opened) {
    MediaPlayer->callBack = [this, opened = std::move(opened)](const std::string& url) {
        afterOpenMedia(url);
        if (opened)
            opened();
    };
    MediaPlayer->openPath(path);
}

void MainViewController::onClose() {
    // A running export is asked about first, and stopped only once the tags
    // too let the application go: a cancelled close loses neither.
    if (!runningExports(window()).empty() && !askToStopExports())
        return;
    if (!editViewController->liveRecording->mayQuit() || !session->mayClose())
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
