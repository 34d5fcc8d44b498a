#pragma once

#include <QPlainTextEdit>

// The comment editors. Pastes take plain text only: Qt 6.4's own paste
// crashes on an empty clipboard or on data without text.
class CommentTextEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};
