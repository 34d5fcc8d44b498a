#include "coding/CodeWindowEditor.h"

#include "coding/LabelGroupForm.h"

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
#include "coding/EditorParts.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

// Colours offered at a click; any other through the colour dialog.
const char* const kSwatches[] = {"#3f8a3f", "#ff8b40", "#408bff", "#8b408b",
                                 "#ff9d80", "#c03030", "#d0b000", "#808080"};

using editor::qs;
using editor::smallButton;

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

} // namespace

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

    showWindow();
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

QLayout* CodeWindowEditor::makeList(Part part, QWidget* box) {
    const bool codes = part == Part::Codes;
    const QString what = codes ? "コード" : "ラベルグループ";
    const QString id = codes ? "code" : "label";
    auto* left = new QVBoxLayout();
    auto* list = new QListWidget(box);
    (codes ? codeList_ : labelList_) = list;
    list->setObjectName(id + "List");
    left->addWidget(list, 1);
    auto* buttons = new QHBoxLayout();
    const auto button = [&](const char* text, const char* name, const QString& tip) {
        QPushButton* b = smallButton(text, qPrintable(id + name), tip, box);
        buttons->addWidget(b);
        return b;
    };
    auto* add = button("追加", "AddButton", what + "を末尾に加えます");
    auto* remove = button("削除", "RemoveButton", "選んだ" + what + "を除きます");
    auto* up = button("↑", "UpButton", "選んだ" + what + "を前へ");
    auto* down = button("↓", "DownButton", "選んだ" + what + "を後ろへ");
    left->addLayout(buttons);
    connect(list, &QListWidget::currentRowChanged, this,
            [this, part](int row) { chooseItem(part, row); });
    connect(add, &QPushButton::clicked, this,
            codes ? &CodeWindowEditor::addCode : &CodeWindowEditor::addLabel);
    connect(remove, &QPushButton::clicked, this, [this, part] { removeItem(part); });
    connect(up, &QPushButton::clicked, this, [this, part] { moveItem(part, -1); });
    connect(down, &QPushButton::clicked, this, [this, part] { moveItem(part, 1); });
    return left;
}

QWidget* CodeWindowEditor::makeCodeBox() {
    auto* box = new QGroupBox("コード", this);
    auto* l = new QHBoxLayout(box);
    l->addLayout(makeList(Part::Codes, box), 2);
    l->addWidget(makeCodeForm(), 3);
    return box;
}

QWidget* CodeWindowEditor::makeCodeForm() {
    codeForm_ = new QWidget(this);
    auto* f = new QFormLayout(codeForm_);
    f->setContentsMargins(0, 0, 0, 0);
    codeName_ = new QLineEdit(codeForm_);
    codeName_->setObjectName("codeNameField");
    f->addRow("名前", codeName_);
    f->addRow("色", makeColorRow());

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

QLayout* CodeWindowEditor::makeColorRow() {
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
    return colors;
}

QWidget* CodeWindowEditor::makeLabelBox() {
    auto* box = new QGroupBox("ラベルグループ", this);
    auto* l = new QHBoxLayout(box);
    l->addLayout(makeList(Part::Labels, box), 2);

    labelForm_ = new LabelGroupForm(window_, box);
    l->addWidget(labelForm_, 3);
    connect(labelForm_, &LabelGroupForm::renamed, this,
            [this](const QString& name) { labelList_->item(label_)->setText(name); });
    return box;
}

// ---- both lists

template <class F> void CodeWindowEditor::withItems(Part part, F&& f) {
    if (part == Part::Codes)
        f(window_.codes, code_, codeList_);
    else
        f(window_.labels, label_, labelList_);
}

void CodeWindowEditor::listItems(Part part) {
    QListWidget* list = part == Part::Codes ? codeList_ : labelList_;
    const QSignalBlocker block(list);
    list->clear();
    if (part == Part::Codes)
        for (const Code& c : window_.codes)
            list->addItem(new QListWidgetItem(swatch(c.color), qs(c.name)));
    else
        for (const LabelGroup& g : window_.labels)
            list->addItem(qs(g.group));
}

void CodeWindowEditor::chooseItem(Part part, int row) {
    withItems(part, [row](auto&, int& chosen, QListWidget* list) {
        chosen = row;
        if (list->currentRow() != row) {
            const QSignalBlocker block(list);
            list->setCurrentRow(row);
        }
    });
    if (part == Part::Codes)
        showCode();
    else
        labelForm_->showGroup(label_);
}

void CodeWindowEditor::removeItem(Part part) {
    withItems(part, [this, part](auto& items, int& chosen, QListWidget*) {
        if (chosen < 0 || static_cast<size_t>(chosen) >= items.size())
            return;
        items.erase(items.begin() + chosen);
        const int next = std::min(chosen, static_cast<int>(items.size()) - 1);
        listItems(part);
        chooseItem(part, next);
    });
}

void CodeWindowEditor::moveItem(Part part, int by) {
    withItems(part, [this, part, by](auto& items, int& chosen, QListWidget*) {
        const int to = chosen + by;
        if (chosen < 0 || static_cast<size_t>(chosen) >= items.size() || to < 0 ||
            static_cast<size_t>(to) >= items.size())
            return;
        std::swap(items[static_cast<size_t>(chosen)], items[static_cast<size_t>(to)]);
        listItems(part);
        chooseItem(part, to);
    });
}

void CodeWindowEditor::showWindow() {
    listItems(Part::Codes);
    chooseItem(Part::Codes, window_.codes.empty() ? -1 : 0);
    listItems(Part::Labels);
    chooseItem(Part::Labels, window_.labels.empty() ? -1 : 0);
}

// ---- codes

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
    listItems(Part::Codes);
    chooseItem(Part::Codes, codeList_->count() - 1);
    codeName_->setFocus();
    codeName_->selectAll();
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
    listItems(Part::Labels);
    chooseItem(Part::Labels, labelList_->count() - 1);
    labelForm_->editName();
}

// ---- files

void CodeWindowEditor::onSave() {
    if (const std::string p = windowProblem(window_, otherNames_); !p.empty()) {
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
        std::vector<std::string> taken = otherNames_;
        if (!file_.empty())
            taken.push_back(fileName_);
        const WindowImport read = importWindowFile(*path, taken);
        if (!read.refusal.empty()) {
            AlertBox(read.refusal, read.failed ? "エラー" : "お知らせ",
                     read.failed ? "error" : "warning");
            return;
        }
        const std::string& name = read.window.name;
        // The window edited before is another one now, if it has its file.
        if (!file_.empty())
            otherNames_.push_back(fileName_);
        fileName_ = name;
        window_ = read.window;
        for (LabelGroup& g : window_.labels)
            g.keys.resize(g.texts.size());
        file_ = read.file;
        deleteButton_->setEnabled(true);
        savedName_ = name;
        kept_ = window_;
        nameField_->setText(qs(name));
        showWindow();
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
    if (const std::string p = windowProblem(window_, {}); !p.empty()) {
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
