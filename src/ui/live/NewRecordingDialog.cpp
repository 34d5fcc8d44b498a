#include "live/NewRecordingDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>
#include <QVBoxLayout>

#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "settings/AppSettings.h"

namespace {

constexpr const char* kFolderKey = "live/folder";

QString formatText(const VideoDeviceFormat& f) {
    QString text = QString::fromStdString(f.description);
    if (f.width > 0)
        text += QString("  %1×%2").arg(f.width).arg(f.height);
    return text;
}

} // namespace

QString streamUrlProblem(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return "ストリームのURLを入力してください（例: udp://0.0.0.0:5000）。";
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!QStringList{"udp", "rtp", "srt", "rtsp"}.contains(scheme))
        return "URLは udp://、rtp://、srt://、rtsp:// のどれかで始めてください。";
    if (!url.isValid() || text.contains(' '))
        return "URLを読み取れません。書き間違いがないか確かめてください。";
    if (url.host().isEmpty())
        return "URLにホスト名またはIPアドレスがありません（受信するなら udp://0.0.0.0:5000 "
               "のように書きます）。";
    // RTSP has its own default port; the others are bound or dialled by number.
    if (scheme != "rtsp" && url.port() <= 0)
        return "URLにポート番号がありません（例: " + scheme + "://0.0.0.0:5000）。";
    return {};
}

QString lastRecordingFolder() {
    const QString remembered = appSettings().value(kFolderKey).toString();
    if (!remembered.isEmpty())
        return remembered;
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return movies.isEmpty() ? QDir::homePath() : movies;
}

NewRecordingDialog::NewRecordingDialog(std::vector<VideoDevice> devices, QWidget* parent)
    : QDialog(parent), devices_(std::move(devices)) {
    setObjectName("newRecordingDialog");
    setWindowTitle("ライブ収録");
    setWindowModality(Qt::WindowModal);
    auto* l = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    addSourceRows(form);
    addFileRows(form);
    l->addLayout(form);

    problemLabel = new QLabel(this);
    problemLabel->setObjectName("liveProblem");
    problemLabel->setWordWrap(true);
    problemLabel->setStyleSheet("color: #d03030;");
    l->addWidget(problemLabel);
    auto* buttons = new QDialogButtonBox(this);
    startButton = buttons->addButton("収録開始", QDialogButtonBox::AcceptRole);
    startButton->setObjectName("liveStart");
    startButton->setDefault(true);
    cancelButton = buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    cancelButton->setObjectName("liveCancel");
    l->addWidget(buttons);
    resize(620, sizeHint().height());

    fillFormats();
    connect(deviceCombo, &QComboBox::currentIndexChanged, this, &NewRecordingDialog::fillFormats);
    // Typing a URL or touching a device means that source.
    connect(urlEdit, &QLineEdit::textEdited, streamChoice,
            [this] { streamChoice->setChecked(true); });
    connect(deviceCombo, &QComboBox::activated, deviceChoice,
            [this] { deviceChoice->setChecked(true); });
    connect(startButton, &QPushButton::clicked, this, &NewRecordingDialog::onStart);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(folderButton, &QPushButton::clicked, this, [this] {
        QPointer<NewRecordingDialog> self(this);
        DialogProvider::FilePanel panel{"収録先のフォルダー", {}, {}, folderEdit->text()};
        panel.chooseFolder = true;
        dialogProvider().openFilePanel(this, panel, [self](std::optional<std::string> path) {
            if (self && path)
                self->folderEdit->setText(QString::fromStdString(*path));
        });
    });
}

void NewRecordingDialog::addSourceRows(QFormLayout* form) {
    auto* sources = new QButtonGroup(this);
    deviceChoice = new QRadioButton("映像機器", this);
    deviceChoice->setObjectName("liveDeviceChoice");
    deviceCombo = new QComboBox(this);
    deviceCombo->setObjectName("liveDevice");
    for (const VideoDevice& d : devices_)
        deviceCombo->addItem(
            QString("%1 (%2)").arg(QString::fromStdString(d.name), QString::fromStdString(d.path)));
    formatCombo = new QComboBox(this);
    formatCombo->setObjectName("liveDeviceFormat");
    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(deviceCombo, 2);
    deviceRow->addWidget(formatCombo, 1);
    form->addRow(deviceChoice, deviceRow);
    if (devices_.empty()) {
        deviceChoice->setEnabled(false);
        deviceCombo->setEnabled(false);
        formatCombo->setEnabled(false);
        deviceCombo->setPlaceholderText("映像機器が見つかりません（/dev/video*）");
    }

    streamChoice = new QRadioButton("ネットワーク", this);
    streamChoice->setObjectName("liveStreamChoice");
    urlEdit = new QLineEdit(this);
    urlEdit->setObjectName("liveStreamUrl");
    urlEdit->setPlaceholderText("udp://0.0.0.0:5000、srt://…、rtsp://…");
    form->addRow(streamChoice, urlEdit);

    testChoice = new QRadioButton("テスト映像", this);
    testChoice->setObjectName("liveTestChoice");
    form->addRow(testChoice, new QLabel("ffmpeg のテストパターン（1280×720、25fps、機器の代わりの"
                                        "確認用）",
                                        this));
    for (QRadioButton* b : {deviceChoice, streamChoice, testChoice})
        sources->addButton(b);
    (devices_.empty() ? streamChoice : deviceChoice)->setChecked(true);
}

void NewRecordingDialog::addFileRows(QFormLayout* form) {
    nameEdit = new QLineEdit(QDateTime::currentDateTime().toString("yyyy-MM-dd_HHmm"), this);
    nameEdit->setObjectName("liveName");
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameEdit, 1);
    nameRow->addWidget(new QLabel(".ts", this));
    form->addRow("ファイル名", nameRow);
    folderEdit = new QLineEdit(lastRecordingFolder(), this);
    folderEdit->setObjectName("liveFolder");
    folderButton = new QPushButton("選択…", this);
    folderButton->setObjectName("liveFolderChoose");
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderEdit, 1);
    folderRow->addWidget(folderButton);
    form->addRow("フォルダー", folderRow);
}

void NewRecordingDialog::fillFormats() {
    formatCombo->clear();
    const int d = deviceCombo->currentIndex();
    if (d < 0 || static_cast<size_t>(d) >= devices_.size())
        return;
    formatCombo->addItem("機器のまま");
    for (const VideoDeviceFormat& f : devices_[size_t(d)].formats)
        formatCombo->addItem(formatText(f));
}

QString NewRecordingDialog::chooseSource(LiveSource& source) const {
    if (testChoice->isChecked()) {
        source = {kTestPicture, "lavfi", {}};
        return {};
    }
    if (streamChoice->isChecked()) {
        const QString url = urlEdit->text().trimmed();
        if (QString problem = streamUrlProblem(url); !problem.isEmpty())
            return problem;
        source = {url.toStdString(), "", {}};
        return {};
    }
    const int d = deviceCombo->currentIndex();
    if (d < 0 || static_cast<size_t>(d) >= devices_.size())
        return "映像機器を選んでください。";
    const VideoDevice& device = devices_[size_t(d)];
    source = {device.path, "v4l2", {}};
    // The first item leaves the format to the device.
    if (const int f = formatCombo->currentIndex() - 1;
        f >= 0 && static_cast<size_t>(f) < device.formats.size()) {
        const VideoDeviceFormat& format = device.formats[size_t(f)];
        if (!format.pixelFormat.empty())
            source.options["input_format"] = format.pixelFormat;
        if (format.width > 0)
            source.options["video_size"] =
                std::to_string(format.width) + "x" + std::to_string(format.height);
    }
    return {};
}

QString NewRecordingDialog::chooseOutput(std::string& output) const {
    QString name = nameEdit->text().trimmed();
    if (name.endsWith(".ts", Qt::CaseInsensitive))
        name.chop(3);
    if (name.isEmpty() || name == "." || name == "..")
        return "ファイル名を入力してください。";
    if (name.contains('/'))
        return "ファイル名に / は使えません。";
    const QString folder = folderEdit->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return "フォルダーが見つかりません。収録先のフォルダーを選んでください。";
    // Tried for real: permissions alone do not tell (a read-only disk, root).
    if (QTemporaryFile probe(QDir(folder).filePath(".rucktag-XXXXXX")); !probe.open())
        return "このフォルダーには書き込めません。別のフォルダーを選んでください。\n" + folder;
    const std::string ts = QDir(folder).filePath(name + ".ts").toStdString();
    // The recording, its tags and its MP4 must all be new: an earlier match's
    // tags would mix into this one.
    const std::string mp4 = QDir(folder).filePath(name + ".mp4").toStdString();
    for (const std::string& file : {ts, TagFileManager::sessionFilePath(ts), mp4})
        if (QFileInfo::exists(QString::fromStdString(file)))
            return "同じ名前のファイルがすでにあります。別の名前にしてください。\n" +
                   QString::fromStdString(file);
    output = ts;
    return {};
}

void NewRecordingDialog::onStart() {
    LiveSource source;
    std::string output;
    QString problem = chooseSource(source);
    if (problem.isEmpty())
        problem = chooseOutput(output);
    problemLabel->setText(problem);
    if (!problem.isEmpty())
        return;
    source_ = std::move(source);
    output_ = std::move(output);
    appSettings().setValue(kFolderKey, folderEdit->text().trimmed());
    accept();
}
