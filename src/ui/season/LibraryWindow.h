#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "index/SeasonLibrary.h"
#include "season/LibrarySequence.h"

class MainViewController;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
namespace Ui {
class LibraryWindow;
}

// The hits of a search: 試合, 時刻, チーム, コード, ラベル, コメント.
class LibraryHitModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setHits(std::vector<library::Hit> hits);
    const std::vector<library::Hit>& hits() const { return hits_; }
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // "2026-11-03 東京戦", or the title alone without a date.
    static QString matchText(const QString& title, const QString& date);

private:
    std::vector<library::Hit> hits_;
};

// The season library's window: the folders it indexes, the filters, the tags
// found across matches; a double click opens a tag's match at the tag, and the
// tags found play one after another, go into one highlight video or into one
// match report.
class LibraryWindow : public QWidget {
    Q_OBJECT
public:
    // A search runs this long after the last change of a filter.
    static constexpr int kSearchDelayMs = 250;

    LibraryWindow(MainViewController* main, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    QListWidget* folderList = nullptr;
    QPushButton* addFolderButton = nullptr;
    QPushButton* rescanButton = nullptr;
    QLabel* scanReportLabel = nullptr;
    QComboBox* codeCombo = nullptr;
    QComboBox* teamCombo = nullptr;
    QLineEdit* labelEdit = nullptr;
    QLineEdit* commentEdit = nullptr;
    QComboBox* matchCombo = nullptr;
    // "YYYY-MM-DD" (or with slashes, or 8 digits); empty: no limit.
    QLineEdit* dateFromEdit = nullptr;
    QLineEdit* dateToEdit = nullptr;
    QTableView* resultsView = nullptr;
    QLabel* countLabel = nullptr;
    QLabel* problemLabel = nullptr;
    QPushButton* sequenceButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* reportButton = nullptr;
    LibrarySequence* sequence = nullptr;

    LibraryHitModel* hitModel() const { return model_; }
    // The filters as a query; `problem` gets what could not be read.
    library::Query query(QString* problem = nullptr) const;
    // Searches done so far (a test waits for the next).
    int searchesDone() const { return searchesDone_; }

    void onAddFolder();
    void onRescan();
    void onSequencePlay();
    void onHighlightExport();
    // 試合レポート of the current search: its filters (the match pop-up, the
    // dates) choose the matches, as for the sequence and the highlight video.
    void onMatchReport();
    // Opens the match of result `row` at its tag.
    void openResult(int row);

    // The date a date box holds as "YYYY-MM-DD"; empty when it is empty,
    // null when it cannot be read.
    static QString dateOf(const QString& typed);
    // Reports of a scan, in the window's words.
    static QString scanReportText(const library::ScanReport& report);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void searchSoon();
    void search();
    void refreshLists();
    void showProblem(const QString& text);
    void scanned(const library::ScanReport& report, const QString& error);
    std::vector<LibraryMoment> resultMoments(bool lengths) const;

    MainViewController* main_;
    LibraryHitModel* model_;
    QTimer searchDelay_;
    int searchSerial_ = 0;
    int searchesDone_ = 0;
    bool opened_ = false;
    // The window's layout, drawn in LibraryWindow.ui.
    std::unique_ptr<Ui::LibraryWindow> ui_;
};
