#include "report/MatchReportExport.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include "ClipVideoConvertor/ClipViewController.h"
#include "MainViewController.h"
#include "SubViewClass/CustomAlert.h"
#include "player/Player.h"
#include "render/ReportFiles.h"
#include "tags/TagTableScreen.h"
#include "workspace/Workspace.h"

void exportMatchReport(TagTableScreen& screen) {
    MainViewController* main = screen.myParent;
    QWidget* w = screen.window();
    if (!main || !w || w == &screen)
        return;
    if (main->tagDataModel.data.empty()) {
        AlertBox("出力するデータがありません。", "お知らせ", "warning");
        return;
    }
    const Player* player = screen.currentPlayer();
    const std::string video = player && player->hasCurrentItem() ? player->currentPath() : "";
    const QString name = video.empty()
                             ? QStringLiteral("試合レポート")
                             : QFileInfo(QString::fromStdString(video)).completeBaseName();
    DialogProvider::FilePanel panel{"試合レポートを保存", {"pdf"}, name, folderOf(video)};
    const Workspace* shared = screen.workspace();
    const MatchReport figures = buildMatchReport(main->tagDataModel.data, main->tagDataModel.match,
                                                 shared ? &shared->codeWindow() : nullptr);
    QPointer<QWidget> alive(&screen);
    dialogProvider().saveFilePanel(
        w, panel, [alive, video, name, figures](std::optional<std::string> path) {
            if (!alive || !path || path->empty())
                return;
            const QString pdf =
                reportPdfPath(*path, video.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{video});
            if (!pdf.isEmpty())
                writeReportFiles(report::reportDocument(figures, name), pdf);
        });
}

QString reportPdfPath(const std::string& chosen, const std::vector<std::string>& videos) {
    QString pdf = QString::fromStdString(chosen);
    if (!pdf.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
        pdf += QStringLiteral(".pdf");
    for (const std::string& video : videos)
        if (const std::string clash = exportTargetClash(pdf.toStdString(), video); !clash.empty()) {
            AlertBox(clash, "お知らせ", "warning");
            return {};
        }
    return pdf;
}

void writeReportFiles(const report::Document& doc, const QString& pdf) {
    const QFileInfo target(pdf);
    const report::Targets to{
        pdf, target.absolutePath(),
        QDir(target.absolutePath()).filePath(target.completeBaseName() + QStringLiteral(".html"))};
    QString error;
    if (report::writeReport(doc, to, &error))
        AlertBox("試合レポートが作成されました。", "成功", "success");
    else
        AlertBox(error.toStdString(), "失敗", "error");
}
