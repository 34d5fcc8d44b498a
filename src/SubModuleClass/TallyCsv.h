#pragma once

#include <string>
#include <vector>

#include "Model/TagTally.h"

// The tally as a CSV file: タグ,チームA,チームB,計 then one row per name.
std::string tallyCsvText(const std::vector<TallyRow>& tally);
