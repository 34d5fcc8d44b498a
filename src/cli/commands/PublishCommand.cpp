#include "commands/PublishCommand.h"

#include <QCommandLineParser>
#include <atomic>
#include <cmath>
#include <csignal>

#include "index/SeasonLibrary.h"
#include "publish/ItemRender.h"
#include "publish/PlaylistPublish.h"

namespace {

constexpr const char* kUsage =
    "使い方 / Usage:\n"
    "  rucktag publish NAME --group GROUP --folder DIR [--max-height 720] [--bitrate 2500]\n"
    "                  [--database URL]\n"
    "    プレイリストの項目をスマートフォンで見られる動画にして公開フォルダーに置き、\n"
    "    グループのリンク (/g/TOKEN/) を最後の行に出します。変わらない項目は作り直しません。\n"
    "    Renders the playlist's items for phones into the publish folder and prints the\n"
    "    group's link path (/g/TOKEN/) on the last line; unchanged items are kept.\n"
    "  rucktag publish --revoke GROUP --folder DIR\n"
    "    グループのリンクを新しくします (前のリンクは使えなくなります)。\n"
    "    Gives the group a new link; the old one stops working.\n"
    "  --max-height  動画の高さの上限 / the videos' greatest height (144-2160)\n"
    "  --bitrate     映像のビットレート kb/s / the video's bit rate in kb/s (200-20000)\n"
    "  --database URL  rucktag library と同じ / as for rucktag library.\n";

std::atomic<bool> interrupted{false};

int usage(std::ostream& err, const std::string& why) {
    err << why << "\n" << kUsage;
    return 2;
}

// The value of `option` as a whole number in [low, high]; false otherwise.
bool numberOption(const QCommandLineParser& parser, const QCommandLineOption& option, int low,
                  int high, int& value) {
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    value = parser.value(option).toInt(&ok);
    return ok && value >= low && value <= high;
}

int revoke(const QString& group, const QString& dir, std::ostream& out, std::ostream& err) {
    QString error;
    const std::optional<publish::Group> g = publish::revokeGroup(dir, group, &error);
    if (!g) {
        err << error.toStdString() << "\n";
        return 1;
    }
    out << publish::linkPath(*g).toStdString() << "\n";
    return 0;
}

int publishNamed(const QString& name, const QString& group, const QString& dir, int maxHeight,
                 int kbps, const QString& database, std::ostream& out, std::ostream& err) {
    QString error;
    const std::unique_ptr<library::SeasonLibrary> lib = library::SeasonLibrary::open(
        database.isEmpty() ? library::SeasonLibrary::defaultDatabase() : database, &error);
    if (!lib) {
        err << error.toStdString() << "\n";
        return 1;
    }
    library::PlaylistStore store(*lib);
    int shown = -1;
    interrupted.store(false);
    // Ctrl+C stops the rendering; nothing of this publish stays.
    auto* previous = std::signal(SIGINT, [](int) { interrupted.store(true); });
    const publish::PublishResult r = publish::publishStoredPlaylist(
        store, name, dir, group, maxHeight, kbps, &publish::renderForPublish,
        [&](double p) {
            const int percent = static_cast<int>(std::floor(p * 20)) * 5;
            if (percent != shown)
                err << "公開中 / publishing " << (shown = percent) << "%" << std::endl;
        },
        interrupted);
    std::signal(SIGINT, previous);
    if (r.status == publish::PublishStatus::Cancelled) {
        err << "中止しました / stopped\n";
        return 1;
    }
    if (r.status != publish::PublishStatus::Done) {
        err << r.error.toStdString() << "\n";
        return 1;
    }
    err << "作成 " << r.rendered << "・そのまま " << r.kept << "・削除 " << r.removed
        << " / rendered " << r.rendered << ", kept " << r.kept << ", removed " << r.removed << "\n";
    out << publish::linkPath(r.group).toStdString() << "\n";
    return 0;
}

} // namespace

int runPublishCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    QCommandLineParser parser;
    const QCommandLineOption group(QStringLiteral("group"), QString(), QStringLiteral("GROUP"));
    const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption maxHeight(QStringLiteral("max-height"), QString(),
                                       QStringLiteral("H"));
    const QCommandLineOption bitrate(QStringLiteral("bitrate"), QString(), QStringLiteral("KBPS"));
    const QCommandLineOption revokeOption(QStringLiteral("revoke"), QString(),
                                          QStringLiteral("GROUP"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("URL"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    parser.addOptions({group, folder, maxHeight, bitrate, revokeOption, database, help});
    QStringList words = {QStringLiteral("rucktag")};
    for (const std::string& arg : args)
        words << QString::fromStdString(arg);
    if (!parser.parse(words))
        return usage(err, "オプションを読めません / " + parser.errorText().toStdString());
    if (parser.isSet(help)) {
        out << kUsage;
        return 0;
    }
    const QStringList names = parser.positionalArguments();
    const QString dir = parser.value(folder);
    if (dir.isEmpty())
        return usage(err,
                     "--folder で公開フォルダーを指定してください / name the folder with --folder");
    if (parser.isSet(revokeOption)) {
        if (!names.isEmpty() || parser.isSet(group))
            return usage(err, "--revoke はグループだけを取ります / --revoke takes a group alone");
        return revoke(parser.value(revokeOption), dir, out, err);
    }
    if (names.size() != 1 || parser.value(group).trimmed().isEmpty())
        return usage(err, "プレイリストを 1 つと --group を指定してください / name one playlist "
                          "and --group");
    int height = 720, kbps = 2500;
    if (!numberOption(parser, maxHeight, 144, 2160, height) ||
        !numberOption(parser, bitrate, 200, 20000, kbps))
        return usage(err, "--max-height か --bitrate の値が範囲の外です / --max-height or "
                          "--bitrate is out of range");
    return publishNamed(names.front(), parser.value(group), dir, height, kbps,
                        parser.value(database), out, err);
}
