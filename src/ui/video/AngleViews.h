#pragma once

#include <QObject>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "match/Angles.h"

class AngleSync;
class MpvPlayer;
class QComboBox;
class QLabel;
class QWidget;

// The match's other cameras inside the video view: a view per angle (its
// picture, its name, 「この時刻の映像なし」 when its file lacks the instant),
// the main picture beside them, and the layout switch over the top right
// corner. Clicks on an angle's view go to the video view, so keys code there
// as on the main picture.
class AngleViews : public QObject {
    Q_OBJECT
public:
    enum class Layout { Main, SideBySide, Grid, OneLarge };

    // `host`: the video view; `mainSurface`: its picture of the main player.
    AngleViews(QWidget* host, QWidget* mainSurface, MpvPlayer& main);
    ~AngleViews() override;

    void setAngles(const std::vector<MatchAngle>& angles, const std::string& folder);
    AngleSync& sync() const { return *sync_; }
    // Places the pictures in `area` (the host's rectangle).
    void place(QRect area);
    Layout layout() const { return layout_; }
    // 0: the main picture; 1 to 3: an angle. The one shown large (1画面大)
    // or beside the main (左右).
    int chosen() const { return chosen_; }
    void setLayout(Layout layout, int chosen);
    QComboBox* layoutBox() const { return layoutBox_; }
    QComboBox* chosenBox() const { return chosenBox_; }
    // Angle `i`'s view (its picture and overlays).
    QWidget* view(size_t i) const { return views_[i].frame; }
    QLabel* noPictureLabel(size_t i) const { return views_[i].noPicture; }

private:
    struct View {
        QWidget* frame = nullptr;   // holds the surface and the labels
        QWidget* surface = nullptr; // the angle's picture
        QLabel* name = nullptr;
        QLabel* noPicture = nullptr;
    };

    void remakeViews();
    void clearViews();
    void showPicture(int i);
    void fillChosenBox();
    // The pictures shown, in order: 0 the main, i + 1 angle i.
    std::vector<int> shownPictures() const;
    QWidget* pictureWidget(int picture) const;
    void placeFrame(QWidget* frame, QRect r);

    QWidget* host_;
    QWidget* mainSurface_;
    QLabel* mainName_ = nullptr;
    std::unique_ptr<AngleSync> sync_;
    std::vector<View> views_;
    QComboBox* layoutBox_ = nullptr;
    QComboBox* chosenBox_ = nullptr;
    Layout layout_ = Layout::SideBySide;
    int chosen_ = 1;
};
