#pragma once

#include <QHeaderView>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "MainViewController.h"
#include "Media/FakePlayer.h"
#include "SubViewClass/Buttons.h"
#include "SubViewClass/CustomTableView.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewClass/MenuButton.h"
#include "SubViewClass/TableModels.h"
#include "SubViewController/EditViewController.h"
#include "SubViewController/PlayViewController.h"
#include "support/RecordingDialogs.h"

// The main view on a fake player, with recorded dialogs and a scratch folder.
class Screens : public ::testing::Test {
protected:
    Screens() {
        auto owned = std::make_unique<FakePlayer>();
        fake = owned.get();
        main = std::make_unique<MainViewController>(nullptr, std::move(owned));
        main->resize(1600, 930);
        main->show();
        (void)QTest::qWaitForWindowExposed(main.get());
        edit = main->editViewController;
        play = main->playViewController;
        dir = std::filesystem::temp_directory_path() /
              ("rucktag-ui-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~Screens() override {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
        std::filesystem::remove_all(dir);
    }

    // Opens `name` in the scratch folder (the file need not exist: the fake
    // player opens anything).
    void openVideo(const std::string& name, double length = 600.0) {
        fake->length = length;
        main->MediaPlayer->callBack = [this](const std::string& url) { main->afterOpenMedia(url); };
        main->MediaPlayer->openPath((dir / name).string());
    }
    TagButton* button(const std::string& id) {
        for (TagButton* b : edit->tagButtons)
            if (b->objectName().toStdString() == id)
                return b;
        return nullptr;
    }
    void press(const std::string& id, double at) {
        fake->clock = at;
        edit->onTagButtonClicked(button(id));
    }
    // Clicks cell (row, column) of a table as a user would.
    static void clickCell(CustomTableView* table, int row, int column) {
        const QRect r = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, r.center());
    }
    static void clickHeader(CustomTableView* table, int column) {
        QHeaderView* h = table->horizontalHeader();
        const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                       h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
    }
    static std::vector<std::string> names(const std::vector<std::shared_ptr<TagRowData>>& rows) {
        std::vector<std::string> out;
        for (const auto& r : rows)
            out.push_back(r->name);
        return out;
    }

    RecordingDialogs dialogs;
    FakePlayer* fake = nullptr;
    std::unique_ptr<MainViewController> main;
    EditViewController* edit = nullptr;
    PlayViewController* play = nullptr;
    std::filesystem::path dir;
};
