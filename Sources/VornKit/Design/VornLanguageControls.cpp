#include "VornLanguageControls.h"

#include "VornGlassTokens.h"
#include "VornLocalizationStore.h"
#include "VornPainting.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QStandardItemModel>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

QString vornQText(std::string_view en, std::string_view tr, VornLanguage language) {
    return QString::fromStdString(vornText(en, tr, std::nullopt, language));
}

Qt::LayoutDirection vornLayoutDirection(VornLanguage language) {
    return language.isRTL() ? Qt::RightToLeft : Qt::LeftToRight;
}

QLocale vornLocale(VornLanguage language) { return QLocale(QString::fromUtf8(language.code().data(), qsizetype(language.code().size()))); }

void vornApplyContentLayoutDirection(QWidget* widget, VornLanguage language) {
    if (widget) {
        widget->setLayoutDirection(vornLayoutDirection(language));
    }
}

void vornApplyLocale(QWidget* widget, VornLanguage language) {
    if (widget) {
        widget->setLocale(vornLocale(language));
    }
}

namespace {

QString languageTitle(VornLanguage language) { return vornQText("Language", "Dil", language); }

QString qstring(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A row naming a right-to-left language ("العربية (Arabic)") would otherwise take its direction
// from its first letter and show its parts swapped in a left-to-right list.
QString inDirection(const QString& row, Qt::LayoutDirection direction) {
    return (direction == Qt::RightToLeft ? QChar(0x200F) : QChar(0x200E)) + row;
}

// The picker's face: the glass look of the design's buttons with a chevron; the list it opens keeps
// the dark palette.
class GlassComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    QSize sizeHint() const override {
        const QSize base = QComboBox::sizeHint();
        return QSize(base.width() + 8, std::max(base.height(), 28));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setOpacity(isEnabled() ? 1.0 : vornDisabledOpacity);
        const QRectF bounds(rect());
        vornPaintGlassRoundedRect(painter, bounds, 8, VornGlassTokens::surface2(),
                                  hasFocus() ? VornGlassTokens::borderStrong() : VornGlassTokens::borderSubtle());
        const double chevron = 10;
        const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
        const QRectF text = bounds.adjusted(rightToLeft ? 28 : 11, 0, rightToLeft ? -11 : -28, 0);
        const QRectF arrow(rightToLeft ? bounds.left() + 11 : bounds.right() - 11 - chevron,
                           bounds.center().y() - chevron / 2, chevron, chevron);
        VornSymbol::paint(painter, arrow, "chevron.down", VornGlassTokens::textSecondary());
        painter.setFont(font());
        painter.setPen(VornGlassTokens::textPrimary());
        const QString shown = QFontMetricsF(font()).elidedText(currentText(), Qt::ElideRight, std::max(0.0, text.width()));
        painter.drawText(text, Qt::AlignVCenter | (rightToLeft ? Qt::AlignRight : Qt::AlignLeft), shown);
    }
};

// Thirty-eight rows are taller than many screens; Fusion would then split the menu into columns.
// This keeps one column that scrolls.
class ScrollingMenuStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Menu_Scrollable) {
            return 1;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

VornLanguageChoice::VornLanguageChoice() : followingSystem_(VornLanguage::isFollowingSystem()) {}

void VornLanguageChoice::syncFromDefaults() {
    const bool following = VornLanguage::isFollowingSystem();
    if (following != followingSystem_) {
        followingSystem_ = following;
    }
}

void VornLanguageChoice::followSystem(const OnSelect& onSelect) {
    followingSystem_ = true;
    VornLanguage::applyFollowSystem([&] {
        if (onSelect) {
            onSelect(VornLanguage::systemResolved());
        }
    });
}

void VornLanguageChoice::choose(VornLanguage language, const OnSelect& onSelect) {
    VornLanguage::setCurrent(language);
    followingSystem_ = false;
    if (onSelect) {
        onSelect(language);
    }
}

QString VornLanguageChoice::systemLanguageLabel(VornLanguage language) {
    return vornQText("System Language", "Sistem Dili", language) + QStringLiteral(" (") +
           qstring(VornLanguage::systemResolved().nativeName()) + QLatin1Char(')');
}

VornLanguagePicker::VornLanguagePicker(std::optional<QString> title, VornLanguage language, bool showTitle,
                                       VornLanguageChoice::OnSelect onSelect, QWidget* parent)
    : QWidget(parent),
      title_(std::move(title)),
      language_(language),
      showTitle_(showTitle),
      onSelect_(std::move(onSelect)),
      label_(new QLabel(this)),
      combo_(new GlassComboBox(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    label_->setFont(vornFont(VornTextStyle::body));
    QPalette labelColours = label_->palette();
    labelColours.setColor(QPalette::WindowText, VornGlassTokens::textPrimary());
    label_->setPalette(labelColours);
    label_->setVisible(showTitle_);
    combo_->setFont(vornFont(12.5));
    combo_->setFocusPolicy(Qt::StrongFocus);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo_->setMaxVisibleItems(16);
    if (showTitle_) {
        layout->addWidget(label_);
        layout->addWidget(combo_, 1);
    } else {
        combo_->setMinimumWidth(190);
        combo_->setMaximumWidth(260);
        layout->addStretch(1);
        layout->addWidget(combo_);
        layout->addStretch(1);
    }
    label_->setBuddy(combo_);
    retranslate();
    connect(combo_, &QComboBox::activated, this, [this](int index) {
        const QVariant data = combo_->itemData(index);
        if (!data.isValid()) {
            return;
        }
        const int code = data.toInt();
        if (code < 0) {
            select(VornLanguageSelection::system());
        } else if (std::size_t(code) < VornLanguage::caseCount) {
            select(VornLanguageSelection::explicitLanguage(VornLanguage::allCases()[std::size_t(code)]));
        }
    });
}

QString VornLanguagePicker::title() const { return title_ ? *title_ : languageTitle(language_); }

void VornLanguagePicker::setLanguage(VornLanguage language) {
    if (language_ != language) {
        language_ = language;
        retranslate();
    } else {
        syncCurrentIndex();
    }
}

VornLanguageSelection VornLanguagePicker::selection() const {
    return choice_.isFollowingSystem() ? VornLanguageSelection::system()
                                       : VornLanguageSelection::explicitLanguage(language_);
}

void VornLanguagePicker::select(const VornLanguageSelection& selection) {
    if (selection.isSystem()) {
        choice_.followSystem(onSelect_);
    } else {
        choice_.choose(*selection.language(), onSelect_);
    }
    syncCurrentIndex();
}

void VornLanguagePicker::showEvent(QShowEvent* event) {
    choice_.syncFromDefaults();
    syncCurrentIndex();
    QWidget::showEvent(event);
}

void VornLanguagePicker::retranslate() {
    label_->setText(title());
    combo_->setAccessibleName(title());
    const QSignalBlocker blocker(combo_);
    combo_->clear();
    combo_->addItem(VornLanguageChoice::systemLanguageLabel(language_), -1);
    combo_->insertSeparator(1);
    const auto& all = VornLanguage::allCases();
    for (std::size_t i = 0; i < all.size(); ++i) {
        combo_->addItem(inDirection(QString::fromStdString(all[i].displayName()), layoutDirection()), int(i));
    }
    syncCurrentIndex();
}

void VornLanguagePicker::syncCurrentIndex() {
    const QSignalBlocker blocker(combo_);
    if (choice_.isFollowingSystem()) {
        combo_->setCurrentIndex(0);
        return;
    }
    const auto& all = VornLanguage::allCases();
    const auto found = std::find(all.begin(), all.end(), language_);
    combo_->setCurrentIndex(combo_->findData(int(found - all.begin())));
}

namespace {

QFont badgeFont() { return vornFont(11, QFont::DemiBold, VornFontDesign::rounded); }
constexpr double badgeHorizontalPadding = 8;
constexpr double badgeVerticalPadding = 4;
constexpr double badgeSpacing = 4;

double globeSide() { return std::ceil(QFontMetricsF(badgeFont()).capHeight() * 1.5); }

}  // namespace

VornLanguageMenuButton::VornLanguageMenuButton(VornLanguage language, VornLanguageChoice::OnSelect onSelect,
                                               QWidget* parent)
    : QAbstractButton(parent), language_(language), onSelect_(std::move(onSelect)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    retranslate();
    connect(this, &QAbstractButton::clicked, this, [this] {
        QMenu* menu = buildMenu();
        const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
        const QPoint anchor = rightToLeft ? rect().bottomRight() : rect().bottomLeft();
        menu->popup(mapToGlobal(anchor + QPoint(0, 4)));
    });
}

void VornLanguageMenuButton::setLanguage(VornLanguage language) {
    if (language_ != language) {
        language_ = language;
        retranslate();
        updateGeometry();
        update();
    }
}

void VornLanguageMenuButton::retranslate() {
    setToolTip(languageTitle(language_));
    setAccessibleName(languageTitle(language_) + QStringLiteral(": ") + qstring(language_.nativeName()));
}

QString VornLanguageMenuButton::shortCode() const { return QString::fromStdString(language_.shortCode()); }

QMenu* VornLanguageMenuButton::buildMenu() {
    choice_.syncFromDefaults();
    if (menu_) {
        menu_->deleteLater();
    }
    menu_ = new QMenu(this);
    auto* style = new ScrollingMenuStyle(QStringLiteral("Fusion"));
    style->setParent(menu_);
    menu_->setStyle(style);
    menu_->setLayoutDirection(layoutDirection());
    const QIcon check = VornSymbol::icon("checkmark", VornGlassTokens::textPrimary(), 14);
    QAction* system = menu_->addAction(VornLanguageChoice::systemLanguageLabel(language_));
    if (choice_.isFollowingSystem()) {
        system->setIcon(check);
    }
    connect(system, &QAction::triggered, this, [this] {
        choice_.followSystem(onSelect_);
        update();
    });
    menu_->addSeparator();
    for (const VornLanguage language : VornLanguage::allCases()) {
        QAction* action =
            menu_->addAction(inDirection(QString::fromStdString(language.displayName()), layoutDirection()));
        if (!choice_.isFollowingSystem() && language == language_) {
            action->setIcon(check);
        }
        connect(action, &QAction::triggered, this, [this, language] {
            choice_.choose(language, onSelect_);
            update();
        });
    }
    return menu_;
}

QSize VornLanguageMenuButton::sizeHint() const {
    const QFontMetricsF metrics(badgeFont());
    const double width = 2 * badgeHorizontalPadding + globeSide() + badgeSpacing + metrics.horizontalAdvance(shortCode());
    const double height = 2 * badgeVerticalPadding + std::max(metrics.height(), globeSide());
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

void VornLanguageMenuButton::showEvent(QShowEvent* event) {
    choice_.syncFromDefaults();
    QAbstractButton::showEvent(event);
}

void VornLanguageMenuButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setOpacity((isEnabled() ? 1.0 : vornDisabledOpacity) * (isDown() ? 0.78 : 1.0));
    const QRectF bounds(rect());
    vornPaintGlassCapsule(painter, bounds, VornGlassTokens::surface2(), VornGlassTokens::borderSubtle());
    if (hasFocus()) {
        vornPaintFocusRing(painter, bounds, -1);
    }

    const QFont font = badgeFont();
    const QFontMetricsF metrics(font);
    const QRectF content = bounds.adjusted(badgeHorizontalPadding, 0, -badgeHorizontalPadding, 0);
    const double side = globeSide();
    const double room = std::max(0.0, content.width() - side - badgeSpacing);
    const QString code = metrics.elidedText(shortCode(), Qt::ElideRight, room);
    const double codeWidth = std::min(room, metrics.horizontalAdvance(code));
    const double total = side + badgeSpacing + codeWidth;
    const double start = content.left() + std::max(0.0, (content.width() - total) / 2);
    const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
    const double globeX = rightToLeft ? content.left() + content.right() - start - side : start;
    const double codeStart = start + side + badgeSpacing;
    const double codeX = rightToLeft ? content.left() + content.right() - codeStart - codeWidth : codeStart;
    painter.setClipRect(content);
    VornSymbol::paint(painter, QRectF(globeX, bounds.center().y() - side / 2, side, side), "globe",
                      VornGlassTokens::textPrimary());
    painter.setFont(font);
    painter.setPen(VornGlassTokens::textPrimary());
    painter.drawText(QRectF(codeX, bounds.top(), codeWidth + 1, bounds.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     code);
}
