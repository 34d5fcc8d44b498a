#pragma once

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "Model/DataModel.h"
#include "index/FolderWalk.h"
#include "index/LibraryIndex.h"

// The scan: walks the library's folders, reads the session files that
// changed and brings the index in line with them.

namespace library {

// Times the index cannot hold (NaN, infinities, negative), which older files
// may have: the session is skipped rather than stored wrong. Empty when none.
QString unindexableTimes(const std::vector<std::shared_ptr<TagRowData>>& rows);

class Scanner {
public:
    Scanner(Connection& connection, Index& index) : c_(connection), index_(index) {}

    // Indexes what changed under `roots` since the last scan; false (the
    // scan ended) when the library failed past one file.
    bool scan(const std::vector<std::string>& roots, ScanReport& report, QString* error);

private:
    // Each returns false when the scan ends.
    bool revisit(const Found& f, Stored& s);
    bool reread(const Found& f, Stored& s, const Record& r);
    bool add(const Found& f, std::vector<Stored>& stored);
    bool settleUnseen(Stored& s, const std::vector<std::string>& roots, const Walk& w);

    bool mark(Stored& s, const QString& why, int64_t device = 0);
    bool marked(Stored& s, const QString& why);
    bool skipOrStop(const std::string& session);
    void tellMatchProblem(const std::string& session, const MatchFacts& match);

    Connection& c_;
    Index& index_;
    // The scan under way's report and error.
    ScanReport* report_ = nullptr;
    QString* error_ = nullptr;
};

} // namespace library
