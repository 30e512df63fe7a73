#pragma once

#include <QString>

#include <string>
#include <vector>

// The bridge between a text file's bytes and Qt's text document, which keeps line breaks only as
// block boundaries (CR LF, CR, LF and U+2029 all become one) and whose plain-text export turns
// no-break spaces into spaces and U+2028 into LF. The editor is loaded with editorText(); the
// document's raw text (QTextDocument::toRawText, blocks joined by U+2029, every other character
// as typed) is turned back into file bytes by fileBytes(), which puts the file's own line breaks
// back wherever the lines around them are unchanged. Untouched text thus gives back exactly the
// bytes it came from; a break the user typed takes the file's most common break.
class PreviewEditorText {
public:
    explicit PreviewEditorText(std::string original);

    const std::string& original() const { return original_; }
    // The text for QTextDocument::setPlainText: the lines joined by LF.
    QString editorText() const;
    // The file bytes for the document's raw text.
    std::string fileBytes(const QString& rawText) const;
    // The break a newly typed line ends with.
    const std::string& preferredBreak() const { return preferredBreak_; }

private:
    std::string original_;
    std::vector<std::string> lines_;
    std::vector<std::string> breaks_;  // breaks_[i] ends lines_[i]; one fewer than lines_
    std::string preferredBreak_;
};
