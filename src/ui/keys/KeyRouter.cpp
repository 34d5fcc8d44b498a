#include "keys/KeyRouter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>
#include <optional>

#include "MainViewController.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/Style.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "keys/KeyEvents.h"
#include "match/MatchPanel.h"
#include "player/Player.h"
#include "review/MomentSequence.h"
#include "workspace/Workspace.h"

namespace {

bool isCopyKey(const QKeyEvent& e) {
    return e.matches(QKeySequence::SelectAll) || e.matches(QKeySequence::Copy);
}

// Digits, the keys that edit a number in place, and the box's own steps.
bool isSpinBoxKey(const QKeyEvent& e) {
    if (isCopyKey(e) || e.matches(QKeySequence::Paste) || e.matches(QKeySequence::Cut))
        return true;
    const Qt::KeyboardModifiers mods =
        e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (mods != Qt::NoModifier)
        return false;
    const int k = e.key();
    return (k >= Qt::Key_0 && k <= Qt::Key_9) || k == Qt::Key_Backspace || k == Qt::Key_Delete ||
           k == Qt::Key_Home || k == Qt::Key_End || k == Qt::Key_Left || k == Qt::Key_Right ||
           k == Qt::Key_Up || k == Qt::Key_Down;
}

// Whether `w` edits text (nullopt: `w` is no text at all).
std::optional<bool> editsText(const QWidget* w) {
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(w))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(w))
        return !text->isReadOnly();
    return std::nullopt;
}

// The key that ends the typing in `w`: Return or Escape in one line,
// Escape in several (Return is a new line there).
bool endsTyping(const QWidget* w, const QKeyEvent& e) {
    if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const int k = e.key();
    if (const auto* line = qobject_cast<const QLineEdit*>(w))
        return !line->isReadOnly() &&
               (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape);
    return k == Qt::Key_Escape && editsText(w).value_or(false);
}

bool isSpinBoxPart(const QWidget* w) {
    return qobject_cast<const QAbstractSpinBox*>(w) ||
           (w && qobject_cast<const QAbstractSpinBox*>(w->parentWidget()));
}

bool within(const QWidget* outer, const QWidget* w) {
    return outer && (outer == w || outer->isAncestorOf(w));
}

} // namespace

KeyRouter::KeyRouter(MainViewController* main) : QObject(main), main_(main) {
    map_.setCodeWindow(main->workspace->codeWindow());
    connect(main->workspace, &Workspace::codeWindowChanged, this,
            [this] { map_.setCodeWindow(main_->workspace->codeWindow()); });
    typingHint_ = new QLabel(TYPING_HINT, main);
    typingHint_->setObjectName("typingHint");
    typingHint_->setStyleSheet(Style::typingHint());
    typingHint_->setAttribute(Qt::WA_TransparentForMouseEvents);
    typingHint_->hide();
    typingHintTimer_.setSingleShot(true);
    typingHintTimer_.setInterval(2500);
    connect(&typingHintTimer_, &QTimer::timeout, typingHint_, &QWidget::hide);
    qApp->installEventFilter(this);
}

KeyRouter::~KeyRouter() {
    qApp->removeEventFilter(this);
}

bool KeyRouter::keepsKey(const QWidget* w, const QKeyEvent& event) {
    if (isSpinBoxPart(w))
        return isSpinBoxKey(event);
    if (const std::optional<bool> editable = editsText(w))
        return *editable || isCopyKey(event);
    return false;
}

bool KeyRouter::editShown() const {
    return main_->isEditShown();
}

bool KeyRouter::isSequenceKey(const QWidget* w, const QKeyEvent& event) const {
    const uint16_t code = keycodeOf(event);
    const PlayViewController* play = main_->playViewController;
    return (code == Keycode::pageDown || code == Keycode::pageUp) && play->isAncestorOf(w) &&
           play->sequence && play->sequence->isActive();
}

bool KeyRouter::endsTypingIn(const QWidget* w, const QKeyEvent& key) {
    const int k = key.key();
    return isSpinBoxPart(w) ? k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape
                            : endsTyping(w, key);
}

bool KeyRouter::keptBy(QWidget* w, const QKeyEvent& key, bool press) {
    if (!keepsKey(w, key) || isSequenceKey(w, key))
        return false;
    if (press && !isSpinBoxPart(w) && editsText(w).value_or(false) && editShown() &&
        map_.isCodingKey(key))
        showTypingHint(w);
    return true;
}

bool KeyRouter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w)
        return false;
    KeyMap::Place place;
    if (within(main_->MediaPlayer, w))
        place = KeyMap::Place::Video;
    else if (within(main_->editViewController, w))
        place = KeyMap::Place::EditScreen;
    else if (within(main_->playViewController, w))
        place = KeyMap::Place::PlayScreen;
    else
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool press = event->type() == QEvent::KeyPress;
    if (endsTypingIn(w, *key)) {
        // Return leaves the line as typed; the edit is done.
        if (press)
            focusVideo();
        key->accept();
        return true;
    }
    if (keptBy(w, *key, press))
        return false;
    // Claimed here so no shortcut of a focused control acts first.
    key->accept();
    if (press) {
        const KeyAction action = map_.actionFor(*key, place, editShown());
        // Any other key closes a shirt number being typed.
        if (action.kind != KeyAction::Kind::PlayerDigit && !isModifierKey(*key))
            main_->editViewController->closePlayerNumber();
        perform(action);
    }
    return true;
}

void KeyRouter::perform(const KeyAction& action) {
    EditViewController* edit = main_->editViewController;
    using Kind = KeyAction::Kind;
    switch (action.kind) {
    case Kind::Undo:
        main_->undoTagEdit();
        return;
    case Kind::Redo:
        main_->redoTagEdit();
        return;
    case Kind::Code:
        edit->pressCode(action.item, action.teamA, true);
        return;
    case Kind::Label:
        edit->pressLabel(action.item, action.text);
        return;
    case Kind::PlayerDigit:
        if (action.endsSequence)
            main_->playViewController->endSequence();
        edit->typePlayerDigit(action.step);
        return;
    case Kind::ClipStart:
        edit->mediaClipStart();
        return;
    case Kind::ClipEnd:
        edit->mediaClipEnd();
        return;
    case Kind::PeriodStart:
        edit->matchPanel->markStart();
        return;
    case Kind::PeriodEnd:
        edit->matchPanel->markEnd();
        return;
    case Kind::SequenceStep:
        main_->playViewController->sequenceStep(action.step);
        return;
    default:
        performOnPlayer(action);
    }
}

void KeyRouter::performOnPlayer(const KeyAction& action) {
    MediaPlayerView* view = main_->MediaPlayer;
    Player* player = view->player();
    if (!player)
        return;
    if (action.endsSequence)
        main_->playViewController->endSequence();
    using Kind = KeyAction::Kind;
    switch (action.kind) {
    case Kind::Play:
        view->play();
        break;
    case Kind::Pause:
        player->pause();
        break;
    case Kind::Slow:
        view->playSlow();
        break;
    case Kind::Open:
        view->open([main = main_](const std::string& url) { main->afterOpenMedia(url); });
        break;
    case Kind::PauseOrResume:
        if (view->isPlaying())
            player->pause();
        else
            view->resume();
        break;
    case Kind::Backward:
        view->backward();
        break;
    case Kind::Forward:
        view->forward();
        break;
    case Kind::VolumeDown:
        view->volumnDown();
        break;
    case Kind::VolumeUp:
        view->volumnUp();
        break;
    case Kind::GoLive:
        view->goLive();
        break;
    case Kind::LeaveFullScreen:
        view->setFullScreenMode(false);
        break;
    default:
        break; // consumed without effect
    }
}

void KeyRouter::focusVideo() {
    typingHint_->hide();
    main_->MediaPlayer->setFocus(Qt::OtherFocusReason);
}

void KeyRouter::showTypingHint(QWidget* field) {
    typingHint_->adjustSize();
    // Just under the field, or over it at the bottom; never off the view.
    const QRect at(field->mapTo(main_, QPoint(0, 0)), field->size());
    QPoint place(at.left(), at.bottom() + 4);
    if (place.y() + typingHint_->height() > main_->height())
        place.setY(at.top() - typingHint_->height() - 4);
    place.setX(std::clamp(place.x(), 0, std::max(0, main_->width() - typingHint_->width())));
    place.setY(std::max(0, place.y()));
    typingHint_->move(place);
    typingHint_->show();
    typingHint_->raise();
    typingHintTimer_.start();
}
