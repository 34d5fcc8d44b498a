#pragma once

#include <QColor>
#include <QPushButton>
#include <QToolButton>
#include <string>

// Buttons that change colour under the pointer and show the hand cursor.
// A button's identifier is its objectName.
class HoverButton : public QPushButton {
    Q_OBJECT
public:
    explicit HoverButton(QWidget* parent = nullptr);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    virtual void pointerEntered() {}
    virtual void pointerLeft() {}
    void setBackground(const QColor& color);
    QColor textColor_ = Qt::white;
};

// A tag button: its identifier is a team letter and a number ("A3", "B12");
// the number chooses one of five colour groups.
class TagButton : public HoverButton {
    Q_OBJECT
public:
    explicit TagButton(const QString& title, const QString& identifier, QWidget* parent = nullptr);

    struct Colors {
        QColor background, hover;
    };
    static Colors colorsFor(uint64_t number);

    bool initFlg = false;
    int64_t index_num = 0;
    bool index_type = false;
    QColor background_color{63, 138, 63};
    QColor hover_color{0, 100, 0};

    // The colour group, taken from the identifier at the first draw.
    void viewWillDraw();
    // Colours of the button's own (a code's), in place of its colour group.
    void setColors(const QColor& background, const QColor& hover);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void pointerEntered() override;
    void pointerLeft() override;
};

// Transport buttons: hover colour and a tool tip telling the key.
class MediaToolButtonView : public HoverButton {
    Q_OBJECT
public:
    explicit MediaToolButtonView(const QString& identifier, QWidget* parent = nullptr);
    QColor hover_color = QColor::fromRgbF(0.8f, 0.8f, 0.9f);
    // The tool tip for a transport button's identifier; empty when none.
    static QString toolTipFor(const QString& identifier);

protected:
    void pointerEntered() override;
    void pointerLeft() override;
};

// A label of a code window: white, in the label colour while the chosen tag
// carries it.
class LabelButton : public HoverButton {
    Q_OBJECT
public:
    LabelButton(const QString& title, const QString& identifier, QWidget* parent = nullptr);
    static QColor onColor() { return QColor(255, 196, 64); }

protected:
    void pointerEntered() override;
    void pointerLeft() override;

private:
    void restyle();
};

// Plain command buttons of the screens (white, grey under the pointer).
class GeneralButton : public HoverButton {
    Q_OBJECT
public:
    explicit GeneralButton(const QString& title, const QString& identifier,
                           QWidget* parent = nullptr);

protected:
    void pointerEntered() override;
    void pointerLeft() override;
};
