#include "playlists/PublishDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include "SubViewClass/CustomAlert.h"
#include "client/LibraryClient.h"
#include "publish/ItemRender.h"
#include "season/LibraryWindow.h"
#include "settings/AppSettings.h"

using namespace library;

namespace {

constexpr const char* kFolderKey = "publish/folder";
constexpr const char* kBaseKey = "publish/baseUrl";
constexpr const char* kHeightKey = "publish/maxHeight";
constexpr const char* kBitRateKey = "publish/bitRate";
constexpr const char* kGroupKey = "publish/group";

QSpinBox* numberBox(int min, int max, int value, const char* suffix, QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(min, max);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

} // namespace

QString publishFolder() {
    return appSettings().value(kFolderKey).toString();
}

QString linkBase() {
    QString base = appSettings().value(kBaseKey, "http://localhost:8080").toString().trimmed();
    while (base.endsWith('/'))
        base.chop(1);
    return base;
}

PublishDialog::PublishDialog(Playlist playlist, LibraryClient* client, QWidget* parent)
    : QDialog(parent), playlist_(std::move(playlist)), client_(client) {
    setObjectName("publishDialog");
    setWindowTitle("プレイリストを公開");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel(
        QString("「%1」の%2件を公開します。").arg(playlist_.name).arg(playlist_.items.size()),
        this));
    auto* form = new QFormLayout;
    groupCombo = new QComboBox(this);
    groupCombo->setObjectName("publishGroup");
    groupCombo->setEditable(true);
    groupCombo->addItems({"FW", "BK", "全員"});
    groupCombo->setCurrentText(appSettings().value(kGroupKey, "全員").toString());
    form->addRow("グループ", groupCombo);
    folderEdit = new QLineEdit(publishFolder(), this);
    folderEdit->setObjectName("publishFolder");
    folderButton = new QPushButton("選択…", this);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderEdit, 1);
    folderRow->addWidget(folderButton);
    form->addRow("公開フォルダー", folderRow);
    baseUrlEdit = new QLineEdit(linkBase(), this);
    baseUrlEdit->setObjectName("publishBaseUrl");
    baseUrlEdit->setToolTip("rucktag serve を動かすパソコンのアドレス");
    form->addRow("リンクのURL", baseUrlEdit);
    heightSpin = numberBox(240, 1080, appSettings().value(kHeightKey, 720).toInt(), " px", this);
    heightSpin->setObjectName("publishHeight");
    form->addRow("最大の高さ", heightSpin);
    bitRateSpin =
        numberBox(300, 20000, appSettings().value(kBitRateKey, 2500).toInt(), " kbps", this);
    bitRateSpin->setObjectName("publishBitRate");
    bitRateSpin->setSingleStep(100);
    form->addRow("ビットレート", bitRateSpin);
    l->addLayout(form);
    progressBar = new QProgressBar(this);
    progressBar->setRange(0, 1000);
    progressBar->setValue(0);
    l->addWidget(progressBar);
    statusLabel = new QLabel(this);
    statusLabel->setObjectName("publishStatus");
    statusLabel->setWordWrap(true);
    l->addWidget(statusLabel);
    auto* buttons = new QDialogButtonBox(this);
    publishButton = buttons->addButton("公開", QDialogButtonBox::AcceptRole);
    publishButton->setObjectName("publishStart");
    cancelButton = buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    cancelButton->setObjectName("publishCancel");
    l->addWidget(buttons);
    resize(520, sizeHint().height());
    connect(publishButton, &QPushButton::clicked, this, &PublishDialog::onPublish);
    connect(cancelButton, &QPushButton::clicked, this, &PublishDialog::reject);
    connect(folderButton, &QPushButton::clicked, this, [this] {
        QPointer<PublishDialog> self(this);
        DialogProvider::FilePanel panel{"公開フォルダー", {}, {}, folderEdit->text()};
        panel.chooseFolder = true;
        dialogProvider().openFilePanel(this, panel, [self](std::optional<std::string> path) {
            if (self && path)
                self->folderEdit->setText(QString::fromStdString(*path));
        });
    });
}

PublishDialog::~PublishDialog() {
    if (thread_) {
        cancelled_ = true;
        thread_->wait();
    }
}

void PublishDialog::setBusy(bool busy) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{groupCombo, folderEdit, folderButton, baseUrlEdit,
                                         heightSpin, bitRateSpin, publishButton})
        w->setEnabled(!busy);
}

void PublishDialog::reject() {
    if (thread_) {
        // Stopped between packets; the dialog stays until the folder is as it was.
        cancelled_ = true;
        statusLabel->setText("キャンセルしています…");
        return;
    }
    QDialog::reject();
}

void PublishDialog::onPublish() {
    group_ = groupCombo->currentText().trimmed();
    const QString folder = folderEdit->text().trimmed();
    if (group_.isEmpty() || folder.isEmpty()) {
        statusLabel->setText(group_.isEmpty() ? "グループを選ぶか入力してください。"
                                              : "公開フォルダーを選んでください。");
        return;
    }
    QSettings settings = appSettings();
    settings.setValue(kFolderKey, folder);
    settings.setValue(kBaseKey, baseUrlEdit->text().trimmed());
    settings.setValue(kHeightKey, heightSpin->value());
    settings.setValue(kBitRateKey, bitRateSpin->value());
    settings.setValue(kGroupKey, group_);

    publish::PublishRequest request;
    request.dir = folder;
    request.group = group_;
    request.playlistId = playlist_.id;
    request.playlistName = playlist_.name;
    request.revision = playlist_.revision;
    request.maxHeight = heightSpin->value();
    request.bitRateKbps = bitRateSpin->value();
    for (const PlaylistItem& i : playlist_.items)
        request.items.push_back({QString::fromStdString(i.video), i.from(), i.to(), i.title,
                                 LibraryHitModel::matchText(i.matchTitle, i.matchDate), i.matchTime,
                                 i.note});
    cancelled_ = false;
    setBusy(true);
    progressBar->setValue(0);
    statusLabel->setText("書き出しています…");
    // A thread of its own: the global pool is the painter's.
    thread_ = QThread::create([this, request] {
        result_ = publish::publishPlaylist(
            request, publish::renderForPublish,
            [this](double done) {
                QMetaObject::invokeMethod(
                    this, [this, done] { progressBar->setValue(static_cast<int>(done * 1000)); },
                    Qt::QueuedConnection);
            },
            cancelled_);
    });
    connect(thread_, &QThread::finished, this, &PublishDialog::finished);
    thread_->start();
}

void PublishDialog::finished() {
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    if (result_.status != publish::PublishStatus::Done) {
        setBusy(false);
        statusLabel->setText(result_.status == publish::PublishStatus::Cancelled
                                 ? "キャンセルしました。公開フォルダーは元のままです。"
                                 : "公開できませんでした: " + result_.error);
        return;
    }
    progressBar->setValue(1000);
    statusLabel->setText("ライブラリに記録しています…");
    QPointer<PublishDialog> self(this);
    client_->markPublished(playlist_.id, playlist_.revision, result_.manifest.groups,
                           [self](PlaylistResult result, const QString& error) {
                               if (!self)
                                   return;
                               if (result != PlaylistResult::Done) {
                                   self->setBusy(false);
                                   self->statusLabel->setText(
                                       "公開しましたが、ライブラリに記録できませんでした: " +
                                       error);
                                   return;
                               }
                               emit self->published(self->group_);
                               self->accept();
                           });
}
