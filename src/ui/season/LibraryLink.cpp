#include "season/LibraryLink.h"

#include <QScreen>

#include "MainViewController.h"
#include "SubViewClass/MediaPlayerView.h"
#include "SubViewController/EditViewController.h"
#include "client/LibraryClient.h"
#include "season/LibraryWindow.h"
#include "session/SessionTag.h"

LibraryLink::LibraryLink(MainViewController* main) : QObject(main), main_(main) {
    // Saved tags go to the library at once, on its own thread.
    connect(main->session, &SessionController::saved, this,
            [this](const std::string& video, const std::string& sessionFile) {
                client()->indexSaved(video, sessionFile, main_->tagDataModel.data);
            });
    // Saves the last run closed on before the library took them: its scan
    // (on the library's thread) reads them from their files now.
    if (LibraryClient::owedScans().contains(library::SeasonLibrary::defaultDatabase()))
        client();
}

LibraryClient* LibraryLink::client() {
    if (!client_) {
        client_ = new LibraryClient(this);
        connect(client_, &LibraryClient::notice, this, &LibraryLink::notice);
        client_->open();
    }
    return client_;
}

QWidget* LibraryLink::showWindow() {
    QWidget* home = main_->window();
    if (!window_) {
        window_ = new LibraryWindow(main_, home);
        // In the middle of the main window's screen.
        if (const QScreen* screen = home->screen()) {
            const QRect area = screen->availableGeometry();
            QRect r(QPoint(0, 0), window_->size().boundedTo(area.size()));
            r.moveCenter(area.center());
            window_->setGeometry(r);
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    return window_;
}

void LibraryLink::openAtTag(const std::string& video, int position, double time,
                            const std::string& code, std::function<void()> done) {
    // The row on the edit screen, where the tags are changed.
    auto show = [main = main_, position, time, code, done = std::move(done)] {
        if (!main->isEditShown())
            main->onMenuSelectEditMode();
        if (auto tag = sessionTag(main->tagDataModel, position, time, code))
            main->editViewController->showTag(tag, true);
        else
            main->MediaPlayer->seek(static_cast<float>(time), 2.0);
        // The video in front and the keys with it; the library stays open
        // behind for the next result.
        main->window()->raise();
        main->window()->activateWindow();
        if (done)
            done();
    };
    if (main_->session->isOpenVideo(video))
        show();
    else
        main_->openVideo(video, std::move(show));
}
