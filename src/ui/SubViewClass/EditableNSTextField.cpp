#include "SubViewClass/EditableNSTextField.h"

EditableNSTextField::EditableNSTextField(const QString& text, QWidget* parent)
    : QLineEdit(text, parent) {}

void EditableNSTextField::resizeEvent(QResizeEvent* event) {
    QFont f(font_name);
    f.setPixelSize(std::max(1, static_cast<int>(height() * font_rate)));
    setFont(f);
    QLineEdit::resizeEvent(event);
}
