#include "SubModuleClass/TallyCsv.h"

#include "SubModuleClass/CSVReader.h"

std::string tallyCsvText(const std::vector<TallyRow>& tally) {
    std::string text = "タグ,チームA,チームB,計\n";
    for (const TallyRow& row : tally) {
        appendCsvField(text, row.name, false);
        text += ',' + std::to_string(row.teamA) + ',' + std::to_string(row.teamB) + ',' +
                std::to_string(row.total()) + '\n';
    }
    return text;
}
