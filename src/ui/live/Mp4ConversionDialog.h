#pragma once

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

// MP4 に変換: a finished live recording NAME.ts copied into NAME.mp4 (no
// re-encoding) on a thread of the dialog's own, with a progress bar and 中止.
// Accepted once NAME.mp4 is complete; a stop or a failure leaves no NAME.mp4
// and says why.
class Mp4ConversionDialog : public QDialog {
    Q_OBJECT
public:
    Mp4ConversionDialog(std::string ts, std::string mp4, QWidget* parent = nullptr);
    ~Mp4ConversionDialog() override;

    QProgressBar* progressBar = nullptr;
    QLabel* statusLabel = nullptr;
    QPushButton* stopButton = nullptr;

    bool isRunning() const { return thread_ != nullptr; }
    // Starts the conversion (the dialog shows first).
    void start();
    void reject() override;

private:
    void finished();
    void showProgress();

    std::string ts_, mp4_;
    QThread* thread_ = nullptr;
    std::atomic<bool> cancel_{false};
    bool ok_ = false;
    std::string error_;
    QTimer progress_;
};
