#include "ClipVideoConvertor/ClipViewController.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

#include "Media/ClipExportSession.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"

ClipViewController::ClipViewController(QWidget* parent) : QWidget(parent) {
    setObjectName("ClipViewController");
    auto* l = new QVBoxLayout(this);
    auto* title = title_ = new QLabel("クリップを出力しています…", this);
    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressLabel = new QLabel(progressText(0.0), this);
    progressLabel->setObjectName("progressLabel");
    progressLabel->setAlignment(Qt::AlignCenter);
    auto* exit = new QPushButton("閉じる", this);
    exit->setObjectName("clipProgressExit");
    connect(exit, &QPushButton::clicked, this, [this] { clipProgressExit(); });
    l->addWidget(title);
    l->addWidget(progressBar);
    l->addWidget(progressLabel);
    l->addWidget(exit, 0, Qt::AlignRight);
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, [this] { tick(); });
}

ClipViewController::~ClipViewController() {
    // The export's completion writes into this object: end it first.
    exportSession.reset();
    if (!madeFolder.empty() && !(progressFinished.load() && clipOutputResult == 0)) {
        std::error_code ignored;
        std::filesystem::remove(madeFolder, ignored); // only when empty
    }
}

void ClipViewController::setJobName(const QString& name) {
    jobName_ = name;
    title_->setText(name + "しています…");
    window()->setWindowTitle(name);
}

QString ClipViewController::progressText(double value) {
    return QString::asprintf("%.1f%%", value);
}

std::pair<int64_t, int64_t> ClipViewController::rangeMs(float start, float end, float duration) {
    auto ms = [](float seconds) -> int64_t {
        const float scaled = seconds * 1000.0f;
        // Truncated; a time with no millisecond value counts as 0.
        return std::isfinite(scaled) && std::fabs(scaled) < 9.2e18f ? static_cast<int64_t>(scaled)
                                                                    : 0;
    };
    int64_t endMs = ms(end);
    if (endMs == 0)
        endMs = ms(duration);
    return {ms(start), std::max<int64_t>(endMs, 0)};
}

void ClipViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        viewDidAppear();
    }
}

void ClipViewController::viewDidAppear() {
    progressFinished.store(false);
    if (!clipInputUrl) {
        window()->close();
        return;
    }
    if (startTime > endTime) {
        // Only an unfinished clip starting after 0 gets here; it is exported
        // to the end of the video all the same, without its window.
        clipOutputResult = 2;
        clipOutputResultString = "タイムエラーです。";
        window()->close();
    }
    exportSession = std::make_unique<ClipExportSession>(*clipInputUrl);
    exportSession->outputURL = clipOutputUrl.value_or("");
    exportSession->shouldOptimizeForNetworkUse = true;
    exportSession->outputFileType = "mp4";
    if (ranges.empty()) {
        const auto [startMs, endMs] = rangeMs(startTime, endTime, duration);
        exportSession->setTimeRange(startMs, endMs);
    } else {
        std::vector<std::pair<int64_t, int64_t>> ms;
        for (const auto& [s, e] : ranges)
            ms.emplace_back(static_cast<int64_t>(s * 1000.0), static_cast<int64_t>(e * 1000.0));
        exportSession->setTimeRanges(std::move(ms));
        exportSession->setSeparateOutputs(separateOutputs);
    }
    const std::string job = jobName_.toStdString();
    // An existing file at the target is replaced only when the export has
    // completed (the session writes beside it and renames).
    ClipExportSession* session = exportSession.get();
    session->exportAsynchronously([this, session, job] {
        // Worker thread: the outcome first, then the flag that publishes it.
        switch (session->status()) {
        case ClipExportSession::Completed:
            clipOutputResult = 0;
            clipOutputResultString = job + "が完了しました。";
            break;
        case ClipExportSession::Cancelled:
            clipOutputResult = 4;
            clipOutputResultString = job + "がキャンセルされました。";
            break;
        case ClipExportSession::Failed:
            clipOutputResult = 3;
            clipOutputResultString = job + "に失敗しました。\n" + session->errorText();
            break;
        default:
            break;
        }
        progressFinished.store(true, std::memory_order_release);
    });
    timer.start();
}

void ClipViewController::tick() {
    progressValue_ = exportSession ? static_cast<double>(exportSession->progress()) * 100.0 : 0.0;
    progressBar->setValue(static_cast<int>(progressValue_));
    progressLabel->setText(progressText(progressValue_));
    if (!progressFinished.load(std::memory_order_acquire))
        return;
    timer.stop();
    const bool fine = clipOutputResult == 0 || clipOutputResult == 4;
    const std::string job = jobName_.toStdString();
    AlertBox(clipOutputResultString, fine ? job : job + "エラー", fine ? "success" : "error");
    window()->close();
    emit finished();
}

void ClipViewController::clipProgressExit() {
    // Only the window goes: the export and its report go on.
    window()->close();
}

std::string exportTargetClash(const std::string& target, const std::string& video) {
    // The export's rename would replace the match or its tags.
    if (isSameFile(target, video))
        return "出力先に、開いている動画そのものが指定されています。別の名前を指定してください。";
    if (isSameFile(target, TagFileManager::sessionFilePath(video)))
        return "出力先に、開いている動画のセッションファイル（タグの保存先）が指定されています。"
               "別の名前を指定してください。";
    return {};
}

ClipWindowController::ClipWindowController(QWidget* parent)
    : QWidget(parent, Qt::Window), content_(new ClipViewController(this)) {
    setObjectName("ClipWindowController");
    setWindowTitle("クリップ出力");
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(content_);
    resize(420, 150);
    // The window lives until its export has reported, however early it is
    // closed.
    connect(content_, &ClipViewController::finished, this, &QObject::deleteLater);
}

void ClipWindowController::showWindow() {
    if (QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}
