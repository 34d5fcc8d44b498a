#include "client/LibraryClient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <libpq-fe.h>
#include <map>
#include <thread>

#include "SubModuleClass/TagFileManager.h"
#include "index/LibraryFiles.h"
#include "settings/AppSettings.h"

using namespace library;

namespace {

constexpr int kRetryMs = 5000;
constexpr int kWatchMs = 250;
const char* const kOwedScans = "library/owedScans";

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

// Library threads left running by clients gone (stuck on a server, or in a
// scan).
std::atomic<int> threadsLeft{0};

// Run as the application object goes, before Qt's own clean-up closes the
// database connections those threads may still be using: they get a short
// while to end, else the process ends here (every save is in its file; the
// library's transactions are all or nothing).
void endWithLeftThreads() {
    const qint64 until = now() + LibraryClient::kExitWaitMs;
    while (threadsLeft > 0 && now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (threadsLeft > 0) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
}

QString silentText() {
    return "ライブラリのサーバーが応答しません。";
}

bool startsInJapanese(const QString& text) {
    for (const QChar c : text) {
        if (c.isSpace() || c.isPunct())
            continue;
        return c.unicode() >= 0x3000;
    }
    return true;
}

void setOwed(const QString& database, bool owed) {
    QSettings settings = appSettings();
    QStringList list = settings.value(kOwedScans).toStringList();
    list.removeAll(database);
    if (owed)
        list << database;
    if (list.isEmpty())
        settings.remove(kOwedScans);
    else
        settings.setValue(kOwedScans, list);
}

} // namespace

// Everything here is touched on the library's thread only, but `stopping`
// and `done`, which the asking thread reads.
struct LibraryClient::Engine {
    LibraryClient* client = nullptr;
    std::shared_ptr<std::atomic<bool>> alive;
    QString database;
    std::unique_ptr<SeasonLibrary> lib;
    // The one queue of saves the library did not take while away: each
    // video's session file, read again when the library is back.
    std::map<std::string, std::string> waiting;
    int handled = 0; // saves taken from the asking thread
    QTimer* retry = nullptr;
    bool troubled = false; // the problem has been said
    QString problem;       // the last one
    std::atomic<bool> stopping{false};
    std::atomic<quint64> done{0}; // the last request done

    // Back on the asking thread, unless the client is gone by then.
    template <typename Fn> void answer(Fn fn) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [alive = alive, fn = std::move(fn)]() mutable {
                if (*alive)
                    fn();
            },
            Qt::QueuedConnection);
    }

    bool ensureOpen() {
        if (lib)
            return true;
        QString error;
        const QString target = isPostgresUrl(database) ? withTimeouts(database) : database;
        lib = SeasonLibrary::open(target, &error);
        if (!lib) {
            // The URL as the user wrote it, without our additions.
            error.replace(target, database);
            trouble(error.isEmpty() ? QString("ライブラリを開けませんでした。") : error);
            return false;
        }
        QObject::connect(lib.get(), &SeasonLibrary::changed, client, &LibraryClient::changed,
                         Qt::QueuedConnection);
        QObject::connect(lib.get(), &SeasonLibrary::connectionLost, lib.get(),
                         [this](const QString& reason) { trouble(reason); });
        QObject::connect(lib.get(), &SeasonLibrary::connectionRestored, lib.get(),
                         [this] { recovered(); });
        // Saves that could not wait for the library when an application
        // closed are in their files: a scan reads them.
        if (owedScans().contains(database)) {
            ScanReport report;
            QString why;
            if (lib->scan(report, &why))
                setOwed(database, false);
        }
        recovered();
        return true;
    }

    void trouble(const QString& reason) {
        const bool first = !troubled;
        troubled = true;
        problem = reason;
        answer([c = client, reason, first] {
            c->setState(false, explained(reason));
            if (first && !c->silent_)
                emit c->notice(LibraryClient::lostText(reason));
        });
        if (!waiting.empty() && retry)
            retry->start();
    }

    void recovered() {
        const bool was = troubled;
        troubled = false;
        answer([c = client, was] {
            c->setState(true, {});
            if (was && !c->silent_)
                emit c->notice({});
        });
        // Not from inside the library's own call that found it back.
        if (!waiting.empty() && retry)
            QMetaObject::invokeMethod(
                retry, [this] { indexWaiting(); }, Qt::QueuedConnection);
    }

    void refuse(const std::string& video, const QString& reason) {
        answer([c = client, text = refusedText(video, reason)] { emit c->notice(text); });
    }

    // Indexes one save: `rows`, or else its file. False when the library is
    // away (the save then waits); a save the library refuses is said and
    // done with.
    bool indexOne(const std::string& video, const std::string& session,
                  const std::vector<std::shared_ptr<TagRowData>>* rows) {
        if (!ensureOpen())
            return false;
        std::vector<std::shared_ptr<TagRowData>> read;
        if (!rows) {
            TagFileManager::LoadResult loaded = TagFileManager::readCSVFile(session);
            if (loaded.damaged()) {
                refuse(video, "保存したセッションファイルを読み直せません。再スキャンで理由を確かめ"
                              "てください");
                return true;
            }
            read = std::move(loaded.rows);
            rows = &read;
        }
        QString error;
        if (lib->indexSaved(video, session, *rows, &error))
            return true;
        if (troubled)
            return false;
        refuse(video, error);
        return true;
    }

    void indexWaiting() {
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (!indexOne(it->first, it->second, nullptr))
                break;
            it = waiting.erase(it);
        }
        report();
    }

    void report() {
        answer([c = client, handled = handled, left = static_cast<int>(waiting.size())] {
            c->pending_ = c->asked_ - handled + left;
        });
        if (!waiting.empty() && retry)
            retry->start();
    }
};

LibraryClient::LibraryClient(QObject* parent)
    : QObject(parent), database_(SeasonLibrary::defaultDatabase()), thread_(new QThread(this)),
      worker_(new QObject), engine_(std::make_unique<Engine>()),
      alive_(std::make_shared<std::atomic<bool>>(true)) {
    engine_->client = this;
    engine_->alive = alive_;
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->setObjectName("season library");
    thread_->start();
    watchdog_.setInterval(kWatchMs);
    connect(&watchdog_, &QTimer::timeout, this, &LibraryClient::watch);
    post([](Engine& e) {
        e.retry = new QTimer;
        e.retry->setSingleShot(true);
        e.retry->setInterval(kRetryMs);
        QObject::connect(e.retry, &QTimer::timeout, e.retry, [&e] { e.indexWaiting(); });
    });
}

LibraryClient::~LibraryClient() {
    watchdog_.stop();
    *alive_ = false;
    // The library closes on its own thread, where it was opened, once what
    // was asked before is done; closing never waits on the network longer.
    Engine* e = engine_.get();
    auto leftWaiting = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        worker_,
        [e, leftWaiting] {
            *leftWaiting = !e->waiting.empty();
            delete e->retry;
            e->retry = nullptr;
            e->lib.reset();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (thread_->wait(kCloseWaitMs)) {
        if (*leftWaiting)
            setOwed(database_, true);
        return;
    }
    // Stuck on the server: the thread ends by itself once it lets go, doing
    // nothing more; the saves not yet in the library wait for a scan.
    e->stopping = true;
    if (pending_ > 0 || *leftWaiting)
        setOwed(database_, true);
    QThread* thread = thread_;
    thread->setParent(nullptr);
    static const bool guarded = [] {
        qAddPostRoutine(endWithLeftThreads);
        return true;
    }();
    (void)guarded;
    ++threadsLeft;
    connect(
        thread, &QThread::finished, thread,
        [e = engine_.release(), thread] {
            delete e;
            thread->deleteLater();
            --threadsLeft;
        },
        Qt::DirectConnection);
}

QString LibraryClient::lostText(const QString& reason) {
    return "シーズンライブラリを使えません。タグの記録と保存は続けられ、ライブラリには戻った"
           "ときに反映します。" +
           (reason.isEmpty() ? QString() : "（" + explained(reason).simplified() + "）");
}

QString LibraryClient::refusedText(const std::string& video, const QString& reason) {
    return QString("「%1」のタグはライブラリに入れられませんでした。セッションファイルには保存"
                   "されています。（%2）")
        .arg(QString::fromStdString(std::filesystem::path(video).filename().string()),
             explained(reason).simplified());
}

QString LibraryClient::explained(const QString& reason) {
    if (reason.isEmpty())
        return reason;
    // What the server's and libpq's own (English) words mean, said first.
    static const std::pair<const char*, const char*> meanings[] = {
        {"No such file or directory", "サーバーが動いていないか、接続先の指定が違います。"},
        {"Connection refused", "サーバーが動いていないか、接続先の指定が違います。"},
        {"could not translate host name", "サーバーの名前が見つかりません。"},
        {"timeout expired", "サーバーが時間内に応答しません。"},
        {"password authentication failed", "パスワードが違います（~/.pgpass か PGPASSWORD）。"},
        {"no password supplied", "パスワードがありません（~/.pgpass か PGPASSWORD で渡します）。"},
        {"does not exist", "データベースかユーザーがサーバーにありません。"},
        {"server closed the connection unexpectedly", "サーバーが接続を切りました。"},
        {"statement timeout", "サーバーでの処理が時間切れになりました。"},
        {"permission denied", "サーバーでの権限がありません。"},
    };
    QString meaning;
    for (const auto& [words, japanese] : meanings)
        if (reason.contains(QLatin1String(words), Qt::CaseInsensitive)) {
            meaning = japanese;
            break;
        }
    if (!meaning.isEmpty() && reason.contains(meaning))
        return reason; // explained before
    if (startsInJapanese(reason))
        return meaning + reason;
    return "ライブラリでエラーが起きました。" + meaning + "サーバーの説明: " + reason;
}

QString LibraryClient::withTimeouts(const QString& url) {
    const QUrl u(url);
    if (!u.isValid() || u.hasFragment())
        return url;
    const QUrlQuery query(u);
    // A dead link or host is noticed within about 25 s of silence; a
    // statement that runs on for 30 s is given up by the server.
    const std::pair<const char*, const char*> defaults[] = {
        {"keepalives", "1"},           {"keepalives_idle", "10"},
        {"keepalives_interval", "5"},  {"keepalives_count", "3"},
        {"tcp_user_timeout", "25000"}, {"options", "-cstatement_timeout%3D30000"},
    };
    QString out = url;
    for (const auto& [key, value] : defaults) {
        if (query.hasQueryItem(key))
            continue;
        out += (out.contains('?') ? "&" : "?") + QString(key) + "=" + value;
    }
    return out;
}

QStringList LibraryClient::owedScans() {
    return appSettings().value(kOwedScans).toStringList();
}

void LibraryClient::post(std::function<void(Engine&)> work) {
    const quint64 serial = ++serial_;
    asking_.emplace_back(serial, now());
    if (!watchdog_.isActive())
        watchdog_.start();
    QMetaObject::invokeMethod(
        worker_,
        [e = engine_.get(), work = std::move(work), serial] {
            if (!e->stopping)
                work(*e);
            e->done = serial;
        },
        Qt::QueuedConnection);
}

void LibraryClient::postPlaylists(PlaylistWork work) {
    post([work = std::move(work)](Engine& e) {
        if (!e.ensureOpen()) {
            e.answer(work(nullptr, e.problem));
            return;
        }
        PlaylistStore store(*e.lib);
        e.answer(work(&store, {}));
    });
}

void LibraryClient::setState(bool open, const QString& problem) {
    engineOpen_ = open;
    engineProblem_ = problem;
    showState();
}

void LibraryClient::showState() {
    const bool open = silent_ ? false : engineOpen_;
    const QString problem = silent_ ? silentText() : engineProblem_;
    if (open == open_ && problem == problem_)
        return;
    open_ = open;
    problem_ = problem;
    emit stateChanged();
}

void LibraryClient::watch() {
    const quint64 done = engine_->done;
    while (!asking_.empty() && asking_.front().first <= done)
        asking_.pop_front();
    if (asking_.empty()) {
        probe_.reset();
        watchdog_.stop();
        if (silent_) {
            // It answered after all.
            silent_ = false;
            showState();
            emit notice(engineOpen_ ? QString() : lostText(engineProblem_));
        }
        return;
    }
    if (silent_ || !isPostgresUrl(database_))
        return;
    if (probe_) {
        const int result = *probe_;
        const bool late = now() - probeStarted_ > (kProbeTimeoutS + 2) * 1000;
        if (result < 0 && !late)
            return;
        probe_.reset();
        if (result == PQPING_NO_RESPONSE || late) {
            silent_ = true;
            showState();
            emit notice(lostText(silentText()));
        }
        return;
    }
    const qint64 t = now();
    if (t - asking_.front().second >= kProbeAfterMs && t - probeStarted_ >= kProbeAfterMs)
        probe();
}

void LibraryClient::probe() {
    // A fresh connection of libpq's own, off every thread that may be stuck.
    auto result = std::make_shared<std::atomic<int>>(-1);
    probe_ = result;
    probeStarted_ = now();
    std::thread([result, url = database_.toStdString()] {
        const std::string timeout = std::to_string(kProbeTimeoutS);
        const char* const keys[] = {"dbname", "connect_timeout", nullptr};
        const char* const values[] = {url.c_str(), timeout.c_str(), nullptr};
        *result = PQpingParams(keys, values, 1);
    }).detach();
}

void LibraryClient::setDatabase(const QString& database) {
    database_ = database;
}

void LibraryClient::open() {
    post([db = database_](Engine& e) {
        if (e.lib && e.database == db)
            return;
        e.lib.reset();
        e.database = db;
        e.ensureOpen();
    });
}

void LibraryClient::search(const Query& query, HitsReply reply) {
    post([query, reply = std::move(reply)](Engine& e) {
        QString error;
        std::vector<Hit> hits;
        if (e.ensureOpen())
            hits = e.lib->search(query, &error);
        else
            error = e.problem;
        e.answer([reply, hits = std::move(hits), error = explained(error)] { reply(hits, error); });
    });
}

void LibraryClient::matches(MatchesReply reply) {
    post([reply = std::move(reply)](Engine& e) {
        QString error;
        std::vector<Match> found;
        if (e.ensureOpen())
            found = e.lib->matches(&error);
        else
            error = e.problem;
        e.answer(
            [reply, found = std::move(found), error = explained(error)] { reply(found, error); });
    });
}

void LibraryClient::folders(std::function<void(const QStringList&)> reply) {
    post([reply = std::move(reply)](Engine& e) {
        const QStringList list = e.ensureOpen() ? e.lib->folders() : QStringList();
        e.answer([reply, list] { reply(list); });
    });
}

void LibraryClient::addFolders(const QStringList& folders, ScanReply reply) {
    post([folders, reply = std::move(reply)](Engine& e) {
        ScanReport report;
        QString error;
        if (!e.ensureOpen())
            error = e.problem;
        else if (!e.lib->addFolders(folders, report, &error) && error.isEmpty())
            error = "フォルダーを追加できませんでした。";
        e.answer([reply, report, error = explained(error)] { reply(report, error); });
    });
}

void LibraryClient::scan(ScanReply reply) {
    post([reply = std::move(reply)](Engine& e) {
        ScanReport report;
        QString error;
        if (!e.ensureOpen())
            error = e.problem;
        else if (!e.lib->scan(report, &error) && error.isEmpty())
            error = "再スキャンできませんでした。";
        e.answer([reply, report, error = explained(error)] { reply(report, error); });
    });
}

void LibraryClient::indexSaved(const std::string& video, const std::string& session,
                               const std::vector<std::shared_ptr<TagRowData>>& tags) {
    // The store's rows change under the screens; the library reads copies.
    std::vector<std::shared_ptr<TagRowData>> copies;
    copies.reserve(tags.size());
    for (const auto& t : tags)
        copies.push_back(std::make_shared<TagRowData>(*t));
    ++asked_;
    ++pending_;
    post([video, session, copies = std::move(copies)](Engine& e) {
        ++e.handled;
        // This save is newer than any of the video's that waits.
        e.waiting.erase(video);
        if (!e.indexOne(video, session, &copies))
            e.waiting[video] = session;
        e.report();
    });
}

bool LibraryClient::waitIdle(int ms) {
    // A marker behind everything asked so far; its answer behind theirs.
    auto done = std::make_shared<bool>(false);
    post([done](Engine& e) { e.answer([done] { *done = true; }); });
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(ms);
    while (!*done && limit.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return *done;
}
