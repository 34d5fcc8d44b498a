// Qt's own panels and menus inside the Japanese window, as the application
// sets itself up (the test main runs the same set-up).
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
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

    // Saving: the tag list, a clip, the tally and the highlights; the name
    // proposed with its extension, which a name typed without one gets too.
    markClip(10, 20);
    clickCell(edit->clipTableView, 0, 0);
    struct Save {
        const char* mode;
        const char* button;
        std::string filter;
        QString title, name;
    };
    for (const Save& s : {Save{"menu_edit_mode_button", "onTagCSVOutput", "CSV (*.csv)",
                               "save tag csv file", "Brenholt.csv"},
                          Save{"menu_edit_mode_button", "onClipOutput", "動画 (*.mp4 *.mts *.m2ts)",
                               "save tag video clip file", "ClipVideo.mp4"},
                          Save{"menu_play_mode_button", "onTallyCSVOutput", "CSV (*.csv)",
                               "集計CSVを保存", "match_集計.csv"},
                          Save{"menu_play_mode_button", "onHighlightOutput", "MP4 (*.mp4)",
                               "ハイライト動画を保存", "match_ハイライト.mp4"}}) {
        SCOPED_TRACE(s.button);
        click(s.mode);
        click(s.button);
        panel = shownPanel(window.get());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->directory().absolutePath().toStdString(), dir.string());
        EXPECT_EQ(panel->nameFilters().join(';').toStdString(), s.filter);
        expectPanel(panel, s.title);
        EXPECT_EQ(panel->findChild<QLineEdit*>("fileNameEdit")->text(), s.name);
        EXPECT_TRUE(s.name.endsWith("." + panel->defaultSuffix()));
        panel->reject();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QFileDialog*>(); }, 3000));
    }
}
