#pragma once

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "index/LibraryConnection.h"
#include "index/LibraryFiles.h"
#include "index/LibraryMatchFile.h"
#include "index/SeasonLibrary.h"

// The index proper: the matches and their tags as the database holds them,
// written and searched through the library's connection.

namespace library {

// What is written for one match.
struct Record {
    std::string video, session, canonical;
    FileStamp videoStamp, sessionStamp;
    QString identity, sessionHash;
    MatchFacts match;
};

// A match as the database has it.
struct Stored {
    qint64 id = 0;
    std::string video, session, canonical;
    FileStamp videoStamp, sessionStamp;
    QString identity, sessionHash, unreadable;
    FileStamp matchStamp;
    QString matchHash;
    bool seen = false;
};

// Qt binds a null QString as SQL NULL; the text columns are NOT NULL.
QString notNull(const QString& text);

// Each call leaves its failure's reason in `error` for the caller to pass to
// Connection::fail.
class Index {
public:
    explicit Index(Connection& connection) : c_(connection) {}

    bool loadStored(std::vector<Stored>& out, QString* error);
    // Writes one match (inserted when `id` is 0) and, when `rows` is given,
    // its tags in place of those it had; one transaction.
    bool store(qint64& id, const Record& r, const std::vector<std::shared_ptr<TagRowData>>* rows,
               QString* error);
    bool forget(qint64 id, QString* error);
    // Notes why a match's files cannot be read now (empty when they can)
    // and the file system its session file is on; one transaction.
    bool markUnreadable(qint64 id, const QString& why, int64_t device, QString* error);
    // The match of `r`: known by its path, else a video moved there, known by
    // its identity (0 when none). Fills `r.identity`, kept from the index
    // while the video's stamp is the same.
    bool findMatch(Record& r, qint64& id, QString* error);

    bool matches(std::vector<Match>& out, QString* error);
    // False with no error when no match has that id.
    bool setMatchInfo(qint64 match, const QString& title, const QString& date, QString* error);
    bool search(const Query& query, std::vector<Hit>& out, QString* error);

private:
    bool insertMatch(qint64& id, const Record& r, QString* error);
    bool updateMatch(qint64 id, const Record& r, QString* error);
    bool replaceTags(qint64 id, const std::vector<std::shared_ptr<TagRowData>>& rows,
                     QString* error);
    bool insertRows(const QString& head, int width, const QVariantList& values, QString* error,
                    const QString& tail = QString(),
                    const std::function<void(QSqlQuery&)>& returned = nullptr);
    bool insertTags(qint64 match, const std::vector<std::shared_ptr<TagRowData>>& rows,
                    QString* error);
    bool addMatchFacts(std::vector<Hit>& hits, size_t first, QString* error);
    bool deleteById(const std::initializer_list<QString>& statements, qint64 id, QString* error);

    Connection& c_;
};

} // namespace library
