#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <map>

#include "exchange/XmlEditList.h"
#include "platform/AtomicFile.h"
#include "review/Moments.h"
#include "support/Deadline.h"
#include "support/HostileXml.h"
#include "support/Scratch.h"
#include "support/Tags.h"

using ::testing::Contains;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

std::string golden(const std::string& name) {
    std::string contents, error;
    EXPECT_TRUE(readWholeFile(fs::path(RUCKTAG_TEST_DATA) / name, contents, error)) << error;
    return contents;
}

} // namespace

// A file as public converters write it: BOM, CRLF, instances out of time
// order, a label without a group, a repeated group, a bare '&', CDATA and
// references, 16-bit colours and a section of the recording's clock.
TEST(XmlEditListImport, ConverterFileReadWhole) {
    const EditList list = readEditList(golden("editlist-converter.xml"));
    ASSERT_TRUE(list.isEditList);
    ASSERT_EQ(list.instances.size(), 4u);
    EXPECT_EQ(list.unknownElements, (std::vector<std::string>{"SESSION_INFO", "pos_x"}));
    ASSERT_EQ(list.mended.size(), 1u);
    EXPECT_THAT(list.mended[0], HasSubstr("「&」"));
    EXPECT_THAT(list.mended[0], HasSubstr("12 行目"));
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0].code, "スクラム");
    EXPECT_EQ(list.rows[0].color, "#f08000");
    EXPECT_EQ(list.rows[1].color, "#ff0001");

    const EditListTags read = tagsFromEditList(list);
    EXPECT_TRUE(read.problems.empty());
    ASSERT_EQ(read.tags.size(), 4u);
    // By time. The team from its label (チーム in lower case too) or the
    // code's prefix (none: B); an end equal to the start is an instant,
    // another range is its own moment; a decimal comma; CDATA with markup in
    // it, hex and decimal references; a repeated group's texts kept together.
    std::vector<std::string> lines;
    std::vector<std::optional<bool>> teams;
    for (const ImportedTag& t : read.tags) {
        lines.push_back(tagLine(*t.tag));
        teams.push_back(t.team);
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "B 42.0 タックル", "B 120.5 ラインアウト [Player=4 / 5]",
                  "B 300.25-310.0 Kick [Rucktag=範囲] \"<long> & high \U0001F3C9\u00e9\"",
                  "A 752.36-764.36 スクラム [結果=成功] [" + std::string(kNoGroupLabelGroup) +
                      "=Penalty] [Rucktag=範囲] \"Set & reset\""}));
    EXPECT_EQ(teams, (std::vector<std::optional<bool>>{false, false, std::nullopt, true}));
    EXPECT_EQ(read.tags[3].tag->time_string, "0:12:32");

    EXPECT_EQ(unresolvedCodes(read.tags), (std::vector<std::string>{"Kick"}));
}

TEST(XmlEditListImport, BrokenFilesMendedNeverFatal) {
    // Cut short inside an instance, a stray end tag, a bare '<', an unknown
    // entity, invalid UTF-8, a reference to a character XML has not.
    const std::string text = "<file><ALL_INSTANCES></nothing>\n"
                             "<instance><start>1</start><code>a < b &nbsp; \xff &#1;</code>\n"
                             "<instance2/></instance>\n"
                             "<instance><start>2.5</start><code>c</code><label><group>x";
    const EditList list = readEditList(text);
    ASSERT_EQ(list.instances.size(), 2u);
    EXPECT_EQ(list.instances[0].code, "a < b &nbsp; \xEF\xBF\xBD \xEF\xBF\xBD");
    EXPECT_EQ(list.instances[1].code, "c");
    ASSERT_EQ(list.instances[1].labels.size(), 1u);
    EXPECT_EQ(list.instances[1].labels[0].first, "x");
    EXPECT_EQ(list.unknownElements, (std::vector<std::string>{"instance2"}));
    EXPECT_THAT(list.mended, Contains(HasSubstr("途中で終わって")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("開始のない終了タグ")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("「<」")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("知らない実体参照")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("UTF-8")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("XML にない文字")));

    // Not an edit list at all, and nothing: no instances, no crash.
    EXPECT_FALSE(readEditList("Team, INDEX, 再生時刻\nA,1,0:00:01").isEditList);
    EXPECT_FALSE(readEditList("").isEditList);
    EXPECT_FALSE(readEditList("<").isEditList);

    // Instances that cannot be tags are named, not guessed.
    const EditListTags read =
        tagsFromEditList(readEditList("<file><ALL_INSTANCES><instance><ID>7</ID><start>x</start>"
                                      "<code>a</code></instance><instance><start>1</start>"
                                      "</instance></ALL_INSTANCES></file>"));
    EXPECT_TRUE(read.tags.empty());
    EXPECT_THAT(read.problems, Contains(HasSubstr("ID 7")));
    EXPECT_THAT(read.problems, Contains(HasSubstr("コードのない")));
}

// Our own tags as written (the file in full, another tool's moments, the
// Rucktag label with the exact times), and every field read back from it.
TEST(XmlEditListRoundTrip, EveryFieldExact) {
    std::vector<std::shared_ptr<TagRowData>> tags{
        tag(true, 0.1f, "スクラム", "line one\nline two\r\nthree"),
        tag(false, 65.4999924f, "A スクラム", "  <&>\"' spaces kept  "),
        tag(true, 754.25f, "Team", ""),
        tag(false, 3600.333f, "トライ", "\t"),
        tag(true, 5000.0f, "チェック", "past the end"),
        tag(false, 1e-5f, "ラック", ""),
    };
    tags[0]->end = TagEnd::at(12.3456789f);
    tags[1]->labels = {{"Team", "Japan"}, {"Rucktag", "t=1"}, {"結果", "a;b=c / d"}};
    tags[2]->end.state = TagEnd::State::Open;
    tags[3]->labels = {{"ラベル", "x"}, {"Player", "10"}};
    tags[3]->end = TagEnd::at(3600.333f); // an end at its own start
    tags[4]->end = TagEnd::at(5010.0f);

    const std::string text = golden("editlist-rucktag.xml");
    EXPECT_EQ(editListText(tags, 8.0, 4.0, 4000.0), text);
    const EditList list = readEditList(text);
    EXPECT_TRUE(list.mended.empty());
    EXPECT_TRUE(list.unknownElements.empty());
    const EditListTags read = tagsFromEditList(list);
    EXPECT_TRUE(read.problems.empty());
    ASSERT_EQ(read.tags.size(), tags.size());
    // Read back in time order, which is how these were made but for the last.
    const std::vector<size_t> order{5, 0, 1, 2, 3, 4};
    for (size_t i = 0; i < tags.size(); ++i) {
        const TagRowData& want = *tags[order[i]];
        const ImportedTag& got = read.tags[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(got.team, std::optional<bool>(want.team));
        EXPECT_EQ(got.tag->time_string, want.time_string);
        EXPECT_EQ(tagLine(*got.tag), tagLine(want)); // team, times to the bit, texts
    }

    // Imported again: every tag is already there.
    const std::vector<bool> again = findDuplicates(tags, read.tags);
    EXPECT_EQ(std::count(again.begin(), again.end(), true), 6);
    tags[3]->end = {};
    EXPECT_FALSE(findDuplicates(tags, read.tags)[4]);
    tags[0]->end = TagEnd::at(12.5f); // another end of the same tag
    EXPECT_FALSE(findDuplicates(tags, read.tags)[1]);
}

// The writer's own number and text forms: the Rucktag label is floatText's
// text of the time (every float of a wide sample, both sides of where it
// turns to exponents), and element text escaped, what XML cannot carry as
// U+FFFD.
TEST(XmlEditListExport, MarkerAndEscapesAsWritten) {
    std::vector<float> times{0.0f,        1e-5f,       0.0001f,    std::nextafter(0.0001f, 0.0f),
                             16777216.0f, 16777218.0f, 8388607.5f, 12345680.0f,
                             0.1f,        5.0f};
    uint32_t bits = 0x3a000000; // from about 0.0005 to 2^25, in uneven strides
    for (int i = 0; i < 4000; ++i, bits += 75497)
        std::memcpy(&times.emplace_back(), &bits, sizeof bits);
    std::vector<std::shared_ptr<TagRowData>> tags;
    for (float t : times) {
        tags.push_back(tag(true, t, "PG", ""));
        tags.back()->end = TagEnd::at(t * 2);
    }
    const EditList list = readEditList(editListText(tags, 8.0, 4.0));
    ASSERT_EQ(list.instances.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        ASSERT_EQ(list.instances[i].labels.size(), 2u);
        ASSERT_EQ(list.instances[i].labels[1].second,
                  "t=" + floatText(times[i]) + ";e=" + floatText(times[i] * 2))
            << times[i];
    }

    auto odd = tag(false, 1.0f, "A&B",
                   "a\x01"
                   "b\xff\xfe"
                   "c&<>\r\n\t\xe3\x81\x82\xed\xa0\x80");
    const std::string text = editListText({odd}, 0, 0);
    EXPECT_THAT(text, HasSubstr("<code>A&amp;B</code>"));
    EXPECT_THAT(text, HasSubstr("<free_text>a\uFFFDb\uFFFD\uFFFDc&amp;&lt;&gt;&#13;\n\t\u3042\uFFFD"
                                "\uFFFD\uFFFD</free_text>"));
    EXPECT_THAT(text, HasSubstr("<row><code>A&amp;B</code><R>32896</R>"));
}

TEST(XmlEditListExport, CodeWindowColoursAndLeads) {
    CodeWindow window = CodeWindow::standard().duplicate("7人制");
    Code carry;
    carry.name = "Carry";
    carry.color = "#123456";
    carry.lead = 1.0;
    carry.lag = 2.0;
    window.codes.push_back(carry);
    // The code's own 1 s and 2 s, its colour in 16 bits a channel.
    const std::string text = editListText({tag(true, 10.0f, "Carry")}, 8.0, 4.0, INFINITY, &window);
    EXPECT_THAT(text, HasSubstr("<start>9.0</start>\n      <end>12.0</end>"));
    EXPECT_THAT(text, HasSubstr("<row><code>Carry</code><R>4626</R><G>13364</G><B>22102</B></row>\n"
                                "  </ROWS>"));
}

TEST(XmlEditListVideo, FoundBesideTheSessionByItsRule) {
    const fs::path dir = freshScratchDir("rucktag-xml-");
    std::ofstream(dir / "match..final.MP4") << "x";
    std::ofstream(dir / "match.final.txt") << "x";
    std::ofstream(dir / "other.mp4") << "x";
    EXPECT_EQ(videoBesideSession((dir / "match.final.csv").string()),
              (dir / "match..final.MP4").string());
    EXPECT_EQ(videoBesideSession((dir / "none.csv").string()), "");
    fs::remove_all(dir);
}

// Times no video has (NaN, infinities, overflow, negative, an end before the
// start, a bad Rucktag label) are left out and named by line; the rest come.
TEST(XmlEditListImport, TimesNoVideoHasAreLeftOutByLine) {
    const EditList list = readEditList(golden("hostile/bad-times.xml"));
    const EditListTags read = tagsFromEditList(list, 3600.0);
    std::vector<std::pair<std::string, float>> got;
    for (const ImportedTag& t : read.tags)
        got.emplace_back(t.tag->name, t.tag->time_val);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, float>>{{"b", 2}, {"a", 3}, {"a", 6}}));
    EXPECT_THAT(read.problems,
                Contains(HasSubstr("終了が開始より前のインスタンスを読みませんでした: 7 件 "
                                   "(5 行目 (ID 1), 6 行目 (ID 2)")));
    EXPECT_THAT(read.problems,
                Contains(HasSubstr("動画の終わりより後に始まるインスタンスを読みませんでした: "
                                   "1 件 (16 行目 (ID 10))")));
    EXPECT_THAT(read.problems,
                Contains(HasSubstr("Rucktag ラベルが読めず、開始時刻を使いました: 2 件")));
    for (const ImportedTag& t : read.tags)
        EXPECT_EQ(t.tag->labels.size() == 1 && hasExactRange(*t.tag), t.tag->end.isSet())
            << t.tag->name;
    // The video's length unknown: only the times themselves are judged.
    EXPECT_EQ(tagsFromEditList(list).tags.size(), 4u);
}

// Another tool's instance is already a clip: its range is its moment, with no
// second lead and lag; the team's label is the team, not a label.
TEST(XmlEditListImport, ForeignRangeIsItsOwnMomentAndTheTeamLabelIsConsumed) {
    const EditList list = readEditList(
        "<file><ALL_INSTANCES><instance><start>10</start><end>20</end><code>ラック</code>"
        "<label><group>Team</group><text>A</text></label>"
        "<label><group>team</group><text>a</text></label>"
        "<label><group>チーム</group><text>B</text></label></instance>"
        "<instance><start>30</start><end>30</end><code>B\u3000PG</code></instance>"
        "</ALL_INSTANCES></file>");
    const EditListTags read = tagsFromEditList(list);
    ASSERT_EQ(read.tags.size(), 2u);
    const TagRowData& ruck = *read.tags[0].tag;
    EXPECT_TRUE(*read.tags[0].team);
    EXPECT_EQ(ruck.labels, (TagLabels{{"チーム", "B"}, {"Rucktag", "範囲"}}));
    // The team from the code's prefix, after an ideographic space.
    EXPECT_EQ(read.tags[1].tag->name, "PG");
    EXPECT_EQ(read.tags[1].team, std::optional<bool>(false));
    // The range as it is; the instant with the lead and the lag around it.
    const std::vector<Moment> moments = makeMoments({read.tags[0].tag, read.tags[1].tag}, 8, 4, 40);
    ASSERT_EQ(moments.size(), 2u);
    EXPECT_EQ(std::make_pair(moments[0].start, moments[0].end), std::make_pair(10.0, 20.0));
    EXPECT_EQ(std::make_pair(moments[1].start, moments[1].end), std::make_pair(22.0, 34.0));
    // Written and read again: the same range, still its own moment.
    const EditListTags again =
        tagsFromEditList(readEditList(editListText({read.tags[0].tag}, 8, 4)));
    ASSERT_EQ(again.tags.size(), 1u);
    EXPECT_EQ(again.tags[0].tag->labels, ruck.labels);
    EXPECT_EQ(tagMoment(*again.tags[0].tag, 8, 4, INFINITY), (std::pair<double, double>{10, 20}));
}

// NUL bytes are removed and told; each note names the lines it happened on
// once, and a file cut short says where.
TEST(XmlEditListImport, MendedNotesNameEachLine) {
    const EditList list = readEditList(golden("hostile/notes.xml"));
    ASSERT_EQ(list.instances.size(), 2u);
    EXPECT_EQ(list.instances[0].code, "Scrum");
    EXPECT_EQ(list.instances[0].freeText, "ab");
    EXPECT_THAT(list.mended, Contains(HasSubstr("制御文字 (NUL など) を取り除きました (2 行目)")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("U+FFFD にしました (3, 5 行目)")));
    EXPECT_THAT(list.mended, Contains(HasSubstr("までを読みました (7 行目)")));
}

// Files crafted to be slow or large read in time linear in their size, or
// are refused at once, with the reason.
TEST(XmlEditListLimits, CraftedFilesReadQuicklyOrAreRefused) {
    const std::map<std::string, std::string> refusal = {
        {"deep", "入れ子が深すぎる"},
        {"labels", "ラベルが多すぎる"},
        {"instances", "インスタンスが多すぎる"},
    };
    for (const auto& [name, text] : hostile::craftedEditLists()) {
        // A guard against the quadratic paths (minutes), not a speed target:
        // bench_xml measures these files.
        Deadline deadline(20, "reading a crafted edit list");
        const EditList list = readEditList(text);
        const EditListTags read = tagsFromEditList(list);
        const auto it = refusal.find(name);
        if (it == refusal.end()) {
            EXPECT_EQ(list.refused, "") << name;
        } else {
            EXPECT_THAT(list.refused, HasSubstr(it->second));
            EXPECT_TRUE(list.instances.empty() && read.tags.empty()) << name;
        }
    }
    const auto lists = hostile::craftedEditLists();
    const EditList unknown = readEditList(lists[2].second);
    EXPECT_EQ(unknown.unknownElements.size(), 50u);
    EXPECT_THAT(unknown.mended, Contains(HasSubstr("ほかにも知らない項目が 99950 種類")));
    // An instance whose tag could not be written again whole is left out;
    // one label fewer and it goes there and back.
    const EditListTags crowded = tagsFromEditList(readEditList(lists[4].second));
    EXPECT_TRUE(crowded.tags.empty());
    EXPECT_THAT(crowded.problems,
                Contains(HasSubstr("ラベルが多すぎるインスタンスを読みませんでした: 60 件")));
    auto full = std::make_shared<TagRowData>();
    full->name = "PG";
    for (size_t i = 0; i + 2 < kMaxLabelsPerInstance; ++i)
        full->labels.emplace_back("g" + std::to_string(i), "t");
    const EditListTags back = tagsFromEditList(readEditList(editListText({full}, 8, 4)));
    ASSERT_EQ(back.tags.size(), 1u);
    EXPECT_EQ(back.tags[0].tag->labels, full->labels);
    // A cancelled read keeps nothing.
    EXPECT_EQ(readEditList(lists[1].second, [](size_t, size_t) { return false; }).refused,
              "読込を取り消しました");
    // Asked only after a whole step is read: a short file is read through.
    EXPECT_EQ(readEditList("<file/>", [](size_t, size_t) { return false; }).refused, "");

    // A 500 MB file is refused by its size before a byte is read.
    const fs::path big = freshScratchDir("rucktag-xml-big-") / "big.xml";
    { std::ofstream(big) << "<file>"; }
    fs::resize_file(big, size_t(500) << 20);
    const auto start = std::chrono::steady_clock::now();
    const EditList refused = readEditListFile(big.string());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.1);
    EXPECT_EQ(refused.refused,
              "ファイルが大きすぎるため、読み込みませんでした (500 MB、読み込めるの"
              "は 64 MB まで)");
    fs::remove_all(big.parent_path());
}

// A code of megabytes is no code a person chose: left out and named, so no
// list, button or session file ever has to hold it.
TEST(XmlEditListImport, ACodeTooLongIsLeftOutAndNamed) {
    const std::string longest(kMaxImportedCodeBytes, 'x');
    const EditList list = readEditList("<file><ALL_INSTANCES><instance><ID>1</ID><start>1</start>"
                                       "<code>" +
                                       std::string(5 << 20, 'x') +
                                       "</code></instance><instance><ID>2</ID><start>2</start>"
                                       "<code>" +
                                       longest + "</code></instance></ALL_INSTANCES></file>");
    const EditListTags read = tagsFromEditList(list);
    ASSERT_EQ(read.tags.size(), 1u);
    EXPECT_EQ(read.tags[0].tag->name, longest);
    ASSERT_EQ(read.problems.size(), 1u);
    EXPECT_EQ(read.problems[0].rfind(
                  "コードが長すぎる (256 バイトまで) インスタンスを読みませんでした: 1 件", 0),
              0u)
        << read.problems[0];
}
