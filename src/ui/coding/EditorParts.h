#pragma once

#include <QPushButton>
#include <QString>
#include <string>

// Small pieces the code window editor and its label group form share.
namespace editor {

inline QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

inline QPushButton* smallButton(const QString& text, const char* name, const QString& tip,
                                QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

} // namespace editor
