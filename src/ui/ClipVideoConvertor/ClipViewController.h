#pragma once

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "match/Angles.h"

class AngleChoiceRow;
struct MatchInfo;
class QLabel;
class QProgressBar;
class QPushButton;
class ClipExportSession;

// The export job: runs one clip export and shows its progress once a second,
// then reports the outcome (where the file went) and closes its window. Its
// キャンセル button stops the export, leaving nothing of it behind.
class ClipViewController : public QWidget {
    Q_OBJECT
public:
    explicit ClipViewController(QWidget* parent = nullptr);
    ~ClipViewController() override;

    QProgressBar* progressBar = nullptr;
    QLabel* progressLabel = nullptr;
    QPushButton* cancelButton = nullptr;
    std::optional<std::string> clipInputUrl;
    std::optional<std::string> clipOutputUrl;
    float startTime = 0.0f;
    float endTime = 0.0f;
    float duration = 0.0f;
    // A highlight: these ranges (seconds) back to back instead of the clip,
    // or each into its own file when separateOutputs names them.
    std::vector<std::pair<double, double>> ranges;
    std::vector<std::string> separateOutputs;
    // The video of each range when they are of several (clipInputUrl names
    // the first).
    std::vector<std::string> rangeSources;
    // A folder made for the files: removed again (when empty) unless the job
    // completes, however it ends (a failure, or the window destroyed with the
    // application while it runs).
    std::string madeFolder;
    // Files of an earlier per-moment export that this one replaces: removed
    // once it has completed (those it wrote again under the same name stay).
    std::vector<std::string> replacedFiles;
    std::string clipOutputResultString;
    int clipOutputResult = 0;
    // The angles of each video of the job (files absolute). When any video
    // has some, the window first offers the アングル choice and starts on
    // 書き出す.
    std::map<std::string, std::vector<MatchAngle>> angles;
    AngleChoiceRow* angleChoice = nullptr;
    QPushButton* startButton = nullptr;
    // Adds `video`'s angles: `open`'s (the open video's match) when given,
    // else its match file's.
    void addAnglesOf(const std::string& video, const MatchInfo* open = nullptr);

    // "クリップ出力" unless another job's name is given (titles and messages).
    void setJobName(const QString& name);
    void viewDidAppear();
    void clipProgressExit();
    // Stops the export; its window closes once it has stopped.
    void cancelExport();
    // Stops the export and waits for it, without a report (the application
    // quits).
    void stopNow();
    // Started and not yet ended.
    bool isRunning() const;
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
    void offerAngles();
    void startExport();
    void tick();
    void reportOutcome(int status, const std::string& errorText, const std::string& job);
    // Where the export writes, for the report.
    std::string placeText() const;
    void removeReplacedFiles();
    void removeMadeFolderUnlessDone();

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

// The export jobs still running in windows owned by `owner`.
std::vector<ClipViewController*> runningExports(QWidget* owner);
// Asks whether running exports are to be stopped so that the application can
// quit; true when the user says so.
bool askToStopExports();

// Where a per-moment export writes, its chosen file being `chosen`: the folder
// named after it (made when missing). When that folder holds the files of an
// earlier per-moment export, the user chooses a fresh folder beside it
// (NAME_2, NAME_3, ...), replacing those files, or not exporting; their files
// are never mixed. Nothing when the user cancels or the folder cannot be made
// (told, with the reason).
struct MomentFolder {
    std::filesystem::path path;
    bool made = false;                 // made for this export
    std::vector<std::string> replaced; // earlier files to remove once done
};
std::optional<MomentFolder> momentFolderFor(const std::filesystem::path& chosen,
                                            const std::string& job);

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
