#include "playlists/PublishedBox.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextOption>
#include <QVBoxLayout>

#include "SubViewClass/CustomAlert.h"
#include "playlists/PublishDialog.h"
#include "playlists/QrCode.h"
#include "publish/PlaylistPublish.h"
#include "publish/PublishFolder.h"
#include "publish/PublishJob.h"

PublishedBox::PublishedBox(QWidget* parent) : QWidget(parent) {
    setObjectName("publishedBox");
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel("公開", this));
    stateLabel = new QLabel(this);
    stateLabel->setObjectName("publishedState");
    stateLabel->setStyleSheet("font-weight: bold;");
    l->addWidget(stateLabel);
    changesLabel = new QLabel(this);
    changesLabel->setObjectName("publishedChanges");
    changesLabel->setWordWrap(true);
    l->addWidget(changesLabel);
    groupCombo = new QComboBox(this);
    groupCombo->setObjectName("publishedGroup");
    l->addWidget(groupCombo);
    linkText = new QPlainTextEdit(this);
    linkText->setObjectName("publishedLink");
    linkText->setReadOnly(true);
    linkText->setWordWrapMode(QTextOption::WrapAnywhere);
    linkText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    linkText->setFixedHeight(linkText->fontMetrics().lineSpacing() * 3 + 12);
    l->addWidget(linkText);
    auto* row = new QHBoxLayout;
    copyButton = new QPushButton("リンクをコピー", this);
    copyButton->setObjectName("publishedCopy");
    row->addWidget(copyButton);
    row->addStretch(1);
    l->addLayout(row);
    qrLabel = new QLabel(this);
    qrLabel->setObjectName("publishedQr");
    qrLabel->setAlignment(Qt::AlignCenter);
    qrLabel->setMinimumSize(200, 200);
    l->addWidget(qrLabel);
    revokeButton = new QPushButton("リンクを作り直す", this);
    revokeButton->setObjectName("publishedRevoke");
    revokeButton->setToolTip("このグループの今のリンクを使えなくして、新しいリンクを作ります");
    l->addWidget(revokeButton);
    l->addStretch(1);
    connect(groupCombo, &QComboBox::currentTextChanged, this, [this] { showLink(); });
    connect(copyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(linkText->toPlainText()); });
    connect(revokeButton, &QPushButton::clicked, this, &PublishedBox::onRevoke);
    setPlaylist({});
}

QString PublishedBox::stateText(const library::Playlist& p) {
    if (p.publishedRevision == 0)
        return "未公開";
    return p.publishedRevision == p.revision ? "公開済み" : "公開後に変更あり";
}

void PublishedBox::setPlaylist(const std::optional<library::Playlist>& playlist) {
    stateLabel->setText(playlist ? stateText(*playlist) : QString());
    QString changes;
    if (playlist && playlist->publishedRevision != 0 &&
        playlist->publishedRevision != playlist->revision)
        if (const auto published = publish::readManifest(
                publish::manifestPath(publishFolder(), playlist->id), nullptr))
            changes = publish::changesText(
                publish::changesSince(*published, publish::publishItems(*playlist)));
    changesLabel->setText(changes);
    changesLabel->setVisible(!changes.isEmpty());
    const QString keep = chosen_.isEmpty() ? groupCombo->currentText() : chosen_;
    chosen_.clear();
    const QSignalBlocker quiet(groupCombo);
    groupCombo->clear();
    if (playlist)
        groupCombo->addItems(playlist->publishedGroups);
    groupCombo->setCurrentIndex(std::max(0, groupCombo->findText(keep)));
    groupCombo->setEnabled(groupCombo->count() > 0);
    showLink();
}

void PublishedBox::showLink() {
    const QString group = groupCombo->currentText();
    QString link, problem;
    if (!group.isEmpty()) {
        std::vector<publish::Group> groups;
        if (publish::loadGroups(publishFolder(), groups, &problem)) {
            for (const publish::Group& g : groups)
                if (g.name == group)
                    link = linkBase() + publish::linkPath(g);
            if (link.isEmpty())
                problem = "公開フォルダーにこのグループのリンクがありません。";
        }
    }
    linkText->setPlainText(link);
    linkText->setPlaceholderText(problem);
    const QImage qr = link.isEmpty() ? QImage() : qrImage(link, 4);
    qrLabel->setPixmap(qr.isNull() ? QPixmap() : QPixmap::fromImage(qr));
    copyButton->setEnabled(!link.isEmpty());
    revokeButton->setEnabled(!link.isEmpty());
}

void PublishedBox::onRevoke() {
    const QString group = groupCombo->currentText();
    if (group.isEmpty() ||
        MessageBox(QString("グループ「%1」のリンクを作り直しますか？今のリンクは開けなくなります。")
                       .arg(group)
                       .toStdString(),
                   "リンクを作り直す") != "yes")
        return;
    QString error;
    if (publish::revokeGroup(publishFolder(), group, &error))
        emit revoked(QString("グループ「%1」のリンクを作り直しました。").arg(group));
    else
        emit revoked(error);
    showLink();
}
