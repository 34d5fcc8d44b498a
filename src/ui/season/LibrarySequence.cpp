#include "season/LibrarySequence.h"

#include <QTimer>
#include <cmath>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"
#include "platform/AtomicFile.h"
#include "player/Player.h"
#include "review/MomentSequence.h"
#include "session/SessionTag.h"
#include "tags/TagTableScreen.h"

std::vector<LibraryMoment> libraryMoments(const std::vector<library::Hit>& hits, double lead,
                                          double lag, const CodeWindow* window,
                                          const std::function<double(const std::string&)>& length) {
    std::vector<LibraryMoment> out;
    for (size_t first = 0; first < hits.size();) {
        size_t end = first;
        while (end < hits.size() && hits[end].video == hits[first].video)
            ++end;
        // Rows standing for the hits; the index says which hit.
        std::vector<std::shared_ptr<TagRowData>> rows;
        for (size_t i = first; i < end; ++i) {
            auto row = std::make_shared<TagRowData>();
            row->index = static_cast<int64_t>(i);
            row->team = hits[i].teamA;
            row->time_val = static_cast<float>(hits[i].time);
            row->name = hits[i].code;
            if (hits[i].end)
                row->end = TagEnd::at(static_cast<float>(*hits[i].end));
            rows.push_back(std::move(row));
        }
        const double duration = length ? length(hits[first].video) : NAN;
        for (Moment& m : makeMoments(rows, lead, lag, duration, window)) {
            LibraryMoment lm;
            lm.video = hits[first].video;
            lm.moment = std::move(m);
            for (const auto& t : lm.moment.tags)
                lm.hits.push_back(static_cast<size_t>(t->index));
            const library::Hit& named = hits[lm.hits.front()];
            lm.position = named.position;
            lm.time = named.time;
            lm.code = named.code;
            out.push_back(std::move(lm));
        }
        first = end;
    }
    return out;
}

LibrarySequence::LibrarySequence(MainViewController* main, QObject* parent)
    : QObject(parent), main_(main), runner_(new MomentSequence(this)) {
    runner_->onMoment = [this](const Moment&) {
        // The runner's moments are this run's, in order.
        current_ = static_cast<int>(runStart_) + runner_->current();
        const LibraryMoment& lm = moments_[static_cast<size_t>(current_)];
        // Its row chosen on the screen shown, the video left where the runner put it.
        if (auto tag = sessionTag(main_->tagDataModel, lm.position, lm.time, lm.code))
            main_->shownScreen()->showTag(tag, false);
        emit momentStarted(current_);
    };
    connect(runner_, &MomentSequence::completed, this, [this] {
        advancing_ = true;
        // Once the runner has stopped: the next run may start it again.
        QTimer::singleShot(0, this, [this] {
            advancing_ = false;
            if (!active_)
                return;
            size_t next = runStart_;
            while (next < moments_.size() && moments_[next].video == moments_[runStart_].video)
                ++next;
            if (next < moments_.size())
                playRun(next);
            else
                finish();
        });
    });
    connect(runner_, &MomentSequence::ended, this, [this] {
        // Stopped from outside (a key, a transport button): the whole sequence.
        if (!advancing_ && active_)
            finish();
    });
    connect(main_->MediaPlayer, &MediaPlayerView::openFailed, this, [this] {
        if (active_)
            finish();
    });
}

bool LibrarySequence::start(std::vector<LibraryMoment> moments, float rate) {
    stop();
    if (moments.empty())
        return false;
    // Asked once, before the first video changes; not at each switch.
    bool leaves = false;
    for (const LibraryMoment& m : moments)
        leaves = leaves || !main_->session->isOpenVideo(m.video);
    if (leaves && !main_->session->mayLeaveVideo())
        return false;
    moments_ = std::move(moments);
    rate_ = rate > 0 ? rate : 1.0f;
    active_ = true;
    // The video in front, with the keys that step or stop the sequence.
    main_->window()->raise();
    main_->window()->activateWindow();
    playRun(0);
    return true;
}

void LibrarySequence::stop() {
    if (!active_)
        return;
    runner_->stop();
    finish();
}

void LibrarySequence::finish() {
    if (!active_)
        return;
    active_ = false;
    ++generation_;
    main_->session->forgetLeaveAnswer();
    if (runner_->isActive())
        runner_->stop();
    emit ended();
}

void LibrarySequence::playRun(size_t first) {
    runStart_ = first;
    current_ = static_cast<int>(first);
    const std::string& video = moments_[first].video;
    if (main_->session->isOpenVideo(video)) {
        startRun(first);
        return;
    }
    // Tags changed since the question (during the sequence): asked again.
    if (main_->m_fSave && !main_->session->mayLeaveVideo()) {
        finish();
        return;
    }
    const int generation = ++generation_;
    QPointer<LibrarySequence> self(this);
    main_->openVideo(video, [self, first, generation] {
        if (self && self->active_ && self->generation_ == generation)
            self->startRun(first);
    });
}

void LibrarySequence::startRun(size_t first) {
    Player* player = main_->MediaPlayer->player();
    // Cut to the video's length, now known: a moment past it would never end.
    const double length = player ? player->duration() : NAN;
    std::vector<Moment> run;
    for (size_t i = first; i < moments_.size() && moments_[i].video == moments_[first].video; ++i) {
        Moment m = moments_[i].moment;
        if (std::isfinite(length))
            m.end = std::min(m.end, length);
        // Kept even when empty: the runner's places are the moments'.
        run.push_back(std::move(m));
    }
    runStart_ = first;
    runner_->start(player, std::move(run), rate_);
    if (!runner_->isActive())
        finish();
}

void exportLibraryMoments(QWidget* parent, const std::vector<LibraryMoment>& moments,
                          const std::string& path, bool each) {
    for (const LibraryMoment& m : moments)
        if (const std::string clash = exportTargetClash(path, m.video); !clash.empty()) {
            AlertBox(clash, "お知らせ", "warning");
            return;
        }
    // As the play screen's exports: one job.
    std::optional<MomentFolder> folder;
    if (each && !(folder = momentFolderFor(path, "ハイライト出力")))
        return;
    auto* windowController = new ClipWindowController(parent);
    ClipViewController* job = windowController->contentViewController();
    job->setJobName("ハイライト出力");
    job->clipInputUrl = moments.front().video;
    job->clipOutputUrl = path;
    for (const LibraryMoment& m : moments) {
        job->ranges.emplace_back(m.moment.start, m.moment.end);
        job->rangeSources.push_back(m.video);
        if (!job->angles.count(m.video))
            job->addAnglesOf(m.video);
    }
    if (folder) {
        if (folder->made)
            job->madeFolder = folder->path.string();
        job->replacedFiles = folder->replaced;
        removeStaleTemporaries(folder->path, isMomentFileName);
        const size_t limit = fileNameLimit(folder->path);
        for (size_t i = 0; i < moments.size(); ++i)
            job->separateOutputs.push_back(
                (folder->path / momentFileName(i + 1, *moments[i].moment.tags.front(), limit))
                    .string());
    }
    windowController->showWindow();
}
