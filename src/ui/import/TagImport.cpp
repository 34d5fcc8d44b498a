// XML読込 and CSV読込 of the edit screen: another analyst's tags merged into
// the open video's.
#include "import/TagImport.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QProgressBar>
#include <QPromise>
#include <QPushButton>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "MainViewController.h"
#include "SubModuleClass/TagFileManager.h"
#include "SubViewClass/CustomAlert.h"
#include "SubViewController/EditViewController.h"
#include "codewindow/CodeWindowFile.h"
#include "exchange/XmlEditList.h"
#include "import/ImportDialog.h"
#include "platform/AtomicFile.h"
#include "player/Player.h"
#include "session/SessionController.h"
#include "text/UnicodeText.h"

// What the worker made of a file, for the GUI thread.
struct ImportRead {
    // Said instead of a merge.
    std::string told, toldTitle, toldStyle;
    // Asked before the merge (what a damaged file lost).
    std::string question;
    std::vector<ImportedTag> tags;
    std::vector<EditListRow> rows;
    std::vector<std::string> notes;
    std::vector<MatchPeriod> periods; // an edit list's
};

namespace {

// "NAME (読込)", else "NAME (読込 2)", ...: a name no window has and a file
// name no file of the folder has.
std::string copyNameFor(const std::string& name, const std::vector<CodeWindow>& windows,
                        const std::filesystem::path& folder) {
    for (int n = 1;; ++n) {
        const std::string candidate =
            name + (n == 1 ? " (読込)" : " (読込 " + std::to_string(n) + ")");
        const bool taken = std::any_of(windows.begin(), windows.end(),
                                       [&](const CodeWindow& w) { return w.name == candidate; });
        std::error_code ec;
        if (!taken && !std::filesystem::exists(folder / codeWindowFileName(candidate), ec))
            return candidate;
    }
}

// The codes of `teamless` get the teams chosen for them (by the same order).
void giveTeams(std::vector<ImportedTag>& tags, const std::vector<std::string>& teamless,
               const std::vector<bool>& teams) {
    std::unordered_map<std::string, bool> teamOf;
    for (size_t i = 0; i < teamless.size(); ++i)
        teamOf.emplace(teamless[i], teams[i]);
    for (ImportedTag& t : tags) {
        if (t.team)
            continue;
        t.team = teamOf.at(t.tag->name);
        t.tag->team = *t.team;
    }
}

// Writes a copy of `chosen` named `copyName` with the `outside` codes added
// into `folder`; what failed, empty when written.
std::string writeWindowCopy(const CodeWindow& chosen, const std::string& copyName,
                            const std::vector<std::string>& outside,
                            const std::vector<EditListRow>& rows,
                            const std::filesystem::path& folder) {
    // The file's colours where it gives them (its last for a code), else grey.
    std::unordered_map<std::string, std::string> colorOf;
    for (const EditListRow& row : rows)
        if (!row.color.empty())
            colorOf[row.code] = row.color;
    CodeWindow copy = chosen.duplicate(copyName);
    for (const std::string& name : outside) {
        Code code;
        code.name = name;
        const auto color = colorOf.find(name);
        code.color = color == colorOf.end() ? "#808080" : color->second;
        copy.codes.push_back(std::move(code));
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return writeCodeWindowFile(folder / codeWindowFileName(copyName), copy);
}

// A report lists so many of a kind, then 「ほか N 件」.
constexpr size_t kListed = 20;
// A name longer than this is cut in a report.
constexpr size_t kListedBytes = 80;

// `items` after `separator` each, the first kListed, then 「ほか N 件」.
std::string listed(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (size_t i = 0; i < items.size() && i < kListed; ++i) {
        const std::string_view cut = utf8Prefix(items[i], kListedBytes);
        text += separator;
        text += cut;
        if (cut.size() < items[i].size())
            text += "…";
    }
    if (items.size() > kListed)
        text += separator + "ほか " + std::to_string(items.size() - kListed) + " 件";
    return text;
}

// The steps of the bar while bytes are counted.
constexpr int kSteps = 1000;

// On the worker thread: what the readers make of an XML edit list. The bar's
// first half counts the bytes read, the second the bytes parsed.
ImportRead readXmlImport(const std::string& path, double duration, QPromise<ImportRead>& promise) {
    ImportRead r;
    const auto told = [&promise](int from, size_t done, size_t size) {
        promise.setProgressValue(
            from + (size ? static_cast<int>(done * (kSteps / 2) / size) : kSteps / 2));
        return !promise.isCanceled();
    };
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    std::string bytes, error;
    EditList list;
    if (!ec && size > kMaxEditListBytes) {
        list = readEditListFile(path); // refused without reading
    } else if (!readWholeFile(path, bytes, error, nullptr,
                              [&told](size_t done, size_t all) { return told(0, done, all); })) {
        if (promise.isCanceled())
            return r;
        r.told = "XMLファイルを読めません。\n" + error;
        r.toldTitle = "失敗";
        r.toldStyle = "error";
        return r;
    } else {
        list = readEditList(
            bytes, [&told](size_t done, size_t all) { return told(kSteps / 2, done, all); });
        bytes = {};
    }
    if (promise.isCanceled())
        return r;
    if (!list.refused.empty()) {
        r.told = "XMLファイルを読み込みませんでした。\n" + list.refused;
        r.toldTitle = "失敗";
        r.toldStyle = "error";
        return r;
    }
    if (!list.isEditList) {
        r.told = "XML編集リストではありません。";
        r.toldTitle = "お知らせ";
        r.toldStyle = "warning";
        return r;
    }
    EditListTags tags = tagsFromEditList(list, duration);
    if (!list.unknownElements.empty()) {
        std::vector<std::string> names;
        names.reserve(list.unknownElements.size());
        for (const std::string& name : list.unknownElements)
            names.push_back("<" + name + ">");
        r.notes.push_back("読み飛ばした項目:" + listed(names, " "));
    }
    for (const std::string& line : list.mended)
        r.notes.push_back("修正: " + line);
    for (std::string& line : tags.problems)
        r.notes.push_back(std::move(line));
    r.tags = std::move(tags.tags);
    r.periods = std::move(tags.periods);
    r.rows = list.rows;
    return r;
}

// On the worker thread: what the reader makes of a tag CSV.
ImportRead readCsvImport(const std::string& path) {
    ImportRead r;
    TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(path);
    std::error_code ec;
    if (!loaded.error.empty() || !std::filesystem::exists(path, ec)) {
        r.told = "CSVファイルを読めません。\n" + path +
                 (loaded.error.empty() ? "" : "\n" + loaded.error);
        r.toldTitle = "失敗";
        r.toldStyle = "error";
        return r;
    }
    if (loaded.rows.empty() && loaded.headerMissing) {
        r.told = "タグのCSVファイルではありません（CSV出力またはセッションファイルの形で"
                 "読み込めます）。\n" +
                 path;
        r.toldTitle = "お知らせ";
        r.toldStyle = "warning";
        return r;
    }
    if (loaded.damaged()) {
        // What could be read is offered; the file itself is never touched.
        const std::string damage = csvDamageText(loaded);
        if (loaded.rows.empty()) {
            r.told = "CSVファイルから読み込めるタグがありません。\n" + path + "\n" + damage;
            r.toldTitle = "お知らせ";
            r.toldStyle = "warning";
            return r;
        }
        r.question = "CSVファイルの一部を読み込めませんでした。\n" + path + "\n" + damage +
                     "読み込めたタグ " + std::to_string(loaded.rows.size()) +
                     " 件を読み込みますか？";
        std::string line = damage;
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        r.notes.push_back(std::move(line));
    }
    r.tags.reserve(loaded.rows.size());
    size_t line = 0, longCodes = 0;
    for (auto& row : loaded.rows) {
        ++line;
        if (row->name.size() > kMaxImportedCodeBytes) {
            ++longCodes;
            continue;
        }
        // A record of its own: the reader's share a block.
        auto tag = std::make_shared<TagRowData>(*row);
        const bool team = tag->team;
        r.tags.push_back({std::move(tag), team, line});
    }
    if (longCodes > 0)
        r.notes.push_back("タグ名が長すぎる (256 バイトまで) タグを読みませんでした: " +
                          std::to_string(longCodes) + " 件");
    // In time order, as the edit list's are.
    std::stable_sort(r.tags.begin(), r.tags.end(), [](const ImportedTag& a, const ImportedTag& b) {
        const float x = a.tag->time_val, y = b.tag->time_val;
        return !std::isnan(x) && (std::isnan(y) || x < y);
    });
    return r;
}

// A read under way: its worker's future and its bar. Gone, it takes the bar
// away and the worker's result is never used.
class ImportRun : public QObject {
public:
    using QObject::QObject;
    ~ImportRun() override {
        watcher.disconnect();
        watcher.future().cancel();
        delete progress.data();
    }
    QFutureWatcher<ImportRead> watcher;
    QPointer<ImportProgress> progress;
};

// The file's periods join the import's step when the match has none; marked
// ones are never replaced by an import. Returns the report's line.
std::string takePeriods(const TagDataModel& store, const std::vector<MatchPeriod>& periods,
                        std::vector<TagEdit>& parts) {
    if (periods.empty() || store.match.periods == periods)
        return {};
    if (!store.match.periods.empty())
        return "\nこの試合にはすでに期間があるため、ファイルの期間は読み込みませんでした。";
    MatchInfo match = store.match;
    match.periods = periods;
    parts.push_back(TagEdit::match(store, std::move(match)));
    return "\n期間を " + std::to_string(periods.size()) + " 件読み込みました。";
}

} // namespace

TagImport::TagImport(EditViewController* screen) : QObject(screen), screen_(screen) {}

void TagImport::chooseImportFile(const char* title, const char* extension, const char* kind,
                                 void (TagImport::*import)(const std::string&)) {
    const Player* player = screen_->currentPlayer();
    if (!screen_->myParent || !player || !player->hasCurrentItem())
        return;
    if (!screen_->myParent->mayChangeTags())
        return;
    QWidget* w = screen_->window();
    if (!w || w == screen_)
        return;
    if (importRun_) {
        AlertBox("ファイルを読み込んでいるところです。読み終わるか、キャンセルしてから読み込んで"
                 "ください。",
                 "お知らせ", "warning");
        return;
    }
    DialogProvider::FilePanel panel{title, {extension}, {}, folderOf(player->currentPath()), kind};
    QPointer<TagImport> self(this);
    dialogProvider().openFilePanel(w, panel, [self, import](std::optional<std::string> path) {
        if (self && path && !path->empty())
            (self.data()->*import)(*path);
    });
}

void TagImport::onTagXMLInput() {
    chooseImportFile("XML編集リストを開く", "xml", "XML編集リスト", &TagImport::importEditList);
}

void TagImport::onTagCSVInput() {
    chooseImportFile("タグCSVを開く", "csv", "タグCSV", &TagImport::importTagCsv);
}

void TagImport::importEditList(const std::string& path) {
    startImport(path, true);
}

void TagImport::importTagCsv(const std::string& path) {
    startImport(path, false);
}

void TagImport::startImport(const std::string& path, bool xml) {
    if (!screen_->myParent || !screen_->myParent->mayChangeTags() || importRun_)
        return;
    const Player* player = screen_->currentPlayer();
    QWidget* w = screen_->window();
    if (!player || !player->hasCurrentItem() || !w || w == screen_)
        return;
    const std::string video = player->currentPath();
    // Instances past the end are told; an unknown length checks nothing.
    const double length = player->duration();
    const double duration = std::isfinite(length) && length > 0 ? length : INFINITY;
    auto* run = new ImportRun(this);
    importRun_ = run;
    const QString name = QString::fromStdString(std::filesystem::path(path).filename().string());
    run->progress = new ImportProgress(
        QString("%1: 「%2」を読み込んでいます…").arg(xml ? "XML読込" : "CSV読込", name), w);
    QProgressBar* bar = run->progress->bar;
    bar->setRange(0, xml ? kSteps : 0);
    // Gone at once; the worker stops at its next piece, or its result is dropped.
    auto forget = [this, run] {
        run->watcher.disconnect();
        run->watcher.future().cancel();
        run->progress->hide();
        importRun_ = nullptr;
        run->deleteLater();
    };
    connect(run->progress->cancel, &QPushButton::clicked, run, forget);
    connect(&run->watcher, &QFutureWatcherBase::progressRangeChanged, bar, &QProgressBar::setRange);
    connect(&run->watcher, &QFutureWatcherBase::progressValueChanged, bar, &QProgressBar::setValue);
    connect(&run->watcher, &QFutureWatcherBase::finished, this, [this, run, video, xml, forget] {
        QFuture<ImportRead> future = run->watcher.future();
        const bool done = future.resultCount() > 0;
        ImportRead read = done ? future.takeResult() : ImportRead{};
        forget();
        if (done)
            importRead(video, xml, std::move(read));
    });
    auto promise = std::make_shared<QPromise<ImportRead>>();
    run->watcher.setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, path, xml, duration] {
        promise->start();
        if (xml)
            promise->setProgressRange(0, kSteps);
        ImportRead read = xml ? readXmlImport(path, duration, *promise) : readCsvImport(path);
        if (!promise->isCanceled())
            promise->addResult(std::move(read));
        promise->finish();
    });
    run->progress->show();
}

void TagImport::importRead(const std::string& video, bool xml, ImportRead read) {
    const Player* player = screen_->currentPlayer();
    if (!screen_->myParent || !player || !player->hasCurrentItem() ||
        player->currentPath() != video) {
        AlertBox("読み込んでいる間に動画が替わったため、読み込みませんでした。", "お知らせ",
                 "warning");
        return;
    }
    if (!screen_->myParent->mayChangeTags())
        return;
    const std::string title = xml ? "XML読込" : "CSV読込";
    if (!read.told.empty()) {
        AlertBox(read.told, read.toldTitle, read.toldStyle);
        return;
    }
    if (!read.question.empty() && MessageBox(read.question, title) != "yes")
        return;
    mergeImported(std::move(read.tags), read.rows, title, read.notes, read.periods);
}

void TagImport::mergeImported(std::vector<ImportedTag> tags, const std::vector<EditListRow>& rows,
                              const std::string& title, const std::vector<std::string>& notes,
                              const std::vector<MatchPeriod>& periods) {
    QWidget* w = screen_->window();
    if (!screen_->myParent || !w)
        return;
    const CodeWindow& chosen = screen_->codeWindow();
    std::vector<std::string> outside;
    std::unordered_set<std::string> seen;
    for (const ImportedTag& t : tags)
        if (!chosen.find(t.tag->name) && seen.insert(t.tag->name).second)
            outside.push_back(t.tag->name);

    // Asked once per code the file gives no team, and whether the codes the
    // window lacks go into a copy of it.
    const std::vector<std::string> teamless = unresolvedCodes(tags);
    const std::filesystem::path folder = codeWindowFolder();
    std::string copyName;
    bool addToCopy = false;
    if (!teamless.empty() || !outside.empty()) {
        copyName = copyNameFor(chosen.name, screen_->codePanel->windows(), folder);
        ImportDialog dialog(teamless, outside, chosen.name, copyName, w);
        if (dialog.exec() != QDialog::Accepted)
            return;
        addToCopy = dialog.addToCopy();
        giveTeams(tags, teamless, dialog.teams());
    }

    TagDataModel& store = screen_->myParent->tagDataModel;
    const std::vector<bool> duplicate = findDuplicates(store.data, tags);
    const auto repeated = std::count(duplicate.begin(), duplicate.end(), true);
    bool addRepeated = false;
    if (repeated > 0) {
        const std::string answer = ConfirmBox("同じタグが " + std::to_string(repeated) +
                                                  " 件すでにあります。それらも加えますか？\n"
                                                  "「いいえ」で、まだないタグだけを加えます。",
                                              title);
        if (answer != "yes" && answer != "no")
            return;
        addRepeated = answer == "yes";
    }

    TagEdit edit;
    edit.kind = TagEdit::Kind::Insert;
    int64_t next = store.index;
    for (size_t i = 0; i < tags.size(); ++i) {
        if (duplicate[i] && !addRepeated)
            continue;
        tags[i].tag->index = next++;
        edit.rows.emplace_back(store.data.size() + edit.rows.size(), tags[i].tag);
    }
    const size_t added = edit.rows.size();
    std::vector<TagEdit> parts;
    if (added > 0)
        parts.push_back(std::move(edit));
    const std::string periodNote = takePeriods(store, periods, parts);
    if (!parts.empty())
        screen_->myParent->performTagEdit(TagEdit::together(std::move(parts)));

    std::string report = std::to_string(added) + " 件のタグを読み込みました。" + periodNote;
    if (repeated > 0 && !addRepeated)
        report += "\nすでにある " + std::to_string(repeated) + " 件は加えませんでした。";
    bool outsideTold = false;
    if (addToCopy) {
        const std::string failed = writeWindowCopy(chosen, copyName, outside, rows, folder);
        if (failed.empty()) {
            outsideTold = true;
            screen_->codePanel->loadCodeWindows(copyName);
            report += "\nコードウィンドウ「" + copyName + "」を作り、" +
                      std::to_string(outside.size()) + " 個のコードを加えました。";
        } else {
            report += "\nコードウィンドウの複製を作れませんでした: " + failed;
        }
    }
    if (!outside.empty() && !outsideTold)
        report += "\nコードウィンドウにないコード:" + listed(outside, " ");
    report += listed(notes, "\n");
    AlertBox(report, "成功", "success");
}
