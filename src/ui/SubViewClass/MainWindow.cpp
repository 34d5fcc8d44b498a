#include "SubViewClass/MainWindow.h"
#include "SubViewClass/Style.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSizeGrip>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "MainViewController.h"
#include "player/Player.h"

namespace {
constexpr int kHeaderHeight = 34;

// The window's title in its header: a long match name is shortened in the
// middle, never widening the window.
class TitleLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        full_ = text;
        fit();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, width())); }
    QString full_;
};
} // namespace

HeaderView::HeaderView(QWidget* parent) : QLabel(parent) {
    setObjectName("HeaderView");
    setFixedHeight(kHeaderHeight);
}

void HeaderView::mousePressEvent(QMouseEvent* event) {
    initialLocation = event->scenePosition().toPoint();
    // Where the platform moves windows itself (Wayland), let it.
    if (event->button() == Qt::LeftButton && window()->windowHandle() &&
        window()->windowHandle()->startSystemMove())
        initialLocation = {-1, -1};
    event->accept();
}

void HeaderView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || initialLocation == QPoint(-1, -1))
        return;
    QWidget* w = window();
    w->move(draggedWindowOrigin(w->pos(), event->scenePosition().toPoint(), initialLocation));
}

void HeaderView::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    event->accept();
}

MainWindow::MainWindow(std::unique_ptr<Player> player) {
    setObjectName("MainWindow");
    setWindowTitle("Rucktag");
    setWindowIcon(QIcon(":/images/rucktag.svg"));
    setWindowFlag(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    header_ = new HeaderView(this);
    auto* headerLayout = new QHBoxLayout(header_);
    headerLayout->setContentsMargins(12, 2, 6, 2);
    auto* title = new TitleLabel(header_);
    title->setObjectName("windowTitle");
    title->setStyleSheet(Style::windowTitle());
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    title->setMinimumWidth(QFontMetrics(title->font()).horizontalAdvance("Rucktag") + 8);
    title->setFullText("Rucktag");
    headerLayout->addWidget(title, 2);
    // The status area: what the library has to say (a lost server), once.
    libraryStatus_ = new QLabel(header_);
    libraryStatus_->setObjectName("libraryStatus");
    libraryStatus_->setStyleSheet("color: #ffcf8a;");
    libraryStatus_->setAttribute(Qt::WA_TransparentForMouseEvents);
    libraryStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headerLayout->addSpacing(16);
    headerLayout->addWidget(libraryStatus_, 1);
    QToolButton* library = windowButton("window_library", "win_library", "シーズンライブラリ");
    headerLayout->addWidget(library);
    headerLayout->addSpacing(10);
    QToolButton* save = windowButton("window_save", "win_save", "保存");
    QToolButton* minimize = windowButton("window_minimize", "win_minimize", "最小化");
    QToolButton* maximize = windowButton("window_maximize", "win_maximize", "最大化");
    QToolButton* close = windowButton("window_close", "win_close", "閉じる");
    for (QToolButton* b : {save, minimize, maximize, close})
        headerLayout->addWidget(b);

    controller_ = new MainViewController(this, std::move(player));
    grip_ = new QSizeGrip(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addWidget(controller_, 1);
    layout->addWidget(grip_, 0, Qt::AlignRight | Qt::AlignBottom);

    connect(save, &QToolButton::clicked, controller_, [this] { controller_->onSave(); });
    connect(library, &QToolButton::clicked, this, [this] { showLibrary(); });
    connect(controller_->libraryLink(), &LibraryLink::notice, this, [this](const QString& text) {
        libraryStatus_->setText(text);
        libraryStatus_->setToolTip(text);
    });
    // Which match is open, in the header and wherever the desktop lists windows.
    connect(controller_, &MainViewController::matchChanged, this,
            [this, title](const QString& name) {
                const QString text = name.isEmpty() ? QString("Rucktag") : name + " — Rucktag";
                setWindowTitle(text);
                title->setFullText(text);
            });
    connect(minimize, &QToolButton::clicked, controller_, [this] { controller_->onMinimize(); });
    connect(maximize, &QToolButton::clicked, controller_, [this] { controller_->onMaximize(); });
    connect(close, &QToolButton::clicked, controller_, [this] { controller_->onClose(); });
    connect(header_, &HeaderView::doubleClicked, controller_,
            [this] { controller_->onMaximize(); });
    connect(controller_, &MainViewController::resizableChanged, this, &MainWindow::setResizable);
    connect(controller_, &MainViewController::fullScreenToggled, this,
            &MainWindow::toggleFullScreen);
}

QToolButton* MainWindow::windowButton(const char* identifier, const char* icon,
                                      const QString& tip) {
    auto* b = new QToolButton(header_);
    b->setObjectName(identifier);
    b->setIcon(QIcon(QString(":/images/%1.svg").arg(icon)));
    b->setIconSize(QSize(18, 18));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

void MainWindow::setResizable(bool on) {
    resizable_ = on;
    grip_->setVisible(on);
}

void MainWindow::toggleFullScreen() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void MainWindow::fitMainView(QSizeF viewSize) {
    resize(static_cast<int>(viewSize.width()), static_cast<int>(viewSize.height()) + kHeaderHeight);
}

QWidget* MainWindow::showLibrary() {
    return controller_->libraryLink()->showWindow();
}

void MainWindow::paintEvent(QPaintEvent*) {
    // A rounded dark panel on a clear window.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::panel().darker(130));
    painter.drawRoundedRect(rect(), 5.0, 5.0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing from outside (the desktop, Alt+F4) takes the same road as the
    // close control, which asks about unsaved tags.
    if (controller_->isTerminating()) {
        event->accept();
        return;
    }
    event->ignore();
    controller_->onClose();
}
