#include "VornMessageText.h"

#include "VornPainting.h"

#include <QFontMetricsF>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <memory>

VornMessageText::VornMessageText(const QFont& font, const QColor& color, int maximumLines, QWidget* parent)
    : QTextEdit(parent), maximumLines_(std::max(1, maximumLines)) {
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTabChangesFocus(true);
    setFont(font);
    document()->setDocumentMargin(0);
    vornMakeTransparent(this);
    QPalette colours = palette();
    colours.setColor(QPalette::Text, color);
    setPalette(colours);
    viewport()->setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    syncHeight();
}

void VornMessageText::setText(const QString& text) {
    if (text != toPlainText()) {
        setPlainText(text);
    }
    syncHeight();
}

void VornMessageText::setTextAlignment(Qt::Alignment alignment) {
    // On the document's default option, so it holds for every text set later.
    QTextOption option = document()->defaultTextOption();
    option.setAlignment(alignment);
    document()->setDefaultTextOption(option);
}

int VornMessageText::heightFor(int width) const {
    const QFontMetricsF metrics(font());
    const double line = metrics.lineSpacing();
    // Laid out on a copy, so measuring never moves the shown document's scroll position.
    std::unique_ptr<QTextDocument> measure(document()->clone());
    measure->setDocumentMargin(0);
    measure->setTextWidth(std::max(1, width));
    const double text = toPlainText().isEmpty() ? line : measure->size().height();
    return int(std::ceil(std::min(text, line * maximumLines_))) + 2 * frameWidth();
}

void VornMessageText::syncHeight() {
    const int width = viewport()->width() > 0 ? viewport()->width() : 200;
    const int wanted = heightFor(width);
    if (wanted != height() || minimumHeight() != wanted) {
        setFixedHeight(wanted);
    }
}

QSize VornMessageText::sizeHint() const {
    return QSize(QTextEdit::sizeHint().width(), heightFor(viewport()->width() > 0 ? viewport()->width() : 200));
}

QSize VornMessageText::minimumSizeHint() const {
    return QSize(40, sizeHint().height());
}

void VornMessageText::resizeEvent(QResizeEvent* event) {
    QTextEdit::resizeEvent(event);
    if (event->oldSize().width() != event->size().width()) {
        syncHeight();
    }
}
