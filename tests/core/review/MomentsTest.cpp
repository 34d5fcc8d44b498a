#include <cmath>
#include <gtest/gtest.h>

#include "Model/DataModel.h"
#include "review/Moments.h"
#include "support/Tags.h"

namespace {

using Span = std::pair<double, double>;
std::vector<Span> spans(const std::vector<Moment>& moments) {
    std::vector<Span> out;
    for (const auto& m : moments)
        out.emplace_back(m.start, m.end);
    return out;
}

} // namespace

TEST(Moments, ClampedToTheVideo) {
    const auto moments = makeMoments(
        {tag(true, 3, "PG"), tag(true, 100, "DG"), tag(false, 598, "UE"), tag(false, 700, "UE")}, 8,
        4, 600);
    // The tag past the end has no moment left.
    EXPECT_EQ(spans(moments), (std::vector<Span>{{0, 7}, {92, 104}, {590, 600}}));
    // Unknown length: no upper bound.
    EXPECT_EQ(spans(makeMoments({tag(true, 700, "UE")}, 8, 4, NAN)),
              (std::vector<Span>{{692, 704}}));
    // No lead and no lag: nothing to play.
    EXPECT_TRUE(makeMoments({tag(true, 10, "UE")}, 0, 0, 600).empty());
}

TEST(Moments, OverlappingAndTouchingMomentsMergeInTheOrderPlayed) {
    const auto a = tag(true, 20, "ラック"), b = tag(false, 30, "モール"), c = tag(true, 42, "PG"),
               d = tag(true, 60, "DG"), e = tag(true, 25, "UE");
    // 12..24 and 22..34 overlap; 34..46 touches; 52..64 stands alone; e comes
    // back before 52 but after d, so it is not merged into the first.
    const auto moments = makeMoments({a, b, c, d, e}, 8, 4, 600);
    EXPECT_EQ(spans(moments), (std::vector<Span>{{12, 46}, {52, 64}, {17, 29}}));
    ASSERT_EQ(moments[0].tags.size(), 3u);
    EXPECT_EQ(moments[0].tags[0], a);
    EXPECT_EQ(moments[0].tags[2], c);
    EXPECT_EQ(moments[2].tags[0], e);
    // Listed latest first, the same tags merge the other way round.
    EXPECT_EQ(spans(makeMoments({c, b, a}, 8, 4, 600)), (std::vector<Span>{{12, 46}}));
    // A gap of a hair keeps them apart.
    EXPECT_EQ(makeMoments({tag(true, 10, "UE"), tag(true, 22.5f, "UE")}, 8, 4, 600).size(), 2u);
}

TEST(Moments, FollowTheFilteredAndSortedList) {
    TagDataModel model;
    model.appent(tag(true, 100, "ラック"));
    model.appent(tag(false, 200, "ラインアウト"));
    model.appent(tag(true, 300, "ラインアウト"));
    model.appent(tag(true, 50, "ラインアウト"));
    FilterSortData f;
    f.filter_tag_name = "ラインアウト";
    f.filter_team_B = false;
    f.sort_tag_time = 2; // latest first
    const auto moments = makeMoments(model.getFilterData(f), 8, 4, 600);
    EXPECT_EQ(spans(moments), (std::vector<Span>{{292, 304}, {42, 54}}));
    EXPECT_EQ(moments[1].tags[0]->index, 3);
}

TEST(Moments, FileNamesCarryPositionTeamNameAndTime) {
    auto t = tag(true, 754, "トライ");
    EXPECT_EQ(momentFileName(1, *t), "001_A_トライ_0-12-34.mp4");
    auto u = tag(false, 3723, "a/b");
    EXPECT_EQ(momentFileName(120, *u), "120_B_a_b_1-02-03.mp4");

    // A hand-edited name of 271 bytes would pass the file system's limit of
    // 255: it is cut at a character boundary, the rest of the name stays.
    std::string longName = "x";
    for (int i = 0; i < 90; ++i)
        longName += i % 2 ? "ト" : "ラ";
    const std::string cut = momentFileName(7, *tag(false, 754, longName));
    EXPECT_EQ(cut.size(), 253u); // 255 would split a character
    EXPECT_EQ(cut.substr(0, 6), "007_B_");
    EXPECT_EQ(cut.substr(cut.size() - 12), "_0-12-34.mp4");
    EXPECT_EQ(cut.substr(6, cut.size() - 18), longName.substr(0, 235));
    // A file system with a shorter limit gets shorter names.
    EXPECT_EQ(momentFileName(7, *tag(false, 754, longName), 30), "007_B_xラトラ_0-12-34.mp4");
}

TEST(Moments, ACodesOwnLeadAndLagAndATagsEndShapeItsMoment) {
    CodeWindow window;
    Code scrum{"スクラム", "#000000", "", "", 2.0, 1.0, CodeMode::Point, ""};
    Code pg{"PG", "#000000", "", "", std::nullopt, 0.0, CodeMode::Point, ""};
    Code dropOut{"ドロップアウト", "#000000", "", "", 1.0, 1.0, CodeMode::Point, ""};
    Code attack{"攻撃", "#000000", "", "", std::nullopt, std::nullopt, CodeMode::Duration, ""};
    window.codes = {scrum, pg, dropOut, attack};
    auto ended = tag(true, 400, "攻撃");
    ended->end = TagEnd::at(430);
    auto open = tag(true, 500, "攻撃");
    open->end.state = TagEnd::State::Open;
    const std::vector listed{tag(true, 100, "スクラム"), tag(false, 200, "PG"),
                             tag(true, 300, "UE"), ended, open,
                             // ド written decomposed (ト and U+3099) is the same code.
                             tag(true, 550, "\xe3\x83\x88\xe3\x82\x99ロップアウト")};
    EXPECT_EQ(
        spans(makeMoments(listed, 8, 4, 600, &window)),
        (std::vector<Span>{{98, 101}, {192, 200}, {292, 304}, {392, 434}, {492, 504}, {549, 551}}));
    // Without a window every tag takes 前/後; the end still counts.
    EXPECT_EQ(
        spans(makeMoments(listed, 8, 4, 600)),
        (std::vector<Span>{{92, 104}, {192, 204}, {292, 304}, {392, 434}, {492, 504}, {542, 554}}));
}
