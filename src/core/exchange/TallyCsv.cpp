#include "exchange/TallyCsv.h"

#include "platform/CSVReader.h"

std::string tallyCsvText(const std::vector<TallyRow>& tally) {
    std::string text = "タグ,チームA,チームB,計\n";
    for (const TallyRow& row : tally) {
        appendCsvField(text, row.name, false);
        text += ',' + std::to_string(row.teamA) + ',' + std::to_string(row.teamB) + ',' +
                std::to_string(row.total()) + '\n';
    }
    return text;
}

std::string labelTallyCsvText(const std::vector<LabelTallyRow>& rows,
                              const std::vector<std::string>& texts) {
    std::string text = "タグ,チーム";
    for (const std::string& t : texts) {
        text += ',';
        appendCsvField(text, t, false);
    }
    text += '\n';
    for (const LabelTallyRow& row : rows) {
        appendCsvField(text, row.name, false);
        text += row.teamA ? ",A" : ",B";
        for (const int64_t n : row.counts)
            text += ',' + std::to_string(n);
        text += '\n';
    }
    return text;
}
