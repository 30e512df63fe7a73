#include "VornSuiteCommandBus.h"

#include "VornRandom.h"
#include "VornSuiteCoding.h"
#include "VornXDG.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr double listenerMaxAgeSeconds = 25;
constexpr unsigned startupPickupMilliseconds = 350;

}  // namespace

VornSuiteCommandEnvelope VornSuiteCommandEnvelope::fromJSON(const nlohmann::json& value) {
    const detail::SuiteReader r(value, "VornSuiteCommandEnvelope");
    VornSuiteCommandEnvelope envelope;
    const std::string id = r.string("id");
    const std::optional<VornUUID> uuid = VornUUID::fromString(id);
    if (!uuid) {
        throw VornDecodingError(r.path("id") + ": not a UUID");
    }
    envelope.id = *uuid;
    envelope.timestamp = r.date("timestamp");
    envelope.sourceApp = vornJSONGetEnum<VornSuiteApp>(r.value("sourceApp"), r.path("sourceApp"));
    envelope.targetApp = vornJSONGetEnum<VornSuiteApp>(r.value("targetApp"), r.path("targetApp"));
    envelope.kind = vornJSONGetEnum<VornSuiteCommandKind>(r.value("kind"), r.path("kind"));
    if (r.has("targetPID")) {
        envelope.targetPID = r.int32("targetPID");
    }
    envelope.targetName = r.optionalString("targetName");
    envelope.payload = r.optionalString("payload");
    return envelope;
}

nlohmann::ordered_json VornSuiteCommandEnvelope::toJSON() const {
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    o["id"] = id.uuidString();
    o["timestamp"] = detail::suiteDateText(timestamp);
    o["sourceApp"] = rawValue(sourceApp);
    o["targetApp"] = rawValue(targetApp);
    o["kind"] = rawValue(kind);
    if (targetPID) {
        o["targetPID"] = *targetPID;
    }
    if (targetName) {
        o["targetName"] = *targetName;
    }
    if (payload) {
        o["payload"] = *payload;
    }
    return o;
}

std::optional<VornSuiteCommandEnvelope> VornSuiteCommandEnvelope::decode(std::string_view text) {
    return detail::suiteDecode<VornSuiteCommandEnvelope>(text);
}

std::optional<std::string> VornSuiteCommandEnvelope::encode() const { return detail::suiteText(toJSON()); }

VornSuiteCommandBus::VornSuiteCommandBus(const std::optional<fs::path>& baseDirectory)
    : commandsDirectory_((baseDirectory ? *baseDirectory : VornXDG::makerFolder() / "SuiteTelemetry") / "Commands") {}

VornSuiteCommandBus& VornSuiteCommandBus::shared() {
    static VornSuiteCommandBus bus;
    return bus;
}

fs::path VornSuiteCommandBus::commandFile(VornSuiteApp app) const {
    return commandsDirectory_ / (VornSuiteApps::lowerName(app) + "-cmd.json");
}

std::string VornSuiteCommandBus::notificationName(VornSuiteApp app) {
    return "com.vornworks.suite.command." + VornSuiteApps::lowerName(app);
}

bool VornSuiteCommandBus::send(VornSuiteCommandKind kind, VornSuiteApp from, VornSuiteApp to,
                               std::optional<std::int32_t> targetPID, std::optional<std::string> targetName,
                               std::optional<std::string> payload, bool launchIfNeeded, bool bringToFront) const {
    if (targetPID && *targetPID <= 1) {
        return false;
    }
    const bool running = VornSuiteApps::isRunning(to);
    if (!running && !(launchIfNeeded && VornSuiteApps::isInstalled(to))) {
        return false;
    }
    VornSuiteCommandEnvelope envelope;
    try {
        envelope.id = VornUUID::random();
    } catch (const std::exception&) {
        return false;
    }
    envelope.timestamp = vornDateNow();
    envelope.sourceApp = from;
    envelope.targetApp = to;
    envelope.kind = kind;
    envelope.targetPID = targetPID;
    envelope.targetName = std::move(targetName);
    envelope.payload = std::move(payload);
    if (!enqueue(envelope)) {
        return false;
    }
    if (running) {
        VornSuiteNotifications::post(notificationName(to));
        if (bringToFront) {
            VornSuiteApps::launch(to);
        }
        return true;
    }
    // Started from its entry, the target finds the file when it begins listening. A desktop entry
    // gives no way to start without raising; bringToFront only matters for a running target here.
    return VornSuiteApps::openInstalled(to);
}

bool VornSuiteCommandBus::enqueue(const VornSuiteCommandEnvelope& envelope) const {
    const std::optional<std::string> text = envelope.encode();
    return text && detail::suiteWriteFile(commandFile(envelope.targetApp), *text);
}

namespace {

std::optional<VornSuiteCommandEnvelope> validCommand(const std::optional<std::string>& data, VornSuiteApp app,
                                                     VornDate now, double maxAgeSeconds) {
    if (!data) {
        return std::nullopt;
    }
    std::optional<VornSuiteCommandEnvelope> envelope = VornSuiteCommandEnvelope::decode(*data);
    if (!envelope || envelope->targetApp != app) {
        return std::nullopt;
    }
    const double age = std::fabs(std::chrono::duration<double>(now - envelope->timestamp).count());
    if (!(age <= maxAgeSeconds)) {
        return std::nullopt;
    }
    return envelope;
}

}  // namespace

std::optional<VornSuiteCommandEnvelope> VornSuiteCommandBus::peekPendingCommand(VornSuiteApp app, VornDate now,
                                                                               double maxAgeSeconds) const {
    return validCommand(detail::suiteReadFile(commandFile(app)), app, now, maxAgeSeconds);
}

std::optional<VornSuiteCommandEnvelope> VornSuiteCommandBus::consumePendingCommand(VornSuiteApp app, VornDate now,
                                                                                  double maxAgeSeconds) const {
    // Claim the file under a name nobody else writes, so that a command written after this moment
    // lands in a new file instead of being deleted unread with the one being consumed.
    const fs::path slot = commandFile(app);
    std::uint64_t nonce = 0;
    try {
        vornRandomBytes(&nonce, sizeof nonce);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".claimed-%ld-%016llx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(nonce));
    const fs::path claimed = commandsDirectory_ / ("." + slot.filename().string() + suffix);
    if (std::rename(slot.c_str(), claimed.c_str()) != 0) {
        return std::nullopt;
    }
    const std::optional<std::string> data = detail::suiteReadFile(claimed);
    std::error_code error;
    fs::remove(claimed, error);
    return validCommand(data, app, now, maxAgeSeconds);
}

VornSuiteObserverToken VornSuiteCommandBus::startListening(VornSuiteApp app, Handler handler) const {
    const VornSuiteCommandBus bus = *this;  // the folder is all a listener needs
    auto pickUp = [bus, app, handler] {
        if (std::optional<VornSuiteCommandEnvelope> envelope =
                bus.consumePendingCommand(app, vornDateNow(), listenerMaxAgeSeconds)) {
            handler(*envelope);
        }
    };
    const VornSuiteObserverToken token =
        VornSuiteNotifications::observe(notificationName(app), [pickUp](const std::optional<std::string>&) { pickUp(); });
    VornSuiteNotifications::after(startupPickupMilliseconds, pickUp);
    return token;
}
