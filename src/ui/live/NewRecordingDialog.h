#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "live/LiveRecorder.h"
#include "live/VideoDevices.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// What is wrong with a stream URL typed for a live recording (udp, rtp, srt
// or rtsp, with a host; udp, rtp and srt with a port too); empty when it can
// be tried.
QString streamUrlProblem(const QString& url);

// The folder the last recording went to (the user's videos before any).
QString lastRecordingFolder();

// ライブ収録…: the source of a live recording (a capture device with one of
// its formats, a network stream, or ffmpeg's test picture) and the match's
// file, NAME.ts in a folder. 収録開始 refuses, with the reason under the
// fields, a source that cannot be tried, a folder that cannot be written and
// a name whose files are already there.
class NewRecordingDialog : public QDialog {
    Q_OBJECT
public:
    explicit NewRecordingDialog(std::vector<VideoDevice> devices, QWidget* parent = nullptr);

    QRadioButton* deviceChoice = nullptr;
    QComboBox* deviceCombo = nullptr;
    QComboBox* formatCombo = nullptr;
    QRadioButton* streamChoice = nullptr;
    QLineEdit* urlEdit = nullptr;
    QRadioButton* testChoice = nullptr;
    QLineEdit* nameEdit = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* folderButton = nullptr;
    QLabel* problemLabel = nullptr;
    QPushButton* startButton = nullptr;
    QPushButton* cancelButton = nullptr;

    // Once accepted: the source and NAME.ts.
    const LiveSource& source() const { return source_; }
    const std::string& output() const { return output_; }

    // ffmpeg's test picture, as the test choice records it.
    static constexpr const char* kTestPicture = "testsrc2=size=1280x720:rate=25";

private:
    void addSourceRows(QFormLayout* form);
    void addFileRows(QFormLayout* form);
    void onStart();
    void fillFormats();
    // The source chosen, or the reason there is none.
    QString chooseSource(LiveSource& source) const;
    // NAME.ts in the folder, or the reason it cannot be made.
    QString chooseOutput(std::string& output) const;

    std::vector<VideoDevice> devices_;
    LiveSource source_;
    std::string output_;
};
