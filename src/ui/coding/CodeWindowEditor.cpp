#include "coding/CodeWindowEditor.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "SubViewClass/CustomAlert.h"
#include "codewindow/CodeWindowFile.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

// Colours offered at a click; any other through the colour dialog.
const char* const kSwatches[] = {"#3f8a3f", "#ff8b40", "#408bff", "#8b408b",
                                 "#ff9d80", "#c03030", "#d0b000", "#808080"};

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QPushButton* smallButton(const QString& text, const char* name, const QString& tip,
                         QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

// Seconds 0-60 or empty for the play screen's value.
QLineEdit* secondsField(const char* name, QWidget* parent) {
    auto* f = new QLineEdit(parent);
    f->setObjectName(name);
    f->setPlaceholderText("前/後の値");
    auto* v = new QDoubleValidator(0.0, kMaxLeadLag, 1, f);
    v->setNotation(QDoubleValidator::StandardNotation);
    v->setLocale(QLocale::c());
    f->setValidator(v);
    return f;
}

std::optional<double> secondsOf(const QString& text) {
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QString secondsText(const std::optional<double>& v) {
    return v ? QLocale::c().toString(*v, 'g', 6) : QString();
}

QIcon swatch(const std::string& color) {
    QPixmap p(12, 12);
    p.fill(QColor(qs(color)));
    return QIcon(p);
}

bool isModifierOnly(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_CapsLock ||
           key == Qt::Key_NumLock || key == Qt::Key_unknown || key == 0;
}

// "n 番目のコード" for the problems of a saved window.
std::string placeOf(const WindowProblem& p) {
    if (p.part == WindowProblem::Part::Code)
        return std::to_string(p.item + 1) + " 番目のコード：";
    if (p.part == WindowProblem::Part::Label)
        return std::to_string(p.item + 1) + " 番目のラベルグループ：";
    return {};
}

} // namespace

std::string duplicateName(const std::vector<std::string>& taken) {
    const std::string base = std::string(kStandardWindowName) + "のコピー";
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? base : base + " " + std::to_string(n);
        if (std::find(taken.begin(), taken.end(), name) == taken.end())
            return name;
    }
}

std::optional<Qt::Key> numberRowPlace(const QKeyEvent& event) {
    const quint32 place = event.nativeScanCode();
    if (!(event.modifiers() & Qt::ShiftModifier) || place < 10 || place > 19)
        return std::nullopt;
    return static_cast<Qt::Key>(Qt::Key_0 + (place - 9) % 10);
}

KeyCaptureField::KeyCaptureField(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setPlaceholderText("キーを押す");
    setToolTip("ここをクリックしてキーを押すと割り当てます（Backspace で解除）");
    setAlignment(Qt::AlignCenter);
}

bool KeyCaptureField::event(QEvent* event) {
    // Every key is the field's, before any shortcut of the application.
    if (event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Escape && key != Qt::Key_Tab && key != Qt::Key_Backtab) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void KeyCaptureField::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    // Escape leaves the dialog as anywhere else.
    if (key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    event->accept();
    if (isModifierOnly(key) || event->isAutoRepeat())
        return;
    const Qt::KeyboardModifiers mods =
        event->modifiers() &
        (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && mods == Qt::NoModifier) {
        emit keyPressed({});
        return;
    }
    const QKeySequence seq(
        QKeyCombination(mods, numberRowPlace(*event).value_or(static_cast<Qt::Key>(key))));
    // Without the key's place (no native code), the symbols both keyboards
    // agree on still say their digit.
    emit keyPressed(QString::fromStdString(
        numberRowKey(seq.toString(QKeySequence::PortableText).toStdString())));
}

CodeWindowEditor::CodeWindowEditor(const CodeWindow& window, fs::path file,
                                   std::vector<std::string> otherNames, QWidget* parent)
    : QDialog(parent), window_(window), file_(std::move(file)), otherNames_(std::move(otherNames)) {
    setObjectName("codeWindowEditor");
    setWindowTitle("コードウィンドウの編集");
    auto* l = new QVBoxLayout(this);
    auto* top = new QHBoxLayout();
    top->addWidget(new QLabel("ウィンドウ名", this));
    nameField_ = new QLineEdit(this);
    nameField_->setObjectName("codeWindowNameField");
    top->addWidget(nameField_, 1);
    l->addLayout(top);
    if (window_.builtIn) {
        // Offered as a duplicate: the standard window stays as it is.
        window_ = window.duplicate(duplicateName(otherNames_));
        auto* note =
            new QLabel(qs("「" + std::string(kStandardWindowName) + "」は変更できないため、複製「" +
                          window_.name + "」として編集します。"),
                       this);
        note->setObjectName("codeWindowNote");
        note->setWordWrap(true);
        l->addWidget(note);
    }
    if (!file_.empty())
        fileName_ = window_.name;
    for (LabelGroup& g : window_.labels)
        g.keys.resize(g.texts.size());
    nameField_->setText(qs(window_.name));
    connect(nameField_, &QLineEdit::textEdited, this,
            [this](const QString& t) { window_.name = t.trimmed().toStdString(); });

    l->addWidget(makeCodeBox(), 3);
    l->addWidget(makeLabelBox(), 2);
    problemLabel_ = new QLabel(this);
    problemLabel_->setObjectName("codeWindowProblem");
    problemLabel_->setStyleSheet("color: #c00000;");
    l->addWidget(problemLabel_);

    auto* bottom = new QHBoxLayout();
    auto* import = smallButton("読込…", "codeWindowImportButton",
                               "ウィンドウのファイル（.json）をフォルダーに読み込みます", this);
    auto* exportButton = smallButton("書き出し…", "codeWindowExportButton",
                                     "このウィンドウをファイル（.json）に書き出します", this);
    deleteButton_ = smallButton("削除…", "codeWindowDeleteButton",
                                "このウィンドウのファイルをフォルダーから削除します", this);
    auto* cancel = smallButton("キャンセル", "codeWindowCancelButton", "保存せずに閉じます", this);
    auto* save =
        smallButton("保存", "codeWindowSaveButton", "このウィンドウを保存して選びます", this);
    connect(import, &QPushButton::clicked, this, &CodeWindowEditor::onImport);
    connect(exportButton, &QPushButton::clicked, this, &CodeWindowEditor::onExport);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save, &QPushButton::clicked, this, &CodeWindowEditor::onSave);
    bottom->addWidget(import);
    bottom->addWidget(exportButton);
    bottom->addWidget(deleteButton_);
    connect(deleteButton_, &QPushButton::clicked, this, &CodeWindowEditor::onDelete);
    // Only a window that has its file: 標準 and a new one have none.
    deleteButton_->setEnabled(!file_.empty());
    bottom->addStretch(1);
    bottom->addWidget(cancel);
    bottom->addWidget(save);
    l->addLayout(bottom);

    listCodes();
    chooseCode(window_.codes.empty() ? -1 : 0);
    listLabels();
    chooseLabel(window_.labels.empty() ? -1 : 0);
    kept_ = window_;
    // Never taller or wider than the screen's free room.
    QSize size(860, 640);
    if (const QScreen* screen = parent ? parent->screen() : nullptr)
        size = size.boundedTo(screen->availableGeometry().size() - QSize(20, 40));
    resize(size);
}

void CodeWindowEditor::reject() {
    if (window_ != kept_ &&
        dialogProvider().showBox(DialogProvider::Kind::Confirm, "変更を保存せずに閉じますか？",
                                 "コードウィンドウ", "warning",
                                 {"編集を続ける", "保存せずに閉じる"}) != 1)
        return;
    QDialog::reject();
}

Code* CodeWindowEditor::code() {
    return code_ >= 0 && static_cast<size_t>(code_) < window_.codes.size()
               ? &window_.codes[static_cast<size_t>(code_)]
               : nullptr;
}

LabelGroup* CodeWindowEditor::label() {
    return label_ >= 0 && static_cast<size_t>(label_) < window_.labels.size()
               ? &window_.labels[static_cast<size_t>(label_)]
               : nullptr;
}

QWidget* CodeWindowEditor::makeCodeBox() {
    auto* box = new QGroupBox("コード", this);
    auto* l = new QHBoxLayout(box);
    auto* left = new QVBoxLayout();
    codeList_ = new QListWidget(box);
    codeList_->setObjectName("codeList");
    left->addWidget(codeList_, 1);
    auto* buttons = new QHBoxLayout();
    auto* add = smallButton("追加", "codeAddButton", "コードを末尾に加えます", box);
    auto* remove = smallButton("削除", "codeRemoveButton", "選んだコードを除きます", box);
    auto* up = smallButton("↑", "codeUpButton", "選んだコードを前へ", box);
    auto* down = smallButton("↓", "codeDownButton", "選んだコードを後ろへ", box);
    for (QPushButton* b : {add, remove, up, down})
        buttons->addWidget(b);
    left->addLayout(buttons);
    l->addLayout(left, 2);
    l->addWidget(makeCodeForm(), 3);
    connect(codeList_, &QListWidget::currentRowChanged, this, &CodeWindowEditor::chooseCode);
    connect(add, &QPushButton::clicked, this, &CodeWindowEditor::addCode);
    connect(remove, &QPushButton::clicked, this, &CodeWindowEditor::removeCode);
    connect(up, &QPushButton::clicked, this, [this] { moveCode(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveCode(1); });
    return box;
}

QWidget* CodeWindowEditor::makeCodeForm() {
    codeForm_ = new QWidget(this);
    auto* f = new QFormLayout(codeForm_);
    f->setContentsMargins(0, 0, 0, 0);
    codeName_ = new QLineEdit(codeForm_);
    codeName_->setObjectName("codeNameField");
    f->addRow("名前", codeName_);

    auto* colors = new QHBoxLayout();
    colors->setSpacing(3);
    colorShown_ = new QLabel(codeForm_);
    colorShown_->setObjectName("codeColorShown");
    colorShown_->setFixedSize(40, 22);
    colorShown_->setToolTip("このコードの色");
    colors->addWidget(colorShown_);
    colors->addSpacing(8);
    int n = 0;
    for (const char* c : kSwatches) {
        auto* s = new QPushButton(codeForm_);
        s->setObjectName(QString("codeSwatch%1").arg(n++));
        s->setToolTip(QString("色 %1").arg(c));
        s->setFixedSize(22, 22);
        s->setAutoDefault(false);
        s->setStyleSheet(QString("background: %1; border: 1px solid #555;").arg(c));
        connect(s, &QPushButton::clicked, this, [this, c] { setColor(c); });
        colors->addWidget(s);
    }
    colorButton_ =
        smallButton("その他の色…", "codeColorButton", "色を選ぶダイアログを開きます", codeForm_);
    connect(colorButton_, &QPushButton::clicked, this, [this] {
        const Code* c = code();
        if (!c)
            return;
        const QColor chosen = QColorDialog::getColor(QColor(qs(c->color)), this, "コードの色");
        if (chosen.isValid())
            setColor(chosen.name());
    });
    colors->addWidget(colorButton_);
    colors->addStretch(1);
    f->addRow("色", colors);

    keyA_ = new KeyCaptureField(codeForm_);
    keyA_->setObjectName("codeKeyAField");
    keyB_ = new KeyCaptureField(codeForm_);
    keyB_->setObjectName("codeKeyBField");
    f->addRow("キー（チームA）", keyA_);
    f->addRow("キー（チームB）", keyB_);
    connect(keyA_, &KeyCaptureField::keyPressed, this,
            [this](const QString& k) { setCodeKey(true, k); });
    connect(keyB_, &KeyCaptureField::keyPressed, this,
            [this](const QString& k) { setCodeKey(false, k); });

    lead_ = secondsField("codeLeadField", codeForm_);
    lag_ = secondsField("codeLagField", codeForm_);
    f->addRow("前（秒）", lead_);
    f->addRow("後（秒）", lag_);
    mode_ = new QComboBox(codeForm_);
    mode_->setObjectName("codeModePopUp");
    mode_->addItems({"点", "時間"});
    mode_->setToolTip("点：押した時刻のタグ／時間：1 回目で始まり 2 回目で終わるタグ");
    f->addRow("種類", mode_);
    group_ = new QLineEdit(codeForm_);
    group_->setObjectName("codeGroupField");
    group_->setPlaceholderText("なし");
    group_->setToolTip(
        "同じグループのコードは排他：ひとつを始めると開いているほかのものが終わります");
    f->addRow("グループ", group_);

    connect(codeName_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (Code* c = code()) {
            c->name = t.trimmed().toStdString();
            codeList_->item(code_)->setText(t.trimmed());
        }
        showNameProblem();
    });
    connect(lead_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (Code* c = code())
            c->lead = secondsOf(t);
    });
    connect(lag_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (Code* c = code())
            c->lag = secondsOf(t);
    });
    connect(mode_, &QComboBox::activated, this, [this](int m) {
        if (Code* c = code())
            c->mode = m == 1 ? CodeMode::Duration : CodeMode::Point;
    });
    connect(group_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (Code* c = code())
            c->group = t.trimmed().toStdString();
    });
    return codeForm_;
}

QWidget* CodeWindowEditor::makeLabelBox() {
    auto* box = new QGroupBox("ラベルグループ", this);
    auto* l = new QHBoxLayout(box);
    auto* left = new QVBoxLayout();
    labelList_ = new QListWidget(box);
    labelList_->setObjectName("labelList");
    left->addWidget(labelList_, 1);
    auto* buttons = new QHBoxLayout();
    auto* add = smallButton("追加", "labelAddButton", "ラベルグループを末尾に加えます", box);
    auto* remove = smallButton("削除", "labelRemoveButton", "選んだラベルグループを除きます", box);
    auto* up = smallButton("↑", "labelUpButton", "選んだラベルグループを前へ", box);
    auto* down = smallButton("↓", "labelDownButton", "選んだラベルグループを後ろへ", box);
    for (QPushButton* b : {add, remove, up, down})
        buttons->addWidget(b);
    left->addLayout(buttons);
    l->addLayout(left, 2);

    labelForm_ = new QWidget(box);
    auto* form = new QVBoxLayout(labelForm_);
    form->setContentsMargins(0, 0, 0, 0);
    auto* name = new QHBoxLayout();
    name->addWidget(new QLabel("グループ名", labelForm_));
    labelGroup_ = new QLineEdit(labelForm_);
    labelGroup_->setObjectName("labelGroupField");
    name->addWidget(labelGroup_, 1);
    form->addLayout(name);
    // The texts scroll: a group of many (15 players, say) keeps the editor
    // and its buttons on the screen.
    auto* scroll = new QScrollArea(labelForm_);
    scroll->setObjectName("labelTextScroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* texts = new QWidget(scroll);
    auto* column = new QVBoxLayout(texts);
    column->setContentsMargins(0, 0, 0, 0);
    labelTexts_ = new QGridLayout();
    column->addLayout(labelTexts_);
    column->addStretch(1);
    scroll->setWidget(texts);
    form->addWidget(scroll, 1);
    auto* addText = smallButton("ラベルを追加", "labelTextAddButton",
                                "このグループにラベルを加えます", labelForm_);
    form->addWidget(addText, 0, Qt::AlignLeft);
    l->addWidget(labelForm_, 3);

    connect(labelList_, &QListWidget::currentRowChanged, this, &CodeWindowEditor::chooseLabel);
    connect(add, &QPushButton::clicked, this, &CodeWindowEditor::addLabel);
    connect(remove, &QPushButton::clicked, this, &CodeWindowEditor::removeLabel);
    connect(up, &QPushButton::clicked, this, [this] { moveLabel(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveLabel(1); });
    connect(labelGroup_, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (LabelGroup* g = label()) {
            g->group = t.trimmed().toStdString();
            labelList_->item(label_)->setText(t.trimmed());
        }
    });
    connect(addText, &QPushButton::clicked, this, [this] {
        if (LabelGroup* g = label()) {
            g->texts.push_back("ラベル" + std::to_string(g->texts.size() + 1));
            g->keys.resize(g->texts.size());
            showLabel();
        }
    });
    return box;
}

// ---- codes

void CodeWindowEditor::listCodes() {
    const QSignalBlocker block(codeList_);
    codeList_->clear();
    for (const Code& c : window_.codes)
        codeList_->addItem(new QListWidgetItem(swatch(c.color), qs(c.name)));
}

void CodeWindowEditor::chooseCode(int row) {
    code_ = row;
    if (codeList_->currentRow() != row) {
        const QSignalBlocker block(codeList_);
        codeList_->setCurrentRow(row);
    }
    showCode();
}

void CodeWindowEditor::showCode() {
    const Code* c = code();
    codeForm_->setEnabled(c != nullptr);
    const Code shown = c ? *c : Code{};
    codeName_->setText(qs(shown.name));
    keyA_->setText(qs(shown.keyA));
    keyB_->setText(qs(shown.keyB));
    lead_->setText(secondsText(shown.lead));
    lag_->setText(secondsText(shown.lag));
    mode_->setCurrentIndex(shown.mode == CodeMode::Duration ? 1 : 0);
    group_->setText(qs(shown.group));
    colorShown_->setStyleSheet(
        c ? QString("background: %1; border: 1px solid #333;").arg(qs(shown.color)) : "");
    if (c)
        codeList_->item(code_)->setIcon(swatch(shown.color));
    showNameProblem();
}

void CodeWindowEditor::addCode() {
    Code c;
    for (size_t n = window_.codes.size() + 1;; ++n) {
        c.name = "コード" + std::to_string(n);
        if (codeNameProblem(window_, window_.codes.size(), c.name).empty())
            break;
    }
    c.color = kSwatches[window_.codes.size() % std::size(kSwatches)];
    window_.codes.push_back(c);
    listCodes();
    chooseCode(codeList_->count() - 1);
    codeName_->setFocus();
    codeName_->selectAll();
}

void CodeWindowEditor::removeCode() {
    if (!code())
        return;
    window_.codes.erase(window_.codes.begin() + code_);
    const int next = std::min(code_, static_cast<int>(window_.codes.size()) - 1);
    listCodes();
    chooseCode(next);
}

void CodeWindowEditor::moveCode(int by) {
    const int to = code_ + by;
    if (!code() || to < 0 || static_cast<size_t>(to) >= window_.codes.size())
        return;
    std::swap(window_.codes[static_cast<size_t>(code_)], window_.codes[static_cast<size_t>(to)]);
    listCodes();
    chooseCode(to);
}

void CodeWindowEditor::setCodeKey(bool teamA, const QString& key) {
    Code* c = code();
    if (!c)
        return;
    const std::string text = key.toStdString();
    const KeyPlace place{teamA ? KeyPlace::Kind::CodeA : KeyPlace::Kind::CodeB,
                         static_cast<size_t>(code_), 0};
    if (const std::string taken = keyTakenMessage(window_, text, place); !taken.empty()) {
        AlertBox(taken, "お知らせ", "warning");
        return;
    }
    (teamA ? c->keyA : c->keyB) = text;
    (teamA ? keyA_ : keyB_)->setText(key);
}

void CodeWindowEditor::setColor(const QString& color) {
    if (Code* c = code()) {
        c->color = color.toLower().toStdString();
        showCode();
    }
}

void CodeWindowEditor::showNameProblem() {
    std::string problem;
    if (code())
        problem = codeNameProblem(window_, static_cast<size_t>(code_), window_.codes[code_].name);
    problemLabel_->setText(qs(problem));
}

// ---- label groups

void CodeWindowEditor::listLabels() {
    const QSignalBlocker block(labelList_);
    labelList_->clear();
    for (const LabelGroup& g : window_.labels)
        labelList_->addItem(qs(g.group));
}

void CodeWindowEditor::chooseLabel(int row) {
    label_ = row;
    if (labelList_->currentRow() != row) {
        const QSignalBlocker block(labelList_);
        labelList_->setCurrentRow(row);
    }
    showLabel();
}

void CodeWindowEditor::showLabel() {
    while (QLayoutItem* item = labelTexts_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const LabelGroup* g = label();
    labelForm_->setEnabled(g != nullptr);
    labelGroup_->setText(g ? qs(g->group) : QString());
    if (!g)
        return;
    QWidget* holder = labelTexts_->parentWidget();
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
        labelTexts_->addWidget(text, row, 0);
        labelTexts_->addWidget(key, row, 1);
        labelTexts_->addWidget(remove, row, 2);
        // At once, for a click that follows.
        for (QWidget* w : {static_cast<QWidget*>(text), static_cast<QWidget*>(key),
                           static_cast<QWidget*>(remove)})
            w->show();
        connect(text, &QLineEdit::textEdited, this, [this, t](const QString& s) {
            if (LabelGroup* lg = label(); lg && t < lg->texts.size())
                lg->texts[t] = s.trimmed().toStdString();
        });
        connect(key, &KeyCaptureField::keyPressed, this, [this, t, key](const QString& k) {
            setLabelKey(t, k);
            if (LabelGroup* lg = label(); lg && t < lg->keys.size())
                key->setText(qs(lg->keys[t]));
        });
        // Queued: rebuilding the rows deletes the button clicked.
        connect(remove, &QPushButton::clicked, this, [this, t] {
            QMetaObject::invokeMethod(
                this,
                [this, t] {
                    if (LabelGroup* lg = label(); lg && t < lg->texts.size()) {
                        lg->texts.erase(lg->texts.begin() + static_cast<long>(t));
                        lg->keys.erase(lg->keys.begin() + static_cast<long>(t));
                        showLabel();
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

void CodeWindowEditor::addLabel() {
    LabelGroup g;
    for (size_t n = window_.labels.size() + 1;; ++n) {
        g.group = "グループ" + std::to_string(n);
        if (std::none_of(window_.labels.begin(), window_.labels.end(),
                         [&](const LabelGroup& o) { return o.group == g.group; }))
            break;
    }
    g.texts = {"ラベル1"};
    g.keys = {""};
    window_.labels.push_back(g);
    listLabels();
    chooseLabel(labelList_->count() - 1);
    labelGroup_->setFocus();
    labelGroup_->selectAll();
}

void CodeWindowEditor::removeLabel() {
    if (!label())
        return;
    window_.labels.erase(window_.labels.begin() + label_);
    const int next = std::min(label_, static_cast<int>(window_.labels.size()) - 1);
    listLabels();
    chooseLabel(next);
}

void CodeWindowEditor::moveLabel(int by) {
    const int to = label_ + by;
    if (!label() || to < 0 || static_cast<size_t>(to) >= window_.labels.size())
        return;
    std::swap(window_.labels[static_cast<size_t>(label_)], window_.labels[static_cast<size_t>(to)]);
    listLabels();
    chooseLabel(to);
}

void CodeWindowEditor::setLabelKey(size_t text, const QString& key) {
    LabelGroup* g = label();
    if (!g || text >= g->keys.size())
        return;
    const std::string k = key.toStdString();
    const KeyPlace place{KeyPlace::Kind::Label, static_cast<size_t>(label_), text};
    if (const std::string taken = keyTakenMessage(window_, k, place); !taken.empty()) {
        AlertBox(taken, "お知らせ", "warning");
        return;
    }
    g->keys[text] = k;
}

// ---- files

// A key of the window the player keeps (a file may have one), as the key
// fields say it; empty when none. Keys given twice are the check's.
static std::string playerKeyProblem(const CodeWindow& window) {
    for (size_t i = 0; i < window.codes.size(); ++i)
        for (const std::string* key : {&window.codes[i].keyA, &window.codes[i].keyB})
            if (std::string message = playerKeyMessage(*key); !message.empty())
                return std::to_string(i + 1) + " 番目のコード：" + message;
    for (size_t i = 0; i < window.labels.size(); ++i)
        for (const std::string& key : window.labels[i].keys)
            if (std::string message = playerKeyMessage(key); !message.empty())
                return std::to_string(i + 1) + " 番目のラベルグループ：" + message;
    return {};
}

std::string CodeWindowEditor::problem(bool forSave) const {
    if (const auto problems = checkCodeWindow(window_); !problems.empty())
        return placeOf(problems.front()) + problems.front().message;
    if (std::string keys = playerKeyProblem(window_); !keys.empty())
        return keys;
    if (forSave &&
        std::find(otherNames_.begin(), otherNames_.end(), window_.name) != otherNames_.end())
        return "「" + window_.name + "」という名前のウィンドウはすでにあります";
    return {};
}

void CodeWindowEditor::onSave() {
    if (const std::string p = problem(true); !p.empty()) {
        AlertBox("保存できません。\n" + p, "お知らせ", "warning");
        return;
    }
    const fs::path folder = codeWindowFolder();
    const fs::path target = folder / codeWindowFileName(window_.name);
    std::error_code ec;
    if (target != file_ && fs::exists(target, ec)) {
        AlertBox("保存できません。\n同じ名前のファイル「" + target.filename().string() +
                     "」がフォルダーにあります",
                 "お知らせ", "warning");
        return;
    }
    if (const std::string error = writeCodeWindowFile(target, window_); !error.empty()) {
        AlertBox("保存できませんでした（" + error + "）", "エラー", "error");
        return;
    }
    // A renamed window leaves its old file.
    if (!file_.empty() && file_ != target)
        fs::remove(file_, ec);
    file_ = target;
    fileName_ = savedName_ = window_.name;
    kept_ = window_;
    accept();
}

void CodeWindowEditor::onImport() {
    DialogProvider::FilePanel panel{"コードウィンドウを読み込む", {"json"}, {}};
    dialogProvider().openFilePanel(this, panel, [this](std::optional<std::string> path) {
        if (!path)
            return;
        const CodeWindowRead read = readCodeWindowFile(*path);
        if (!read.ok()) {
            std::string message = "読み込めません。";
            for (const std::string& p : read.problems)
                message += "\n" + p;
            AlertBox(message, "お知らせ", "warning");
            return;
        }
        if (const std::string keys = playerKeyProblem(read.window); !keys.empty()) {
            AlertBox("読み込めません。\n" + std::filesystem::path(*path).filename().string() +
                         "：" + keys,
                     "お知らせ", "warning");
            return;
        }
        const std::string& name = read.window.name;
        if (std::find(otherNames_.begin(), otherNames_.end(), name) != otherNames_.end() ||
            (!file_.empty() && name == fileName_)) {
            AlertBox("読み込めません。\n「" + name + "」という名前のウィンドウはすでにあります",
                     "お知らせ", "warning");
            return;
        }
        const fs::path target = codeWindowFolder() / codeWindowFileName(name);
        std::error_code ec;
        std::string text, error;
        if (fs::exists(target, ec)) {
            AlertBox("読み込めません。\n同じ名前のファイル「" + target.filename().string() +
                         "」がフォルダーにあります",
                     "お知らせ", "warning");
            return;
        }
        fs::create_directories(target.parent_path(), ec);
        // The file as it is: a copy, checked first.
        if (!readWholeFile(*path, text, error) ||
            !(error = writeFileAtomically(target, text)).empty()) {
            AlertBox("読み込めませんでした（" + error + "）", "エラー", "error");
            return;
        }
        // The window edited before is another one now, if it has its file.
        if (!file_.empty())
            otherNames_.push_back(fileName_);
        fileName_ = name;
        window_ = read.window;
        for (LabelGroup& g : window_.labels)
            g.keys.resize(g.texts.size());
        file_ = target;
        deleteButton_->setEnabled(true);
        savedName_ = name;
        kept_ = window_;
        nameField_->setText(qs(name));
        listCodes();
        chooseCode(window_.codes.empty() ? -1 : 0);
        listLabels();
        chooseLabel(window_.labels.empty() ? -1 : 0);
        AlertBox("「" + name + "」を読み込みました", "成功", "success");
    });
}

void CodeWindowEditor::onDelete() {
    if (file_.empty())
        return;
    const std::string name = fileName_.empty() ? window_.name : fileName_;
    if (dialogProvider().showBox(DialogProvider::Kind::Confirm,
                                 "コードウィンドウ「" + name +
                                     "」を削除しますか？\n記録したタグはそのまま残ります。",
                                 "コードウィンドウ", "warning", {"キャンセル", "削除する"}) != 1)
        return;
    std::error_code ec;
    if (!fs::remove(file_, ec) && ec) {
        AlertBox("削除できませんでした（" + fileErrorText(ec.value()) + "）", "エラー", "error");
        return;
    }
    deleted_ = true;
    savedName_.clear();
    QDialog::accept();
}

void CodeWindowEditor::onExport() {
    if (const std::string p = problem(false); !p.empty()) {
        AlertBox("書き出せません。\n" + p, "お知らせ", "warning");
        return;
    }
    DialogProvider::FilePanel panel{
        "コードウィンドウを書き出す", {"json"}, qs(codeWindowFileName(window_.name))};
    dialogProvider().saveFilePanel(this, panel, [this](std::optional<std::string> path) {
        if (!path)
            return;
        if (const std::string error = writeCodeWindowFile(*path, window_); !error.empty()) {
            AlertBox("書き出せませんでした（" + error + "）", "エラー", "error");
            return;
        }
        AlertBox("「" + window_.name + "」を書き出しました", "成功", "success");
    });
}
