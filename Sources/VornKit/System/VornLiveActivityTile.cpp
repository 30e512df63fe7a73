#include "VornLiveActivityTile.h"

#include "VornSuiteCoding.h"

#include <algorithm>

VornLiveActivityTile VornLiveActivityTile::make(VornSuiteApp app, VornDate timestamp, std::int32_t senderPID,
                                                std::string titleEN, std::string titleTR, std::string primaryMetric,
                                                std::optional<std::string> secondaryMetric,
                                                std::optional<double> progress, std::optional<std::string> symbolName,
                                                Tone tone, std::int64_t priority) {
    if (progress) {
        progress = std::min(*progress >= 0 ? *progress : 0.0, 1.0);
    }
    std::string symbol = symbolName ? std::move(*symbolName) : std::string(VornSuiteApps::symbolName(app));
    return VornLiveActivityTile{app,      timestamp,        senderPID, std::move(titleEN), std::move(titleTR),
                                std::move(primaryMetric), std::move(secondaryMetric), progress, std::move(symbol),
                                tone,     priority};
}

VornLiveActivityTile VornLiveActivityTile::fromJSON(const nlohmann::json& value) {
    const detail::SuiteReader r(value, "VornLiveActivityTile");
    return VornLiveActivityTile{vornJSONGetEnum<VornSuiteApp>(r.value("app"), r.path("app")),
                                r.date("timestamp"),
                                r.int32("senderPID"),
                                r.string("titleEN"),
                                r.string("titleTR"),
                                r.string("primaryMetric"),
                                r.optionalString("secondaryMetric"),
                                r.optionalNumber("progress"),
                                r.string("symbolName"),
                                vornJSONGetEnum<Tone>(r.value("tone"), r.path("tone")),
                                r.int64("priority")};
}

nlohmann::ordered_json VornLiveActivityTile::toJSON() const {
    nlohmann::ordered_json o = nlohmann::ordered_json::object();
    o["app"] = rawValue(app);
    o["timestamp"] = detail::suiteDateText(timestamp);
    o["senderPID"] = senderPID;
    o["titleEN"] = titleEN;
    o["titleTR"] = titleTR;
    o["primaryMetric"] = primaryMetric;
    if (secondaryMetric) {
        o["secondaryMetric"] = *secondaryMetric;
    }
    if (progress) {
        o["progress"] = *progress;
    }
    o["symbolName"] = symbolName;
    o["tone"] = rawValue(tone);
    o["priority"] = priority;
    return o;
}

std::optional<VornLiveActivityTile> VornLiveActivityTile::decode(std::string_view text) {
    return detail::suiteDecode<VornLiveActivityTile>(text);
}

std::optional<std::string> VornLiveActivityTile::encode() const { return detail::suiteText(toJSON()); }

bool VornLiveActivityTile::isFresh(VornDate now, double maxAgeSeconds) const {
    return detail::suiteIsFresh(timestamp, senderPID, now, maxAgeSeconds);
}
