// vornkit-gallery: renders every design component in its states, in English and Turkish, into PNG
// files, so a person can judge the look without running the application.
//
//   vornkit-gallery [output folder]     (default: the tests' artefacts folder, "gallery" below it)

#include "VornAppKitMainMenu.h"
#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornEmblemRenderer.h"
#include "VornFeedbackButton.h"
#include "VornFloatingPanels.h"
#include "VornFeedbackSheet.h"
#include "VornFlowLayout.h"
#include "VornGlassCard.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornGroundBackground.h"
#include "VornLanguageControls.h"
#include "VornOffloadProgressBanner.h"
#include "VornPainting.h"
#include "VornSegmentedControl.h"
#include "VornSpinner.h"
#include "VornSuiteQuickActionsStrip.h"
#include "VornSymbol.h"
#include "VornTestHTTPServer.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"
#include "VornToastBanner.h"
#include "VornTypography.h"
#include "VornUnifiedTitlebar.h"
#include "VornVirtualMemoryGaugeCard.h"
#include "VornVirtualMemoryHeaderPill.h"
#include "VornVersionAndLogsView.h"
#include "VornVersionBadge.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

VornLanguage galleryLanguage = VornLanguage::en;

QString text(std::string_view en, std::string_view tr) { return vornQText(en, tr, galleryLanguage); }

QLabel* label(const QString& content, const QFont& font, const QColor& color, QWidget* parent = nullptr) {
    auto* result = new QLabel(content, parent);
    result->setFont(font);
    QPalette colours = result->palette();
    colours.setColor(QPalette::WindowText, color);
    result->setPalette(colours);
    return result;
}

QLabel* caption(const QString& content) {
    return label(content, vornFont(VornTextStyle::caption), VornGlassTokens::textSecondary());
}

// A column of one component in a state, with the state's name under it.
QWidget* specimen(QWidget* component, const QString& name) {
    auto* box = new QWidget;
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(component, 0, Qt::AlignLeft | Qt::AlignVCenter);
    column->addWidget(caption(name), 0, Qt::AlignLeft);
    return box;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, int spacing = 18) {
    auto* line = new QHBoxLayout;
    line->setSpacing(spacing);
    for (QWidget* widget : widgets) {
        line->addWidget(widget, 0, Qt::AlignBottom);
    }
    line->addStretch(1);
    return line;
}

// A glass card with a headline, a note and the section's content.
VornGlassCard* section(const QString& title, const QString& note, const std::function<void(QVBoxLayout*)>& fill) {
    auto* card = new VornGlassCard(18, 14);
    QVBoxLayout* layout = card->contentLayout();
    layout->setSpacing(14);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(3);
    heading->addWidget(label(title, vornFont(VornTextStyle::title3, QFont::DemiBold), VornGlassTokens::textPrimary()));
    if (!note.isEmpty()) {
        QLabel* description = label(note, vornFont(VornTextStyle::subheadline), VornGlassTokens::textMuted());
        description->setWordWrap(true);
        heading->addWidget(description);
    }
    layout->addLayout(heading);
    fill(layout);
    layout->addStretch(1);
    return card;
}

class PaletteSwatch : public QWidget {
public:
    explicit PaletteSwatch(VornProductPalette palette) : palette_(palette) { setFixedSize(112, 64); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const QRectF bounds(rect());
        painter.setClipPath(vornRoundedRectPath(bounds, 10));
        vornPaintGround(painter, bounds, palette_);
        painter.setClipping(false);
        painter.setPen(QPen(VornGlassTokens::borderSubtle(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(vornRoundedRectPath(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 9.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(accentColor(palette_));
        painter.drawEllipse(QRectF(bounds.right() - 22, bounds.bottom() - 22, 12, 12));
    }

private:
    VornProductPalette palette_;
};

class TokenSwatch : public QWidget {
public:
    explicit TokenSwatch(QColor color, bool outlined) : color_(std::move(color)), outlined_(outlined) { setFixedSize(64, 40); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRectF bounds(rect());
        if (outlined_) {
            vornPaintGlassRoundedRect(painter, bounds, 8, Qt::transparent, color_);
        } else {
            vornPaintGlassRoundedRect(painter, bounds, 8, color_, VornGlassTokens::borderSubtle());
        }
    }

private:
    QColor color_;
    bool outlined_;
};

QWidget* palettesSection() {
    return section(text("Product palettes", "Ürün paletleri"),
                   text("Nine dark grounds with their accent colours.", "Vurgu renkleriyle dokuz koyu zemin."),
                   [](QVBoxLayout* layout) {
                       auto* host = new QWidget;
                       auto* grid = new QGridLayout(host);
                       grid->setContentsMargins(0, 0, 0, 0);
                       grid->setHorizontalSpacing(12);
                       grid->setVerticalSpacing(12);
                       int index = 0;
                       for (const VornProductPalette palette : allCases<VornProductPalette>()) {
                           grid->addWidget(specimen(new PaletteSwatch(palette), QString::fromStdString(rawValue(palette))),
                                           index / 5, index % 5);
                           ++index;
                       }
                       layout->addWidget(host);
                   });
}

QWidget* tokensSection() {
    return section(text("Glass tokens", "Cam belirteçleri"),
                   text("White at low opacity over the ground; three opaque status colours.",
                        "Zeminin üzerinde düşük opaklıkta beyaz; üç opak durum rengi."),
                   [](QVBoxLayout* layout) {
                       auto* host = new QWidget;
                       auto* grid = new QGridLayout(host);
                       grid->setContentsMargins(0, 0, 0, 0);
                       grid->setHorizontalSpacing(12);
                       grid->setVerticalSpacing(12);
                       const struct {
                           const char* name;
                           QColor color;
                           bool outlined;
                       } tokens[] = {
                           {"surface1", VornGlassTokens::surface1(), false},
                           {"surface2", VornGlassTokens::surface2(), false},
                           {"surface3", VornGlassTokens::surface3(), false},
                           {"borderSubtle", VornGlassTokens::borderSubtle(), true},
                           {"borderStrong", VornGlassTokens::borderStrong(), true},
                           {"textPrimary", VornGlassTokens::textPrimary(), false},
                           {"textSecondary", VornGlassTokens::textSecondary(), false},
                           {"textMuted", VornGlassTokens::textMuted(), false},
                           {"success", VornGlassTokens::success(), false},
                           {"warning", VornGlassTokens::warning(), false},
                           {"danger", VornGlassTokens::danger(), false},
                       };
                       int index = 0;
                       for (const auto& token : tokens) {
                           grid->addWidget(specimen(new TokenSwatch(token.color, token.outlined), QString::fromLatin1(token.name)),
                                           index / 6, index % 6);
                           ++index;
                       }
                       layout->addWidget(host);
                   });
}

QWidget* typographySection() {
    return section(text("Text styles", "Metin stilleri"), text("Sizes in points; one point is one pixel.", "Boyutlar punto cinsinden; bir punto bir pikseldir."),
                   [](QVBoxLayout* layout) {
                       const struct {
                           const char* name;
                           VornTextStyle style;
                       } styles[] = {
                           {"largeTitle 26", VornTextStyle::largeTitle}, {"title 22", VornTextStyle::title},
                           {"title2 17", VornTextStyle::title2},         {"title3 15", VornTextStyle::title3},
                           {"headline 13", VornTextStyle::headline},     {"body 13", VornTextStyle::body},
                           {"callout 12", VornTextStyle::callout},       {"subheadline 11", VornTextStyle::subheadline},
                           {"footnote 10", VornTextStyle::footnote},     {"caption 10", VornTextStyle::caption},
                       };
                       auto* grid = new QGridLayout;
                       grid->setHorizontalSpacing(18);
                       grid->setVerticalSpacing(4);
                       int line = 0;
                       for (const auto& style : styles) {
                           grid->addWidget(label(QString::fromLatin1(style.name), vornFont(11, QFont::Normal, VornFontDesign::monospaced),
                                                 VornGlassTokens::textMuted()),
                                           line, 0, Qt::AlignLeft | Qt::AlignVCenter);
                           grid->addWidget(label(text("Files move between panes", "Dosyalar bölmeler arasında taşınır"),
                                                 vornFont(style.style), VornGlassTokens::textPrimary()),
                                           line, 1, Qt::AlignLeft | Qt::AlignVCenter);
                           ++line;
                       }
                       grid->addWidget(label(QStringLiteral("mono 12"), vornFont(11, QFont::Normal, VornFontDesign::monospaced),
                                             VornGlassTokens::textMuted()),
                                       line, 0);
                       grid->addWidget(label(QStringLiteral("sha256 9f86d081884c7d65…  /srv/backups/2026"),
                                             vornFont(12, QFont::Normal, VornFontDesign::monospaced), VornGlassTokens::textSecondary()),
                                       line, 1);
                       grid->setColumnStretch(2, 1);
                       layout->addLayout(grid);
                   });
}

VornPrimaryButton* primary(const QString& title, bool down, bool enabled) {
    auto* button = new VornPrimaryButton(title);
    button->setDown(down);
    button->setEnabled(enabled);
    return button;
}

VornGlassButton* glass(const QString& title, bool active, bool down, bool enabled, const std::string& symbol = {}) {
    auto* button = new VornGlassButton(title, active);
    button->setDown(down);
    button->setEnabled(enabled);
    button->setSymbol(symbol);
    return button;
}

QWidget* buttonsSection() {
    return section(text("Buttons", "Düğmeler"),
                   text("The one main action is primary; everything else is glass.",
                        "Tek ana eylem birincildir; geri kalan her şey camdır."),
                   [](QVBoxLayout* layout) {
                       const QString save = text("Add Server", "Sunucu Ekle");
                       layout->addLayout(row({specimen(primary(save, false, true), text("Primary", "Birincil")),
                                              specimen(primary(save, true, true), text("Pressed", "Basılı")),
                                              specimen(primary(save, false, false), text("Disabled", "Devre dışı"))}));
                       const QString close = text("Close", "Kapat");
                       layout->addLayout(row({specimen(glass(close, false, false, true), text("Glass", "Cam")),
                                              specimen(glass(text("Receiver On", "Alıcı Açık"), true, false, true, "antenna.radiowaves.left.and.right"),
                                                       text("Active", "Etkin")),
                                              specimen(glass(close, false, true, true), text("Pressed", "Basılı")),
                                              specimen(glass(close, false, false, false), text("Disabled", "Devre dışı"))}));
                       auto* elided = glass(text("Copy the whole transfer log to the clipboard",
                                                 "Aktarım günlüğünün tamamını panoya kopyala"),
                                            false, false, true, "doc.on.doc");
                       elided->setFixedWidth(190);
                       auto* ampersand = glass(text("Send Feedback & Ideas", "Geri Bildirim & Fikir Gönder"), false, false, true);
                       layout->addLayout(row({specimen(elided, text("Long label, elided", "Uzun etiket, kısaltılmış")),
                                              specimen(ampersand, text("Ampersand shown", "Ve işareti görünür"))}));
                   });
}

QWidget* inputsSection() {
    return section(text("Text fields", "Metin alanları"), QString(), [](QVBoxLayout* layout) {
        auto* empty = new VornGlassInputField;
        empty->setPlaceholderText(text("Host or IP address", "Ana makine veya IP adresi"));
        empty->setFixedWidth(230);
        auto* filled = new VornGlassInputField;
        filled->setText(QStringLiteral("sftp.vornworks.lan"));
        filled->setFixedWidth(230);
        auto* disabled = new VornGlassInputField;
        disabled->setText(QStringLiteral("22"));
        disabled->setEnabled(false);
        disabled->setFixedWidth(90);
        layout->addLayout(row({specimen(empty, text("Placeholder", "Yer tutucu")), specimen(filled, text("Filled", "Dolu")),
                               specimen(disabled, text("Disabled", "Devre dışı"))}));
    });
}

QWidget* segmentsSection() {
    return section(text("Segmented control", "Bölümlü denetim"), QString(), [](QVBoxLayout* layout) {
        const std::vector<VornSegmentedControl::Segment> tabs{
            {text("Dual Pane", "Çift Bölme"), "rectangle.split.2x1.fill"},
            {text("LAN", "Yerel Ağ"), "wifi"},
            {text("Transfers", "Aktarımlar"), "arrow.left.arrow.right"}};
        auto* first = new VornSegmentedControl;
        first->setSegments(tabs);
        first->setFixedWidth(380);
        auto* second = new VornSegmentedControl;
        second->setSegments({{text("Name", "Ad"), {}}, {text("Size", "Boyut"), {}}, {text("Modified", "Değiştirilme"), {}}});
        second->setCurrentIndex(2);
        second->setFixedWidth(300);
        layout->addWidget(specimen(first, text("First chosen", "İlki seçili")));
        layout->addWidget(specimen(second, text("Text only", "Yalnızca metin")));
    });
}

QWidget* toastsSection() {
    return section(text("Toast banners", "Bildirim şeritleri"),
                   text("They let clicks through to what lies beneath.", "Tıklamaları alttaki içeriğe geçirir."),
                   [](QVBoxLayout* layout) {
                       auto* success = new VornToastBanner(text("3 files sent to Studio Mac", "3 dosya Studio Mac'e gönderildi"), false);
                       auto* failure = new VornToastBanner(text("Connection refused by 192.168.1.20", "Bağlantı 192.168.1.20 tarafından reddedildi"), true);
                       auto* longOne = new VornToastBanner(
                           text("Upload finished, but the server kept an older copy of archive-2026-final-really-final.tar.zst",
                                "Yükleme bitti, ancak sunucu archive-2026-final-really-final.tar.zst dosyasının eski kopyasını tuttu"),
                           false);
                       longOne->setFixedWidth(420);
                       layout->addWidget(success, 0, Qt::AlignLeft);
                       layout->addWidget(failure, 0, Qt::AlignLeft);
                       layout->addWidget(specimen(longOne, text("Long message, elided", "Uzun ileti, kısaltılmış")));
                   });
}

QWidget* spinnersSection() {
    return section(text("Progress", "İlerleme"), QString(), [](QVBoxLayout* layout) {
        auto* line = new QHBoxLayout;
        line->setSpacing(22);
        for (const int size : {12, 16, 22, 32}) {
            auto* spinner = new VornSpinner(size);
            spinner->setAngle(90 + size * 7);
            line->addWidget(specimen(spinner, QStringLiteral("%1 pt").arg(size)), 0, Qt::AlignBottom);
        }
        auto* busy = new QWidget;
        auto* busyRow = new QHBoxLayout(busy);
        busyRow->setContentsMargins(0, 0, 0, 0);
        busyRow->setSpacing(8);
        auto* small = new VornSpinner(14);
        small->setAngle(200);
        busyRow->addWidget(small);
        busyRow->addWidget(label(text("Listing /srv/media…", "/srv/media listeleniyor…"), vornFont(VornTextStyle::callout),
                                 VornGlassTokens::textSecondary()));
        line->addWidget(specimen(busy, text("With a label", "Etiketle")), 0, Qt::AlignBottom);
        line->addStretch(1);
        layout->addLayout(line);
    });
}

QWidget* flowSection() {
    return section(text("Flow layout", "Akış düzeni"),
                   text("Chips wrap onto new lines when the width runs out.", "Genişlik bitince çipler yeni satıra geçer."),
                   [](QVBoxLayout* layout) {
                       auto* host = new QWidget;
                       host->setFixedWidth(400);
                       auto* flow = new VornFlowLayout(host, 7, 5);
                       const char* chips[][3] = {
                           {"Sync", "Eşitle", "arrow.triangle.2.circlepath"},
                           {"Preview", "Önizle", "eye.fill"},
                           {"Copy Path", "Yolu Kopyala", "doc.on.doc"},
                           {"New Folder", "Yeni Klasör", "folder.badge.plus"},
                           {"Refresh", "Yenile", "arrow.clockwise"},
                           {"Verify Checksums", "Sağlama Toplamlarını Doğrula", "checkmark.shield"},
                           {"Share on LAN", "Yerel Ağda Paylaş", "square.and.arrow.up.on.square.fill"},
                           {"Delete", "Sil", "trash"},
                       };
                       for (const auto& chip : chips) {
                           auto* button = glass(text(chip[0], chip[1]), false, false, true, chip[2]);
                           button->setLabelFont(vornFont(VornTextStyle::caption2, QFont::Bold));
                           flow->addWidget(button);
                       }
                       host->setFixedHeight(flow->heightForWidth(400));
                       layout->addWidget(host);
                   });
}

QWidget* brandSection() {
    return section(text("Brand mark", "Marka işareti"), QString(), [](QVBoxLayout* layout) {
        auto* line = new QHBoxLayout;
        line->setSpacing(22);
        for (const int size : {20, 22, 44, 88}) {
            line->addWidget(specimen(new VornBrandMark(size, VornBrandMarkStyle::currentApp()), QStringLiteral("%1 pt").arg(size)), 0,
                            Qt::AlignBottom);
        }
        line->addStretch(1);
        layout->addLayout(line);
        // Other applications' emblems, and one shown as a template in the accent colour.
        auto* emblems = new QHBoxLayout;
        emblems->setSpacing(22);
        for (const VornAppIdentity app : {VornAppIdentity::vornNotes, VornAppIdentity::vornShot, VornAppIdentity::vornMonitor,
                                          VornAppIdentity::vornTerminal}) {
            emblems->addWidget(specimen(new VornAppEmblem(app, 44, false),
                                        QString::fromUtf8(VornAppIdentities::info(app).displayName.data(),
                                                          qsizetype(VornAppIdentities::info(app).displayName.size()))),
                               0, Qt::AlignBottom);
        }
        auto* tinted = new VornAppEmblem(VornAppIdentity::vornSled, 44, true);
        QPalette tint = tinted->palette();
        tint.setColor(QPalette::WindowText, accentColor(VornProductPalette::deepCoral));
        tinted->setPalette(tint);
        emblems->addWidget(specimen(tinted, text("Template", "Şablon")), 0, Qt::AlignBottom);
        emblems->addStretch(1);
        layout->addLayout(emblems);
    });
}

QWidget* languageSection() {
    return section(text("Language", "Dil"),
                   text("A picker for settings and a compact menu for headers.",
                        "Ayarlar için bir seçici ve başlıklar için küçük bir menü."),
                   [](QVBoxLayout* layout) {
                       auto* titled = new VornLanguagePicker(std::nullopt, galleryLanguage, true, nullptr);
                       titled->setFixedWidth(330);
                       auto* bare = new VornLanguagePicker(std::nullopt, galleryLanguage, false, nullptr);
                       layout->addWidget(specimen(titled, text("With title", "Başlıklı")));
                       layout->addWidget(specimen(bare, text("Without title", "Başlıksız")), 0, Qt::AlignLeft);
                       auto* badges = new QHBoxLayout;
                       badges->setSpacing(14);
                       for (const VornLanguage language : {galleryLanguage, VornLanguage::ptPT, VornLanguage::zhHant, VornLanguage::ar}) {
                           auto* button = new VornLanguageMenuButton(language, nullptr);
                           vornApplyContentLayoutDirection(button, language);
                           badges->addWidget(specimen(button, QString::fromUtf8(language.englishName().data(),
                                                                                qsizetype(language.englishName().size()))),
                                             0, Qt::AlignBottom);
                       }
                       badges->addStretch(1);
                       layout->addLayout(badges);
                   });
}

QWidget* feedbackSection() {
    return section(text("Feedback", "Geri bildirim"), QString(), [](QVBoxLayout* layout) {
        const VornAppVersion version("1.0.0", "100");
        auto* compact = new VornFeedbackButton("VornSled", version, VornFeedbackKind::feature, galleryLanguage,
                                               VornFeedbackButtonStyle::compactIcon);
        auto* pill = new VornFeedbackButton("VornSled", version, VornFeedbackKind::feature, galleryLanguage,
                                            VornFeedbackButtonStyle::labeledPill);
        layout->addLayout(row({specimen(compact, text("Compact icon", "Küçük simge")), specimen(pill, text("Labelled pill", "Etiketli hap"))}));
        const VornAppVersion current("2.4.1", "318");
        auto logger = std::make_shared<VornAppLogger>("VornSled", std::nullopt, VornAppLogger::defaultMaxFileBytes, 1,
                                                      [current] { return current; });
        layout->addLayout(row({specimen(new VornVersionBadge(current, false), text("Version badge", "Sürüm rozeti")),
                               specimen(new VornVersionBadge(current, true), text("With build", "Derleme numarasıyla")),
                               specimen(new VornVersionBadgeButton("VornSled", current, logger, VornProductPalette::deepCoral,
                                                                   galleryLanguage, true, true),
                                        text("Badge button", "Rozet düğmesi"))}));
    });
}

// The widgets shown with keyboard focus (only one can hold it at a time; see renderWithFocus).
std::vector<QWidget*> focusTakers;

QWidget* rightToLeftSection() {
    auto* card = section(text("Right to left", "Sağdan sola"),
                         text("Arabic, Persian and Hebrew lay out from the right edge; symbols lead from there.",
                              "Arapça, Farsça ve İbranice sağ kenardan dizilir; simgeler oradan başlar."),
                         [](QVBoxLayout* layout) {
                             auto* host = new QWidget;
                             host->setLayoutDirection(Qt::RightToLeft);
                             auto* column = new QVBoxLayout(host);
                             column->setContentsMargins(0, 0, 0, 0);
                             column->setSpacing(12);
                             auto* segments = new VornSegmentedControl;
                             segments->setSegments({{text("Dual Pane", "Çift Bölme"), "rectangle.split.2x1.fill"},
                                                    {text("LAN", "Yerel Ağ"), "wifi"},
                                                    {text("Transfers", "Aktarımlar"), "arrow.left.arrow.right"}});
                             segments->setFixedWidth(380);
                             // Leading alignment: Qt mirrors AlignLeft to the right edge here.
                             column->addWidget(segments, 0, Qt::AlignLeft);
                             auto* buttons = new QHBoxLayout;
                             buttons->setSpacing(10);
                             buttons->addWidget(glass(text("New Folder", "Yeni Klasör"), false, false, true, "folder.badge.plus"));
                             buttons->addWidget(glass(text("Refresh", "Yenile"), true, false, true, "arrow.clockwise"));
                             buttons->addWidget(new VornPrimaryButton(text("Send", "Gönder")));
                             buttons->addStretch(1);
                             column->addLayout(buttons);
                             column->addWidget(new VornToastBanner(text("2 files received", "2 dosya alındı"), false), 0,
                                               Qt::AlignLeft);
                             layout->addWidget(host);
                         });
    return card;
}

QWidget* focusSection() {
    return section(text("Keyboard focus", "Klavye odağı"),
                   text("The control that Tab reached wears a ring.", "Sekme tuşunun ulaştığı denetim bir halka taşır."),
                   [](QVBoxLayout* layout) {
                       auto* primaryButton = new VornPrimaryButton(text("Save", "Kaydet"));
                       auto* glassButton = glass(text("Cancel", "Vazgeç"), false, false, true);
                       auto* field = new VornGlassInputField;
                       field->setText(QStringLiteral("backup-2026"));
                       field->setFixedWidth(170);
                       auto* segments = new VornSegmentedControl;
                       segments->setSegments({{text("Name", "Ad"), {}}, {text("Size", "Boyut"), {}}});
                       segments->setFixedWidth(170);
                       focusTakers = {primaryButton, glassButton, field, segments};
                       layout->addLayout(row({specimen(primaryButton, text("Primary", "Birincil")),
                                              specimen(glassButton, text("Glass", "Cam")),
                                              specimen(field, text("Text field", "Metin alanı")),
                                              specimen(segments, text("Segments", "Bölümler"))}));
                   });
}

QWidget* symbolsSection() {
    return section(text("Symbols", "Simgeler"),
                   text("Every symbol name the design knows, from the Adwaita theme, tinted; last, the placeholder for an unknown name.",
                        "Tasarımın bildiği her simge adı, Adwaita temasından, renklendirilmiş; sonda bilinmeyen ad için yer tutucu."),
                   [](QVBoxLayout* layout) {
                       auto* host = new QWidget;
                       auto* grid = new QGridLayout(host);
                       grid->setContentsMargins(0, 0, 0, 0);
                       grid->setHorizontalSpacing(10);
                       grid->setVerticalSpacing(7);
                       std::vector<std::string> names = VornSymbol::knownNames();
                       names.push_back("no.such.symbol");
                       const int columns = 4;
                       int index = 0;
                       for (const std::string& name : names) {
                           auto* icon = new QLabel;
                           const bool unknown = !VornSymbol::isKnown(name);
                           icon->setPixmap(QPixmap::fromImage(VornSymbol::image(
                               name, 18, unknown ? VornGlassTokens::warning() : VornGlassTokens::textPrimary())));
                           icon->setFixedSize(20, 20);
                           QLabel* title = label(QString::fromStdString(name), vornFont(10.5, QFont::Normal, VornFontDesign::monospaced),
                                                 unknown ? VornGlassTokens::warning() : VornGlassTokens::textSecondary());
                           auto* cell = new QWidget;
                           auto* cellRow = new QHBoxLayout(cell);
                           cellRow->setContentsMargins(0, 0, 0, 0);
                           cellRow->setSpacing(8);
                           cellRow->addWidget(icon);
                           cellRow->addWidget(title, 1);
                           cell->setFixedWidth(280);
                           grid->addWidget(cell, index / columns, index % columns);
                           ++index;
                       }
                       layout->addWidget(host);
                   });
}

// The suite's views, as a sibling application of the suite would show them.
constexpr std::int64_t galleryGB = 1000LL * 1000 * 1000;

VornVirtualMemorySummary busyMemory() {
    VornVirtualMemorySummary summary;
    summary.physicalTotalBytes = 16 * galleryGB;
    summary.physicalUsedBytes = 11200LL * 1000 * 1000;
    summary.swapTotalBytes = 4 * galleryGB;
    summary.swapUsedBytes = 1300LL * 1000 * 1000;
    summary.swapFileCount = 1;
    summary.swapEncrypted = true;
    summary.isQuarnRunning = true;
    summary.activeDiskPoolCount = 2;
    summary.diskPoolVirtualBytes = 64 * galleryGB;
    summary.diskPoolActualDiskBytes = 9 * galleryGB;
    summary.diskPoolNames = {"studio-pool", "render-cache"};
    summary.mountedSparseDiskCount = 1;
    summary.sparseDiskVirtualBytes = 32 * galleryGB;
    summary.sparseDiskActualBytes = 4 * galleryGB;
    summary.sparseDiskNames = {"Quarn Overflow"};
    summary.frozenAppCount = 3;
    summary.reclaimedFromFrozenBytes = 1800LL * 1000 * 1000;
    return summary;
}

QuarnOffloadLiveProgress offloadRun(bool running, bool completed, std::int64_t step, double fraction,
                                    const char* pressure) {
    QuarnOffloadLiveProgress progress;
    progress.isRunning = running;
    progress.isCompletedSummary = completed;
    progress.stepIndex = step;
    progress.totalSteps = 4;
    progress.fractionCompleted = fraction;
    progress.phaseTitleEN = completed ? "Offload finished" : "Swap wave";
    progress.phaseTitleTR = completed ? "Rahatlatma bitti" : "Swap dalgası";
    progress.detailEN = completed ? "3.2 GB returned to the system" : "Paging out idle pages of 3 apps";
    progress.detailTR = completed ? "Sisteme 3.2 GB geri verildi" : "3 uygulamanın boştaki sayfaları aktarılıyor";
    progress.allocatedBytes = 3 * galleryGB;
    progress.targetBytes = 8 * galleryGB;
    progress.livePressure = pressure;
    return progress;
}

QWidget* suiteActionsSection() {
    return section(text("Suite quick actions", "Suite hızlı işlemleri"),
                   text("Chips that send commands to the installed siblings; the studio bar and the compact row.",
                        "Kurulu kardeş uygulamalara komut gönderen çipler; stüdyo çubuğu ve kompakt satır."),
                   [](QVBoxLayout* layout) {
                       BrakkaLiveStatus kill;
                       kill.problematicCount = 2;
                       layout->addWidget(new VornSuiteQuickActionsStrip(VornSuiteApp::vornSled, busyMemory(), kill,
                                                                        galleryLanguage, false));
                       layout->addWidget(new VornSuiteQuickActionsStrip(VornSuiteApp::vornSled, busyMemory(), std::nullopt,
                                                                        galleryLanguage, true));
                   });
}

QWidget* offloadSection() {
    return section(text("Offload progress", "Rahatlatma ilerlemesi"),
                   text("A running run, a compact one under warning pressure, a finished one.",
                        "Süren bir çalışma, uyarı baskısı altında kompakt bir tane, biten bir tane."),
                   [](QVBoxLayout* layout) {
                       const auto none = [] {};
                       layout->addWidget(new VornOffloadProgressBanner(offloadRun(true, false, 3, 0.42, "normal"),
                                                                       galleryLanguage, false, none, none));
                       layout->addWidget(new VornOffloadProgressBanner(offloadRun(true, false, 2, 0.18, "warning"),
                                                                       galleryLanguage, true, none, none));
                       layout->addWidget(new VornOffloadProgressBanner(offloadRun(false, true, 4, 1.0, "normal"),
                                                                       galleryLanguage, false, none, none));
                   });
}

QWidget* virtualMemorySection() {
    return section(text("Virtual memory", "Sanal bellek"),
                   text("Header pills in their colours and the gauge card, busy and at rest.",
                        "Renkleriyle başlık hapları ve gösterge kartı, yoğun ve boşta."),
                   [](QVBoxLayout* layout) {
                       VornVirtualMemorySummary calm;
                       VornVirtualMemorySummary warning;
                       warning.pressureLevel = "warning";
                       warning.swapTotalBytes = 4 * galleryGB;
                       warning.swapUsedBytes = 2 * galleryGB;
                       VornVirtualMemorySummary critical = busyMemory();
                       critical.pressureLevel = "critical";
                       auto* pills = new QHBoxLayout;
                       pills->setSpacing(10);
                       for (const VornVirtualMemorySummary& summary : {calm, warning, busyMemory(), critical}) {
                           pills->addWidget(new VornVirtualMemoryHeaderPill(summary, galleryLanguage, [] {}));
                       }
                       pills->addStretch(1);
                       layout->addLayout(pills);
                       const QColor accent = accentColor(VornProductPalette::deepCoral);
                       // Side by side, at the width a window's side panel gives them.
                       auto* cards = new QHBoxLayout;
                       cards->setSpacing(14);
                       cards->addWidget(new VornVirtualMemoryGaugeCard(busyMemory(), galleryLanguage, accent,
                                                                       VornSuiteApp::vornSled, {}),
                                        1, Qt::AlignTop);
                       cards->addWidget(new VornVirtualMemoryGaugeCard(VornVirtualMemorySummary{}, galleryLanguage, accent,
                                                                       VornSuiteApp::vornSled, {}),
                                        1, Qt::AlignTop);
                       layout->addLayout(cards);
                   });
}

// The page: ground, header, and the sections in two columns.
std::unique_ptr<QWidget> buildPage(const std::vector<std::vector<QWidget*>>& columns, int width) {
    auto page = std::make_unique<VornGroundBackground>(VornProductPalette::deepCoral);
    vornApplyContentLayoutDirection(page.get(), galleryLanguage);
    auto* outer = new QVBoxLayout(page.get());
    outer->setContentsMargins(28, 24, 28, 28);
    outer->setSpacing(20);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(new VornBrandMark(34, VornBrandMarkStyle::vornworksSuite()));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(label(QStringLiteral("VornKit"), vornFont(VornTextStyle::title2, QFont::Bold), VornGlassTokens::textPrimary()));
    titles->addWidget(label(text("Design system", "Tasarım sistemi"), vornFont(VornTextStyle::subheadline), VornGlassTokens::textSecondary()));
    header->addLayout(titles);
    header->addStretch(1);
    header->addWidget(new VornLanguageMenuButton(galleryLanguage, nullptr), 0, Qt::AlignVCenter);
    header->addWidget(new VornFeedbackButton("VornSled", VornAppVersion("1.0.0", "100"), VornFeedbackKind::feature,
                                             galleryLanguage, VornFeedbackButtonStyle::compactIcon),
                      0, Qt::AlignVCenter);
    outer->addLayout(header);

    auto* body = new QHBoxLayout;
    body->setSpacing(18);
    for (const auto& column : columns) {
        auto* stack = new QVBoxLayout;
        stack->setSpacing(18);
        for (QWidget* card : column) {
            stack->addWidget(card);
        }
        stack->addStretch(1);
        body->addLayout(stack, 1);
    }
    outer->addLayout(body);
    page->setFixedWidth(width);
    page->adjustSize();
    page->layout()->activate();
    page->resize(width, page->sizeHint().height());
    page->layout()->activate();
    return page;
}

QImage renderImage(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Keyboard focus exists only in a shown, active window, and only one widget holds it: the page is
// shown offscreen, each taker is focused in turn and its own rectangle is kept from that picture.
QImage renderWithFocus(QWidget& page) {
    page.show();
    page.activateWindow();
    QApplication::setActiveWindow(&page);
    QApplication::processEvents();
    QImage composed = renderImage(page);
    {
        QPainter painter(&composed);
        for (QWidget* taker : focusTakers) {
            taker->setFocus(Qt::TabFocusReason);
            QApplication::processEvents();
            const QImage shot = renderImage(page);
            const QRect area(taker->mapTo(&page, QPoint(0, 0)), taker->size());
            painter.drawImage(area.topLeft(), shot, area);
        }
    }
    page.hide();
    focusTakers.clear();
    return composed;
}

bool saveImage(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "vornkit-gallery: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool save(QWidget& widget, const QString& path) { return saveImage(renderImage(widget), path); }

// A top-level window as it looks on screen: shown offscreen, laid out, drawn, hidden again.
// `transparent` keeps what the window does not paint see-through (floating panels float).
QImage grabShown(QWidget& window, bool transparent = false) {
    window.show();
    for (int round = 0; round < 4; ++round) QApplication::processEvents();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(transparent ? Qt::transparent : Qt::black);
    window.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    window.hide();
    return image;
}

// Types into a field as a keyboard would, so the form's state follows.
void typeInto(QWidget* field, const QString& typed) {
    for (const QChar character : typed) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(field, &press);
    }
}

QImage windowImage(QWidget& window, QSize size) {
    window.resize(size);
    window.show();
    // Layout requests travel up one level per pass of the event loop.
    for (int pass = 0; pass < 8; ++pass) {
        QApplication::processEvents();
    }
    QImage image = renderImage(window);
    window.hide();
    return image;
}

QLabel* picture(const QImage& image) {
    auto* shown = new QLabel;
    shown->setPixmap(QPixmap::fromImage(image));
    shown->setFixedSize(image.size());
    return shown;
}

QWidget* fileRows() {
    auto* card = new VornGlassCard(14, 12);
    card->contentLayout()->setSpacing(8);
    const std::pair<const char*, QString> rows[] = {{"folder", QStringLiteral("Projects")},
                                                    {"folder", QStringLiteral("Photos 2026")},
                                                    {"doc", QStringLiteral("report-q3.pdf")},
                                                    {"doc", QStringLiteral("site-backup.tar")}};
    for (const auto& [symbol, name] : rows) {
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        auto* icon = new QLabel;
        icon->setPixmap(QPixmap::fromImage(VornSymbol::image(symbol, 16, VornGlassTokens::textSecondary())));
        line->addWidget(icon);
        line->addWidget(label(name, vornFont(VornTextStyle::body), VornGlassTokens::textPrimary()), 1);
        card->contentLayout()->addLayout(line);
    }
    card->contentLayout()->addStretch(1);
    return card;
}

// A window of each titlebar mode, with the kit's own buttons in the band.
QImage titlebarWindow(VornUnifiedTitlebarMode mode) {
    QMainWindow window;
    auto* ground = new VornGroundBackground(VornProductPalette::deepCoral);
    vornApplyContentLayoutDirection(ground, galleryLanguage);
    window.setCentralWidget(ground);
    auto* columns = new QHBoxLayout(ground);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    if (mode == VornUnifiedTitlebarMode::fullHeightSidebar) {
        auto* sidebar = new VornGlassCard(12, 0);
        sidebar->setFixedWidth(190);
        sidebar->contentLayout()->setSpacing(10);
        sidebar->contentLayout()->addWidget(label(text("Places", "Yerler"), vornFont(VornTextStyle::caption, QFont::DemiBold),
                                                  VornGlassTokens::textMuted()));
        for (const QString& place : {text("This Computer", "Bu Bilgisayar"), text("Downloads", "İndirilenler"),
                                     QStringLiteral("Build Server"), QStringLiteral("Media S3")}) {
            sidebar->contentLayout()->addWidget(label(place, vornFont(VornTextStyle::body), VornGlassTokens::textPrimary()));
        }
        sidebar->contentLayout()->addStretch(1);
        vornSidebarTitlebarClearance(sidebar, 2);
        columns->addWidget(sidebar);
    }
    auto* main = new QVBoxLayout;
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    if (mode == VornUnifiedTitlebarMode::unifiedHeader) {
        auto* header = new VornUnifiedHeaderBar(VornUnifiedTitlebarMetrics::standardHeight, 14, 8, VornGlassTokens::surface1());
        header->contentLayout()->addWidget(label(text("Library", "Kitaplık"), vornFont(VornTextStyle::headline, QFont::DemiBold),
                                                 VornGlassTokens::textPrimary()));
        header->contentLayout()->addStretch(1);
        header->contentLayout()->addWidget(glass(text("New Folder", "Yeni Klasör"), false, false, true, "folder.badge.plus"));
        header->contentLayout()->addWidget(new VornLanguageMenuButton(galleryLanguage, nullptr));
        main->addWidget(header);
    }
    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, mode == VornUnifiedTitlebarMode::unifiedHeader ? 8 : 16, 16, 16);
    body->addWidget(fileRows());
    main->addLayout(body, 1);
    columns->addLayout(main, 1);
    window.resize(560, 290);
    vornUnifiedTitlebarWindow(&window, mode);
    return grabShown(window);
}

QWidget* titlebarSection() {
    return section(text("Unified titlebar", "Birleşik başlık çubuğu"),
                   text("The window's content runs up to its top edge beside the kit's own close, minimise and zoom "
                        "buttons; a header bar leaves them room, a sidebar starts below them.",
                        "Pencerenin içeriği, setin kendi kapat, küçült ve büyüt düğmelerinin yanında üst kenara kadar "
                        "uzanır; başlık çubuğu onlara yer bırakır, kenar çubuğu altlarından başlar."),
                   [](QVBoxLayout* layout) {
                       layout->addWidget(specimen(picture(titlebarWindow(VornUnifiedTitlebarMode::unifiedHeader)),
                                                  text("Unified header", "Birleşik başlık")));
                       layout->addWidget(specimen(picture(titlebarWindow(VornUnifiedTitlebarMode::fullHeightSidebar)),
                                                  text("Full-height sidebar", "Tam boy kenar çubuğu")));
                   });
}

QImage floatingPanel() {
    VornDraggableFloatingPanel panel(QRect(0, 0, 330, 190));
    panel.setAttribute(Qt::WA_TranslucentBackground);
    vornApplyContentLayoutDirection(&panel, galleryLanguage);
    auto* outer = new QVBoxLayout(&panel);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* card = new VornGlassCard(16, 16);
    card->contentLayout()->setSpacing(10);
    card->contentLayout()->addWidget(label(text("Quick Note", "Hızlı Not"), vornFont(VornTextStyle::headline, QFont::DemiBold),
                                           VornGlassTokens::textPrimary()));
    auto* field = new VornGlassInputField;
    field->setPlaceholderText(text("Type a note…", "Bir not yazın…"));
    card->contentLayout()->addWidget(field);
    auto* region = new VornTearOffDragRegion(nullptr, nullptr);
    auto* grip = new QHBoxLayout(region);
    grip->setContentsMargins(0, 0, 0, 0);
    grip->setSpacing(6);
    auto* icon = new QLabel;
    icon->setPixmap(QPixmap::fromImage(VornSymbol::image("macwindow", 14, VornGlassTokens::textSecondary())));
    grip->addWidget(icon);
    grip->addWidget(label(text("Drag out to detach", "Ayırmak için dışarı sürükleyin"), vornFont(VornTextStyle::caption),
                          VornGlassTokens::textSecondary()));
    grip->addStretch(1);
    card->contentLayout()->addWidget(region);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(glass(text("Cancel", "Vazgeç"), false, false, true));
    buttons->addWidget(new VornPrimaryButton(text("Save", "Kaydet")));
    card->contentLayout()->addLayout(buttons);
    outer->addWidget(card);
    return grabShown(panel, true);
}

QWidget* floatingSection() {
    return section(text("Floating panel", "Yüzen panel"),
                   text("Dragged by its whole surface except text fields and sliders; the handle tears a view off "
                        "into a window of its own.",
                        "Metin alanları ve kaydırıcılar dışında tüm yüzeyinden sürüklenir; tutamaç bir görünümü "
                        "kendi penceresine ayırır."),
                   [](QVBoxLayout* layout) { layout->addWidget(picture(floatingPanel()), 0, Qt::AlignLeft); });
}

// The kit's menu bar and every menu of it as it opens.
QWidget* mainMenuSection() {
    return section(text("Main menu", "Ana menü"),
                   text("The application menu, File, Edit, the application's own menus and Window; titles follow "
                        "the language each time a menu opens.",
                        "Uygulama menüsü, Dosya, Düzen, uygulamanın kendi menüleri ve Pencere; başlıklar her menü "
                        "açılışında dili izler."),
                   [](QVBoxLayout* layout) {
                       const VornLanguage language = galleryLanguage;
                       std::vector<VornMenuElement> file{
                           VornMenuElement::item([] { return text("New Connection…", "Yeni Bağlantı…"); }, "n",
                                                 VornMenuModifier::command, nullptr, nullptr, false, [] {}),
                           VornMenuElement::item([] { return text("Refresh Both Panes", "İki Bölmeyi Yenile"); }, "r",
                                                 VornMenuModifier::command, nullptr, nullptr, false, [] {}),
                           VornMenuElement::divider(),
                           VornMenuElement::item([] { return text("Preview Sync…", "Eşitlemeyi Önizle…"); }, "",
                                                 VornMenuModifier::none, [] { return false; }, nullptr, false, [] {})};
                       std::vector<VornMenuElement> view{
                           VornMenuElement::item([] { return text("Dual Pane", "Çift Bölme"); }, "1",
                                                 VornMenuModifier::command, nullptr, nullptr, false, [] {}),
                           VornMenuElement::item([] { return text("Transfers", "Aktarımlar"); }, "3",
                                                 VornMenuModifier::command, nullptr, nullptr, false, [] {}),
                           VornMenuElement::divider(),
                           VornMenuElement::languageSubmenu([language] { return language; }, nullptr)};
                       VornEditMenuOverrides edit;
                       edit.duplicate = [] {};
                       VornAppMenuController controller("VornSled", [language] { return language; }, nullptr, [] {},
                                                        std::move(file), edit,
                                                        {VornCustomMenu([] { return text("View", "Görünüm"); }, std::move(view))});
                       QMenuBar* bar = controller.mainMenu();
                       std::vector<QImage> menus;
                       for (QAction* top : bar->actions()) {
                           QMenu* menu = top->menu();
                           emit menu->aboutToShow();
                           menu->ensurePolished();
                           menu->adjustSize();
                           menus.push_back(renderImage(*menu));
                       }
                       bar->ensurePolished();
                       bar->resize(bar->sizeHint().width() + 40, bar->sizeHint().height());
                       layout->addWidget(picture(renderImage(*bar)), 0, Qt::AlignLeft);
                       auto* grid = new QGridLayout;
                       grid->setHorizontalSpacing(16);
                       grid->setVerticalSpacing(16);
                       for (std::size_t index = 0; index < menus.size(); ++index) {
                           grid->addWidget(picture(menus[index]), int(index / 2), int(index % 2), Qt::AlignLeft | Qt::AlignTop);
                       }
                       grid->setColumnStretch(2, 1);
                       layout->addLayout(grid);
                   });
}

// A made-up screenshot: the ground with the mark on it.
QImage sampleScreenshot(VornProductPalette palette) {
    QImage image(480, 300, QImage::Format_ARGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    vornPaintGround(painter, QRectF(image.rect()), palette);
    VornBrandMark::paintVectorMark(painter, QRectF(180, 90, 120, 120));
    return image;
}

void fillComposer(VornFeedbackSheet& sheet) {
    typeInto(sheet.findChild<QWidget*>(QStringLiteral("email")), QStringLiteral("ayse@example.com"));
    typeInto(sheet.findChild<QWidget*>(QStringLiteral("senderName")), QStringLiteral("Ayşe"));
    typeInto(sheet.findChild<QWidget*>(QStringLiteral("subject")), text("Sync preview hides renamed files",
                                                                         "Eşitleme önizlemesi yeniden adlandırılanları gizliyor"));
    typeInto(sheet.findChild<QWidget*>(QStringLiteral("message")),
             text("After renaming a folder on the server, the preview lists only deletions.",
                  "Sunucuda bir klasörü yeniden adlandırınca önizleme yalnızca silmeleri gösteriyor."));
    sheet.chooseKind(VornFeedbackKind::bug);
    for (VornProductPalette palette : {VornProductPalette::deepCobalt, VornProductPalette::deepEmerald}) {
        QApplication::clipboard()->setImage(sampleScreenshot(palette));
        sheet.pasteFromClipboard();
    }
}

// The framework's windows: the feedback composer (form and receipt) and the version-and-logs sheet.
bool renderWindows(const QDir& folder, VornLanguage language) {
    const QString code = QString::fromUtf8(language.code().data(), qsizetype(language.code().size()));
    const VornAppVersion version("2.4.1", "318");
    bool ok = true;

    VornFeedbackSheet form("VornSled", version, VornProductPalette::deepCoral, language, std::nullopt, [] {});
    fillComposer(form);
    ok = saveImage(windowImage(form, QSize(620, 900)), folder.filePath(QStringLiteral("feedback-form-%1.png").arg(code))) && ok;

    // The receipt, from a submission to a stand-in of the feedback server on loopback.
    VornTestHTTPServer server([](const VornRecordedRequest&) {
        return VornTestHTTPReply::json(200, R"({"reference_code":"VS-2412-0042","attachments_count":2})");
    });
    VornFeedbackSheet receipt("VornSled", version, VornProductPalette::deepCoral, language, server.baseURL(), [] {});
    fillComposer(receipt);
    receipt.submitFeedback();
    for (int i = 0; i < 3000 && receipt.state().isSubmitting; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ok = saveImage(windowImage(receipt, QSize(620, 560)), folder.filePath(QStringLiteral("feedback-receipt-%1.png").arg(code))) && ok;

    VornTestTempDir logs;
    auto logger = std::make_shared<VornAppLogger>("VornSled", logs.path(), VornAppLogger::defaultMaxFileBytes, 1,
                                                  [version] { return version; });
    logger->info("VornSled v2.4.1 (318) launched (Linux 6.1.0)", "lifecycle");
    logger->debug("Listing /home/ayse/Downloads: 214 entries", "pane");
    logger->info("LAN server listening on port 53318", "lan");
    logger->warn("sftp: host key for backup.example.net changed; asking before connecting", "sftp");
    logger->error("Upload of report.pdf failed: checksum mismatch", "transfer");
    logger->info("Batch finished: 12 of 12 files verified", "transfer");
    VornVersionAndLogsView view("VornSled", version, logger, VornProductPalette::deepCoral, language, {}, [] {});
    ok = saveImage(windowImage(view, QSize(760, 900)), folder.filePath(QStringLiteral("version-and-logs-%1.png").arg(code))) && ok;

    if (language == VornLanguage::en) {
        VornFeedbackSheet arabic("VornSled", version, VornProductPalette::deepCoral, VornLanguage::ar, std::nullopt, [] {});
        fillComposer(arabic);
        ok = saveImage(windowImage(arabic, QSize(620, 900)), folder.filePath(QStringLiteral("feedback-form-ar.png"))) && ok;
    }
    return ok;
}

bool renderLanguage(const QDir& folder, VornLanguage language) {
    galleryLanguage = language;
    const QString code = QString::fromUtf8(language.code().data(), qsizetype(language.code().size()));
    bool ok = true;

    auto overview = buildPage({{palettesSection(), typographySection(), inputsSection(), segmentsSection(), brandSection(),
                                rightToLeftSection()},
                               {tokensSection(), buttonsSection(), toastsSection(), spinnersSection(), flowSection(),
                                languageSection(), feedbackSection()}},
                              1280);
    ok = save(*overview, folder.filePath(QStringLiteral("gallery-%1.png").arg(code))) && ok;

    auto focus = buildPage({{focusSection()}}, 760);
    ok = saveImage(renderWithFocus(*focus), folder.filePath(QStringLiteral("focus-%1.png").arg(code))) && ok;

    auto suite = buildPage({{suiteActionsSection(), virtualMemorySection()}}, 1500);
    ok = save(*suite, folder.filePath(QStringLiteral("suite-%1.png").arg(code))) && ok;
    auto offload = buildPage({{offloadSection()}}, 820);
    ok = save(*offload, folder.filePath(QStringLiteral("suite-offload-%1.png").arg(code))) && ok;

    auto chrome = buildPage({{titlebarSection(), floatingSection()}, {mainMenuSection()}}, 1640);
    ok = save(*chrome, folder.filePath(QStringLiteral("window-chrome-%1.png").arg(code))) && ok;

    auto symbols = buildPage({{symbolsSection()}}, 1240);
    ok = save(*symbols, folder.filePath(QStringLiteral("symbols-%1.png").arg(code))) && ok;

    // The language menu as it opens (its rows are drawn by Fusion in the dark palette).
    VornLanguageMenuButton button(language, nullptr);
    QMenu* menu = button.buildMenu();
    menu->ensurePolished();
    menu->adjustSize();
    ok = save(*menu, folder.filePath(QStringLiteral("language-menu-%1.png").arg(code))) && ok;
    ok = renderWindows(folder, language) && ok;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Same conditions as the interface tests: offscreen, scale 1, DejaVu.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QT_SCALE_FACTOR", "1", 1);
    QApplication application(argc, argv);
    vornApplyDesignLook(application);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    vornSetMonospacedFamily(QStringLiteral("DejaVu Sans Mono"));

    const QString target = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QDir(vornArtefactsDirectory()).filePath(QStringLiteral("gallery"));
    if (!QDir().mkpath(target)) {
        std::fprintf(stderr, "vornkit-gallery: cannot create %s\n", qPrintable(target));
        return 1;
    }
    const QDir folder(target);

    // The suite's views show the chips of installed siblings only: the gallery gives them a data
    // folder of its own where the three siblings are installed (their entries start nothing).
    QTemporaryDir suiteData;
    if (suiteData.isValid()) {
        for (const char* name : {"quarn", "brakka", "hessom"}) {
            const QString entries = suiteData.filePath(QStringLiteral("applications"));
            QDir().mkpath(entries);
            QFile entry(QDir(entries).filePath(QStringLiteral("com.vornworks.%1.desktop").arg(QLatin1String(name))));
            if (entry.open(QIODevice::WriteOnly)) {
                entry.write(QByteArray("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=true\n");
            }
        }
        setenv("XDG_DATA_HOME", QFile::encodeName(suiteData.path()).constData(), 1);
        setenv("XDG_DATA_DIRS", QFile::encodeName(suiteData.filePath(QStringLiteral("none"))).constData(), 1);
    }
    bool ok = true;
    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        ok = renderLanguage(folder, language) && ok;
    }
    return ok ? 0 : 1;
}
