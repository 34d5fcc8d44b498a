#pragma once

// A scratch folder per test, and export sessions run to their end.
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <unistd.h>

#include "export/ClipExportSession.h"
#include "support/MediaProbe.h"
#include "support/Scratch.h"

class ExportFixture : public ::testing::Test {
protected:
    void SetUp() override { dir = freshScratchDir("rucktag-export-"); }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the export and waits; returns the final status. Progress is sampled.
    ClipExportSession::Status finish(ClipExportSession& session) {
        std::atomic<bool> finished{false};
        session.exportAsynchronously([&] { finished.store(true, std::memory_order_release); });
        progress.clear();
        while (!finished.load(std::memory_order_acquire)) {
            progress.push_back(session.progress());
            QTest::qWait(5);
        }
        progress.push_back(session.progress());
        error = session.errorText();
        return session.status();
    }

    fs::path dir;
    std::vector<float> progress;
    std::string error;
};
