#pragma once

#include "SledViewModel.h"
#include "VornTestForwardingProvider.h"
#include "VornTestMemoryProvider.h"
#include "VornTestSupport.h"

#include <QCoreApplication>
#include <QTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A clipboard of our own, so tests neither read nor change the desktop's.
class ModelTestClipboard final : public SledClipboardAccess {
public:
    std::optional<std::string> value;
    std::optional<std::string> text() override { return value; }
    void setText(const std::string& text) override { value = text; }
};

class ModelTestRevealer final : public SledFileRevealer {
public:
    std::vector<std::filesystem::path> revealed;
    void reveal(const std::filesystem::path& item) override { revealed.push_back(item); }
};

// Waits (events running) until `done` holds; a generous bound only keeps a broken build from
// hanging the suite, it measures nothing.
inline bool modelWaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60'000);
}

// Every toast a model shows, in order.
class ModelToastLog {
public:
    explicit ModelToastLog(SledViewModel& model) : model_(model) {
        QObject::connect(&model, &SledViewModel::toastShown, &context_, [this] {
            messages.push_back({model_.toastMessage().value_or(""), model_.toastIsError()});
        });
    }
    struct Toast {
        std::string text;
        bool isError = false;
    };
    std::vector<Toast> messages;
    bool waitForCount(std::size_t count) {
        return modelWaitFor([&] { return messages.size() >= count; });
    }
    std::string last() const { return messages.empty() ? std::string() : messages.back().text; }

private:
    SledViewModel& model_;
    QObject context_;  // ends the connection with the log
};

// A workspace on temporary folders: the profile store, both panes' start folders, and a clipboard
// of its own. LAN services stay off unless a test starts them.
class ModelTest : public ::testing::Test {
protected:
    VornTestTempDir data;
    VornTestTempDir left;
    VornTestTempDir right;
    std::shared_ptr<ModelTestClipboard> clipboard = std::make_shared<ModelTestClipboard>();
    std::shared_ptr<ModelTestRevealer> revealer = std::make_shared<ModelTestRevealer>();

    SledModelEnvironment environment() const {
        SledModelEnvironment environment;
        environment.dataFolder = data.path();
        environment.leftStartPath = left.path().string();
        environment.rightStartPath = right.path().string();
        environment.clipboard = clipboard;
        environment.revealer = revealer;
        environment.startLANServicesOnLaunch = false;
        environment.advertiseLANServer = false;
        return environment;
    }

    std::unique_ptr<SledViewModel> makeModel(SledModelEnvironment environment) {
        auto model = std::make_unique<SledViewModel>(std::move(environment));
        waitForListing(*model->leftPane());
        waitForListing(*model->rightPane());
        return model;
    }
    std::unique_ptr<SledViewModel> makeModel() { return makeModel(environment()); }

    static void waitForListing(PaneBrowserState& pane) {
        ASSERT_TRUE(modelWaitFor([&] { return !pane.isLoading(); }));
    }
    static std::vector<std::string> names(const std::vector<SledFileEntry>& entries) {
        std::vector<std::string> result;
        for (const SledFileEntry& entry : entries) {
            result.push_back(entry.name);
        }
        return result;
    }
    static const SledFileEntry& entryNamed(const PaneBrowserState& pane, const std::string& name) {
        for (const SledFileEntry& entry : pane.entries()) {
            if (entry.name == name) {
                return entry;
            }
        }
        throw std::runtime_error("no entry named " + name);
    }
    static void select(PaneBrowserState& pane, const std::vector<std::string>& names) {
        std::set<std::string> paths;
        for (const std::string& name : names) {
            paths.insert(entryNamed(pane, name).path);
        }
        pane.setSelectedPaths(paths);
    }
};

// A profile whose storage is an in-memory store of the test, for races that a real back end
// cannot be held still for (the store's gates stop one call until the test opens them).
struct ModelMemoryRemote {
    ConnectionProfile profile;
    VornTestMemoryProvider store{"Memory Store"};

    ModelMemoryRemote() {
        profile.id = VornUUID::random();
        profile.name = "Gated store";
        profile.kind = ConnectionProtocolKind::sftp;
        profile.initialRemotePath = "/";
    }
    // A factory that answers for this profile and leaves every other endpoint to the usual one.
    SledProviderFactory factory() const {
        const VornUUID id = profile.id;
        const VornTestMemoryProvider store = this->store;
        return [id, store](const PaneEndpoint& endpoint, const ConnectionProfile*,
                           const std::optional<std::string>&) -> std::shared_ptr<SledStorageProvider> {
            if (endpoint.profileID() && *endpoint.profileID() == id) {
                return std::make_shared<VornTestMemoryProvider>(store);
            }
            return nullptr;
        };
    }
    PaneEndpoint endpoint() const { return PaneEndpoint::remote(profile.id); }
    // Writes the profile into the store folder before the model reads it.
    void install(const std::filesystem::path& dataFolder) const {
        SledProfileRepository repository(dataFolder);
        repository.saveProfiles({profile});
    }
};
