#include "LibraryClient.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <map>

using namespace library;

namespace {
constexpr int kRetryMs = 5000;
} // namespace

// Everything here is touched on the library's thread only.
struct LibraryClient::Engine {
    LibraryClient* client = nullptr;
    QString database;
    std::unique_ptr<SeasonLibrary> lib;
    struct Save {
        std::string session;
        std::vector<std::shared_ptr<TagRowData>> tags;
    };
    // The last save of each video not yet in the library.
    std::map<std::string, Save> waiting;
    QTimer* retry = nullptr;
    bool troubled = false; // the problem has been said
    QString problem;       // the last one

    // Back on the asking thread.
    template <typename Fn> void answer(Fn fn) {
        QMetaObject::invokeMethod(client, std::move(fn), Qt::QueuedConnection);
    }

    bool ensureOpen() {
        if (lib)
            return true;
        QString error;
        lib = SeasonLibrary::open(database, &error);
        if (!lib) {
            trouble(error.isEmpty() ? QString("ライブラリを開けませんでした。") : error);
            return false;
        }
        QObject::connect(lib.get(), &SeasonLibrary::changed, client, &LibraryClient::changed,
                         Qt::QueuedConnection);
        QObject::connect(lib.get(), &SeasonLibrary::connectionLost, lib.get(),
                         [this](const QString& reason) { trouble(reason); });
        QObject::connect(lib.get(), &SeasonLibrary::connectionRestored, lib.get(),
                         [this] { recovered(); });
        recovered();
        return true;
    }

    void trouble(const QString& reason) {
        const bool first = !troubled;
        troubled = true;
        problem = reason;
        answer([c = client, reason, first] {
            c->setState(false, reason);
            if (first)
                emit c->notice(LibraryClient::lostText(reason));
        });
        if (!waiting.empty())
            retry->start();
    }

    void recovered() {
        const bool was = troubled;
        troubled = false;
        answer([c = client, was] {
            c->setState(true, {});
            if (was)
                emit c->notice({});
        });
        indexWaiting();
    }

    void indexWaiting() {
        if (waiting.empty() || !ensureOpen())
            return;
        for (auto it = waiting.begin(); it != waiting.end();) {
            QString error;
            if (!lib->indexSaved(it->first, it->second.session, it->second.tags, &error)) {
                trouble(error);
                break;
            }
            it = waiting.erase(it);
        }
        const int left = static_cast<int>(waiting.size());
        answer([c = client, left] { c->pending_ = left; });
        if (left > 0)
            retry->start();
    }
};

LibraryClient::LibraryClient(QObject* parent)
    : QObject(parent), database_(SeasonLibrary::defaultDatabase()), thread_(new QThread(this)),
      worker_(new QObject), engine_(std::make_unique<Engine>()) {
    engine_->client = this;
    worker_->moveToThread(thread_);
    connect(thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_->setObjectName("season library");
    thread_->start();
    post([](Engine& e) {
        e.retry = new QTimer;
        e.retry->setSingleShot(true);
        e.retry->setInterval(kRetryMs);
        QObject::connect(e.retry, &QTimer::timeout, e.retry, [&e] { e.indexWaiting(); });
    });
}

LibraryClient::~LibraryClient() {
    // The library closes on its own thread, where it was opened.
    QMetaObject::invokeMethod(
        worker_,
        [e = engine_.get()] {
            delete e->retry;
            e->retry = nullptr;
            e->lib.reset();
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

QString LibraryClient::lostText(const QString& reason) {
    return "シーズンライブラリを使えません。タグの記録と保存は続けられ、ライブラリには戻った"
           "ときに反映します。" +
           (reason.isEmpty() ? QString() : "（" + reason.simplified() + "）");
}

void LibraryClient::post(std::function<void(Engine&)> work) {
    QMetaObject::invokeMethod(
        worker_, [e = engine_.get(), work = std::move(work)] { work(*e); }, Qt::QueuedConnection);
}

void LibraryClient::setState(bool open, const QString& problem) {
    if (open == open_ && problem == problem_)
        return;
    open_ = open;
    problem_ = problem;
    emit stateChanged();
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
        e.answer([reply, hits = std::move(hits), error] { reply(hits, error); });
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
        e.answer([reply, found = std::move(found), error] { reply(found, error); });
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
        e.answer([reply, report, error] { reply(report, error); });
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
        e.answer([reply, report, error] { reply(report, error); });
    });
}

void LibraryClient::indexSaved(const std::string& video, const std::string& session,
                               const std::vector<std::shared_ptr<TagRowData>>& tags) {
    // The store's rows change under the screens; the library reads copies.
    std::vector<std::shared_ptr<TagRowData>> copies;
    copies.reserve(tags.size());
    for (const auto& t : tags)
        copies.push_back(std::make_shared<TagRowData>(*t));
    ++pending_;
    post([video, session, copies = std::move(copies)](Engine& e) mutable {
        e.waiting[video] = {session, std::move(copies)};
        e.indexWaiting();
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
