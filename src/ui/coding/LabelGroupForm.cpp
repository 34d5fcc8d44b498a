#include "coding/LabelGroupForm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "SubViewClass/CustomAlert.h"
#include "coding/EditorParts.h"
#include "coding/KeyCaptureField.h"

using editor::qs;
using editor::smallButton;

LabelGroupForm::LabelGroupForm(CodeWindow& window, QWidget* parent)
    : QWidget(parent), window_(window) {
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    auto* name = new QHBoxLayout();
    name->addWidget(new QLabel("グループ名", this));
    name_ = new QLineEdit(this);
    name_->setObjectName("labelGroupField");
    name->addWidget(name_, 1);
    form->addLayout(name);
    // The texts scroll: a group of many (15 players, say) keeps the editor
    // and its buttons on the screen.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("labelTextScroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* texts = new QWidget(scroll);
    auto* column = new QVBoxLayout(texts);
    column->setContentsMargins(0, 0, 0, 0);
    texts_ = new QGridLayout();
    column->addLayout(texts_);
    column->addStretch(1);
    scroll->setWidget(texts);
    form->addWidget(scroll, 1);
    auto* addText =
        smallButton("ラベルを追加", "labelTextAddButton", "このグループにラベルを加えます", this);
    form->addWidget(addText, 0, Qt::AlignLeft);
    connect(name_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (LabelGroup* g = group()) {
            g->group = t.trimmed().toStdString();
            emit renamed(t.trimmed());
        }
    });
    connect(addText, &QPushButton::clicked, this, [this] {
        if (LabelGroup* g = group()) {
            g->texts.push_back("ラベル" + std::to_string(g->texts.size() + 1));
            g->keys.resize(g->texts.size());
            showTexts();
        }
    });
}

LabelGroup* LabelGroupForm::group() {
    return group_ >= 0 && static_cast<size_t>(group_) < window_.labels.size()
               ? &window_.labels[static_cast<size_t>(group_)]
               : nullptr;
}

void LabelGroupForm::showGroup(int group) {
    group_ = group;
    showTexts();
}

void LabelGroupForm::editName() {
    name_->setFocus();
    name_->selectAll();
}

void LabelGroupForm::showTexts() {
    while (QLayoutItem* item = texts_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const LabelGroup* g = group();
    setEnabled(g != nullptr);
    name_->setText(g ? qs(g->group) : QString());
    if (!g)
        return;
    QWidget* holder = texts_->parentWidget();
    for (size_t t = 0; t < g->texts.size(); ++t) {
        const int row = static_cast<int>(t);
        auto* text = new QLineEdit(qs(g->texts[t]), holder);
        text->setObjectName(QString("labelText%1").arg(t));
        auto* key = new KeyCaptureField(holder);
        key->setObjectName(QString("labelKey%1").arg(t));
        key->setText(qs(t < g->keys.size() ? g->keys[t] : std::string()));
        auto* remove = smallButton("×", "", "このラベルを除きます", holder);
        remove->setObjectName(QString("labelTextRemove%1").arg(t));
        remove->setFixedWidth(28);
        texts_->addWidget(text, row, 0);
        texts_->addWidget(key, row, 1);
        texts_->addWidget(remove, row, 2);
        // At once, for a click that follows.
        for (QWidget* w : {static_cast<QWidget*>(text), static_cast<QWidget*>(key),
                           static_cast<QWidget*>(remove)})
            w->show();
        connect(text, &QLineEdit::textEdited, this, [this, t](const QString& s) {
            if (LabelGroup* lg = group(); lg && t < lg->texts.size())
                lg->texts[t] = s.trimmed().toStdString();
        });
        connect(key, &KeyCaptureField::keyPressed, this, [this, t, key](const QString& k) {
            setKey(t, k);
            if (LabelGroup* lg = group(); lg && t < lg->keys.size())
                key->setText(qs(lg->keys[t]));
        });
        // Queued: rebuilding the rows deletes the button clicked.
        connect(remove, &QPushButton::clicked, this, [this, t] {
            QMetaObject::invokeMethod(
                this,
                [this, t] {
                    if (LabelGroup* lg = group(); lg && t < lg->texts.size()) {
                        lg->texts.erase(lg->texts.begin() + static_cast<long>(t));
                        lg->keys.erase(lg->keys.begin() + static_cast<long>(t));
                        showTexts();
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

void LabelGroupForm::setKey(size_t text, const QString& key) {
    LabelGroup* g = group();
    if (!g || text >= g->keys.size())
        return;
    const std::string k = key.toStdString();
    const KeyPlace place{KeyPlace::Kind::Label, static_cast<size_t>(group_), text};
    if (const std::string taken = keyTakenMessage(window_, k, place); !taken.empty()) {
        AlertBox(taken, "お知らせ", "warning");
        return;
    }
    g->keys[text] = k;
}
