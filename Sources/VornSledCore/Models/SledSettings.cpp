#include "SledSettings.h"

#include "VornHostName.h"
#include "VornJSON.h"
#include "VornRandom.h"
#include "VornXDG.h"

namespace {

template <class T, class MakeDefault>
T valueOr(const std::optional<T>& value, MakeDefault makeDefault) {
    return value ? *value : makeDefault();
}

}  // namespace

SledSettings::SledSettings() : SledSettings(Values{}) {}

SledSettings::SledSettings(const Values& values)
    : parallelWorkers(clampParallelWorkers(values.parallelWorkers.value_or(4))),
      verifySHA256OnTransfer(values.verifySHA256OnTransfer.value_or(true)),
      lanDeviceName(valueOr(values.lanDeviceName, defaultDeviceName)),
      lanPort(values.lanPort.value_or(53318)),
      lanRequirePIN(values.lanRequirePIN.value_or(false)),
      lanPIN(valueOr(values.lanPIN, defaultLANPIN)),
      lanDownloadDirectory(valueOr(values.lanDownloadDirectory, defaultDownloadDirectory)),
      syncExcludedPatterns(valueOr(values.syncExcludedPatterns, defaultExcludedPatterns)),
      bookmarks(values.bookmarks.value_or(std::vector<SledBookmark>{})) {}

std::int64_t SledSettings::clampParallelWorkers(std::int64_t n) {
    if (n < 1) {
        return 1;
    }
    if (n > 8) {
        return 8;
    }
    return n;
}

std::string SledSettings::defaultDeviceName() {
    // The fallback names the platform this build runs on, as the name of a nameless machine.
    return VornHostName::computerName().value_or("Linux");
}

std::string SledSettings::defaultLANPIN() {
    return std::to_string(1000 + vornRandomUniform(9000));
}

std::string SledSettings::defaultDownloadDirectory() {
    return (VornXDG::downloads() / "VornSled").string();
}

std::vector<std::string> SledSettings::defaultExcludedPatterns() {
    return {".DS_Store", ".git", "node_modules", "*.tmp"};
}

nlohmann::ordered_json SledSettings::toJSON() const {
    nlohmann::ordered_json bookmarkList = nlohmann::ordered_json::array();
    for (const SledBookmark& bookmark : bookmarks) {
        bookmarkList.push_back(bookmark.toJSON());
    }
    return {{"parallelWorkers", parallelWorkers},
            {"verifySHA256OnTransfer", verifySHA256OnTransfer},
            {"lanDeviceName", lanDeviceName},
            {"lanPort", lanPort},
            {"lanRequirePIN", lanRequirePIN},
            {"lanPIN", lanPIN},
            {"lanDownloadDirectory", lanDownloadDirectory},
            {"syncExcludedPatterns", syncExcludedPatterns},
            {"bookmarks", std::move(bookmarkList)}};
}

SledSettings SledSettings::fromJSON(const nlohmann::json& value, std::string_view path) {
    const VornJSONObjectReader reader(value, path);
    // The defaults of every missing key, drawn once for this read.
    SledSettings settings;
    if (reader.optionalValue("parallelWorkers")) {
        settings.parallelWorkers = reader.int64("parallelWorkers");
    }
    if (reader.optionalValue("verifySHA256OnTransfer")) {
        settings.verifySHA256OnTransfer = reader.boolean("verifySHA256OnTransfer");
    }
    if (reader.optionalValue("lanDeviceName")) {
        settings.lanDeviceName = reader.string("lanDeviceName");
    }
    if (reader.optionalValue("lanPort")) {
        settings.lanPort = reader.uint16("lanPort");
    }
    if (reader.optionalValue("lanRequirePIN")) {
        settings.lanRequirePIN = reader.boolean("lanRequirePIN");
    }
    if (reader.optionalValue("lanPIN")) {
        settings.lanPIN = reader.string("lanPIN");
    }
    if (reader.optionalValue("lanDownloadDirectory")) {
        settings.lanDownloadDirectory = reader.string("lanDownloadDirectory");
    }
    if (const nlohmann::json* patterns = reader.optionalValue("syncExcludedPatterns")) {
        const std::string patternsPath = reader.path("syncExcludedPatterns");
        if (!patterns->is_array()) {
            reader.fail("syncExcludedPatterns", std::string("expected an array, found ") + patterns->type_name());
        }
        settings.syncExcludedPatterns.clear();
        for (std::size_t i = 0; i < patterns->size(); ++i) {
            settings.syncExcludedPatterns.push_back(
                vornJSONGetString((*patterns)[i], patternsPath + "[" + std::to_string(i) + "]"));
        }
    }
    if (const nlohmann::json* list = reader.optionalValue("bookmarks")) {
        const std::string listPath = reader.path("bookmarks");
        if (!list->is_array()) {
            reader.fail("bookmarks", std::string("expected an array, found ") + list->type_name());
        }
        for (std::size_t i = 0; i < list->size(); ++i) {
            settings.bookmarks.push_back(
                SledBookmark::fromJSON((*list)[i], listPath + "[" + std::to_string(i) + "]"));
        }
    }
    settings.parallelWorkers = clampParallelWorkers(settings.parallelWorkers);
    return settings;
}
