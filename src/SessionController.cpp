#include "SessionController.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Media/Player.h"
#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/SystemLog.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewClass/MediaPlayerView.h"

SessionController::SessionController(TagDataModel& store, bool& unsaved, QObject* parent)
    : QObject(parent), store_(store), unsaved_(unsaved) {
    journalCheck_.setSingleShot(true);
    connect(&journalCheck_, &QTimer::timeout, this, [this] { reportJournalFailure(); });
}

void SessionController::setView(MediaPlayerView* view) {
    view_ = view;
}

std::string SessionController::sessionPath() const {
    if (!view_ || !view_->player() || !view_->player()->hasCurrentItem())
        return {};
    return TagFileManager::sessionFilePath(view_->player()->currentPath());
}

bool SessionController::save() {
    const std::string path = sessionPath();
    if (path.empty())
        return false;
    const bool wasPlaying = view_->isPlaying();
    view_->player()->pause();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (ConfirmBox("保存データがあります。上書きしますか？", "お知らせ") != "yes") {
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
    const std::string keptNote =
        kept.empty() ? "" : "\n読み込めなかった元のファイルは次の名前で残しています。\n" + kept;
    const std::string error = TagFileManager::saveCSVFile(path, store_.data, true);
    if (error.empty()) {
        unsaved_ = false;
        // Saved: the journal's changes are in the session file now.
        journal.retire();
        journal.setSession(stampOfFile(path));
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
    journal.retire();
    return true;
}

bool SessionController::mayReplaceVideo() {
    if (!view_->isOpenStatus().value_or(false) || !unsaved_)
        return true;
    const std::string answer = ConfirmBox("タグデータが変更されています。保存しますか？", "保存");
    if (answer == "no") {
        journal.retire();
        return true;
    }
    if (answer == "yes")
        return save();
    return false;
}

void SessionController::videoOpened() {
    const std::string path = sessionPath();
    store_.replaceData(loadSession(path));
    unsaved_ = false;
    history.clear();
    openJournal(path);
    showNewStore();
}

void SessionController::openJournal(const std::string& sessionPath) {
    Player* player = view_->player();
    const std::string video = player && player->hasCurrentItem() ? player->currentPath() : "";
    if (video.empty()) {
        journal.close();
        return;
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(video, ec);
    const std::string name = ec ? video : absolute.lexically_normal().string();
    const SessionStamp stamp = stampOfFile(sessionPath);
    // Whatever is still on its way (the retirement of this very journal after
    // a save, say) lands before the journal is read.
    journal.flush();
    journal.open(name, stamp);
    JournalContents found = readJournal(journal.file(), name);
    if (!found.error.empty())
        systemLog(found.error);
    // A journal naming another video is left alone; this video's first
    // change replaces it.
    if (!found.ours)
        return;
    std::string question = "前回保存されていない変更が残っています。復元しますか？";
    if (found.session != stamp)
        question += "\nセッションファイルは、この変更の記録を始めた後に変更されています。"
                    "復元すると、記録の最後の時点のタグ一覧全体に戻ります。";
    if (found.damaged)
        question += "\n記録の途中に壊れた箇所があるため、その手前までの変更を復元します。";
    if (MessageBox(question, "復元") != "yes") {
        journal.retire();
        return;
    }
    const int64_t counter = std::max(store_.index, found.store.index);
    store_.data = std::move(found.store.data);
    store_.index = counter;
    unsaved_ = true;
    // The restored store is the start of this run's journal.
    journal.restart(store_);
    watchJournal();
}

void SessionController::perform(TagEdit edit) {
    const TagEdit& done = history.perform(store_, std::move(edit));
    journal.changed(done, store_);
    unsaved_ = true;
    watchJournal();
}

bool SessionController::undo() {
    return afterHistoryStep(history.undo(store_));
}

bool SessionController::redo() {
    return afterHistoryStep(history.redo(store_));
}

bool SessionController::afterHistoryStep(const TagEdit* applied) {
    if (!applied)
        return false;
    journal.changed(*applied, store_);
    unsaved_ = true;
    watchJournal();
    emit storeStepped();
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
    emit storeReplaced();
    reportSessionProblem();
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
        if (loaded.errorCode != EISDIR)
            sessionProblemNote_ += std::string("\n") + kKept;
    } else if (loaded.damaged()) {
        std::string text = "セッションファイルの一部を読み込めませんでした。\n" + path + "\n";
        if (loaded.headerMissing)
            text += "1行目: 見出し行ではないため、読み込みませんでした。\n";
        if (!loaded.shortRows.empty())
            text += lineList(loaded.shortRows) + ": 項目が足りないため、読み込みませんでした。\n";
        if (!loaded.longRows.empty())
            text += lineList(loaded.longRows) +
                    ": 項目が多すぎるため、6番目より後を読み込みませんでした。\n";
        if (!loaded.unreadableTimes.empty())
            text += lineList(loaded.unreadableTimes) +
                    ": 時刻を読み取れないため、0:00:00 としました。\n";
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
    // A folder of that name cannot be written over, and a vanished file holds
    // nothing to keep.
    if (path != damagedSession_ || !std::filesystem::is_regular_file(path, ec))
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
    unsaved_ = false;
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
