#include "VornBuildInfo.h"
#include "VornBundle.h"
#include "VornReleaseLogReader.h"
#include "VornTestSupport.h"

#include <nlohmann/json.hpp>

namespace {

std::vector<std::string> summaries(const std::vector<VornReleaseLogRecord>& records) {
    std::vector<std::string> result;
    for (const auto& record : records) {
        result.push_back(record.summary);
    }
    return result;
}

}  // namespace

TEST(VornReleaseLogReader, EmptyObjectTakesEveryDefault) {
    const auto record = nlohmann::json::object().get<VornReleaseLogRecord>();
    EXPECT_EQ(record, VornReleaseLogRecord{});
    EXPECT_EQ(record.fromVersion, "0.0.0");
    EXPECT_EQ(record.toVersion, "1.0.0");
    EXPECT_EQ(record.fromBuild, 0);
    EXPECT_EQ(record.toBuild, 100);
    EXPECT_EQ(record.bumpKind, "patch");
    EXPECT_EQ(record.section, "Changed");
    EXPECT_TRUE(record.summary.empty() && record.details.empty() && record.summaryI18n.empty() &&
                record.detailsI18n.empty() && record.timestamp.empty() && record.gitCommit.empty());
    // Null counts as missing.
    EXPECT_EQ(nlohmann::json::parse(R"({"toBuild":null,"details":null})").get<VornReleaseLogRecord>(),
              VornReleaseLogRecord{});
    // Encoding writes all thirteen keys, empty ones too, and reads back the same record.
    const nlohmann::json encoded = record;
    EXPECT_EQ(encoded.size(), 13u);
    EXPECT_TRUE(encoded.contains("summary_i18n") && encoded.contains("details_i18n") && encoded.contains("gitCommit"));
    EXPECT_EQ(encoded.get<VornReleaseLogRecord>(), record);
}

TEST(VornReleaseLogReader, WronglyTypedFieldsFailTheRecord) {
    const char* broken[] = {
        R"({"toBuild":"57"})",          R"({"fromBuild":1.5})",       R"({"app":3})",
        R"({"details":["a",2]})",       R"({"summary_i18n":{"en":1}})", R"({"details_i18n":{"en":"x"}})",
        R"({"toBuild":18446744073709551615})", R"([1])",
    };
    for (const char* text : broken) {
        EXPECT_THROW((void)nlohmann::json::parse(text).get<VornReleaseLogRecord>(), nlohmann::json::exception) << text;
    }
}

TEST(VornReleaseLogReader, LoadsNewestFirstSkippingBadLinesAndFilteringByApp) {
    VornTestTempDir dir;
    const auto file = dir.write("release-log.jsonl",
                                R"({"app":"VornSled","summary":"A"})"
                                "\n"
                                "this is not json\n"
                                R"({"app":"vornsled","summary":"B","toBuild":"wrong"})"
                                "\n\n"
                                R"({"app":"VORNSLED","summary":"C"})"
                                "\n"
                                R"({"app":"Other","summary":"D"})"
                                "\n"
                                "{}\n"
                                "\xff\xfe{\n"
                                R"({"app":"vornsled","summary":"E"})");  // no final line feed
    EXPECT_EQ(summaries(VornReleaseLogReader::load(file, "VornSled")), (std::vector<std::string>{"E", "C", "A"}));
    EXPECT_EQ(summaries(VornReleaseLogReader::load(file, std::nullopt)),
              (std::vector<std::string>{"E", "", "D", "C", "A"}));
    EXPECT_TRUE(VornReleaseLogReader::load(file, "Nothing").empty());
    EXPECT_TRUE(VornReleaseLogReader::load(dir / "missing.jsonl", std::nullopt).empty());
    EXPECT_TRUE(VornReleaseLogReader::load(dir.path(), std::nullopt).empty());  // a folder
    EXPECT_TRUE(VornReleaseLogReader::load(dir.write("empty.jsonl", ""), std::nullopt).empty());
}

TEST(VornReleaseLogReader, PicksTheLanguageThenItsParentThenEnglish) {
    VornReleaseLogRecord record;
    record.summary = "base";
    record.details = {"base detail"};
    record.summaryI18n = {{"pt-PT", ""}, {"pt-BR", "brasil"}, {"en", "english"}, {"zh-Hans", "jian"}, {"tr", "türkçe"}};
    record.detailsI18n = {{"pt-PT", {}}, {"pt-BR", {"br1", "br2"}}, {"tr", {"tr1"}}};

    EXPECT_EQ(record.localizedSummary(VornLanguage::ptPT), "brasil");
    EXPECT_EQ(record.localizedSummary(VornLanguage::zhHant), "jian");
    EXPECT_EQ(record.localizedSummary(VornLanguage::tr), "türkçe");
    EXPECT_EQ(record.localizedSummary(VornLanguage::de), "english");
    EXPECT_EQ(record.localizedDetails(VornLanguage::ptPT), (std::vector<std::string>{"br1", "br2"}));
    EXPECT_EQ(record.localizedDetails(VornLanguage::de), std::vector<std::string>{"base detail"});
    // Only parents of the two regional languages are consulted.
    record.summaryI18n = {{"zh-Hant", "fan"}};
    EXPECT_EQ(record.localizedSummary(VornLanguage::zhHans), "base");
    record.summaryI18n.clear();
    record.summary.clear();
    EXPECT_EQ(record.localizedSummary(VornLanguage::en), "");
}

TEST(VornReleaseLogReader, IdentityAndShortDate) {
    VornReleaseLogRecord record;
    record.timestamp = "2026-03-01T09:15:02Z";
    record.app = "VornSled";
    record.toVersion = "2.1.0";
    record.toBuild = 57;
    EXPECT_EQ(record.id(), "2026-03-01T09:15:02Z-VornSled-2.1.0-57");
    EXPECT_EQ(record.shortDate(), "2026-03-01");
    record.timestamp = "2026-03";
    EXPECT_EQ(record.shortDate(), "2026-03");
    record.timestamp = "ÇĞİÖŞÜçğıöşü";
    EXPECT_EQ(record.shortDate(), "ÇĞİÖŞÜçğıö");
}

TEST(VornReleaseLogReader, TheShippedReleaseLogDescribesThisVersion) {
    const auto records = VornReleaseLogReader::loadBundled("vornsled", VornBundle::main());
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().toVersion, VORN_APP_VERSION);
    EXPECT_EQ(std::to_string(records.front().toBuild), VORN_APP_BUILD);
    EXPECT_FALSE(records.front().localizedSummary(VornLanguage::tr).empty());
    EXPECT_TRUE(VornReleaseLogReader::loadBundled(std::nullopt, VornBundle(std::nullopt, {}, "/nonexistent")).empty());
}
