#include "keys/KeyMap.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <array>
#include <optional>

#include "coding/CodeWindowEditor.h"
#include "keys/KeyEvents.h"

namespace {

std::optional<QKeyCombination> keyOf(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    const QKeySequence seq =
        QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText);
    if (seq.isEmpty())
        return std::nullopt;
    return seq[0];
}

QKeyCombination typedKey(const QKeyEvent& event) {
    return QKeyCombination(event.modifiers() & ~Qt::KeypadModifier,
                           static_cast<Qt::Key>(event.key()));
}

// What a press stands for: the key as typed and, with Shift on the number
// row, its digit (window files write "Shift+1").
std::array<QKeyCombination, 2> pressedKeys(const QKeyEvent& event) {
    const QKeyCombination typed = typedKey(event);
    const auto place = numberRowPlace(event);
    return {typed, place ? QKeyCombination(typed.keyboardModifiers(), *place) : typed};
}

KeyAction action(KeyAction::Kind kind) {
    KeyAction a;
    a.kind = kind;
    return a;
}

} // namespace

void KeyMap::setCodeWindow(const CodeWindow& window) {
    codes_.clear();
    labels_.clear();
    for (const bool teamA : {true, false})
        for (size_t i = 0; i < window.codes.size(); ++i)
            if (const auto key = keyOf(teamA ? window.codes[i].keyA : window.codes[i].keyB)) {
                KeyAction a = action(KeyAction::Kind::Code);
                a.item = i;
                a.teamA = teamA;
                codes_.push_back({*key, a});
            }
    for (size_t g = 0; g < window.labels.size(); ++g) {
        const LabelGroup& group = window.labels[g];
        for (size_t t = 0; t < group.texts.size() && t < group.keys.size(); ++t)
            if (const auto key = keyOf(group.keys[t])) {
                KeyAction a = action(KeyAction::Kind::Label);
                a.item = g;
                a.text = t;
                labels_.push_back({*key, a});
            }
    }
}

KeyAction::Kind KeyMap::historyKey(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods =
        event.modifiers() &
        (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (event.key() == Qt::Key_Z && mods == Qt::ControlModifier)
        return KeyAction::Kind::Undo;
    if ((event.key() == Qt::Key_Z && mods == (Qt::ControlModifier | Qt::ShiftModifier)) ||
        (event.key() == Qt::Key_Y && mods == Qt::ControlModifier))
        return KeyAction::Kind::Redo;
    return KeyAction::Kind::None;
}

const KeyMap::Entry* KeyMap::codingEntry(const QKeyEvent& event) const {
    const auto pressed = pressedKeys(event);
    for (const auto* list : {&codes_, &labels_})
        for (const Entry& e : *list)
            if (e.key == pressed[0] || e.key == pressed[1])
                return &e;
    return nullptr;
}

bool KeyMap::isCodingKey(const QKeyEvent& event) const {
    const QKeyCombination typed = typedKey(event);
    for (const auto* list : {&codes_, &labels_})
        for (const Entry& e : *list)
            if (e.key == typed)
                return true;
    return false;
}

KeyAction KeyMap::actionFor(const QKeyEvent& event, Place place, bool editShown) const {
    using Kind = KeyAction::Kind;
    if (const Kind history = historyKey(event); history != Kind::None)
        return action(history);
    const bool editing = place == Place::EditScreen || (place == Place::Video && editShown);
    if (editing)
        if (const Entry* entry = codingEntry(event))
            // A held key records (or labels) once.
            return event.isAutoRepeat() ? action(Kind::None) : entry->action;
    // A digit no code or label holds is a shirt number (main row or number pad).
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if (editing && event.key() >= Qt::Key_0 && event.key() <= Qt::Key_9 && mods == Qt::NoModifier) {
        KeyAction a = action(Kind::PlayerDigit);
        a.step = event.isAutoRepeat() ? -1 : event.key() - Qt::Key_0; // held: once
        a.endsSequence = place == Place::Video;
        return a;
    }
    const uint16_t code = keycodeOf(event);
    if (editing && (code == Keycode::comma || code == Keycode::period))
        return action(code == Keycode::comma ? Kind::ClipStart : Kind::ClipEnd);
    // After the code window's keys: a window may take these for its codes.
    if (editing && (code == Keycode::leftBracket || code == Keycode::rightBracket))
        return action(code == Keycode::leftBracket ? Kind::PeriodStart : Kind::PeriodEnd);
    // The edit screen's controls drop every other key: none changes the
    // filter or the team boxes by accident.
    if (place == Place::EditScreen)
        return action(Kind::None);
    if (code == Keycode::pageDown || code == Keycode::pageUp) {
        KeyAction a = action(Kind::SequenceStep);
        a.step = code == Keycode::pageDown ? 1 : -1;
        return a;
    }
    KeyAction a = playerAction(event);
    if (a.kind == Kind::LeaveFullScreen && place != Place::Video)
        a.kind = Kind::None;
    a.endsSequence = !isModifierKey(event);
    return a;
}

KeyAction KeyMap::playerAction(const QKeyEvent& event) {
    using Kind = KeyAction::Kind;
    switch (keycodeOf(event)) {
    case Keycode::a:
        return action(Kind::Play);
    case Keycode::s:
        return action(Kind::Pause);
    case Keycode::d:
        return action(Kind::Slow);
    case Keycode::o:
        return action(isCommandOnly(event) && !isCapsLockOn(event) ? Kind::Open : Kind::None);
    case Keycode::space:
        return action(Kind::PauseOrResume);
    case Keycode::leftArrow:
        return action(Kind::Backward);
    case Keycode::rightArrow:
        return action(Kind::Forward);
    case Keycode::downArrow:
        return action(Kind::VolumeDown);
    case Keycode::upArrow:
        return action(Kind::VolumeUp);
    case Keycode::end:
        return action(Kind::GoLive);
    case Keycode::escape:
        // As with any video player, Escape leaves full screen.
        return action(Kind::LeaveFullScreen);
    default:
        return action(Kind::None);
    }
}
