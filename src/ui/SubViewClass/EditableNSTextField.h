#pragma once

#include <QLineEdit>

// A one-line text field whose font keeps the proportion to its height that
// it was given (font_rate), with the usual edit shortcuts.
class EditableNSTextField : public QLineEdit {
    Q_OBJECT
public:
    explicit EditableNSTextField(const QString& text = {}, QWidget* parent = nullptr);
    double font_rate = 0.5;
    QString font_name = "Arial";

protected:
    void resizeEvent(QResizeEvent* event) override;
};
