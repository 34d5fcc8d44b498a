#include "MainViewController.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "Media/Player.h"
#include "SubModuleClass/SystemLog.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/KeyEvents.h"
#include "SubViewClass/MainWindow.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/MenuButton.h"
#include "SubViewController/EditViewController.h"
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
    const std::string error = TagFileManager::saveCSVFile(path, tagDataModel.data, true);
    if (error.empty()) {
        m_fSave = false;
        AlertBox("タグ情報が保存されました。", "成功", "success");
    } else {
        AlertBox(error, "保存失敗", "error");
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
    if (answer == "no")
        return true;
    if (answer == "yes")
        return saveTagData();
    return false;
}

void MainViewController::afterOpenMedia(const std::string&) {
    const std::string path = getCSVFileName();
    tagDataModel.replaceData(TagFileManager::loadCSVFile(path));
    m_fSave = false;
    // Clips belong to the video they were marked on, whichever mode is shown.
    editViewController->clearClips();
    if (sys_index == 0) {
        editViewController->tagTableSelectedRowIndex = -1;
        editViewController->reloadTagDataTable(true);
    } else {
        playViewController->tagTableSelectedRowIndex = -1;
        playViewController->reloadTagDataTable(true);
    }
}

void MainViewController::showNoVideo() {
    tagDataModel.replaceData({});
    m_fSave = false;
    editViewController->clearClips();
    editViewController->tagTableSelectedRowIndex = -1;
    editViewController->reloadTagDataTable(true);
    playViewController->tagTableSelectedRowIndex = -1;
    playViewController->reloadTagDataTable(true);
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

void MainViewController::keyDown(QKeyEvent* event) {
    MediaPlayerView* view = MediaPlayer;
    Player* player = view ? view->player() : nullptr;
    if (!player)
        return;
    switch (keycodeOf(*event)) {
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
        if (isCommandOnly(*event))
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
