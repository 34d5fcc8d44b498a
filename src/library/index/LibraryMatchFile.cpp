#include "index/LibraryMatchFile.h"

namespace library {

FileStamp matchFileStamp(const std::string& session) {
    const std::optional<FileStamp> stamp = fileStamp(matchFilePathFor(session).string());
    return stamp ? *stamp : FileStamp{kNoMatchFile, 0, 0};
}

MatchFacts readMatchFacts(const std::string& session) {
    MatchFacts facts;
    facts.stamp = matchFileStamp(session);
    if (facts.stamp.size == kNoMatchFile)
        return facts;
    const std::filesystem::path path = matchFilePathFor(session);
    facts.hash = contentHash(path.string());
    MatchInfo match;
    std::string error;
    if (loadMatchFile(path, match, error) != MatchFileState::Read) {
        facts.problem =
            QStringLiteral("試合ファイルを読めません: ") + QString::fromStdString(error);
        return facts;
    }
    for (size_t i = 0; i < 2; ++i)
        facts.teams[i] = QString::fromStdString(match.teams[i]);
    if (!match.periods.empty()) {
        MatchInfo periods;
        periods.periods = std::move(match.periods);
        facts.periods = QString::fromStdString(matchJson(periods));
    }
    if (!match.angles.empty()) {
        MatchInfo angles;
        angles.angles = std::move(match.angles);
        facts.angles = QString::fromStdString(matchJson(angles));
    }
    return facts;
}

MatchInfo periodsFrom(const QString& periods) {
    MatchInfo match;
    std::string error;
    if (!periods.isEmpty() && !readMatchJson(periods.toStdString(), match, error))
        match = {};
    return match;
}

std::vector<MatchAngle> anglesFrom(const QString& angles, const std::string& session) {
    MatchInfo match;
    std::string error;
    if (angles.isEmpty() || !readMatchJson(angles.toStdString(), match, error))
        return {};
    const std::filesystem::path folder = std::filesystem::path(session).parent_path();
    for (MatchAngle& angle : match.angles)
        angle.file = (folder / std::filesystem::path(angle.file)).lexically_normal().string();
    return std::move(match.angles);
}

} // namespace library
