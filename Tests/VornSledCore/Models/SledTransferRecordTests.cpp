#include "SledTransferRecord.h"
#include "VornJSON.h"

#include <gtest/gtest.h>

using nlohmann::json;

namespace {

SledTransferRecord sampleRecord() {
    return SledTransferRecord{.id = *VornUUID::fromString("6BA7B810-9DAD-11D1-80B4-00C04FD430C8"),
                              .fileName = "rapor.pdf",
                              .sourceLabel = "This Computer",
                              .destinationLabel = "s3://bucket",
                              .direction = SledTransferDirection::upload,
                              .status = SledTransferStatus::transferring,
                              .totalBytes = 200,
                              .transferredBytes = 50,
                              .createdAt = *vornDateFromISO8601("2026-03-01T09:15:02.481Z")};
}

}  // namespace

TEST(SledTransferRecord, FractionCompletedTable) {
    const struct {
        SledTransferStatus status;
        std::int64_t total;
        std::int64_t done;
        double fraction;
    } cases[] = {
        {SledTransferStatus::completed, 0, 0, 1.0},    {SledTransferStatus::completed, 100, 3, 1.0},
        {SledTransferStatus::failed, 100, 25, 0.25},   {SledTransferStatus::cancelled, 100, 100, 1.0},
        {SledTransferStatus::transferring, 100, 250, 1.0}, {SledTransferStatus::transferring, 100, -5, 0.0},
        {SledTransferStatus::queued, 0, 10, 0.0},      {SledTransferStatus::queued, -1, 10, 0.0},
        {SledTransferStatus::verifying, 3, 1, 1.0 / 3.0},
    };
    for (const auto& c : cases) {
        SledTransferRecord record = sampleRecord();
        record.status = c.status;
        record.totalBytes = c.total;
        record.transferredBytes = c.done;
        EXPECT_DOUBLE_EQ(record.fractionCompleted(), c.fraction) << rawValue(c.status) << " " << c.total << " " << c.done;
    }
}

TEST(SledTransferRecord, RawValuesMatchExactly) {
    EXPECT_EQ(allCases<SledTransferDirection>().size(), 6u);
    for (const SledTransferDirection direction : allCases<SledTransferDirection>()) {
        EXPECT_EQ(fromRawValue<SledTransferDirection>(rawValue(direction)), direction);
    }
    for (const SledTransferStatus status : allCases<SledTransferStatus>()) {
        EXPECT_EQ(fromRawValue<SledTransferStatus>(rawValue(status)), status);
    }
    EXPECT_EQ(rawValue(SledTransferDirection::remoteToRemote), "remoteToRemote");
    EXPECT_EQ(allCases<SledTransferStatus>().back(), SledTransferStatus::cancelled);
    for (const char* text : {"", "Upload", "UPLOAD", "upload ", "lansend"}) {
        EXPECT_FALSE(fromRawValue<SledTransferDirection>(text).has_value()) << text;
    }
    EXPECT_FALSE(fromRawValue<SledTransferStatus>("Completed").has_value());
}

TEST(SledTransferRecord, JSONWritesFieldsInOrderAndLeavesOutAbsentOptionals) {
    const SledTransferRecord record = sampleRecord();
    const auto written = record.toJSON();
    EXPECT_EQ(written.size(), 10u);
    EXPECT_EQ(vornJSONText(written),
              R"({"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8","fileName":"rapor.pdf","sourceLabel":"This Computer",)"
              R"("destinationLabel":"s3:\/\/bucket","direction":"upload","status":"transferring","totalBytes":200,)"
              R"("transferredBytes":50,"isSHA256Verified":false,"createdAt":794049302.481})");
    EXPECT_EQ(SledTransferRecord::fromJSON(json::parse(vornJSONText(written))), record);

    SledTransferRecord finished = record;
    finished.status = SledTransferStatus::completed;
    finished.sha256Hex = std::string(64, 'a');
    finished.isSHA256Verified = true;
    finished.errorMessage = "";
    finished.completedAt = record.createdAt + std::chrono::microseconds(1);
    EXPECT_EQ(finished.toJSON().size(), 13u);
    EXPECT_EQ(SledTransferRecord::fromJSON(json::parse(vornJSONText(finished.toJSON()))), finished);

    SledTransferRecord other = finished;
    other.completedAt = record.createdAt;
    EXPECT_NE(other, finished);
}

TEST(SledTransferRecord, ReadingRejectsUnknownRawValuesAndMissingKeys) {
    const json good = json::parse(vornJSONText(sampleRecord().toJSON()));
    const struct {
        const char* key;
        json value;  // null erases the key
    } cases[] = {
        {"direction", "Upload"}, {"status", "done"}, {"status", 3}, {"id", "6BA7B810"},
        {"fileName", nullptr},   {"createdAt", nullptr}, {"createdAt", "2026-03-01T09:15:02Z"},
        {"totalBytes", "200"},
    };
    for (const auto& c : cases) {
        json broken = good;
        if (c.value.is_null()) {
            broken.erase(c.key);
        } else {
            broken[c.key] = c.value;
        }
        EXPECT_THROW(SledTransferRecord::fromJSON(broken), VornDecodingError) << c.key << " " << c.value.dump();
    }
    json nulls = good;
    nulls["sha256Hex"] = nullptr;
    nulls["completedAt"] = nullptr;
    nulls["unknown"] = {1, 2};
    EXPECT_EQ(SledTransferRecord::fromJSON(nulls), sampleRecord());
}
