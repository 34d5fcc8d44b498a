// One match of 600 tags (labels, players, periods, a possession code) made
// into its report: the figures, the PDF, its page images and the HTML page,
// each timed, in a scratch folder. The whole must stay within a second.
// Usage: bench_report [ROUNDS]
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>

#include "render/ReportFiles.h"

namespace {

struct Match {
    std::vector<std::shared_ptr<TagRowData>> tags;
    MatchInfo info;
    CodeWindow window;
};

Match makeMatch() {
    Match m;
    std::mt19937 random(42);
    m.window = CodeWindow::standard().duplicate("ベンチ");
    Code possession;
    possession.name = "ポゼッション";
    possession.mode = CodeMode::Duration;
    possession.group = "攻守";
    m.window.codes.push_back(possession);
    m.info.teams = {"東京", "大阪"};
    m.info.periods = {{"前半", 120, 2640, 0}, {"後半", 3300, 5820, 2400}};
    for (int i = 0; i < 600; ++i) {
        auto tag = std::make_shared<TagRowData>();
        tag->index = i;
        tag->team = random() % 2 == 0;
        tag->time_val = static_cast<float>(random() % 6000);
        tag->name = m.window.codes[random() % m.window.codes.size()].name;
        if (tag->name == "ポゼッション")
            tag->end = TagEnd::at(tag->time_val + static_cast<float>(random() % 120));
        if (random() % 2)
            tag->labels.push_back({"結果", random() % 3 ? "成功" : "失敗"});
        if (random() % 3)
            tag->labels.push_back({"選手", std::to_string(random() % 23 + 1) + " 選手"});
        m.tags.push_back(tag);
    }
    return m;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const Match m = makeMatch();
    QTemporaryDir dir;
    std::vector<double> figures, pdf, png, html, whole;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        const report::Document doc =
            report::reportDocument(buildMatchReport(m.tags, m.info, &m.window), "bench");
        figures.push_back(clock.nsecsElapsed() / 1e6);
        QString error;
        const auto timed = [&](std::vector<double>& into, const report::Targets& to) {
            QElapsedTimer t;
            t.start();
            if (!report::writeReport(doc, to, &error))
                std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            into.push_back(t.nsecsElapsed() / 1e6);
        };
        timed(pdf, {dir.filePath("r.pdf"), {}, {}});
        timed(png, {{}, dir.filePath("png"), {}});
        timed(html, {{}, {}, dir.filePath("r.html")});
        whole.push_back(clock.nsecsElapsed() / 1e6);
    }
    // The page images' size: a faster compression must not bloat them.
    qint64 pngBytes = 0;
    const QFileInfoList pages = QDir(dir.filePath("png")).entryInfoList(QDir::Files);
    for (const QFileInfo& f : pages)
        pngBytes += f.size();
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("600 tags, %d rounds, median ms: figures %.1f, PDF %.1f, PNG pages %.1f, "
                "HTML %.1f, all %.1f (limit 1000); %lld page images, %lld kB\n",
                rounds, median(figures), median(pdf), median(png), median(html), median(whole),
                static_cast<long long>(pages.size()), static_cast<long long>(pngBytes / 1024));
    return median(whole) <= 1000 ? 0 : 1;
}
