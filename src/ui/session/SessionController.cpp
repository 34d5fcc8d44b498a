#include "session/SessionController.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"
#include "match/MatchInfo.h"
#include "platform/AtomicFile.h"
#include "platform/SystemLog.h"
#include "player/Player.h"

namespace {
constexpr const char* kViewOnlyNote =
    "この動画は別のRucktagウィンドウで開かれていて、そちらでタグを記録しています。"
    "このウィンドウでは動画とタグを見ることだけができ、タグの記録、変更、保存はできません。";
} // namespace

SessionController::SessionController(TagDataModel& store, bool& unsaved, QObject* parent)
    : QObject(parent), store_(store), unsaved_(unsaved) {
    journalCheck_.setSingleShot(true);
    connect(&journalCheck_, &QTimer::timeout, this, [this] { reportJournalFailure(); });
    // Whatever changed them: an edit, undo, redo, another video.
    connect(this, &SessionController::storeChanged, this, [this] {
        if (store_.match.angles != angles_) {
            angles_ = store_.match.angles;
            emit anglesChanged();
        }
    });
}

void SessionController::setView(MediaPlayerView* view) {
    view_ = view;
    view->beforeOpen = [this](const std::string&) {
        // Given up when asked: the sequence's next video replaces them.
        return std::exchange(leaveAsked_, false) || mayReplaceVideo();
    };
}

bool SessionController::mayLeaveVideo() {
    leaveAsked_ = mayReplaceVideo();
    return leaveAsked_;
}

std::string SessionController::sessionPath() const {
    if (!view_ || !view_->player() || !view_->player()->hasCurrentItem())
        return {};
    return TagFileManager::sessionFilePath(view_->player()->currentPath());
}

bool SessionController::isOpenVideo(const std::string& video) const {
    const Player* player = view_ ? view_->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return false;
    std::error_code ec;
    return player->currentPath() == video ||
           std::filesystem::equivalent(player->currentPath(), video, ec);
}

QString SessionController::matchName() const {
    const Player* player = view_ ? view_->player() : nullptr;
    if (!player || !player->hasCurrentItem())
        return {};
    return QString::fromStdString(std::filesystem::path(player->currentPath()).stem().string());
}

bool SessionController::save() {
    const std::string path = sessionPath();
    if (path.empty())
        return false;
    if (viewOnly_) {
        AlertBox(kViewOnlyNote, "お知らせ", "warning");
        return false;
    }
    const bool wasPlaying = view_->isPlaying();
    view_->player()->pause();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        // Written by someone else since it was read: the ordinary question
        // would hide that their tags are about to go.
        const bool changedSince = stampOfFile(path) != loadedSession_;
        const std::string question =
            changedSince
                ? "セッションファイルは、読み込んだ後に別のプログラムまたは別のウィンドウで"
                  "変更されています。上書きすると、その変更は失われます。上書きしますか？"
                : "保存データがあります。上書きしますか？";
        if (ConfirmBox(question, "お知らせ") != "yes") {
            if (wasPlaying)
                view_->play();
            return false;
        }
        // The old file stays until the new one is complete: the write
        // replaces it in one step, so a failure leaves it intact.
    }
    std::string kept;
    if (!keepDamagedSession(path, kept)) {
        if (wasPlaying)
            view_->play();
        return false;
    }
    std::string keptNote =
        kept.empty() ? "" : "\n読み込めなかった元のファイルは次の名前で残しています。\n" + kept;
    // The match first: when it cannot be written, nothing is said saved.
    std::string keptMatch;
    std::string error = saveMatch(path, keptMatch);
    if (!keptMatch.empty())
        keptNote += "\n読み込めなかった元の試合ファイルは次の名前で残しています。\n" + keptMatch;
    if (error.empty())
        error = TagFileManager::saveCSVFile(path, store_.data, true);
    if (error.empty()) {
        unsaved_ = false;
        // Saved: the journal's changes are in the session file now.
        journal.retire();
        loadedSession_ = stampOfFile(path);
        journal.setSession(loadedSession_);
        emit saved(view_->player()->currentPath(), path);
        AlertBox("タグ情報が保存されました。" + keptNote, "成功", "success");
    } else {
        AlertBox(error + keptNote, "保存失敗", "error");
    }
    if (wasPlaying)
        view_->play();
    return error.empty();
}

bool SessionController::mayClose() {
    if (!view_->isOpenStatus().value_or(false) || !unsaved_)
        return true;
    const std::string answer = ConfirmBox("タグデータが変更されています。保存しますか？", "保存");
    // A question closed without an answer keeps everything, like cancel.
    if (answer == "cancel" || answer == "error")
        return false;
    // Quit only once the tags are safe: a declined overwrite or a failed
    // write keeps the window open with every tag.
    if (answer != "no")
        return save();
    journal.discard();
    return true;
}

bool SessionController::mayReplaceVideo() {
    if (!view_->isOpenStatus().value_or(false) || !unsaved_)
        return true;
    const std::string answer = ConfirmBox("タグデータが変更されています。保存しますか？", "保存");
    if (answer == "no") {
        journal.discard();
        return true;
    }
    if (answer == "yes")
        return save();
    return false;
}

void SessionController::videoOpened() {
    const std::string path = sessionPath();
    store_.replaceData(loadSession(path));
    loadMatch(path);
    unsaved_ = false;
    history.clear();
    openJournal(path);
    showNewStore();
}

void SessionController::openJournal(const std::string& sessionFile) {
    Player* player = view_->player();
    const std::string video = player && player->hasCurrentItem() ? player->currentPath() : "";
    viewOnly_ = false;
    if (video.empty()) {
        journal.close();
        return;
    }
    loadedSession_ = stampOfFile(sessionFile);
    // Whatever is still on its way (the retirement of this very journal after
    // a save, say) lands before the journal is read.
    journal.flush();
    if (!journal.open(video, loadedSession_)) {
        // Another process records this video: its journal is live, never a
        // left-over, and two writers would lose each other's tags.
        viewOnly_ = true;
        openNote_ = kViewOnlyNote;
        return;
    }
    JournalContents found = journal.readLeftover();
    if (!found.error.empty())
        systemLog(found.error);
    if (!found.found)
        return;
    const std::string discarded = (journalFolder() / "discarded").string();
    if (!found.ours) {
        // Nothing in it can be read back: kept aside, never written over.
        journal.discardLeftover();
        openNote_ = "前回保存されていない変更の記録がありましたが、壊れていて読み取れませんでした。"
                    "記録は消さずに次のフォルダーに残しています。\n" +
                    discarded;
        return;
    }
    const std::string answer = RecoveryBox(recoveryQuestion(found) + "\n" + discarded);
    if (answer == "discard") {
        journal.discardLeftover();
        return;
    }
    if (answer != "restore") {
        journal.deferLeftover();
        return;
    }
    const int64_t counter = std::max(store_.index, found.store.index);
    store_.data = std::move(found.store.data);
    store_.match = std::move(found.store.match);
    store_.index = counter;
    unsaved_ = true;
    // The restored store is the start of this run's journal.
    journal.restoreLeftover(store_);
    watchJournal();
}

std::string SessionController::recoveryQuestion(const JournalContents& found) const {
    std::string question = "前回保存されていない変更が残っています。復元しますか？";
    if (found.session != loadedSession_)
        question += "\nセッションファイルは、この変更の記録を始めた後に変更されています。"
                    "復元すると、記録の最後の時点のタグ一覧全体に戻ります。";
    if (found.damaged) {
        question += "\n記録に壊れた箇所があるため、";
        if (found.lostRecords > 0 || found.lostTags > 0)
            question += "読み取れなかった変更" +
                        std::to_string(found.lostRecords + found.lostTags) + "件を除いて";
        else
            question += "読み取れた変更をすべて";
        question += "復元します。";
    }
    question += "\n「後で決める」では記録をそのまま残し、次にこの動画を開いたときにもう一度確かめ"
                "ます。破棄した記録は14日間、次のフォルダーに残ります。";
    return question;
}

bool SessionController::mayChangeTags() {
    if (!viewOnly_)
        return true;
    AlertBox(kViewOnlyNote, "お知らせ", "warning");
    return false;
}

void SessionController::perform(TagEdit edit, StoreChange::Kind kind) {
    leaveAsked_ = false;
    const TagEdit& done = history.perform(store_, std::move(edit));
    journal.changed(done, store_);
    unsaved_ = true;
    watchJournal();
    emit storeChanged({kind, &done});
}

bool SessionController::undo() {
    leaveAsked_ = false;
    return afterHistoryStep(history.undo(store_));
}

bool SessionController::redo() {
    leaveAsked_ = false;
    return afterHistoryStep(history.redo(store_));
}

bool SessionController::afterHistoryStep(const TagEdit* applied) {
    if (!applied)
        return false;
    journal.changed(*applied, store_);
    unsaved_ = true;
    watchJournal();
    emit storeChanged({StoreChange::Kind::Stepped, applied});
    return true;
}

void SessionController::watchJournal() {
    // Failures surface from the writer thread; looked at shortly after.
    if (!journalCheck_.isActive())
        journalCheck_.start(300);
}

void SessionController::reportJournalFailure() {
    const std::string error = journal.takeError();
    if (error.empty())
        return;
    AlertBox("タグの変更を記録できません。タグの入力は続けられますが、保存するまでの変更は、"
             "異常終了すると失われます。\n" +
                 error,
             "warning", "warning");
}

void SessionController::showNewStore() {
    // Both screens list the new store: a hidden screen left on the old rows
    // would act on the new video's tags that share their indexes.
    emit storeChanged({StoreChange::Kind::Replaced, nullptr});
    reportSessionProblem();
    if (!openNote_.empty()) {
        const std::string note = std::move(openNote_);
        openNote_.clear();
        AlertBox(note, "お知らせ", "warning");
    }
}

namespace {

// "3, 7, 12行目", at most ten numbers.
std::string lineList(const std::vector<size_t>& lines) {
    constexpr size_t kShown = 10;
    std::string text;
    for (size_t i = 0; i < lines.size() && i < kShown; ++i)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    text += "行目";
    if (lines.size() > kShown)
        text += "ほか" + std::to_string(lines.size() - kShown) + "行";
    return text;
}

std::string readFailureText(int err) {
    switch (err) {
    case EISDIR:
        return "同じ名前のフォルダーがあります。保存するには、このフォルダーの名前を変えてください"
               "。";
    case kNotRegularFile:
        return "通常のファイルではありません（名前付きパイプやデバイスなど）。保存するには、これの"
               "名前を変えるか取り除いてください。";
    case EACCES:
    case EPERM:
        return "読み取りの権限がありません。";
    case EIO:
        return "読み取り中に入出力エラーが発生しました。";
    default:
        return std::string("読み取りに失敗しました（") + std::strerror(err) + "）。";
    }
}

} // namespace

std::string csvDamageText(const TagFileManager::LoadResult& loaded) {
    std::string text;
    if (loaded.headerMissing)
        text += "1行目: 見出し行ではないため、読み込みませんでした。\n";
    if (!loaded.shortRows.empty())
        text += lineList(loaded.shortRows) + ": 項目が足りないため、読み込みませんでした。\n";
    if (!loaded.longRows.empty())
        text += lineList(loaded.longRows) +
                ": 項目が多すぎるため、6番目より後を読み込みませんでした。\n";
    if (!loaded.unreadableTimes.empty())
        text +=
            lineList(loaded.unreadableTimes) + ": 時刻を読み取れないため、0:00:00 としました。\n";
    if (!loaded.unreadableExtras.empty())
        text += lineList(loaded.unreadableExtras) +
                ": 終了時刻またはラベルを読み取れないため、読み取れた分だけ読み込みました。\n";
    if (!loaded.badTimes.empty())
        text += lineList(loaded.badTimes) +
                ": 時刻が負か無限大か数でない、または終了時刻が開始より前のため、"
                "読み込みませんでした。\n";
    if (!loaded.unclosedQuotes.empty())
        text += lineList(loaded.unclosedQuotes) +
                ": 引用符（\"）が閉じられていないため、引用符も文字として読み込みました。\n";
    return text;
}

std::vector<std::shared_ptr<TagRowData>> SessionController::loadSession(const std::string& path) {
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(path);
    damagedSession_ = loaded.damaged() ? path : "";
    sessionProblemNote_.clear();
    constexpr const char* kKept =
        "上書き保存のときは、元のファイルを別の名前で残してから保存します。";
    if (!loaded.error.empty()) {
        systemLog(loaded.error);
        sessionProblemNote_ = "セッションファイルを読み込めませんでした。\n" + path + "\n" +
                              readFailureText(loaded.errorCode);
        // A folder or a FIFO is never written over, so nothing is kept either.
        if (loaded.errorCode != EISDIR && loaded.errorCode != kNotRegularFile)
            sessionProblemNote_ += std::string("\n") + kKept;
    } else if (loaded.damaged()) {
        std::string text = "セッションファイルの一部を読み込めませんでした。\n" + path + "\n" +
                           csvDamageText(loaded);
        text +=
            "読み込めたタグ" + std::to_string(loaded.rows.size()) + "件を表示しています。" + kKept;
        sessionProblemNote_ = std::move(text);
    }
    return std::move(loaded.rows);
}

void SessionController::reportSessionProblem() {
    if (sessionProblemNote_.empty())
        return;
    const std::string note = std::move(sessionProblemNote_);
    sessionProblemNote_.clear();
    AlertBox(note, "エラー", "error");
}

bool SessionController::keepDamagedSession(const std::string& path, std::string& kept) {
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(path, ec).type();
    // A FIFO or a device in the session file's place stays as it is: the
    // write would replace it with a plain file.
    if (type != std::filesystem::file_type::regular &&
        type != std::filesystem::file_type::directory &&
        type != std::filesystem::file_type::not_found && !ec) {
        AlertBox("セッションファイルの場所に通常のファイルではないもの（名前付きパイプやデバイスな"
                 "ど）があるため、保存しませんでした。\n" +
                     path,
                 "保存失敗", "error");
        return false;
    }
    // A folder of that name cannot be written over, and a vanished file holds
    // nothing to keep.
    if (path != damagedSession_ || type != std::filesystem::file_type::regular)
        return true;
    const std::string error = keepDamagedCopy(path, kept);
    if (!error.empty()) {
        AlertBox(
            "読み込めなかった元のファイルを別の名前で残せなかったため、保存しませんでした。\n" +
                error,
            "保存失敗", "error");
        return false;
    }
    damagedSession_.clear();
    return true;
}

void SessionController::showNoVideo() {
    store_.replaceData({});
    store_.match = {};
    damagedMatch_.clear();
    unsaved_ = false;
    viewOnly_ = false;
    history.clear();
    journal.close();
    showNewStore();
}

void SessionController::videoFailed(const std::string& path, const std::string& reason) {
    systemLog(reason);
    // The previous video is closed by now; its tags were saved or given up
    // when the user was asked.
    showNoVideo();
    AlertBox("動画を開けませんでした。\n" + path + "\n" + reason, "エラー", "error");
}

void SessionController::loadMatch(const std::string& sessionFile) {
    store_.match = {};
    damagedMatch_.clear();
    if (sessionFile.empty())
        return;
    const std::string file = matchFilePathFor(sessionFile).string();
    std::string bytes, error;
    int code = 0;
    std::string why;
    // Bounded: a huge file in its place is no match file.
    const auto bounded = [](size_t read, size_t) { return read <= kMaxMatchFileBytes; };
    if (!readWholeFile(file, bytes, error, &code, bounded)) {
        if (code == ENOENT || code == ENOTDIR)
            return;
        systemLog(error);
        why = code == ECANCELED ? "試合ファイルが大きすぎます (16 MB まで)" : readFailureText(code);
    } else if (MatchInfo read; readMatchJson(bytes, read, why)) {
        store_.match = std::move(read);
        return;
    }
    damagedMatch_ = file;
    if (!sessionProblemNote_.empty())
        sessionProblemNote_ += "\n\n";
    sessionProblemNote_ += "試合ファイルを読み込めませんでした。\n" + file + "\n" + why;
    if (code != EISDIR && code != kNotRegularFile)
        sessionProblemNote_ +=
            "\n上書き保存のときは、元の試合ファイルを別の名前で残してから保存します。";
}

std::string SessionController::saveMatch(const std::string& sessionFile, std::string& kept) {
    const std::filesystem::path file = matchFilePathFor(sessionFile);
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(file, ec).type();
    if (store_.match.empty() && type == std::filesystem::file_type::not_found)
        return {};
    // Never written over unread: a copy of it stays beside it.
    if (file == damagedMatch_ && std::filesystem::is_regular_file(file, ec)) {
        if (std::string error = keepDamagedCopy(file, kept); !error.empty())
            return "読み込めなかった元の試合ファイルを別の名前で残せなかったため、保存しませんでし"
                   "た。\n" +
                   error;
        damagedMatch_.clear();
    }
    const std::string error = writeFileAtomically(file, matchJson(store_.match));
    return error.empty() ? error : "試合ファイルを保存できませんでした。\n" + error;
}
