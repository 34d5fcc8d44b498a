#include "coding/KeyCaptureField.h"

#include <QKeyEvent>

#include "codewindow/CodeWindow.h"

namespace {

bool isModifierOnly(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
           key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_CapsLock ||
           key == Qt::Key_NumLock || key == Qt::Key_unknown || key == 0;
}

} // namespace

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
