#pragma once

#include <QColor>
#include <QFont>
#include <QTextEdit>

// A message the user must be able to read whole: server replies, command errors. It wraps at
// word boundaries and, where a token is longer than the line (an XML reply, a path), inside the
// word; it grows with its text up to `maximumLines` lines and scrolls beyond them; the text can be
// selected and copied, never edited.
class VornMessageText : public QTextEdit {
public:
    VornMessageText(const QFont& font, const QColor& color, int maximumLines, QWidget* parent = nullptr);

    // Plain text, shown as it is (no markup is read).
    void setText(const QString& text);
    QString text() const { return toPlainText(); }
    int maximumLines() const { return maximumLines_; }
    // How every line of the text is aligned (leading by default).
    void setTextAlignment(Qt::Alignment alignment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int heightFor(int width) const;
    void syncHeight();
    int maximumLines_;
};
