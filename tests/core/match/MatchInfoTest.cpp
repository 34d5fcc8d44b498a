#include <gtest/gtest.h>

#include <array>

#include "Model/DataModel.h"
#include "exchange/XmlEditList.h"
#include "match/MatchInfo.h"

namespace {

MatchInfo twoHalves() {
    MatchInfo m;
    m.periods = {{"前半", 312.4, 2790.0, 0}, {"後半", 3600.0, 6105.5, 2400}};
    return m;
}

} // namespace

TEST(MatchTime, ReadsAsTheAnalystCountsInsideBetweenAndOutsidePeriods) {
    const MatchInfo m = twoHalves();
    const std::pair<double, const char*> cases[] = {
        {0.0, "試合前"},
        {312.3, "試合前"},
        {312.4, "前半 0:00"},
        {312.4 + 754.9, "前半 12:34"},
        {2789.9, "前半 41:17"},
        {2790.0, "ハーフタイム"},
        {3599.0, "ハーフタイム"},
        {3600.0, "後半 40:00"},
        {3600.0 + 730.0, "後半 52:10"},
        {6105.5, "試合後"},
        {90000.0, "試合後"},
    };
    for (const auto& [t, text] : cases)
        EXPECT_EQ(matchTimeText(m, t), text) << t;
    EXPECT_EQ(matchClock(m, 3600.0 + 730.0), 2400.0 + 730.0);
    EXPECT_EQ(matchClock(m, 3000.0), -1.0);
    // With no periods the video time shows as it always has.
    EXPECT_EQ(matchTimeText(MatchInfo{}, 754.25), "0:12:34");
}

TEST(MatchTime, AnOpenPeriodHoldsEverythingAfterItsStartAndOtherGapsNameThePeriodBefore) {
    MatchInfo m;
    m.periods = {{"後半", 100.0, 200.0, 2400}, {"延長前半", 300.0, MatchPeriod::kOpenEnd, 4800}};
    EXPECT_EQ(matchTimeText(m, 250.0), "後半後");
    EXPECT_EQ(matchTimeText(m, 1e6), "延長前半 16741:40");
    // Moving a period moves every time in it with it.
    m.periods[0].start = 101.0;
    EXPECT_EQ(matchTimeText(m, 100.5), "試合前");
    EXPECT_EQ(matchTimeText(m, 161.0), "後半 41:00");
}

TEST(MatchFile, KeepsEverythingThroughARoundTripIncludingMembersOfOtherTools) {
    const std::string text = R"({"format": "rucktag-match", "version": 1,
      "teams": {"A": "東京", "B": "大\"阪"},
      "periods": [{"name": "前半", "start": 312.4, "end": 2790.0, "clock": 0},
                  {"name": "後半", "start": 3600.0, "end": null, "clock": 2400}],
      "players": {"A": [{"number": 12, "name": "山田", "position": "CTB"}]},
      "angles": [{"name": "エンド", "file": "end.mp4", "offset": 37.4, "scale": 1.00003},
                 {"file": "/v/ワイド.mov", "offset": -2.5}],
      "venue": {"name": "秩父宮", "seats": [1, 2.5, true, null]}})";
    MatchInfo m;
    std::string error;
    ASSERT_TRUE(readMatchJson(text, m, error)) << error;
    EXPECT_EQ(m.teams[1], "大\"阪");
    ASSERT_EQ(m.periods.size(), 2u);
    EXPECT_TRUE(m.periods[1].open());
    ASSERT_EQ(m.angles.size(), 2u);
    EXPECT_EQ(m.angles[1], (MatchAngle{"", "/v/ワイド.mov", -2.5, 1.0})) << "scale 1 when missing";
    EXPECT_EQ(playerLabel(m.players[0].at(0)), "12 山田");
    MatchInfo again;
    ASSERT_TRUE(readMatchJson(matchJson(m), again, error)) << error;
    EXPECT_EQ(again, m);
    EXPECT_NE(matchJson(m).find(R"("venue": {"name": "秩父宮", "seats": [1, 2.5, true, null]})"),
              std::string::npos);
    m.angles.clear();
    EXPECT_EQ(matchJson(m).find("angles"), std::string::npos) << "no member without angles";
    EXPECT_EQ(matchFilePathFor("/m/2026-09-06_東京戦.csv"), "/m/2026-09-06_東京戦.match.json");
}

TEST(MatchFile, RefusesWhatItCannotReadWithTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\"format\": \"rucktag-match\", \"version\": 1,", "1 行目"},
        {"{\"format\": \"other\", \"version\": 1}", "format"},
        {"{\"format\": \"rucktag-match\", \"version\": 2}", "新しい"},
        {"{\"format\": \"rucktag-match\", \"version\": 1,\n\"periods\": [{\"name\": \"前半\"}]}",
         "2 行目: 期間の開始"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"periods\": [\n"
         "{\"start\": 10, \"end\": 50}, \n{\"start\": 40, \"end\": 90}]}",
         "3 行目: 期間が重なって"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"periods\": [{\"start\": 10, \"end\": "
         "5}]}",
         "終了"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"players\": {\"A\": [{\"number\": "
         "1.5}]}}",
         "背番号"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"angles\": [{\"file\": \"a\"}, "
         "{\"file\": \"b\"}, {\"file\": \"c\"}, {\"file\": \"d\"}]}",
         "3 つまで"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"angles\": [{\"file\": \"\"}]}",
         "ファイル (file)"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"angles\": [{\"file\": \"a\", "
         "\"offset\": \"37\"}]}",
         "ずれ (offset)"},
        {"{\"format\": \"rucktag-match\", \"version\": 1, \"angles\": [{\"file\": \"a\", "
         "\"scale\": 1.02}]}",
         "0.99 から 1.01"},
    };
    for (const auto& [text, expected] : cases) {
        MatchInfo m = twoHalves();
        std::string error;
        EXPECT_FALSE(readMatchJson(text, m, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(m, twoHalves()) << "a refused file leaves the match as it was";
    }
}

TEST(MatchAngles, TwoEventsGiveOffsetAndDriftAndMarkingMistakesAreRefused) {
    // Angle started 37.4 s later than main and its clock runs 30 ppm fast.
    const double scale = 1.00003, offset = -37.4;
    MatchAngle a;
    ASSERT_TRUE(alignByEvents(a, 100.0, offset + scale * 100.0, 5000.0, offset + scale * 5000.0));
    EXPECT_NEAR(a.offset, offset, 1e-9);
    EXPECT_NEAR(a.scale, scale, 1e-9);
    EXPECT_NEAR(mainTimeOf(a, angleTime(a, 4321.0)), 4321.0, 1e-9);
    const std::array<double, 4> refused[] = {
        {100.0, 10.0, 100.5, 10.5},  // events under a second apart
        {100.0, 10.0, 200.0, 10.5},  // ... on the angle's side only
        {100.0, 10.0, 200.0, 112.0}, // 2 % drift: a marking mistake
    };
    for (const auto& [m1, a1, m2, a2] : refused) {
        MatchAngle b = a;
        EXPECT_FALSE(alignByEvents(b, m1, a1, m2, a2)) << m2;
        EXPECT_EQ(b, a) << "a refused pair leaves the angle as it was";
    }
}

TEST(MatchFile, PeriodsTravelThroughTheEditListAsInstancesSpanningThemAndAnglesAreNamed) {
    MatchInfo m = twoHalves();
    m.periods.push_back({"延長前半", 7000.0, MatchPeriod::kOpenEnd, 4800});
    m.angles = {{"エンド", "cams/end & co.mp4", -37.4, 1.00003}};
    auto tag = std::make_shared<TagRowData>();
    tag->name = "スクラム";
    tag->time_val = 400.0f;
    const std::string xml = editListText({tag}, 8, 4, 7200.0, nullptr, &m);
    EXPECT_NE(xml.find("<start>3600.0</start>\n      <end>6105.5</end>\n      <code>後半</code>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("  </ROWS>\n  <ANGLES>\n    <angle><name>エンド</name><file>cams/end &amp; "
                       "co.mp4</file><offset>-37.4</offset><scale>1.00003</scale></angle>\n  "
                       "</ANGLES>\n</file>\n"),
              std::string::npos)
        << xml;
    const EditList list = readEditList(xml);
    EXPECT_TRUE(list.unknownElements.empty() && list.mended.empty());
    const EditListTags read = tagsFromEditList(list);
    ASSERT_EQ(read.tags.size(), 1u);
    EXPECT_EQ(read.tags[0].tag->name, "スクラム");
    ASSERT_EQ(read.periods.size(), 3u);
    EXPECT_EQ(read.periods[1], m.periods[1]);
    EXPECT_EQ(read.periods[2].end, 7200.0) << "an open period ends with the video";

    // Another tool's period codes, one overlapping, one of a team (a tag).
    const char* peer = R"(<file><ALL_INSTANCES>
      <instance><ID>1</ID><start>10</start><end>2410</end><code>1st Half</code></instance>
      <instance><ID>2</ID><start>2000</start><end>2100</end><code>前半</code></instance>
      <instance><ID>3</ID><start>3000</start><end>5400</end><code>2nd Half</code></instance>
      <instance><ID>4</ID><start>50</start><end>60</end><code>後半</code>
        <label><group>Team</group><text>A</text></label></instance>
    </ALL_INSTANCES></file>)";
    const EditListTags fromPeer = tagsFromEditList(readEditList(peer));
    ASSERT_EQ(fromPeer.periods.size(), 2u);
    EXPECT_EQ(fromPeer.periods[1], (MatchPeriod{"2nd Half", 3000, 5400, 2400}));
    ASSERT_EQ(fromPeer.tags.size(), 1u);
    EXPECT_EQ(fromPeer.tags[0].tag->name, "後半");
    ASSERT_FALSE(fromPeer.problems.empty());
    EXPECT_NE(fromPeer.problems.back().find("重なる期間"), std::string::npos);
}
