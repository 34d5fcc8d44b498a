#include "live/Mp4ConversionDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "live/LiveRecorder.h"

Mp4ConversionDialog::Mp4ConversionDialog(std::string ts, std::string mp4, QWidget* parent)
    : QDialog(parent), ts_(std::move(ts)), mp4_(std::move(mp4)) {
    setObjectName("mp4ConversionDialog");
    setWindowTitle("MP4 に変換");
    setWindowModality(Qt::WindowModal);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel(QString::fromStdString(std::filesystem::path(mp4_).filename().string() +
                                                   " を作っています。"),
                            this));
    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 1000);
    l->addWidget(progressBar);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName("mp4ConversionStatus");
    statusLabel->setWordWrap(true);
    l->addWidget(statusLabel);
    auto* buttons = new QDialogButtonBox(this);
    stopButton = buttons->addButton("中止", QDialogButtonBox::RejectRole);
    stopButton->setObjectName("mp4ConversionStop");
    l->addWidget(buttons);
    connect(stopButton, &QPushButton::clicked, this, &Mp4ConversionDialog::reject);
    progress_.setInterval(200);
    connect(&progress_, &QTimer::timeout, this, &Mp4ConversionDialog::showProgress);
    resize(460, sizeHint().height());
}

Mp4ConversionDialog::~Mp4ConversionDialog() {
    if (thread_) {
        cancel_ = true;
        thread_->wait();
    }
}

void Mp4ConversionDialog::start() {
    statusLabel->setText("変換しています…（映像は作り直さずにコピーします）");
    cancel_ = false;
    // A thread of its own: the global pool is the painter's.
    thread_ = QThread::create([this] { ok_ = remuxLiveToMp4(ts_, mp4_, cancel_, error_); });
    connect(thread_, &QThread::finished, this, &Mp4ConversionDialog::finished);
    thread_->start();
    progress_.start();
}

void Mp4ConversionDialog::showProgress() {
    std::error_code ec;
    const auto total = std::filesystem::file_size(ts_, ec);
    if (ec || total == 0)
        return;
    // Written as NAME.mp4.part until complete. An MP4 holds the same packets
    // in a little less room; never shown done early.
    const auto written = std::filesystem::file_size(mp4_ + ".part", ec);
    if (ec)
        return;
    const double part = std::min(0.99, static_cast<double>(written) / static_cast<double>(total));
    progressBar->setValue(static_cast<int>(part * 1000));
}

void Mp4ConversionDialog::reject() {
    if (thread_) {
        cancel_ = true;
        statusLabel->setText("中止しています…");
        return;
    }
    QDialog::reject();
}

void Mp4ConversionDialog::finished() {
    progress_.stop();
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    if (ok_) {
        progressBar->setValue(1000);
        accept();
        return;
    }
    stopButton->setText("閉じる");
    statusLabel->setText(cancel_
                             ? "中止しました。MP4 は作っていません。"
                             : "MP4 に変換できませんでした。\n" + QString::fromStdString(error_));
}
