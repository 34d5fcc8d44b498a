#include "ClipVideoConvertor/AngleChoice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>
#include <filesystem>

#include "SubModuleClass/TagFileManager.h"
#include "match/MatchInfo.h"
#include "platform/AtomicFile.h"

AngleChoiceRow::AngleChoiceRow(const std::map<std::string, std::vector<MatchAngle>>& angles,
                               QWidget* parent)
    : QWidget(parent), angles_(angles) {
    setObjectName("angleChoice");
    auto* l = new QHBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel("アングル", this));
    combo = new QComboBox(this);
    combo->setObjectName("angleChoiceCombo");
    combo->addItem("メイン", static_cast<int>(AngleExport::Main));
    std::vector<std::string> names;
    for (const auto& [video, list] : angles_)
        for (const MatchAngle& a : list)
            if (std::find(names.begin(), names.end(), a.name) == names.end())
                names.push_back(a.name);
    for (const std::string& name : names)
        combo->addItem(QString::fromStdString("アングル: " + name),
                       static_cast<int>(AngleExport::OneAngle));
    combo->addItem("左右に並べる", static_cast<int>(AngleExport::SideBySide));
    combo->addItem("2×2", static_cast<int>(AngleExport::Grid));
    combo->addItem("順番に", static_cast<int>(AngleExport::InTurn));
    l->addWidget(combo, 1);
}

AngleExportChoice AngleChoiceRow::choice() const {
    AngleExportChoice c;
    c.layout = static_cast<AngleExport>(combo->currentData().toInt());
    if (c.layout == AngleExport::OneAngle)
        c.angleName = combo->currentText().toStdString().substr(std::string("アングル: ").size());
    c.angles = angles_;
    return c;
}

std::vector<MatchAngle> anglesOfVideo(const std::string& video, const MatchInfo* open) {
    const std::string session = TagFileManager::sessionFilePath(video);
    const std::string folder = std::filesystem::path(session).parent_path().string();
    if (open)
        return withAbsoluteFiles(open->angles, folder);
    std::string bytes, error;
    const auto bounded = [](size_t read, size_t) { return read <= kMaxMatchFileBytes; };
    MatchInfo match;
    // No match file, or one that cannot be read: no angles (the edit screen
    // tells about a damaged one when the video is opened).
    if (!readWholeFile(matchFilePathFor(session), bytes, error, nullptr, bounded) ||
        !readMatchJson(bytes, match, error))
        return {};
    return withAbsoluteFiles(match.angles, folder);
}
