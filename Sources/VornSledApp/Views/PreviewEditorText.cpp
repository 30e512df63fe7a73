#include "PreviewEditorText.h"

#include <QList>
#include <QStringView>

#include <map>

namespace {

// U+2029 PARAGRAPH SEPARATOR in UTF-8.
constexpr std::string_view paragraphSeparator = "\xE2\x80\xA9";

// The length of the line break at `at`, or 0. These are exactly the breaks the text document
// turns into block boundaries.
std::size_t breakLength(const std::string& text, std::size_t at) {
    if (text[at] == '\r') {
        return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    }
    if (text[at] == '\n') {
        return 1;
    }
    if (text.compare(at, paragraphSeparator.size(), paragraphSeparator) == 0) {
        return paragraphSeparator.size();
    }
    return 0;
}

}  // namespace

PreviewEditorText::PreviewEditorText(std::string original) : original_(std::move(original)) {
    std::size_t lineStart = 0;
    std::size_t at = 0;
    while (at < original_.size()) {
        const std::size_t length = breakLength(original_, at);
        if (length == 0) {
            ++at;
            continue;
        }
        lines_.push_back(original_.substr(lineStart, at - lineStart));
        breaks_.push_back(original_.substr(at, length));
        at += length;
        lineStart = at;
    }
    lines_.push_back(original_.substr(lineStart));

    // The most common break of the file, the first one seen on a tie; LF for a file without one.
    std::map<std::string, std::size_t> counts;
    std::size_t best = 0;
    preferredBreak_ = "\n";
    for (const std::string& lineBreak : breaks_) {
        const std::size_t count = ++counts[lineBreak];
        if (count > best) {
            best = count;
            preferredBreak_ = lineBreak;
        }
    }
}

QString PreviewEditorText::editorText() const {
    std::string joined;
    joined.reserve(original_.size());
    for (std::size_t index = 0; index < lines_.size(); ++index) {
        if (index > 0) {
            joined += '\n';
        }
        joined += lines_[index];
    }
    return QString::fromStdString(joined);
}

std::string PreviewEditorText::fileBytes(const QString& rawText) const {
    std::vector<std::string> lines;
    for (const QStringView line : QStringView(rawText).split(QChar::ParagraphSeparator)) {
        lines.push_back(line.toString().toStdString());
    }
    const std::size_t oldCount = lines_.size();
    const std::size_t newCount = lines.size();
    // Lines equal at the start, then at the end (never counting a line twice).
    std::size_t prefix = 0;
    while (prefix < oldCount && prefix < newCount && lines[prefix] == lines_[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix &&
           lines[newCount - 1 - suffix] == lines_[oldCount - 1 - suffix]) {
        ++suffix;
    }

    std::string bytes;
    bytes.reserve(original_.size() + 16);
    for (std::size_t index = 0; index < newCount; ++index) {
        if (index > 0) {
            // The break between lines index-1 and index: the file's own where either side is a
            // line of the unchanged start or end.
            const std::size_t breakIndex = index - 1;
            if (breakIndex < prefix && breakIndex < breaks_.size()) {
                bytes += breaks_[breakIndex];
            } else if (index >= newCount - suffix && index + oldCount > newCount) {
                bytes += breaks_[breakIndex + oldCount - newCount];
            } else {
                bytes += preferredBreak_;
            }
        }
        bytes += lines[index];
    }
    return bytes;
}
