#include "ConnectionProfileSheetView.h"

#include "SledChrome.h"
#include "VornBrandMark.h"
#include "VornButtons.h"
#include "VornGlassInputField.h"
#include "VornGlassTokens.h"
#include "VornLanguageControls.h"
#include "VornMessageText.h"
#include "VornPainting.h"
#include "VornPalette.h"
#include "VornSegmentedControl.h"
#include "VornSpinner.h"
#include "VornSymbol.h"
#include "VornTypography.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr std::array<ConnectionProtocolKind, 4> allKinds{ConnectionProtocolKind::sftp, ConnectionProtocolKind::awsS3,
                                                         ConnectionProtocolKind::cloudflareR2,
                                                         ConnectionProtocolKind::s3Compatible};
// The segments in the order the picker shows them.
constexpr std::array<SFTPAuthMethod, 3> authSegments{SFTPAuthMethod::sshKey, SFTPAuthMethod::sshAgent,
                                                     SFTPAuthMethod::password};

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

// --- Kind button -----------------------------------------------------------------------------------

SledKindButton::SledKindButton(ConnectionProtocolKind kind, const QColor& accent, QWidget* parent)
    : QAbstractButton(parent), kind_(kind), accent_(accent) {
    setFont(vornFont(VornTextStyle::caption, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SledKindButton::setSelected(bool selected) {
    if (selected != selected_) {
        selected_ = selected;
        update();
    }
}

QSize SledKindButton::sizeHint() const {
    const QFontMetricsF metrics(font());
    return QSizeF(14 + 5 + metrics.horizontalAdvance(text()) + 20, std::max(14.0, metrics.height()) + 16).toSize();
}

QSize SledKindButton::minimumSizeHint() const {
    return QSize(40, sizeHint().height());
}

void SledKindButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    vornPaintGlassRoundedRect(painter, bounds, 8, selected_ ? VornGlassTokens::surface3() : VornGlassTokens::surface1(),
                              selected_ ? accent_ : VornGlassTokens::borderSubtle());
    const QFontMetricsF metrics(font());
    const double symbol = 14;
    const QString label = metrics.elidedText(text(), Qt::ElideRight, width() - symbol - 5 - 12);
    const double content = symbol + 5 + metrics.horizontalAdvance(label);
    const double x = (width() - content) / 2;
    VornSymbol::paint(painter, QRectF(x, (height() - symbol) / 2, symbol, symbol), symbolName(kind_),
                      VornGlassTokens::textPrimary());
    painter.setPen(VornGlassTokens::textPrimary());
    painter.drawText(QRectF(x + symbol + 5, 0, content - symbol - 5 + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, label);
    if (hasFocus()) {
        vornPaintFocusRing(painter, QRectF(rect()), 8);
    }
}

// --- Sheet -----------------------------------------------------------------------------------------

ConnectionProfileSheetView::ConnectionProfileSheetView(SledViewModel& viewModel,
                                                       const std::optional<ConnectionProfile>& existingProfile,
                                                       QWidget* parent)
    : QDialog(parent), model_(viewModel), form_(existingProfile), accent_(accentColor(VornProductPalette::deepCoral)) {
    setObjectName(QStringLiteral("connectionProfileSheet"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(600, 550);
    buildLayout();
    connect(&model_, &SledViewModel::languageChanged, this, &ConnectionProfileSheetView::retranslate);
    connect(&model_, &SledViewModel::profilesChanged, this, &ConnectionProfileSheetView::syncFromForm);
    retranslate();
    syncFromForm();
    if (form_.isEditing) {
        QPointer<ConnectionProfileSheetView> sheet(this);
        model_.loadProfileSecret(form_.profileID, [sheet](const SledSecretLookup& lookup) {
            if (!sheet) {
                return;
            }
            sheet->form_.applySecretLookup(lookup);
            sheet->syncFromForm();
        });
    }
}

QWidget* ConnectionProfileSheetView::labeledField(const char* key, QLabel** label, const char* placeholder,
                                                  std::string ProfileFormState::*text, bool monospaced) {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    *label = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption, QFont::DemiBold), box);
    column->addWidget(*label);
    auto* field = new VornGlassInputField(box, 8, 10, 7);
    field->setObjectName(QString::fromUtf8(key));
    field->setFont(vornFont(12.5, QFont::Normal, monospaced ? VornFontDesign::monospaced : VornFontDesign::standard));
    field->setPlaceholderText(QString::fromUtf8(placeholder));
    field->setText(q(form_.*text));
    connect(field, &QLineEdit::textEdited, this, [this, text](const QString& value) {
        form_.*text = value.toStdString();
        edited_ = true;
        save_->setEnabled(form_.canSave() && !saving_);
    });
    column->addWidget(field);
    return box;
}

void ConnectionProfileSheetView::buildLayout() {
    const auto [ground, column] = sledSheetPage(this, 20, 14);

    auto* header = new QHBoxLayout();
    header->addWidget(new VornBrandMark(22, VornBrandMarkStyle::currentApp(), ground));
    title_ = sledLabel(VornGlassTokens::textPrimary(), vornFont(16, QFont::Bold, VornFontDesign::rounded), ground);
    header->addWidget(title_, 1);
    close_ = new VornGlassButton(QString(), false, ground);
    close_->setSymbol("xmark");
    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    header->addWidget(close_);
    column->addLayout(header);

    auto* kinds = new QHBoxLayout();
    kinds->setSpacing(6);
    for (std::size_t index = 0; index < allKinds.size(); ++index) {
        auto* button = new SledKindButton(allKinds[index], accent_, ground);
        connect(button, &QAbstractButton::clicked, this, [this, kind = allKinds[index]] { chooseKind(kind); });
        kindButtons_[index] = button;
        kinds->addWidget(button, 1);
    }
    column->addLayout(kinds);

    auto* scroll = new QScrollArea(ground);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    vornMakeTransparent(scroll);
    auto* fields = new QWidget(scroll);
    auto* fieldColumn = new QVBoxLayout(fields);
    fieldColumn->setContentsMargins(0, 0, 4, 0);
    fieldColumn->setSpacing(10);
    fieldColumn->addWidget(labeledField("name", &nameLabel_, "Production R2 / Web Server", &ProfileFormState::name));

    sftpFields_ = new QWidget(fields);
    auto* sftp = new QVBoxLayout(sftpFields_);
    sftp->setContentsMargins(0, 0, 0, 0);
    sftp->setSpacing(10);
    auto* hostRow = new QHBoxLayout();
    hostRow->setSpacing(10);
    hostRow->addWidget(labeledField("host", &hostLabel_, "server.example.com", &ProfileFormState::host), 1);
    QWidget* port = labeledField("port", &portLabel_, "22", &ProfileFormState::portString);
    port->setFixedWidth(90);
    hostRow->addWidget(port);
    sftp->addLayout(hostRow);
    sftp->addWidget(labeledField("username", &userLabel_, "ubuntu", &ProfileFormState::username));
    authLabel_ = sledLabel(VornGlassTokens::textSecondary(), vornFont(VornTextStyle::caption, QFont::DemiBold), sftpFields_);
    sftp->addWidget(authLabel_);
    authPicker_ = new VornSegmentedControl(sftpFields_);
    authPicker_->setSegments({{QStringLiteral("SSH Key"), {}}, {QStringLiteral("SSH Agent"), {}}, {QString(), {}}});
    connect(authPicker_, &VornSegmentedControl::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(authSegments.size())) {
            form_.sftpAuthMethod = authSegments[static_cast<std::size_t>(index)];
            edited_ = true;
            syncFromForm();
        }
    });
    sftp->addWidget(authPicker_);
    keyRow_ = new QWidget(sftpFields_);
    auto* keyLayout = new QHBoxLayout(keyRow_);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    keyLayout->setSpacing(8);
    keyLayout->addWidget(labeledField("privateKeyPath", &keyLabel_, "~/.ssh/id_ed25519", &ProfileFormState::privateKeyPath), 1);
    browse_ = new VornGlassButton(QString(), false, keyRow_);
    connect(browse_, &QAbstractButton::clicked, this, &ConnectionProfileSheetView::browseForKey);
    keyLayout->addWidget(browse_, 0, Qt::AlignBottom);
    sftp->addWidget(keyRow_);
    passwordRow_ = labeledField("sshPassword", &passwordLabel_, "", &ProfileFormState::secretInput);
    passwordField_ = passwordRow_->findChild<VornGlassInputField*>();
    sftp->addWidget(passwordRow_);
    fieldColumn->addWidget(sftpFields_);

    storageFields_ = new QWidget(fields);
    auto* storage = new QVBoxLayout(storageFields_);
    storage->setContentsMargins(0, 0, 0, 0);
    storage->setSpacing(10);
    accountRow_ = labeledField("cloudflareAccountID", &accountLabel_, "32-char account ID", &ProfileFormState::cloudflareAccountID);
    storage->addWidget(accountRow_);
    endpointRow_ = labeledField("endpointURL", &endpointLabel_, "https://s3.eu-central-1.amazonaws.com",
                                &ProfileFormState::endpointURL);
    storage->addWidget(endpointRow_);
    auto* bucketRow = new QHBoxLayout();
    bucketRow->setSpacing(10);
    bucketRow->addWidget(labeledField("bucket", &bucketLabel_, "my-assets-bucket", &ProfileFormState::bucket), 1);
    QWidget* region = labeledField("region", &regionLabel_, "auto", &ProfileFormState::region);
    region->setFixedWidth(140);
    bucketRow->addWidget(region);
    storage->addLayout(bucketRow);
    storage->addWidget(labeledField("accessKeyID", &accessKeyLabel_, "AKIA\u2026 / R2 Access Key", &ProfileFormState::accessKeyID));
    QWidget* secretBox = labeledField("secretAccessKey", &secretLabel_, "", &ProfileFormState::secretInput);
    secretField_ = secretBox->findChild<VornGlassInputField*>();
    storage->addWidget(secretBox);
    pathStyle_ = new QCheckBox(storageFields_);
    pathStyle_->setFont(vornFont(VornTextStyle::caption));
    QPalette palette = pathStyle_->palette();
    palette.setColor(QPalette::WindowText, VornGlassTokens::textPrimary());
    palette.setColor(QPalette::Base, QColor(0x2A, 0x20, 0x2C));
    palette.setColor(QPalette::Text, accent_);
    pathStyle_->setPalette(palette);
    connect(pathStyle_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != form_.usePathStyle) {
            form_.usePathStyle = on;
            edited_ = true;
        }
    });
    storage->addWidget(pathStyle_);
    fieldColumn->addWidget(storageFields_);
    fieldColumn->addWidget(labeledField("initialRemotePath", &pathLabel_, "/", &ProfileFormState::initialRemotePath));
    fieldColumn->addStretch(1);
    scroll->setWidget(fields);
    column->addWidget(scroll, 1);

    // One secret serves every kind: both secret fields show the same text.
    for (VornGlassInputField* secret : {passwordField_, secretField_}) {
        secret->setEchoMode(QLineEdit::Password);
        connect(secret, &QLineEdit::textEdited, this, [this, secret](const QString& value) {
            form_.secretEdited = true;
            VornGlassInputField* other = secret == passwordField_ ? secretField_ : passwordField_;
            other->setText(value);
        });
    }

    feedbackRow_ = new QWidget(ground);
    auto* feedback = new QHBoxLayout(feedbackRow_);
    feedback->setContentsMargins(0, 0, 0, 0);
    feedback->setSpacing(6);
    feedbackIcon_ = new QLabel(feedbackRow_);
    feedback->addWidget(feedbackIcon_, 0, Qt::AlignTop);
    // A server's reply can be long (an S3 error body, an ssh diagnostic): it is shown whole, a few
    // lines at a time, and can be copied.
    feedbackText_ = new VornMessageText(vornFont(VornTextStyle::caption), VornGlassTokens::textPrimary(), 5, feedbackRow_);
    feedback->addWidget(feedbackText_, 1);
    column->addWidget(feedbackRow_);

    auto* buttons = new QHBoxLayout();
    test_ = new VornGlassButton(QString(), false, ground);
    test_->setSymbol("bolt.shield");
    connect(test_, &QAbstractButton::clicked, this, &ConnectionProfileSheetView::runConnectionTest);
    // The spinner sits in the middle of the button whatever size the layout gives it.
    testSpinner_ = new VornSpinner(14, test_);
    testSpinner_->setColor(VornGlassTokens::textPrimary());
    auto* spinnerPlace = new QHBoxLayout(test_);
    spinnerPlace->setContentsMargins(0, 0, 0, 0);
    spinnerPlace->addWidget(testSpinner_, 0, Qt::AlignCenter);
    testSpinner_->hide();
    buttons->addWidget(test_);
    delete_ = new VornGlassButton(QString(), false, ground);
    delete_->setSymbol("trash");
    connect(delete_, &QAbstractButton::clicked, this, &ConnectionProfileSheetView::deleteStoredProfile);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
    cancel_ = new VornGlassButton(QString(), false, ground);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel_);
    save_ = new VornPrimaryButton(QString(), ground);
    connect(save_, &QAbstractButton::clicked, this, &ConnectionProfileSheetView::save);
    buttons->addWidget(save_);
    column->addLayout(buttons);
}

SledKindButton* ConnectionProfileSheetView::kindButton(ConnectionProtocolKind kind) const {
    return kindButtons_[static_cast<std::size_t>(kind)];
}

VornGlassInputField* ConnectionProfileSheetView::field(const char* name) const {
    return findChild<VornGlassInputField*>(QString::fromUtf8(name));
}

QAbstractButton* ConnectionProfileSheetView::browseButton() const {
    return browse_;
}

void ConnectionProfileSheetView::retranslate() {
    const VornLanguage language = model_.language();
    auto t = [language](const char* en, const char* tr) { return vornQText(en, tr, language); };
    title_->setText(form_.isEditing ? t("Edit Server Connection", "Sunucu Bağlantısını Düzenle")
                                    : t("New SFTP / AWS S3 / Cloudflare R2 Connection",
                                        "Yeni SFTP / AWS S3 / Cloudflare R2 Bağlantısı"));
    setWindowTitle(title_->text());
    close_->setAccessibleName(t("Close", "Kapat"));
    for (SledKindButton* button : kindButtons_) {
        button->setText(q(label(button->kind(), language)));
    }
    nameLabel_->setText(t("Connection Name", "Bağlantı Adı"));
    pathLabel_->setText(t("Initial Path", "Başlangıç Klasörü"));
    hostLabel_->setText(t("Host / IP", "Sunucu / IP"));
    portLabel_->setText(t("Port", "Port"));
    userLabel_->setText(t("Username", "Kullanıcı Adı"));
    authLabel_->setText(t("Auth Method", "Doğrulama"));
    authPicker_->setTitles({QStringLiteral("SSH Key"), QStringLiteral("SSH Agent"),
                            t("Password (Keyring)", "Parola (Anahtarlık)")});
    keyLabel_->setText(t("Private Key Path", "Özel Anahtar Yolu"));
    browse_->setLabel(t("Browse\u2026", "Seç\u2026"));
    passwordLabel_->setText(t("SSH Password (Stored in the system keyring)", "SSH Parolası (sistem anahtarlığında saklanır)"));
    accountLabel_->setText(QStringLiteral("Cloudflare Account ID"));
    bucketLabel_->setText(t("Bucket Name", "Bucket Adı"));
    regionLabel_->setText(t("Region", "Bölge"));
    accessKeyLabel_->setText(QStringLiteral("Access Key ID"));
    secretLabel_->setText(t("Secret Access Key (Stored exclusively in the system keyring)",
                            "Secret Access Key (Yalnızca sistem anahtarlığında saklanır)"));
    pathStyle_->setText(vornEscapeMnemonic(t("Use Path-Style Bucket URLs (recommended for R2 & MinIO)",
                                             "Path-Style Bucket URL kullan (R2 ve MinIO için önerilir)")));
    test_->setLabel(t("Test Connection", "Bağlantıyı Test Et"));
    delete_->setLabel(t("Delete", "Sil"));
    cancel_->setLabel(t("Cancel", "İptal"));
    save_->setLabel(t("Save to Keyring", "Anahtarlığa Kaydet"));
    vornApplyContentLayoutDirection(this, language);
    syncFromForm();
}

void ConnectionProfileSheetView::syncFromForm() {
    const VornLanguage language = model_.language();
    for (SledKindButton* button : kindButtons_) {
        button->setSelected(button->kind() == form_.kind);
    }
    const bool sftp = form_.kind == ConnectionProtocolKind::sftp;
    sftpFields_->setVisible(sftp);
    storageFields_->setVisible(!sftp);
    const auto segment = std::find(authSegments.begin(), authSegments.end(), form_.sftpAuthMethod);
    authPicker_->setCurrentIndex(static_cast<int>(segment - authSegments.begin()));
    keyRow_->setVisible(form_.sftpAuthMethod == SFTPAuthMethod::sshKey);
    passwordRow_->setVisible(form_.sftpAuthMethod == SFTPAuthMethod::password);
    accountRow_->setVisible(form_.kind == ConnectionProtocolKind::cloudflareR2);
    endpointRow_->setVisible(form_.kind == ConnectionProtocolKind::awsS3 || form_.kind == ConnectionProtocolKind::s3Compatible);
    endpointLabel_->setText(form_.kind == ConnectionProtocolKind::awsS3
                                ? vornQText("Custom Endpoint (Optional for AWS)", "Özel Endpoint (AWS için boş bırakılabilir)",
                                            language)
                                : QStringLiteral("Endpoint URL"));
    field("region")->setPlaceholderText(form_.kind == ConnectionProtocolKind::cloudflareR2 ? QStringLiteral("auto")
                                                                                          : QStringLiteral("us-east-1"));
    // The fields the kind switch may change.
    if (field("region")->text() != q(form_.region)) {
        field("region")->setText(q(form_.region));
    }
    if (field("privateKeyPath")->text() != q(form_.privateKeyPath)) {
        field("privateKeyPath")->setText(q(form_.privateKeyPath));
    }
    pathStyle_->setChecked(form_.usePathStyle);
    // A secret the keyring could not give is kept as it is unless the user types a new one.
    const QString secretPlaceholder =
        form_.secretIsKept() && form_.secretLookup
            ? vornQText("Kept: the stored secret could not be read and stays as it is",
                        "Korunuyor: kayıtlı gizli bilgi okunamadı, olduğu gibi kalır", language)
            : QString::fromUtf8("\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022");
    for (VornGlassInputField* secret : {passwordField_, secretField_}) {
        secret->setPlaceholderText(secretPlaceholder);
        if (!form_.secretEdited && secret->text() != q(form_.secretInput)) {
            secret->setText(q(form_.secretInput));
        }
    }
    delete_->setVisible(form_.isEditing && storedProfile() != nullptr);
    save_->setEnabled(form_.canSave() && !saving_);
    test_->setEnabled(!form_.isTesting);
    syncFeedback();
}

void ConnectionProfileSheetView::syncFeedback() {
    feedbackRow_->setVisible(form_.testFeedback.has_value());
    if (form_.testFeedback) {
        feedbackIcon_->setPixmap(QPixmap::fromImage(
            VornSymbol::image(form_.testSucceeded ? "checkmark.circle.fill" : "exclamationmark.triangle.fill", 14,
                              form_.testSucceeded ? VornGlassTokens::success() : VornGlassTokens::danger())));
        feedbackText_->setText(q(*form_.testFeedback));
    }
    if (form_.isTesting) {
        // The button keeps the size its label gave it, so the row does not jump while a test runs.
        if (!test_->label().isEmpty()) {
            test_->setMinimumSize(test_->sizeHint());
        }
        test_->setLabel(QString());
        test_->setSymbol({});
        testSpinner_->show();
        testSpinner_->start();
    } else {
        testSpinner_->hide();
        testSpinner_->stop();
        test_->setMinimumSize(0, 0);
        test_->setSymbol("bolt.shield");
        test_->setLabel(vornQText("Test Connection", "Bağlantıyı Test Et", model_.language()));
    }
}

void ConnectionProfileSheetView::chooseKind(ConnectionProtocolKind kind) {
    form_.chooseKind(kind);
    edited_ = true;
    syncFromForm();
}

void ConnectionProfileSheetView::browseForKey() {
    const QString folder = QDir::home().filePath(QStringLiteral(".ssh"));
    QFileDialog dialog(this, browse_->label(), folder);
    dialog.setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QByteArray path = QFile::encodeName(dialog.selectedFiles().front());
        form_.privateKeyPath = std::string(path.constData(), static_cast<std::size_t>(path.size()));
        edited_ = true;
        syncFromForm();
    }
}

const ConnectionProfile* ConnectionProfileSheetView::storedProfile() const {
    for (const ConnectionProfile& profile : model_.profiles()) {
        if (profile.id == form_.profileID) {
            return &profile;
        }
    }
    return nullptr;
}

void ConnectionProfileSheetView::runConnectionTest() {
    if (form_.isTesting) {
        return;
    }
    form_.isTesting = true;
    form_.testFeedback.reset();
    syncFromForm();
    QPointer<ConnectionProfileSheetView> sheet(this);
    model_.testConnection(form_.buildProfile(), form_.secretForTest(), [sheet](const std::optional<std::string>& failure) {
        // The sheet may have closed while the test ran: its result is dropped then.
        if (!sheet) {
            return;
        }
        sheet->form_.testSucceeded = !failure;
        sheet->form_.testFeedback = failure ? *failure
                                            : sheet->model_.t("Connection verified successfully!",
                                                              "Bağlantı başarıyla doğrulandı!");
        sheet->form_.isTesting = false;
        sheet->syncFromForm();
    });
}

void ConnectionProfileSheetView::save() {
    if (!form_.canSave()) {
        return;
    }
    if (saving_) {
        return;
    }
    saving_ = true;
    save_->setEnabled(false);
    form_.testFeedback.reset();
    syncFeedback();
    QPointer<ConnectionProfileSheetView> sheet(this);
    model_.saveProfile(form_.buildProfile(), form_.secretToSave(), [sheet](const std::optional<std::string>& failure) {
        if (!sheet) {
            return;
        }
        sheet->saving_ = false;
        if (!failure) {
            sheet->accept();
            return;
        }
        // Everything typed stays: the user fixes the keyring or the folder and saves again.
        sheet->form_.testSucceeded = false;
        sheet->form_.testFeedback = *failure;
        sheet->syncFromForm();
    });
}

void ConnectionProfileSheetView::deleteStoredProfile() {
    if (const ConnectionProfile* stored = storedProfile()) {
        const ConnectionProfile profile = *stored;
        model_.deleteProfile(profile);
    }
    accept();
}

bool ConnectionProfileSheetView::hasEdits() const {
    return edited_ || form_.secretEdited;
}

void ConnectionProfileSheetView::keyPressEvent(QKeyEvent* event) {
    // Return and Enter never press a button of the sheet (least of all Delete).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        // The sheet has a close action, but Escape never throws typed edits away unasked.
        if (!hasEdits()) {
            reject();
        } else if (SledConfirmation* confirmation = model_.confirmation();
                   confirmation && confirmation->confirm(model_.t("Discard changes?", "Değişiklikler atılsın mı?"),
                                                         model_.t("The connection's edits are not saved.",
                                                                  "Bağlantıda yapılan değişiklikler kaydedilmedi."))) {
            reject();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
