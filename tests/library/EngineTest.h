#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "LibraryTestSupport.h"
#include "index/SeasonLibrary.h"

// The library's cases run on SQLite and on a throwaway PostgreSQL database
// of the suite's server, each in a folder of its own.
namespace librarytest {

enum class Engine { SQLite, PostgreSQL };

inline std::string engineName(const ::testing::TestParamInfo<Engine>& info) {
    return info.param == Engine::SQLite ? "SQLite" : "PostgreSQL";
}

class EngineTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        if (GetParam() == Engine::PostgreSQL) {
            QString why;
            url = newDatabase(&why);
            if (url.isEmpty() && !serverBinariesPresent())
                GTEST_SKIP() << kNoServerBinaries;
            ASSERT_FALSE(url.isEmpty()) << why.toStdString();
        } else {
            url = dir.filePath(QStringLiteral("db/library.sqlite"));
        }
    }
    void TearDown() override {
        if (GetParam() == Engine::PostgreSQL && !url.isEmpty())
            dropDatabase(url);
    }

    std::unique_ptr<library::SeasonLibrary> openLibrary() {
        QString error;
        std::unique_ptr<library::SeasonLibrary> lib = library::SeasonLibrary::open(url, &error);
        EXPECT_TRUE(lib) << error.toStdString();
        return lib;
    }
    QString folder(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    QString url;
};

} // namespace librarytest
