#pragma once

#include <string>
#include <vector>

#include "review/TagTally.h"

// The tally as a CSV file: タグ,チームA,チームB,計 then one row per name.
std::string tallyCsvText(const std::vector<TallyRow>& tally);

// A label group's matrix as a CSV file: タグ,チーム, then `texts` (the
// group's texts and "なし"), then one row per name and team.
std::string labelTallyCsvText(const std::vector<LabelTallyRow>& rows,
                              const std::vector<std::string>& texts);
