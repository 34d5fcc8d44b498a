#include "SubViewClass/CustomAlert.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

namespace {

QString nameFilter(const DialogProvider::FilePanel& panel) {
    // Qt's own panel matches names in any letter case: camcorders' upper-case
    // names show too.
    QStringList patterns;
    for (const QString& e : panel.extensions)
        patterns << "*." + e;
    const QString name =
        panel.filterName.isEmpty() ? panel.extensions.join(", ").toUpper() : panel.filterName;
    return QString("%1 (%2)").arg(name, patterns.join(' '));
}

class QtDialogProvider : public DialogProvider {
public:
    int showBox(Kind kind, const std::string& message, const std::string& title,
                const std::string& style, const std::vector<std::string>& buttons) override {
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(QString::fromStdString(title));
        // The title stands in bold above the message.
        box.setTextFormat(Qt::RichText);
        box.setText("<b>" + QString::fromStdString(title).toHtmlEscaped() + "</b>");
        box.setInformativeText(QString::fromStdString(message));
        QMessageBox::Icon icon = QMessageBox::Information;
        if (kind == Kind::Alert)
            icon = style == "success" ? QMessageBox::Information
                   : style == "error" ? QMessageBox::Critical
                                      : QMessageBox::Warning;
        box.setIcon(icon);
        // Light look whatever the desktop theme; Japanese text wraps too
        // early in Qt's narrow default.
        box.setPalette(QApplication::style()->standardPalette());
        box.setStyleSheet("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel"
                          " { min-width: 300px; }");
        std::vector<QPushButton*> made;
        for (const std::string& text : buttons)
            made.push_back(box.addButton(QString::fromStdString(text), QMessageBox::ActionRole));
        if (!made.empty())
            box.setDefaultButton(made.front());
        // Escape never answers yes: it cancels a three-way question and says
        // no to a two-way one.
        if (!made.empty())
            box.setEscapeButton(made.back() == made.front() ? made.front()
                                : buttons.size() == 3       ? made[2]
                                                            : made[0]);
        box.exec();
        for (size_t i = 0; i < made.size(); ++i)
            if (box.clickedButton() == made[i])
                return static_cast<int>(i);
        return -1;
    }

    void openFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) override {
        auto* dialog = makeDialog(window, panel);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(panel.chooseFolder ? QFileDialog::Directory
                                               : QFileDialog::ExistingFile);
        if (panel.chooseFolder)
            dialog->setOption(QFileDialog::ShowDirsOnly);
        show(dialog, std::move(done));
    }

    void saveFilePanel(QWidget* window, const FilePanel& panel, PathCallback done) override {
        auto* dialog = makeDialog(window, panel);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        QString proposed = panel.proposedName;
        if (!panel.extensions.isEmpty()) {
            // A name typed without an extension gets the first one.
            dialog->setDefaultSuffix(panel.extensions.front());
            if (!proposed.isEmpty() && QFileInfo(proposed).suffix().isEmpty())
                proposed += "." + panel.extensions.front();
        }
        dialog->selectFile(proposed);
        // Qt asks before replacing an existing file, as a save panel should.
        show(dialog, std::move(done));
    }

private:
    static QFileDialog* makeDialog(QWidget* window, const FilePanel& panel) {
        auto* dialog = new QFileDialog(window, panel.title, panel.folder);
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        if (!panel.extensions.isEmpty())
            dialog->setNameFilter(nameFilter(panel));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        return dialog;
    }

    static void show(QFileDialog* dialog, PathCallback done) {
        QObject::connect(dialog, &QFileDialog::finished, dialog,
                         [dialog, done = std::move(done)](int result) {
                             const QStringList files = dialog->selectedFiles();
                             if (result == QDialog::Accepted && !files.isEmpty())
                                 done(files.front().toStdString());
                             else
                                 done(std::nullopt);
                         });
        dialog->open();
    }
};

DialogProvider*& installed() {
    static DialogProvider* provider = nullptr;
    return provider;
}

} // namespace

QString folderOf(const std::string& path) {
    return path.empty() ? QString() : QFileInfo(QString::fromStdString(path)).absolutePath();
}

DialogProvider& dialogProvider() {
    static QtDialogProvider qtProvider;
    DialogProvider* p = installed();
    return p ? *p : qtProvider;
}

DialogProvider* setDialogProvider(DialogProvider* provider) {
    DialogProvider* previous = installed();
    installed() = provider;
    return previous;
}

void AlertBox(const std::string& message, const std::string& title, const std::string& style) {
    dialogProvider().showBox(DialogProvider::Kind::Alert, message, title, style, {"確認"});
}

std::string ConfirmBox(const std::string& message, const std::string& title) {
    switch (dialogProvider().showBox(DialogProvider::Kind::Confirm, message, title, "",
                                     {"いいえ", "はい", "キャンセル"})) {
    case 0:
        return "no";
    case 1:
        return "yes";
    case 2:
        return "cancel";
    default:
        return "error";
    }
}

std::string MessageBox(const std::string& message, const std::string& title) {
    switch (dialogProvider().showBox(DialogProvider::Kind::Message, message, title, "",
                                     {"いいえ", "はい"})) {
    case 0:
        return "no";
    case 1:
        return "yes";
    default:
        return "eError";
    }
}

std::string RecoveryBox(const std::string& message) {
    switch (dialogProvider().showBox(DialogProvider::Kind::Message, message, "復元", "",
                                     {"復元する", "破棄する", "後で決める"})) {
    case 0:
        return "restore";
    case 1:
        return "discard";
    default:
        return "later";
    }
}
