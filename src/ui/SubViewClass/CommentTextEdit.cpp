#include "SubViewClass/CommentTextEdit.h"

#include <QMimeData>

bool CommentTextEdit::canInsertFromMimeData(const QMimeData* source) const {
    return source && source->hasText();
}

void CommentTextEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText())
        return;
    const QString text = source->text();
    if (!text.isEmpty())
        insertPlainText(text);
}
