#pragma once

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QProgressBar;
class ClipExportSession;

// The export job: runs one clip export and shows its progress once a second,
// then reports the outcome and closes its window.
class ClipViewController : public QWidget {
    Q_OBJECT
public:
    explicit ClipViewController(QWidget* parent = nullptr);
    ~ClipViewController() override;

    QProgressBar* progressBar = nullptr;
    QLabel* progressLabel = nullptr;
    std::optional<std::string> clipInputUrl;
    std::optional<std::string> clipOutputUrl;
    float startTime = 0.0f;
    float endTime = 0.0f;
    float duration = 0.0f;
    // A highlight: these ranges (seconds) back to back instead of the clip,
    // or each into its own file when separateOutputs names them.
    std::vector<std::pair<double, double>> ranges;
    std::vector<std::string> separateOutputs;
    // A folder made for the files: removed again (when empty) unless the job
    // completes, however it ends (a failure, or the window destroyed with the
    // application while it runs).
    std::string madeFolder;
    std::string clipOutputResultString;
    int clipOutputResult = 0;

    // "クリップ出力" unless another job's name is given (titles and messages).
    void setJobName(const QString& name);
    void viewDidAppear();
    void clipProgressExit();
    // The label's text for a progress bar value: one decimal and "%".
    static QString progressText(double value);
    // The export's time range in milliseconds: times truncated, an end of 0
    // meaning the length of the video (or the end of the streams when that
    // is unknown).
    static std::pair<int64_t, int64_t> rangeMs(float start, float end, float duration);
    bool isFinished() const { return progressFinished.load(std::memory_order_acquire); }
    double progressValue() const { return progressValue_; }

signals:
    void finished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tick();

    std::unique_ptr<ClipExportSession> exportSession;
    QTimer timer;
    std::atomic<bool> progressFinished{false};
    double progressValue_ = 0.0;
    bool started_ = false;
    QString jobName_ = "クリップ出力";
    QLabel* title_ = nullptr;
};

// Why an export to `target` must not start while `video` is open: the
// target is the video itself or its session file. Empty when it may.
std::string exportTargetClash(const std::string& target, const std::string& video);

// The window that holds the export job.
class ClipWindowController : public QWidget {
    Q_OBJECT
public:
    explicit ClipWindowController(QWidget* parent = nullptr);
    ClipViewController* contentViewController() const { return content_; }
    void showWindow();

private:
    ClipViewController* content_;
};
