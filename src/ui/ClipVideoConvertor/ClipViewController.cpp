#include "ClipVideoConvertor/ClipViewController.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>

#include "ClipVideoConvertor/AngleChoice.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "export/ClipExportSession.h"
#include "platform/AtomicFile.h"
#include "platform/FileFailure.h"
#include "review/Moments.h"

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
    cancelButton = new QPushButton("キャンセル", this);
    cancelButton->setObjectName("clipProgressCancel");
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelExport(); });
    auto* exit = new QPushButton("閉じる", this);
    exit->setObjectName("clipProgressExit");
    connect(exit, &QPushButton::clicked, this, [this] { clipProgressExit(); });
    l->addWidget(title);
    l->addWidget(progressBar);
    l->addWidget(progressLabel);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    buttons->addWidget(exit);
    l->addLayout(buttons);
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, [this] { tick(); });
}

ClipViewController::~ClipViewController() {
    // The export's completion writes into this object: end it first.
    exportSession.reset();
    removeMadeFolderUnlessDone();
}

void ClipViewController::removeMadeFolderUnlessDone() {
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
    } else if (!angles.empty()) {
        offerAngles();
        return;
    }
    startExport();
}

void ClipViewController::addAnglesOf(const std::string& video, const MatchInfo* open) {
    if (std::vector<MatchAngle> found = anglesOfVideo(video, open); !found.empty())
        angles[video] = std::move(found);
}

void ClipViewController::offerAngles() {
    const QString running = title_->text();
    title_->setText("アングルを選んでください。");
    angleChoice = new AngleChoiceRow(angles, this);
    auto* l = static_cast<QVBoxLayout*>(layout());
    l->insertWidget(1, angleChoice);
    startButton = new QPushButton("書き出す", this);
    startButton->setObjectName("angleExportStart");
    startButton->setDefault(true);
    static_cast<QHBoxLayout*>(l->itemAt(l->count() - 1)->layout())->insertWidget(1, startButton);
    connect(startButton, &QPushButton::clicked, this, [this, running] {
        startButton->setEnabled(false);
        angleChoice->setEnabled(false);
        title_->setText(running);
        startExport();
    });
}

void ClipViewController::startExport() {
    exportSession = std::make_unique<ClipExportSession>(*clipInputUrl);
    if (angleChoice)
        exportSession->setAngles(angleChoice->choice());
    exportSession->outputURL = clipOutputUrl.value_or("");
    exportSession->shouldOptimizeForNetworkUse = true;
    exportSession->outputFileType = "mp4";
    if (ranges.empty()) {
        const auto [startMs, endMs] = rangeMs(startTime, endTime, duration);
        exportSession->setTimeRange(startMs, endMs);
    } else if (rangeSources.size() == ranges.size()) {
        std::vector<ClipExportSession::SourcedRange> sourced;
        for (size_t i = 0; i < ranges.size(); ++i)
            sourced.push_back({rangeSources[i], static_cast<int64_t>(ranges[i].first * 1000.0),
                               static_cast<int64_t>(ranges[i].second * 1000.0)});
        exportSession->setSourcedRanges(std::move(sourced));
        exportSession->setSeparateOutputs(separateOutputs);
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
        reportOutcome(session->status(), session->errorText(), job);
        progressFinished.store(true, std::memory_order_release);
    });
    timer.start();
}

void ClipViewController::reportOutcome(int status, const std::string& errorText,
                                       const std::string& job) {
    switch (status) {
    case ClipExportSession::Completed:
        removeReplacedFiles();
        clipOutputResult = 0;
        clipOutputResultString = job + "が完了しました。\n" + placeText();
        break;
    case ClipExportSession::Cancelled:
        clipOutputResult = 4;
        clipOutputResultString = job + "を中止しました。";
        break;
    case ClipExportSession::Failed:
        clipOutputResult = 3;
        clipOutputResultString = job + "に失敗しました。\n" + errorText;
        break;
    default:
        break;
    }
}

std::string ClipViewController::placeText() const {
    namespace fs = std::filesystem;
    auto whole = [](const std::string& p) {
        std::error_code ec;
        const fs::path a = fs::absolute(p, ec);
        return (ec ? fs::path(p) : a).lexically_normal().string();
    };
    if (separateOutputs.empty())
        return "書き出し先:\n" + whole(clipOutputUrl.value_or(""));
    return "書き出し先のフォルダー（" + std::to_string(separateOutputs.size()) +
           "件のファイル）:\n" + whole(fs::path(separateOutputs.front()).parent_path());
}

void ClipViewController::removeReplacedFiles() {
    // Worker thread, after every new file is in place.
    for (const std::string& old : replacedFiles) {
        if (std::find(separateOutputs.begin(), separateOutputs.end(), old) != separateOutputs.end())
            continue;
        std::error_code ignored;
        std::filesystem::remove(old, ignored);
    }
}

void ClipViewController::tick() {
    progressValue_ = exportSession ? static_cast<double>(exportSession->progress()) * 100.0 : 0.0;
    progressBar->setValue(static_cast<int>(progressValue_));
    progressLabel->setText(progressText(progressValue_));
    if (!progressFinished.load(std::memory_order_acquire))
        return;
    cancelButton->setEnabled(false); // nothing left to stop
    // A question is open (quitting, say): the report waits for its answer
    // rather than covering it.
    if (QApplication::activeModalWidget())
        return;
    timer.stop();
    // Stopped by the user: the window going is the answer.
    if (clipOutputResult != 4) {
        const bool fine = clipOutputResult == 0;
        const std::string job = jobName_.toStdString();
        AlertBox(clipOutputResultString, fine ? job : job + "エラー", fine ? "success" : "error");
    }
    window()->close();
    emit finished();
}

void ClipViewController::clipProgressExit() {
    // Only the window goes: the export and its report go on.
    window()->close();
    if (!exportSession && started_)
        window()->deleteLater(); // never started: nothing to report
}

void ClipViewController::cancelExport() {
    if (!exportSession && started_)
        clipProgressExit(); // the angles still being chosen
    if (!isRunning())
        return;
    exportSession->cancel();
    cancelButton->setEnabled(false);
    title_->setText(jobName_ + "を中止しています…");
    // The export stops within a frame or two: no need to wait a whole second.
    timer.start(50);
}

void ClipViewController::stopNow() {
    timer.stop();
    exportSession.reset(); // cancels and waits
    removeMadeFolderUnlessDone();
}

bool ClipViewController::isRunning() const {
    return exportSession && !progressFinished.load(std::memory_order_acquire);
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

std::vector<ClipViewController*> runningExports(QWidget* owner) {
    std::vector<ClipViewController*> running;
    if (owner)
        for (ClipViewController* job : owner->findChildren<ClipViewController*>())
            if (job->isRunning())
                running.push_back(job);
    return running;
}

bool askToStopExports() {
    // Keeping on is the default and the escape: a reflex key loses nothing.
    return dialogProvider().showBox(DialogProvider::Kind::Message,
                                    "書き出し中です。中止して終了しますか？\n"
                                    "中止すると、書き出し中のファイルは残りません。",
                                    "終了", "", {"書き出しを続ける", "中止して終了"}) == 1;
}

namespace {

namespace fs = std::filesystem;

// The files of a per-moment export in `folder` ("001_A_トライ_0-12-34.mp4").
std::vector<std::string> momentFilesIn(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        if (isMomentFileName(it->path().filename().string()))
            found.push_back(it->path().string());
    std::sort(found.begin(), found.end());
    return found;
}

fs::path freshFolderBeside(const fs::path& folder) {
    for (int n = 2;; ++n) {
        fs::path candidate = folder;
        candidate += "_" + std::to_string(n);
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate;
    }
}

// Makes `folder` (and the folders above it); tells the user why not.
bool makeFolder(const fs::path& folder, bool& made, const std::string& job) {
    std::error_code ec;
    made = fs::create_directories(folder, ec);
    if (!ec && fs::is_directory(folder, ec))
        return true;
    const int err = ec ? ec.value() : ENOTDIR;
    AlertBox("フォルダーを作れませんでした。\nフォルダー: " + folder.string() +
                 "\n理由: " + fileFailureReason(err, folder),
             job + "エラー", "error");
    return false;
}

} // namespace

std::optional<MomentFolder> momentFolderFor(const fs::path& chosen, const std::string& job) {
    MomentFolder result;
    result.path = fs::path(chosen).replace_extension();
    const std::vector<std::string> earlier = momentFilesIn(result.path);
    if (!earlier.empty()) {
        const fs::path fresh = freshFolderBeside(result.path);
        const int answer = dialogProvider().showBox(
            DialogProvider::Kind::Confirm,
            "フォルダー「" + result.path.string() + "」には、前に書き出した場面のファイルが" +
                std::to_string(earlier.size()) + "件あります。\n「新しいフォルダー」では「" +
                fresh.filename().string() +
                "」を作ってそこに書き出します。「置き換える」では、書き出しが終わったときに前の"
                "ファイルを削除します。",
            job, "", {"新しいフォルダー", "置き換える", "キャンセル"});
        if (answer == 0)
            result.path = fresh;
        else if (answer == 1)
            result.replaced = earlier;
        else
            return std::nullopt;
    }
    if (!makeFolder(result.path, result.made, job))
        return std::nullopt;
    return result;
}
