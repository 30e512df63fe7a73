#include "SledListingError.h"

#include "VornLocalizationStore.h"

namespace {

std::string tooLargeText(const std::string& folder, bool turkish) {
    return turkish ? "Liste çok büyük: " + folder : "Listing too large: " + folder;
}

std::string incompleteText(const std::string& folder, bool turkish) {
    return turkish ? "Liste eksik: " + folder : "Listing incomplete: " + folder;
}

std::string unsafeNameText(const std::string& folder, const std::string& name, bool turkish) {
    return turkish ? "Güvenli olmayan dosya adı '" + name + "', " + folder + " listesinde"
                   : "Unsafe file name '" + name + "' in the listing of " + folder;
}

std::string unreadableEntryText(const std::string& folder, const std::string& name, bool turkish) {
    return turkish ? "'" + name + "' öğesinin türü okunamıyor (" + folder + ")"
                   : "Cannot read what '" + name + "' is in " + folder;
}

}  // namespace

SledListingError SledListingError::tooLarge(std::string folderPath, std::vector<SledFileEntry> entriesRead) {
    std::string english = tooLargeText(folderPath, false);
    return SledListingError(std::make_shared<const Data>(
        Data{Kind::tooLarge, std::move(folderPath), {}, std::move(entriesRead), std::move(english)}));
}

SledListingError SledListingError::incomplete(std::string folderPath, std::vector<SledFileEntry> entriesRead) {
    std::string english = incompleteText(folderPath, false);
    return SledListingError(std::make_shared<const Data>(
        Data{Kind::incomplete, std::move(folderPath), {}, std::move(entriesRead), std::move(english)}));
}

SledListingError SledListingError::unsafeName(std::string folderPath, std::string name) {
    std::string english = unsafeNameText(folderPath, name, false);
    return SledListingError(std::make_shared<const Data>(
        Data{Kind::unsafeName, std::move(folderPath), std::move(name), {}, std::move(english)}));
}

SledListingError SledListingError::unreadableEntry(std::string folderPath, std::string name,
                                                   std::vector<SledFileEntry> entriesRead) {
    std::string english = unreadableEntryText(folderPath, name, false);
    return SledListingError(std::make_shared<const Data>(Data{Kind::unreadableEntry, std::move(folderPath),
                                                              std::move(name), std::move(entriesRead),
                                                              std::move(english)}));
}

std::string SledListingError::description() const {
    switch (data_->kind) {
    case Kind::tooLarge:
        return vornText(tooLargeText(data_->folderPath, false), tooLargeText(data_->folderPath, true));
    case Kind::incomplete:
        return vornText(incompleteText(data_->folderPath, false), incompleteText(data_->folderPath, true));
    case Kind::unsafeName:
        return vornText(unsafeNameText(data_->folderPath, data_->name, false),
                        unsafeNameText(data_->folderPath, data_->name, true));
    case Kind::unreadableEntry:
        return vornText(unreadableEntryText(data_->folderPath, data_->name, false),
                        unreadableEntryText(data_->folderPath, data_->name, true));
    }
    return data_->english;
}
