#include "ModelTestSupport.h"

#include "../../VornSledCore/S3/S3ProviderTestSupport.h"
#include "SFTPTestSupport.h"
#include "SledCredentialStore.h"
#include "VornChecksum.h"
#include "VornFileIO.h"

#include <QSignalSpy>

#include <chrono>
#include <fstream>
#include <random>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// Every row of the plan as "<action> <relative name>".
std::vector<std::string> planRows(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SyncPlanItem& item : model.syncPlanItems()) {
        rows.push_back(rawValue(item.action()) + " " + item.relativeName());
    }
    return rows;
}

// The rows that would do something.
std::vector<std::string> workRows(const SledViewModel& model) {
    std::vector<std::string> rows;
    for (const SyncPlanItem& item : model.syncPlanItems()) {
        if (item.action() != SyncActionKind::identicalSkip) {
            rows.push_back(rawValue(item.action()) + " " + item.relativeName());
        }
    }
    return rows;
}

void setModifiedTime(const fs::path& file, fs::file_time_type when) { fs::last_write_time(file, when); }

fs::file_time_type fileTime(std::chrono::system_clock::time_point when) {
    return std::chrono::file_clock::from_sys(when);
}

unsigned permissionsOf(const fs::path& file) {
    struct stat status {};
    EXPECT_EQ(::lstat(file.c_str(), &status), 0) << file;
    return status.st_mode & 07777;
}

enum class Counterpart { local, sftp };

void PrintTo(Counterpart counterpart, std::ostream* out) {
    *out << (counterpart == Counterpart::local ? "this disk" : "SFTP");
}

}  // namespace

// Syncs between a bucket of the SigV4-checking S3 server and a folder on this disk or on the
// loopback sshd, through the workspace model, the bucket's secret in the keyring daemon.
class ModelBucketSyncTest : public ModelTest, public ::testing::WithParamInterface<Counterpart> {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        VORN_REQUIRE_SERVICE("s3");
        if (GetParam() == Counterpart::sftp) {
            VORN_REQUIRE_SERVICE("sshd");
        }
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
        auto environment = this->environment();
        environment.providerFactory = sftpTestProviderFactory();
        model_ = makeModel(environment);
        bucketProfile_ = s3TestProfile();
        save(bucketProfile_, VornTestServices::value("S3_SECRET_KEY"));
        secretSaved_ = true;
        bucketFolder_ = s3TestFolder();
        if (GetParam() == Counterpart::local) {
            root_ = left.path();
            return;
        }
        static std::mt19937_64 random{std::random_device{}()};
        root_ = fs::path(VornTestServices::value("SSHD_HOME")) / ("bucket-sync-" + std::to_string(random() % 1'000'000'000ULL));
        fs::create_directories(root_);
        fs::permissions(root_, fs::perms::all, fs::perm_options::replace);
        ConnectionProfile server = sftpTestProfile();
        server.id = VornUUID::random();
        save(server, std::nullopt);
        model_->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(server.id), root_.string()},
                               model_->leftPane());
        waitForListing(*model_->leftPane());
    }
    void TearDown() override {
        model_.reset();
        if (secretSaved_) {
            SledCredentialStore::deleteSecret(bucketProfile_.id);
        }
        if (GetParam() == Counterpart::sftp && !root_.empty()) {
            std::error_code ignored;
            fs::remove_all(root_, ignored);
        }
    }

    void save(const ConnectionProfile& profile, const std::optional<std::string>& secret) {
        ModelToastLog toasts(*model_);
        model_->saveProfile(profile, secret);
        ASSERT_TRUE(toasts.waitForCount(1));
        ASSERT_FALSE(toasts.messages.back().isError) << toasts.last();
    }

    // Writes a file of the counterpart folder as its login can read and replace it.
    fs::path writeHere(const std::string& relative, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
        const fs::path file = root_ / relative;
        fs::create_directories(file.parent_path());
        if (GetParam() == Counterpart::sftp) {
            for (fs::path folder = file.parent_path(); folder != root_; folder = folder.parent_path()) {
                fs::permissions(folder, fs::perms::all, fs::perm_options::replace);
            }
        }
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        fs::permissions(file, mode, fs::perm_options::replace);
        return file;
    }

    void showBucket() {
        model_->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(bucketProfile_.id), bucketFolder_},
                               model_->rightPane());
        waitForListing(*model_->rightPane());
        ASSERT_FALSE(model_->rightPane()->errorMessage().has_value()) << *model_->rightPane()->errorMessage();
    }

    void preview(SyncDirectionMode mode) {
        model_->setSyncMode(mode);
        model_->recomputeSyncPlan();
        ASSERT_TRUE(modelWaitFor([&] { return !model_->isComputingSyncPlan(); }));
        ASSERT_FALSE(model_->syncPlanError().has_value()) << *model_->syncPlanError();
    }

    // Runs the plan shown and waits for its `batches` copy batches.
    void run(int batches) {
        QSignalSpy finished(model_.get(), &SledViewModel::transferBatchFinished);
        model_->executeSyncPlan();
        ASSERT_TRUE(modelWaitFor([&] { return finished.count() == batches; }));
        ASSERT_TRUE(modelWaitFor([&] { return !model_->isSyncingOrTransferring(); }));
        for (const SledTransferRecord& record : model_->transfers()) {
            EXPECT_EQ(record.status, SledTransferStatus::completed) << record.fileName << ": "
                                                                   << record.errorMessage.value_or("");
        }
    }

    // Every mode's preview finds nothing to do, and so does one of the two listings on screen.
    void expectSettled(std::size_t files) {
        for (const SyncDirectionMode mode : {SyncDirectionMode::mirrorLeftToRight, SyncDirectionMode::mirrorRightToLeft,
                                             SyncDirectionMode::twoWayUpdate}) {
            SCOPED_TRACE(rawValue(mode));
            preview(mode);
            EXPECT_EQ(workRows(*model_), std::vector<std::string>{});
            EXPECT_EQ(model_->syncPlanItems().size(), files);
        }
        model_->refresh(model_->leftPane());
        model_->refresh(model_->rightPane());
        waitForListing(*model_->leftPane());
        waitForListing(*model_->rightPane());
        model_->setSyncIncludeSubfolders(false);
        preview(SyncDirectionMode::twoWayUpdate);
        EXPECT_EQ(workRows(*model_), std::vector<std::string>{});
        EXPECT_EQ(model_->syncPlanItems().size(), files - 1);  // not sub/b.txt
        model_->setSyncIncludeSubfolders(true);
    }

    std::unique_ptr<SledViewModel> model_;
    ConnectionProfile bucketProfile_;
    std::string bucketFolder_;
    fs::path root_;  // the counterpart's folder, on this disk either way

private:
    std::optional<VornScopedEnv> bus_;
    bool secretSaved_ = false;
};

// After each kind of sync the next preview is empty, however the bucket's times differ from the
// files', and a later same-size edit on either side is still planned, one way or the other.
// Downloads that replace a file keep its permission bits (never set-user); a new one gets the
// defaults; every downloaded file carries its object's time.
TEST_P(ModelBucketSyncTest, EverySyncSettlesAndALaterSameSizeEditIsStillPlanned) {
    const bool local = GetParam() == Counterpart::local;
    const fs::file_time_type longAgo = fileTime(std::chrono::sys_days{std::chrono::year{2020} / 1 / 1});
    writeHere("a.txt", "alpha");
    writeHere("run.sh", "echo 1\n", fs::perms(local ? 04755 : 0755));
    writeHere("sub/b.txt", "beta");
    if (local) {
        writeHere("private.txt", "secret", fs::perms(0600));
    }
    const std::size_t files = local ? 4 : 3;
    for (const fs::path& file : fs::recursive_directory_iterator(root_)) {
        if (fs::is_regular_file(file)) {
            setModifiedTime(file, longAgo);
        }
    }
    showBucket();

    // Up: the objects' times are now, the files' six years ago; their bytes are the same.
    preview(SyncDirectionMode::mirrorLeftToRight);
    ASSERT_EQ(workRows(*model_).size(), files);
    run(1);
    expectSettled(files);

    // Down: a new object comes down with its own time, the files already there stay.
    const S3R2StorageProvider bucket = s3TestProvider();
    const VornTestTempDir staging;
    bucket.uploadFile(staging.write("new", "fresh object"), bucketFolder_ + "/new.txt", std::nullopt, {}, {});
    preview(SyncDirectionMode::mirrorRightToLeft);
    ASSERT_EQ(workRows(*model_), std::vector<std::string>{"copyRightToLeft new.txt"});
    run(1);
    EXPECT_EQ(vornReadFile(root_ / "new.txt"), "fresh object");
    const auto listed = bucket.listDirectory(bucketFolder_, {});
    const auto object = std::find_if(listed.begin(), listed.end(), [](const SledFileEntry& entry) {
        return entry.name == "new.txt";
    });
    ASSERT_NE(object, listed.end());
    ASSERT_TRUE(object->modifiedAt.has_value());
    const auto downloadedAt = std::chrono::file_clock::to_sys(fs::last_write_time(root_ / "new.txt"));
    EXPECT_LT(std::chrono::abs(downloadedAt - *object->modifiedAt), std::chrono::seconds(1));
    if (local) {
        EXPECT_EQ(permissionsOf(root_ / "new.txt"), 0666u & ~vornTestUmask());
    }
    expectSettled(files + 1);

    // An edit here of the same size, made after the upload, goes up.
    writeHere("a.txt", "ALPHA");
    setModifiedTime(root_ / "a.txt", fileTime(std::chrono::system_clock::now() + std::chrono::hours(1)));
    preview(SyncDirectionMode::twoWayUpdate);
    ASSERT_EQ(workRows(*model_), std::vector<std::string>{"copyLeftToRight a.txt"});
    run(1);
    expectSettled(files + 1);

    // Edits of the same size in the bucket, newer than the files here, come down over them.
    bucket.uploadFile(staging.write("run", "echo 2\n"), bucketFolder_ + "/run.sh", std::nullopt, {}, {});
    std::vector<std::string> expected{"copyRightToLeft run.sh"};
    if (local) {
        bucket.uploadFile(staging.write("private", "SECRET"), bucketFolder_ + "/private.txt", std::nullopt, {}, {});
        expected.insert(expected.begin(), "copyRightToLeft private.txt");
    }
    preview(SyncDirectionMode::twoWayUpdate);
    ASSERT_EQ(workRows(*model_), expected);
    run(1);
    EXPECT_EQ(vornReadFile(root_ / "run.sh"), "echo 2\n");
    if (local) {
        EXPECT_EQ(vornReadFile(root_ / "private.txt"), "SECRET");
        EXPECT_EQ(permissionsOf(root_ / "private.txt"), 0600u);
        EXPECT_EQ(permissionsOf(root_ / "run.sh"), 0755u);
    }
    expectSettled(files + 1);
    EXPECT_EQ(vornReadFile(root_ / "a.txt"), "ALPHA");
}

// An object stored in parts is tagged with no digest of its bytes: the SHA-256 stored with it
// decides, one HEAD each, and where none is stored the pair is planned as its times say.
TEST_P(ModelBucketSyncTest, ObjectsStoredInPartsAreComparedByTheDigestStoredWithThem) {
    VORN_REQUIRE_TOOL("rclone");
    const VornTestTempDir staging;
    const Rclone rclone(staging);
    // Every upload in parts, from the first byte; `digest`: the SHA-256 header to store with it.
    const auto uploadInParts = [&](const std::string& name, const std::string& bytes,
                                   const std::optional<std::string>& digest) {
        const fs::path file = staging.write("parts-" + name, bytes);
        const std::string header =
            digest ? " --header-upload " + vornShellQuote("X-Amz-Meta-Vornsled-Sha256: " + *digest) : "";
        const VornShellResult result = rclone.run("--s3-upload-cutoff 0" + header + " copyto " +
                                                  vornShellQuote(file.string()) + " " +
                                                  Rclone::remote(bucketFolder_ + "/" + name));
        ASSERT_EQ(result.exitCode, 0) << result.output;
    };
    const fs::file_time_type longAgo = fileTime(std::chrono::sys_days{std::chrono::year{2020} / 1 / 1});
    for (const char* name : {"same.txt", "edited.txt", "untold.txt"}) {
        setModifiedTime(writeHere(name, "the same bytes"), longAgo);
    }
    uploadInParts("same.txt", "the same bytes", VornSHA256::hexDigest("the same bytes"));
    uploadInParts("edited.txt", "THE SAME BYTES", VornSHA256::hexDigest("THE SAME BYTES"));
    uploadInParts("untold.txt", "the same bytes", std::nullopt);
    showBucket();
    const std::vector<SledFileEntry>& objects = model_->rightPane()->entries();
    ASSERT_EQ(objects.size(), 3u);
    for (const SledFileEntry& object : objects) {
        ASSERT_TRUE(object.eTag.has_value());
        EXPECT_TRUE(object.eTag->ends_with("-1")) << *object.eTag;
    }

    preview(SyncDirectionMode::mirrorLeftToRight);
    EXPECT_EQ(planRows(*model_), (std::vector<std::string>{"copyLeftToRight edited.txt", "identicalSkip same.txt",
                                                           "copyLeftToRight untold.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Counterparts, ModelBucketSyncTest,
                         ::testing::Values(Counterpart::local, Counterpart::sftp),
                         [](const ::testing::TestParamInfo<Counterpart>& info) {
                             return info.param == Counterpart::local ? "ThisDisk" : "SFTP";
                         });
