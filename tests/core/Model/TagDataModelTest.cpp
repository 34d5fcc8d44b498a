#include <cmath>
#include <gtest/gtest.h>

#include "Model/DataModel.h"
#include "session/SessionTag.h"
#include "support/Tags.h"

namespace {

std::vector<int64_t> indices(const std::vector<std::shared_ptr<TagRowData>>& rows) {
    std::vector<int64_t> out;
    for (const auto& r : rows)
        out.push_back(r->index);
    return out;
}

using V = std::vector<int64_t>;

class FilterSort : public ::testing::Test {
protected:
    // index: team, time, name, comment
    void SetUp() override {
        model.appent(tag(true, 30, "ラック"));         // 0
        model.appent(tag(false, 10, "スクラム", "x")); // 1
        model.appent(tag(true, 10, "トライ"));         // 2
        model.appent(tag(false, 50, "ラック", "y"));   // 3
        model.appent(tag(true, 20, "スクラム"));       // 4
        model.appent(tag(false, 10, "ラック"));        // 5
    }
    V run(FilterSortData f) const { return indices(model.getFilterData(f)); }
    TagDataModel model;
};

} // namespace

TEST(TagDataModel, CounterGrowsAndRemovalClosesTheGap) {
    TagDataModel model;
    for (int i = 0; i < 3; ++i)
        model.appent(tag(true, 1, "DG"));
    EXPECT_EQ(indices(model.data), (V{0, 1, 2}));
    EXPECT_TRUE(model.remove(1));
    auto row = tag(false, 2, "PG");
    row->index = 77; // overwritten
    model.appent(row);
    EXPECT_EQ(indices(model.data), (V{0, 2, 3}));
    EXPECT_FALSE(model.remove(1));
    EXPECT_FALSE(model.remove(42));
    EXPECT_EQ(model.data.size(), 3u);
    EXPECT_FALSE(TagDataModel().remove(0));
}

TEST(TagDataModel, RemoveTakesOnlyTheFirstMatch) {
    TagDataModel model;
    auto a = tag(true, 1, "DG"), b = tag(false, 2, "PG");
    a->index = b->index = 5;
    model.data = {a, b};
    EXPECT_TRUE(model.remove(5));
    ASSERT_EQ(model.data.size(), 1u);
    EXPECT_EQ(model.data[0], b);
}

TEST(TagDataModel, RestoredTagsNeverShareAnIndexWithLaterOnes) {
    TagDataModel model;
    model.appent(tag(true, 1, "DG")); // counter now 1
    std::vector<std::shared_ptr<TagRowData>> loaded;
    for (int i = 0; i < 4; ++i) {
        loaded.push_back(tag(false, static_cast<float>(i), "PG"));
        loaded.back()->index = i;
    }
    model.replaceData(loaded);
    EXPECT_EQ(indices(model.data), (V{0, 1, 2, 3}));
    model.appent(tag(true, 9, "UE"));
    EXPECT_EQ(model.data.back()->index, 4);
    // Removing the new tag must not take a loaded one, and vice versa.
    EXPECT_TRUE(model.remove(4));
    EXPECT_EQ(indices(model.data), (V{0, 1, 2, 3}));

    // A smaller restore never lowers the counter.
    model.replaceData({loaded[0]});
    model.appent(tag(true, 9, "UE"));
    EXPECT_EQ(model.data.back()->index, 5);
    model.replaceData({});
    EXPECT_TRUE(model.data.empty());
    EXPECT_EQ(model.index, 6);
}

TEST_F(FilterSort, FiltersByNameAndTeamInStoreOrder) {
    FilterSortData f;
    EXPECT_EQ(run(f), (V{0, 1, 2, 3, 4, 5}));
    f.filter_tag_name = "すべてを見る";
    EXPECT_EQ(run(f), (V{0, 1, 2, 3, 4, 5}));
    f.filter_tag_name = "ラック";
    EXPECT_EQ(run(f), (V{0, 3, 5}));
    f.filter_team_B = false;
    EXPECT_EQ(run(f), (V{0}));
    f.filter_team_A = false;
    EXPECT_EQ(run(f), V{});
    f = {};
    f.filter_team_A = false;
    EXPECT_EQ(run(f), (V{1, 3, 5}));
    f = {};
    f.filter_tag_name = "モール";
    EXPECT_EQ(run(f), V{});
    EXPECT_TRUE(TagDataModel().getFilterData(FilterSortData{}).empty());
}

TEST_F(FilterSort, EachSortIsStableInBothDirections) {
    FilterSortData f;
    f.sort_tag_time = 1;
    EXPECT_EQ(run(f), (V{1, 2, 5, 4, 0, 3}));
    f.sort_tag_time = -1;
    EXPECT_EQ(run(f), (V{3, 0, 4, 1, 2, 5})); // ties stay in store order
    f = {};
    f.sort_tag_comment = 1;
    EXPECT_EQ(run(f), (V{0, 2, 4, 5, 1, 3}));
    f.sort_tag_comment = -1;
    EXPECT_EQ(run(f), (V{1, 3, 0, 2, 4, 5}));
    f = {};
    f.sort_team = 1;
    EXPECT_EQ(run(f), (V{1, 3, 5, 0, 2, 4}));
    f.sort_team = 2;
    EXPECT_EQ(run(f), (V{0, 2, 4, 1, 3, 5}));
    f = {};
    f.sort_tag_name = 1; // スクラム < トライ < ラック by UTF-8 bytes
    EXPECT_EQ(run(f), (V{1, 4, 2, 0, 3, 5}));
    f.sort_tag_name = -1;
    EXPECT_EQ(run(f), (V{0, 3, 5, 2, 1, 4}));
    // The store itself is never reordered.
    EXPECT_EQ(indices(model.data), (V{0, 1, 2, 3, 4, 5}));
}

// A library hit names its tag by place, time and code: the place while it
// still holds that tag, else the nearest tag of the code.
TEST_F(FilterSort, SessionTagByPlaceElseNearestOfItsCode) {
    const struct {
        int position;
        double time;
        const char* code;
        int64_t found; // -1: none
    } cases[] = {
        {3, 50.0, "ラック", 3},  {3, 30.2, "ラック", 0},  {1, 48.0, "ラック", 3},
        {9, 12.0, "ラック", 5},  {-1, 40.0, "ラック", 0}, // equally near: the first
        {0, 30.0, "モール", -1},
    };
    for (const auto& c : cases) {
        const auto tag = sessionTag(model, c.position, c.time, c.code);
        EXPECT_EQ(tag ? tag->index : -1, c.found) << c.position << " " << c.time;
    }
}

TEST_F(FilterSort, SeveralSortFieldsTeamDecidesFirst) {
    FilterSortData f;
    f.sort_team = -1;    // A first: 0 2 4 | 1 3 5
    f.sort_tag_time = 1; // within a team by time
    EXPECT_EQ(run(f), (V{2, 4, 0, 1, 5, 3}));
    f.sort_tag_comment = 1; // then comments within the team, time breaks ties
    EXPECT_EQ(run(f), (V{2, 4, 0, 5, 1, 3}));
    f.sort_tag_name = 1;
    f.filter_tag_name = "ラック";
    EXPECT_EQ(run(f), (V{0, 5, 3}));
}

// Times that are not numbers go last in either direction, in store order.
TEST(TagDataModelSort, NaNTimesGoLast) {
    FilterSortData f;
    TagDataModel times;
    for (float t : {3.0f, std::nanf(""), 1.0f, std::nanf(""), 2.0f})
        times.appent(tag(true, t, "DG"));
    f.sort_tag_time = 1;
    EXPECT_EQ(indices(times.getFilterData(f)), (V{2, 4, 0, 1, 3}));
    f.sort_tag_time = -1;
    EXPECT_EQ(indices(times.getFilterData(f)), (V{0, 4, 2, 1, 3}));
}

TEST(TagDataModelSort, DecomposedNamesMatchAndSortAsComposed) {
    TagDataModel model;
    model.appent(tag(true, 0, "\xE3\x83\x88\xE3\x82\x99ロップアウト")); // ト + U+3099
    model.appent(tag(true, 0, "トライ"));
    model.appent(tag(true, 0, "ドロップアウト"));
    FilterSortData f;
    f.filter_tag_name = "ドロップアウト";
    EXPECT_EQ(indices(model.getFilterData(f)), (V{0, 2}));
    f = {};
    f.sort_tag_name = 1;
    EXPECT_EQ(indices(model.getFilterData(f)), (V{1, 0, 2}));
}

TEST(TagDataModel, ViewsShareRecordsWithTheStore) {
    TagDataModel model;
    model.appent(tag(true, 1, "DG"));
    model.getFilterData(FilterSortData{})[0]->comment = "seen";
    EXPECT_EQ(model.data[0]->comment, "seen");
}
