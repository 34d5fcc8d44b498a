// Qt's own panels and menus inside the Japanese window, as the application
// sets itself up (the test main runs the same set-up).
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>
#include <QMenu>
#include <QRegularExpression>

#include "SubViewClass/EditableNSTextField.h"
#include "support/ScreenFixture.h"

// The main view on the fake player, for the Qt's own panels and menus.
class QtLook : public Screens {};

namespace {

// Without Latin words: accelerators ("(&C)"), shortcuts and "CSV" aside.
bool japanese(QString text) {
    text = text.section('\t', 0, 0);
    text.remove(QRegularExpression(R"(\(&.\)|&)"));
    text.remove("CSV");
    return !text.isEmpty() && !text.contains(QRegularExpression("[A-Za-z]"));
}

// Qt's file panel, once the window shows one.
QFileDialog* shownPanel(QWidget* window) {
    QFileDialog* panel = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] {
            panel = window->findChild<QFileDialog*>();
            return panel && panel->isVisible();
        },
        3000);
    return shown ? panel : nullptr;
}

// The panel's title, and its own words (labels, buttons, the kind of a
// folder in the detail list) in Japanese.
void expectPanel(QFileDialog* panel, const QString& title) {
    EXPECT_EQ(panel->windowTitle(), title);
    for (auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                       QFileDialog::Accept, QFileDialog::Reject})
        EXPECT_TRUE(japanese(panel->labelText(label))) << panel->labelText(label).toStdString();
    for (QAbstractButton* b : panel->findChild<QDialogButtonBox*>()->buttons())
        EXPECT_TRUE(japanese(b->text())) << b->text().toStdString();
    auto* model = panel->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex folder = model->index(QDir(panel->directory()).filePath("素材"));
    QString kind;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !(kind = model->index(folder.row(), 2, folder.parent()).data().toString())
                        .isEmpty();
        },
        3000));
    EXPECT_TRUE(japanese(kind)) << kind.toStdString();
}

} // namespace

TEST_F(QtLook, ATextFieldsMenuSpeaksJapanese) {
    EditableNSTextField* field = edit->teamA_header;
    const QPoint at = field->mapTo(window.get(), field->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::RightButton, {}, at);
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 3000));
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text().section('\t', 0, 0); // without the shortcut
    menu->close();
    ASSERT_GE(texts.size(), 5);
    for (const QString& t : texts)
        EXPECT_TRUE(japanese(t)) << t.toStdString();
    EXPECT_TRUE(texts.contains("コピー(&C)")) << texts.join(" | ").toStdString();
}

TEST_F(QtLook, FilePanelsSpeakJapaneseAndOpenInTheVideosFolder) {
    setDialogProvider(nullptr); // Qt's panels, not the recording ones
    std::ofstream(dir / "CAM.MTS") << "x";
    std::ofstream(dir / "notes.txt") << "x";
    std::filesystem::create_directory(dir / "素材");
    openVideo("match.mp4");
    press("A6", 30);

    // Opening a video: videos in any letter case, nothing else.
    click("mediaOpen_edit");
    QFileDialog* panel = shownPanel(window.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->directory().absolutePath().toStdString(), dir.string());
    EXPECT_EQ(panel->nameFilters().join(';').toStdString(), "動画 (*.avi *.mp4 *.mts *.m2ts)");
    expectPanel(panel, "Choose video file");
    auto* list = panel->findChild<QListView*>("listView");
    auto listed = [&] {
        QStringList names;
        for (int r = 0; r < list->model()->rowCount(list->rootIndex()); ++r)
            names << list->model()->index(r, 0, list->rootIndex()).data().toString();
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed().contains("CAM.MTS"); }, 3000))
        << listed().join(" ").toStdString();
    EXPECT_FALSE(listed().contains("notes.txt"));
    panel->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QFileDialog*>(); }, 3000));

    // Saving: the tag list, a clip, the tally and the highlights.
    markClip(10, 20);
    clickCell(edit->clipTableView, 0, 0);
    struct Save {
        const char* mode;
        const char* button;
        std::string filter;
        QString title;
    };
    for (const Save& s :
         {Save{"menu_edit_mode_button", "onTagCSVOutput", "CSV (*.csv)", "save tag csv file"},
          Save{"menu_edit_mode_button", "onClipOutput", "動画 (*.mp4 *.mts *.m2ts)",
               "save tag video clip file"},
          Save{"menu_play_mode_button", "onTallyCSVOutput", "CSV (*.csv)", "集計CSVを保存"},
          Save{"menu_play_mode_button", "onHighlightOutput", "MP4 (*.mp4)",
               "ハイライト動画を保存"}}) {
        SCOPED_TRACE(s.button);
        click(s.mode);
        click(s.button);
        panel = shownPanel(window.get());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->directory().absolutePath().toStdString(), dir.string());
        EXPECT_EQ(panel->nameFilters().join(';').toStdString(), s.filter);
        expectPanel(panel, s.title);
        panel->reject();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QFileDialog*>(); }, 3000));
    }
}

namespace {

int luminance(QRgb c) {
    return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000;
}

// How many pixels of `area` in `shot` are light (a tick, an outline).
int lightPixels(const QImage& shot, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += luminance(shot.pixel(x, y)) >= 150;
    return n;
}

} // namespace

TEST_F(QtLook, TicksAndTheirBoxesAreLightOnTheDarkScreens) {
    openVideo("match.mp4");
    press("A6", 30);
    press("B0", 40);
    // The tag list's tick column: the first tag ticked, the second not.
    CustomTableView* table = edit->tagTableView;
    clickCell(table, 0, 0);
    ASSERT_TRUE(edit->tagModel()->isTicked(0));
    ASSERT_FALSE(edit->tagModel()->isTicked(1));
    const QImage shot = table->viewport()->grab().toImage();
    for (int row : {0, 1}) {
        SCOPED_TRACE(row);
        QStyleOptionViewItem option;
        option.rect = table->visualRect(table->model()->index(row, 0));
        option.features = QStyleOptionViewItem::HasCheckIndicator;
        const QRect box =
            table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
        ASSERT_TRUE(option.rect.contains(box));
        EXPECT_LT(luminance(shot.pixel(option.rect.topLeft() + QPoint(1, 1))), 100); // dark row
        EXPECT_GE(lightPixels(shot, box), 12);
    }
    // The team boxes, ticked and not.
    for (bool ticked : {true, false}) {
        for (QCheckBox* team : {edit->teamA_checkBox, edit->teamB_checkBox}) {
            if (team->isChecked() != ticked)
                QTest::mouseClick(team, Qt::LeftButton, {}, QPoint(8, team->height() / 2));
            ASSERT_EQ(team->isChecked(), ticked);
            QStyleOptionButton option;
            option.initFrom(team);
            const QRect box =
                team->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, team);
            EXPECT_GE(lightPixels(team->grab().toImage(), box), 12) << ticked;
        }
    }
}
