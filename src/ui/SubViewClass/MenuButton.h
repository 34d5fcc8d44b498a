#pragma once

#include <QToolButton>

// A mode button of the main window's menu column: "menu_edit_mode_button" or
// "menu_play_mode_button"; its image shows whether its mode is the one shown.
class MenuButton : public QToolButton {
    Q_OBJECT
public:
    MenuButton(const QString& identifier, const QString& label, QWidget* parent = nullptr);
    void setBackImage();
    void clearBackImage();
    // The resource name of the image now shown.
    QString imageName() const { return imageName_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showImage(const QString& name);
    void setHover(bool on);
    QString imageName_;
};

// The main view's menu column, `width` wide: 編集モード over 再生モード, edit
// mode chosen.
QWidget* makeMenuColumn(QWidget* parent, int width, MenuButton*& edit, MenuButton*& play);
