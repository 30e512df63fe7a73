// The ListObjectsV2 reply reader of S3R2StorageProvider, on expat's event parser.

#include "S3R2StorageProvider.h"

#include "SledError.h"
#include "SledPathInside.h"
#include "VornLocalizationStore.h"
#include "VornUnicode.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <exception>

namespace {

// Feeding the parser in slices keeps each call within expat's int lengths whatever the input.
constexpr std::size_t parseSliceBytes = 1024 * 1024;

class ListingReader {
public:
    ListingReader(std::string_view currentPrefix, bool flat) : currentPrefix_(currentPrefix), flat_(flat) {}

    void startElement(std::string_view name) {
        if (page_.documentElement.empty()) page_.documentElement = name;
        buffer_.clear();
        if (name == "Contents") {
            inContents_ = true;
            ++page_.keyCount;
            key_.clear();
            size_ = 0;
            lastModified_.clear();
            eTag_.clear();
        } else if (name == "CommonPrefixes") {
            inCommonPrefixes_ = true;
            ++page_.keyCount;
            key_.clear();
        }
    }

    void characters(std::string_view text) { buffer_.append(text); }

    void endElement(std::string_view name) {
        // Keys, prefixes and tokens are taken exactly as sent ("x.txt " is not "x.txt"); only
        // numbers, flags, dates and tags are read past surrounding white space.
        std::string verbatim = std::move(buffer_);
        buffer_.clear();
        std::string text = VornUnicode::trimmed(verbatim);
        if (inContents_) {
            if (name == "Key") {
                key_ = std::move(verbatim);
            } else if (name == "Size") {
                size_ = parseSize(text);
            } else if (name == "LastModified") {
                lastModified_ = std::move(text);
            } else if (name == "ETag") {
                eTag_ = withoutQuotes(text);
            } else if (name == "Contents") {
                inContents_ = false;
                emitFile();
            }
        } else if (inCommonPrefixes_) {
            if (name == "Prefix") {
                key_ = std::move(verbatim);
            } else if (name == "CommonPrefixes") {
                inCommonPrefixes_ = false;
                emitFolder();
            }
        } else if (name == "IsTruncated") {
            page_.isTruncated = VornUnicode::lowercased(text) == "true";
        } else if (name == "NextContinuationToken") {
            // Blank is no token at all (the listing then stops as incomplete).
            page_.nextContinuationToken =
                text.empty() ? std::nullopt : std::optional<std::string>(std::move(verbatim));
        }
    }

    S3R2StorageProvider::ListObjectsV2Page takePage() { return std::move(page_); }

private:
    // A size that is not a non-negative decimal counts as 0: a listing never shows a negative size.
    static std::int64_t parseSize(std::string_view text) {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0) return 0;
        return value;
    }

    static std::string withoutQuotes(std::string_view text) {
        const auto first = text.find_first_not_of('"');
        if (first == std::string_view::npos) return {};
        return std::string(text.substr(first, text.find_last_not_of('"') - first + 1));
    }

    // The key relative to the listed folder, or the whole key when it lies elsewhere.
    std::string relativeName() const {
        if (key_.starts_with(currentPrefix_)) return key_.substr(currentPrefix_.size());
        return key_;
    }

    // A key whose name here is not one path component is left out of the entries and kept
    // with its reason, so that a walk can report it instead of losing it or building a path that
    // leaves the folder it copies into.
    void skip(std::string name, bool isDirectory) {
        SledSkippedEntry skipped;
        skipped.reason = vornText("The key '" + key_ + "' is not a single name in this folder; it is left out.",
                                  "'" + key_ + "' anahtarı bu klasörde tek bir ad değil; atlandı.");
        skipped.name = std::move(name);
        skipped.path = "/" + key_;
        skipped.isDirectory = isDirectory;
        page_.skipped.push_back(std::move(skipped));
    }

    void emitFile() {
        if (flat_) {
            // Every key under the prefix as it stands, markers included, in the order sent.
            if (!key_.starts_with(currentPrefix_)) return;
            SledFileEntry entry;
            entry.name = relativeName();
            entry.path = "/" + key_;
            entry.isDirectory = entry.name.empty() || entry.name.ends_with('/');
            entry.sizeBytes = size_;
            entry.modifiedAt = vornDateFromISO8601(lastModified_);
            if (!eTag_.empty()) entry.eTag = eTag_;
            page_.entries.push_back(std::move(entry));
            return;
        }
        if (key_.empty() || key_ == currentPrefix_) return;  // the folder's own marker
        std::string name = relativeName();
        if (name.empty() || name.ends_with('/')) return;  // the marker of a deeper folder
        if (!sledIsOneComponent(name)) {
            skip(std::move(name), false);
            return;
        }
        SledFileEntry entry;
        entry.name = std::move(name);
        entry.path = "/" + key_;
        entry.sizeBytes = size_;
        entry.modifiedAt = vornDateFromISO8601(lastModified_);
        if (!eTag_.empty()) entry.eTag = eTag_;
        page_.entries.push_back(std::move(entry));
    }

    void emitFolder() {
        if (flat_ || key_.empty() || key_ == currentPrefix_) return;
        std::string name = relativeName();
        if (name.ends_with('/')) name.pop_back();
        if (!sledIsOneComponent(name)) {
            skip(std::move(name), true);
            return;
        }
        SledFileEntry entry;
        entry.name = std::move(name);
        entry.path = "/" + key_;
        entry.isDirectory = true;
        page_.entries.push_back(std::move(entry));
    }

    std::string currentPrefix_;
    bool flat_ = false;
    S3R2StorageProvider::ListObjectsV2Page page_;
    bool inContents_ = false;
    bool inCommonPrefixes_ = false;
    std::string buffer_;
    std::string key_;
    std::int64_t size_ = 0;
    std::string lastModified_;
    std::string eTag_;
};

// Ties a reader to one expat parser. Exceptions never cross expat's C frames: the first one is
// kept, the parser stopped, and the failure reported when the parse returns.
struct ParseSession {
    XML_Parser parser = nullptr;
    ListingReader reader;
    bool refused = false;
    std::exception_ptr failure;

    ParseSession(std::string_view currentPrefix, bool flat) : reader(currentPrefix, flat) {}

    void stop() { XML_StopParser(parser, XML_FALSE); }

    template <typename Action>
    static void guarded(void* context, Action&& action) {
        auto& session = *static_cast<ParseSession*>(context);
        if (session.failure || session.refused) return;
        try {
            action(session);
        } catch (...) {
            session.failure = std::current_exception();
            session.stop();
        }
    }
};

void XMLCALL onStart(void* context, const XML_Char* name, const XML_Char**) {
    ParseSession::guarded(context, [&](ParseSession& session) { session.reader.startElement(name); });
}

void XMLCALL onEnd(void* context, const XML_Char* name) {
    ParseSession::guarded(context, [&](ParseSession& session) { session.reader.endElement(name); });
}

void XMLCALL onCharacters(void* context, const XML_Char* text, int length) {
    ParseSession::guarded(context, [&](ParseSession& session) {
        session.reader.characters(std::string_view(text, static_cast<std::size_t>(length)));
    });
}

// A listing has no use for a document type: refusing any declaration shuts out entity expansion
// (internal or external) before a single entity is defined.
void XMLCALL onDoctype(void* context, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto& session = *static_cast<ParseSession*>(context);
    session.refused = true;
    session.stop();
}

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

S3R2StorageProvider::ListObjectsV2Page S3R2StorageProvider::parseListObjectsV2PageXML(std::string_view body,
                                                                                      std::string_view currentPrefix,
                                                                                      bool flat) {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
    if (!parser) throw std::bad_alloc();
    ParseSession session(currentPrefix, flat);
    session.parser = parser.get();
    XML_SetUserData(parser.get(), &session);
    XML_SetElementHandler(parser.get(), &onStart, &onEnd);
    XML_SetCharacterDataHandler(parser.get(), &onCharacters);
    XML_SetStartDoctypeDeclHandler(parser.get(), &onDoctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

    bool parsed = true;
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(parseSliceBytes, body.size() - offset);
        const bool last = offset + length == body.size();
        if (XML_Parse(parser.get(), body.data() + offset, static_cast<int>(length), last ? XML_TRUE : XML_FALSE) !=
            XML_STATUS_OK) {
            parsed = false;
            break;
        }
        offset += length;
    } while (offset < body.size());

    if (session.failure) std::rethrow_exception(session.failure);
    if (!parsed || session.refused) throw SledError::xmlParseFailed();

    ListObjectsV2Page page = session.reader.takePage();
    if (!flat) sortListing(page.entries);
    return page;
}

std::vector<SledFileEntry> S3R2StorageProvider::parseListObjectsV2XML(std::string_view body,
                                                                      std::string_view currentPrefix) {
    return parseListObjectsV2PageXML(body, currentPrefix).entries;
}
