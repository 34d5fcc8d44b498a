// Saves a 10,000-tag session file over and over, alternating two different
// tag lists, through the same writer as the Save command. scripts/kill-during-save
// kills it at random moments and checks the file.
// Usage: save_kill_probe FILE --refs DIR   writes the two expected files and exits
//        save_kill_probe FILE              saves until killed
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "SubModuleClass/TagFileManager.h"

namespace {

std::vector<std::shared_ptr<TagRowData>> tags(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::shared_ptr<TagRowData>> rows;
    for (int i = 0; i < 10000; ++i) {
        auto t = std::make_shared<TagRowData>();
        t->team = rng() % 2;
        t->time_val = static_cast<float>(rng() % 5400000) / 1000.0f;
        t->time_string = createTimeString(t->time_val);
        t->name = seed == 1 ? "ラック" : "スクラム";
        t->comment = std::string(rng() % 40, 'x') + (i % 7 == 0 ? ",\"改行\n\"" : "");
        rows.push_back(t);
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const auto a = tags(1), b = tags(2);
    if (argc == 4 && std::strcmp(argv[2], "--refs") == 0) {
        const std::string dir = argv[3];
        return TagFileManager::saveCSVFile(dir + "/A.ref", a, true).empty() &&
                       TagFileManager::saveCSVFile(dir + "/B.ref", b, true).empty()
                   ? 0
                   : 1;
    }
    for (unsigned long n = 0;; ++n) {
        const std::string err = TagFileManager::saveCSVFile(argv[1], n % 2 ? b : a, true);
        if (!err.empty()) {
            std::fprintf(stderr, "%s\n", err.c_str());
            return 1;
        }
    }
}
