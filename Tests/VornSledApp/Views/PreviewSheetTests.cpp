#include "MainSledWorkspaceView.h"
#include "PreviewEditorText.h"
#include "RemoteFilePreviewSheetView.h"
#include "SFTPStorageProvider.h"
#include "SFTPTestSupport.h"
#include "SledCredentialStore.h"
#include "ViewsTestSupport.h"
#include "VornButtons.h"
#include "VornChecksum.h"
#include "VornByteFormatter.h"
#include "VornGlassTokens.h"

#include <QBuffer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>

#include <fstream>
#include <random>

namespace {

// The user's answers to the sheet's questions, and the questions asked.
class ViewsTestConfirmation final : public SledConfirmation {
public:
    bool answer = false;
    std::vector<std::string> asked;
    bool confirm(const std::string& title, const std::string&) override {
        asked.push_back(title);
        return answer;
    }
};

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A text with the characters Qt's text widgets rewrite: CR LF and lone CR line ends, no-break
// spaces, U+2028 and a paragraph separator, and a trailing CR LF.
const std::string awkwardText = "Total:\xC2\xA0" "42\xC2\xA0\xE2\x82\xAC\r\n"
                                "second\xE2\x80\xA8same paragraph\r\n"
                                "old mac\rline\xE2\x80\xA9para\r\n";

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk.append(static_cast<char>((length >> shift) & 0xFF));
    }
    const QByteArray body = QByteArray(type) + data;
    chunk.append(body);
    const std::uint32_t crc = crc32(body);
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk.append(static_cast<char>((crc >> shift) & 0xFF));
    }
    return chunk;
}

// A small PNG whose header claims a picture of side × side 8-bit grey pixels.
QByteArray pngClaiming(std::uint32_t side) {
    QByteArray header;
    for (int copy = 0; copy < 2; ++copy) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header.append(static_cast<char>((side >> shift) & 0xFF));
        }
    }
    header.append(char(8)).append(char(0)).append(char(0)).append(char(0)).append(char(0));
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", QByteArray(64, '\0')) +
           pngChunk("IEND", {});
}

}  // namespace

// The editor's bytes through a real QPlainTextEdit: untouched text comes back byte for byte, and
// an edit keeps the file's own line ends around it.
TEST(PreviewEditorText, TheEditorGivesBackTheBytesItWasGiven) {
    const std::vector<std::string> texts{
        "", "one line", "lf\nonly\n", "crlf\r\nonly\r\n", "cr\ronly\r", "mixed\r\nends\nand\rmore",
        "\r\n\r\n\n\r", "nbsp\xC2\xA0here and\xE2\x80\xAF" "narrow", awkwardText, "tab\tand trailing spaces   \r\n",
    };
    for (const std::string& text : texts) {
        PreviewEditorText source(text);
        QPlainTextEdit editor;
        editor.setPlainText(source.editorText());
        EXPECT_EQ(source.fileBytes(editor.document()->toRawText()), text) << text;
    }
    // Qt's own plain-text export would lose the no-break space and the line ends.
    QPlainTextEdit plain;
    plain.setPlainText(QString::fromStdString(awkwardText));
    EXPECT_NE(plain.toPlainText().toStdString(), awkwardText);

    struct Edit {
        std::string original;
        int line;  // the block the text is typed at the end of
        QString typed;
        std::string expected;
    };
    const std::vector<Edit> edits{
        {"a\r\nb\r\nc\r\n", 1, "X", "a\r\nbX\r\nc\r\n"},
        {"a\r\nb\r\nc", 0, "\nnew", "a\r\nnew\r\nb\r\nc"},
        {"a\rb\rc", 2, "\nd", "a\rb\rc\rd"},
        {"mixed\r\nends\nhere", 0, "!", "mixed!\r\nends\nhere"},
        {"x", 0, "\ny", "x\ny"},
        {"keep\xC2\xA0nbsp\r\n", 0, " +", "keep\xC2\xA0nbsp +\r\n"},
    };
    for (const Edit& edit : edits) {
        PreviewEditorText source(edit.original);
        QPlainTextEdit editor;
        editor.setPlainText(source.editorText());
        QTextCursor cursor(editor.document()->findBlockByNumber(edit.line));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.insertText(edit.typed);
        EXPECT_EQ(source.fileBytes(editor.document()->toRawText()), edit.expected) << edit.expected;
    }
}

class PreviewSheetTest : public ViewsTest {
protected:
    std::shared_ptr<ViewsTestConfirmation> confirmation = std::make_shared<ViewsTestConfirmation>();

    std::unique_ptr<SledViewModel> makeModelAsking(SledModelEnvironment environment) {
        environment.confirmation = confirmation;
        auto model = std::make_unique<SledViewModel>(environment);
        EXPECT_TRUE(viewsWaitFor([&] { return !model->leftPane()->isLoading() && !model->rightPane()->isLoading(); }));
        return model;
    }
    static const SledFileEntry& entryNamed(const PaneBrowserState& pane, const std::string& name) {
        const auto& entries = pane.entries();
        const auto found = std::find_if(entries.begin(), entries.end(), [&](const SledFileEntry& entry) {
            return entry.name == name;
        });
        if (found == entries.end()) {
            ADD_FAILURE() << name << " is not listed";
            static const SledFileEntry none;
            return none;
        }
        return *found;
    }
    static void relist(SledViewModel& model, PaneBrowserState& pane) {
        model.refresh(&pane);
        ASSERT_TRUE(viewsWaitFor([&] { return !pane.isLoading(); }));
    }
    // Opens the preview of `name` through the main view's binding and waits for its result.
    static RemoteFilePreviewSheetView* preview(SledViewModel& model, MainSledWorkspaceView& view, PaneBrowserState& pane,
                                               const std::string& name) {
        model.openQuickPreview(entryNamed(pane, name), &pane);
        RemoteFilePreviewSheetView* sheet = view.previewSheet();
        if (sheet == nullptr) {
            ADD_FAILURE() << "no preview sheet";
            return nullptr;
        }
        EXPECT_TRUE(viewsWaitFor([&] { return !model.isLoadingPreview(); }));
        return sheet;
    }
};

// A local text with CR LF ends and no-break spaces: shown, edited, typed away again, saved
// untouched byte for byte, then saved with one change that keeps every other byte; Escape with
// unsaved changes asks first and keeps the edit when the answer is no.
TEST_F(PreviewSheetTest, ATextIsEditedByteExactlyAndEscapeAsksBeforeDroppingIt) {
    writeBytes(left.path() / "ledger notes.txt", awkwardText);
    auto model = makeModelAsking(environment());
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();

    PaneBrowserState& pane = *model->leftPane();
    model->openQuickPreview(entryNamed(pane, "ledger notes.txt"), &pane);
    RemoteFilePreviewSheetView* sheet = view.previewSheet();
    ASSERT_NE(sheet, nullptr);
    // Loading shows first, however fast the file is.
    EXPECT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::loading);
    EXPECT_EQ(sheet->loadingLabel()->text(), QString::fromUtf8("Fetching preview & computing SHA-256\u2026"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->size(), QSize(760, 560));
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isLoadingPreview(); }));
    ASSERT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::result) << model->previewError().value_or("");

    const std::string digest = VornSHA256::hexDigest(awkwardText);
    EXPECT_EQ(sheet->titleLabel()->text(), "ledger notes.txt");
    EXPECT_EQ(sheet->subtitleLabel()->text(),
              QString::fromUtf8("This Computer \u2022 ") + QString::fromStdString(VornByteFormatter::format(
                                                              static_cast<std::int64_t>(awkwardText.size()))) +
                  QString::fromUtf8(" \u2022 ") + QString::fromStdString((left.path() / "ledger notes.txt").string()));
    EXPECT_EQ(sheet->infoLabel()->text(), "Text / Code (10 lines)");
    EXPECT_EQ(sheet->hashLabel()->text(), QString::fromStdString("SHA-256: " + digest.substr(0, 20)) + QChar(0x2026));
    EXPECT_TRUE(sheet->editButton()->isVisible());
    EXPECT_TRUE(sheet->copyTextButton()->isVisible());
    EXPECT_FALSE(sheet->saveButton()->isVisible());
    EXPECT_FALSE(sheet->editBadge()->isVisible());
    snapshot(*sheet, QStringLiteral("app-preview-text-en"));

    QTest::mouseClick(sheet->copyHashButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard->value, digest);

    // Editing starts on the file's own bytes; typing a character and removing it again turns the
    // badge to "Unsaved changes" and back.
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    ASSERT_TRUE(sheet->isEditing());
    EXPECT_EQ(sheet->draftText(), awkwardText);
    EXPECT_FALSE(sheet->copyTextButton()->isVisible());
    EXPECT_FALSE(sheet->editButton()->isVisible());
    EXPECT_TRUE(sheet->saveButton()->isVisible());
    EXPECT_EQ(sheet->editBadge()->text(), "Edit Mode");
    EXPECT_EQ(sheet->editBadge()->color(), VornGlassTokens::textSecondary());
    QTest::keyClick(sheet->editor(), Qt::Key_End);
    QTest::keyClicks(sheet->editor(), "!");
    EXPECT_EQ(sheet->editBadge()->text(), "Unsaved changes");
    EXPECT_EQ(sheet->editBadge()->color(), VornGlassTokens::warning());
    EXPECT_TRUE(sheet->hasUnsavedChanges());
    snapshot(*sheet, QStringLiteral("app-preview-editing-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(sheet->editBadge()->text(), QString::fromUtf8("Kaydedilmemiş değişiklik"));
    EXPECT_EQ(sheet->infoLabel()->text(), QString::fromUtf8("Metin / Kod (10 satır)"));
    snapshot(*sheet, QStringLiteral("app-preview-editing-tr"));
    model->setLanguage(VornLanguage::en);
    QTest::keyClick(sheet->editor(), Qt::Key_Backspace);
    EXPECT_EQ(sheet->editBadge()->text(), "Edit Mode");
    EXPECT_EQ(sheet->draftText(), awkwardText);

    // Saved untouched: the file keeps every byte.
    bool saved = false;
    QObject context;
    QObject::connect(model.get(), &SledViewModel::isSavingPreviewEditChanged, &context, [&] {
        if (model->isSavingPreviewEdit()) {
            // While the save runs, neither button acts again.
            EXPECT_FALSE(sheet->saveButton()->isEnabled());
            EXPECT_FALSE(sheet->discardButton()->isEnabled());
            EXPECT_EQ(sheet->saveButton()->label().trimmed(), QString::fromUtf8("Uploading & Verifying\u2026"));
            if (!saved) {
                snapshot(*sheet, QStringLiteral("app-preview-saving-en"));
            }
        } else {
            saved = true;
        }
    });
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return saved && !sheet->isEditing(); })) << model->toastMessage().value_or("");
    EXPECT_EQ(readBytes(left.path() / "ledger notes.txt"), awkwardText);
    EXPECT_EQ(model->previewResult()->sha256Hex, digest);

    // One typed word on the first line: the CR LF, CR, U+2028, U+2029 and no-break spaces stay.
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    QTest::keyClick(sheet->editor(), Qt::Key_End);
    QTest::keyClicks(sheet->editor(), " net");
    std::string expected = awkwardText;
    expected.insert(expected.find("\r\n"), " net");
    EXPECT_EQ(sheet->draftText(), expected);

    // Escape asks; "no" keeps the sheet and the edit.
    confirmation->answer = false;
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_EQ(confirmation->asked.size(), 1u);
    EXPECT_EQ(confirmation->asked.back(), "Discard unsaved changes?");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(model->showingPreviewSheet());
    EXPECT_EQ(sheet->draftText(), expected);
    // So does the close button.
    QTest::mouseClick(sheet->closeButton(), Qt::LeftButton);
    EXPECT_EQ(confirmation->asked.size(), 2u);
    EXPECT_TRUE(model->showingPreviewSheet());

    saved = false;
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return saved && !sheet->isEditing(); }));
    EXPECT_EQ(readBytes(left.path() / "ledger notes.txt"), expected);
    EXPECT_EQ(model->previewResult()->sha256Hex, VornSHA256::hexDigest(expected));
    EXPECT_EQ(model->toastMessage(), "Saved & SHA-256 verified: ledger notes.txt");

    // Discard keeps the draft out of Copy Text, which copies the file's text.
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    QTest::keyClicks(sheet->editor(), "draft only");
    QTest::mouseClick(sheet->discardButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isEditing());
    QTest::mouseClick(sheet->copyTextButton(), Qt::LeftButton);
    EXPECT_EQ(clipboard->value, expected);

    // Nothing unsaved: Escape closes at once, and the flag follows.
    const std::size_t asked = confirmation->asked.size();
    QPointer<RemoteFilePreviewSheetView> watched(sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_EQ(confirmation->asked.size(), asked);
    EXPECT_FALSE(model->showingPreviewSheet());
    ASSERT_TRUE(viewsWaitFor([&] { return watched.isNull(); }));

    // A new presentation starts viewing; with unsaved changes "yes" drops them and closes.
    sheet = preview(*model, view, pane, "ledger notes.txt");
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(sheet->isEditing());
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    QTest::keyClicks(sheet->editor(), "unsaved");
    confirmation->answer = true;
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_EQ(confirmation->asked.size(), asked + 1);
    EXPECT_FALSE(model->showingPreviewSheet());
    EXPECT_EQ(readBytes(left.path() / "ledger notes.txt"), expected);
}

// The other bodies: nothing yet, an error, a truncated text, an image, a binary dump, and a small
// PNG that claims a picture too large to decode (shown as bytes, never decoded).
TEST_F(PreviewSheetTest, ErrorsTruncatedTextsImagesAndBinariesShowTheirOwnBody) {
    {
        QImage picture(64, 40, QImage::Format_RGB32);
        picture.fill(QColor(0x20, 0x90, 0xE0));
        for (int x = 0; x < 64; ++x) {
            for (int y = 0; y < 40; ++y) {
                if ((x / 8 + y / 8) % 2 == 0) {
                    picture.setPixelColor(x, y, QColor(0xF4, 0x72, 0xD0));
                }
            }
        }
        ASSERT_TRUE(picture.save(QString::fromStdString((left.path() / "tile.png").string()), "PNG"));
    }
    std::string big(600'000, 'a');
    for (std::size_t at = 99; at < big.size(); at += 100) {
        big[at] = '\n';
    }
    writeBytes(left.path() / "big.log", big);
    std::string binary;
    for (int value = 0; value < 300; ++value) {
        binary.push_back(static_cast<char>(value % 256));
    }
    writeBytes(left.path() / "firmware.bin", binary);
    const QByteArray bomb = pngClaiming(40'000);
    writeBytes(left.path() / "huge.png", bomb.toStdString());
    writeBytes(left.path() / "vanishing.txt", "soon gone");
    const std::string hostile = "say \"hi\"\nto 'all' \xFF.txt";
    writeBytes(left.path() / hostile, "plain");
    // U+FDD0 is a character Qt's text document keeps for its own structure.
    writeBytes(left.path() / "reserved.txt", "before\xEF\xB7\x90" "after\n");

    auto model = makeModelAsking(environment());
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    PaneBrowserState& pane = *model->leftPane();

    {
        // With nothing loaded, only the header stands, titled "File Preview".
        RemoteFilePreviewSheetView bare(*model);
        EXPECT_EQ(bare.body(), RemoteFilePreviewSheetView::Body::nothing);
        EXPECT_EQ(bare.titleLabel()->text(), "File Preview");
        EXPECT_TRUE(bare.subtitleLabel()->isHidden());
        EXPECT_FALSE(bare.actionBar()->isVisibleTo(&bare));
    }

    std::filesystem::remove(left.path() / "vanishing.txt");
    RemoteFilePreviewSheetView* sheet = preview(*model, view, pane, "vanishing.txt");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::error);
    EXPECT_FALSE(sheet->errorLabel()->text().isEmpty());
    EXPECT_EQ(sheet->errorLabel()->text(), QString::fromStdString(*model->previewError()));
    EXPECT_FALSE(sheet->actionBar()->isVisible());
    snapshot(*sheet, QStringLiteral("app-preview-error-en"));
    model->setShowingPreviewSheet(false);

    sheet = preview(*model, view, pane, "big.log");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->infoLabel()->text(), "Text / Code (5243 lines) \u2022 read-only (truncated at 512 KB)");
    EXPECT_TRUE(sheet->copyTextButton()->isVisible());
    EXPECT_FALSE(sheet->editButton()->isVisible());
    sheet->startEditing();
    EXPECT_FALSE(sheet->isEditing());
    model->setShowingPreviewSheet(false);

    // A name with quotes, a line break and a byte that is no UTF-8 shows on one line.
    sheet = preview(*model, view, pane, hostile);
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::result) << model->previewError().value_or("");
    EXPECT_EQ(sheet->titleLabel()->text(), QString::fromUtf8("say \"hi\"\u240Ato 'all' \uFFFD.txt"));
    EXPECT_FALSE(sheet->subtitleLabel()->text().contains('\n'));
    EXPECT_EQ(sheet->infoLabel()->text(), "Text / Code (1 lines)");
    model->setShowingPreviewSheet(false);

    // A text the editor could not give back unchanged stays read-only, and says so.
    sheet = preview(*model, view, pane, "reserved.txt");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->editButton()->isVisible());
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->isEditing());
    EXPECT_TRUE(model->toastIsError());
    EXPECT_EQ(model->toastMessage(), "This file holds characters the editor cannot keep unchanged, so it stays read-only.");
    EXPECT_EQ(readBytes(left.path() / "reserved.txt"), "before\xEF\xB7\x90" "after\n");
    model->setShowingPreviewSheet(false);

    sheet = preview(*model, view, pane, "tile.png");
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(model->previewResult()->payload.kind(), SledPreviewPayload::Kind::image);
    EXPECT_EQ(sheet->dimensionLabel()->text(), QString::fromUtf8("64 \u00D7 40 px"));
    EXPECT_TRUE(sheet->imageView()->isVisible());
    EXPECT_EQ(sheet->imageView()->image().size(), QSize(64, 40));
    EXPECT_TRUE(sheet->copyHashButton()->isVisible());
    EXPECT_FALSE(sheet->copyTextButton()->isVisible());
    EXPECT_FALSE(sheet->editButton()->isVisible());
    const QImage shot = snapshot(*sheet, QStringLiteral("app-preview-image-en"));
    // The picture is drawn scaled up to fit, its aspect ratio kept: the top-left square is pink.
    const QRectF drawn = sheet->imageView()->imageRect();
    EXPECT_GT(drawn.width(), 64 * 4);
    EXPECT_NEAR(drawn.width() / drawn.height(), 64.0 / 40.0, 0.05);
    const QPoint inside = sheet->imageView()->mapTo(
        sheet, (drawn.topLeft() + QPointF(drawn.width() * 4 / 64, drawn.height() * 4 / 40)).toPoint());
    EXPECT_TRUE(vornColorNear(shot.pixelColor(inside), QColor(0xF4, 0x72, 0xD0), 6))
        << shot.pixelColor(inside).name().toStdString();
    model->setLanguage(VornLanguage::tr);
    snapshot(*sheet, QStringLiteral("app-preview-image-tr"));
    model->setLanguage(VornLanguage::en);
    model->setShowingPreviewSheet(false);

    sheet = preview(*model, view, pane, "firmware.bin");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->binaryHeading()->text(), "Binary File \u2022 First 256 Bytes (Hex + ASCII)");
    EXPECT_TRUE(sheet->hexView()->toPlainText().startsWith("0000  00 01 02 03"));
    EXPECT_FALSE(sheet->copyTextButton()->isVisible());
    EXPECT_FALSE(sheet->editButton()->isVisible());
    snapshot(*sheet, QStringLiteral("app-preview-binary-en"));
    model->setLanguage(VornLanguage::tr);
    EXPECT_EQ(sheet->binaryHeading()->text(), QString::fromUtf8("İkili Dosya \u2022 İlk 256 Bayt (Hex + ASCII)"));
    EXPECT_EQ(sheet->copyHashButton()->label(), "SHA-256 Kopyala");
    snapshot(*sheet, QStringLiteral("app-preview-binary-tr"));
    model->setLanguage(VornLanguage::en);
    model->setShowingPreviewSheet(false);

    // 40,000 × 40,000 grey pixels would take 1.6 GB: refused, so the file shows as bytes.
    EXPECT_TRUE(sledDecodePreviewImage(std::as_bytes(std::span(bomb.constData(), static_cast<std::size_t>(bomb.size()))))
                    .isNull());
    sheet = preview(*model, view, pane, "huge.png");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(model->previewResult().has_value());
    EXPECT_EQ(model->previewResult()->payload.kind(), SledPreviewPayload::Kind::binary);
    EXPECT_TRUE(sheet->hexView()->toPlainText().startsWith("0000  89 50 4e 47"));
    model->setShowingPreviewSheet(false);

    EXPECT_EQ(RemoteFilePreviewSheetView::hashLabelText("abc"), QString::fromUtf8("SHA-256: abc\u2026"));
}

class RemotePreviewSheetTest : public PreviewSheetTest {
protected:
    void SetUp() override {
        VORN_REQUIRE_SERVICE("keyring");
        bus_.emplace("DBUS_SESSION_BUS_ADDRESS", VornTestServices::value("KEYRING_DBUS_ADDRESS"));
    }
    void TearDown() override {
        if (saved_) {
            SledCredentialStore::deleteSecret(*saved_);
        }
    }
    // The usual providers, with the sshd's host key trusted.
    SledModelEnvironment remoteEnvironment() const {
        SledModelEnvironment environment = this->environment();
        environment.providerFactory = sftpTestProviderFactory();
        return environment;
    }
    void saveProfile(SledViewModel& model, const ConnectionProfile& profile, const std::optional<std::string>& secret) {
        saved_ = profile.id;
        QSignalSpy toasts(&model, &SledViewModel::toastShown);
        model.saveProfile(profile, secret);
        ASSERT_TRUE(viewsWaitFor([&] { return toasts.count() >= 1; }));
        ASSERT_FALSE(model.toastIsError()) << model.toastMessage().value_or("");
    }
    // Previews `name` in `pane`, types " (revised)" at the end of its first line, saves, and checks
    // what the sheet and the model report; returns the text that should now be stored.
    static std::string editFirstLineThroughTheSheet(SledViewModel& model, MainSledWorkspaceView& view, PaneBrowserState& pane,
                                             const std::string& name, const std::string& original, const QString& picture) {
        model.openQuickPreview([&] {
            const auto& entries = pane.entries();
            const auto found = std::find_if(entries.begin(), entries.end(), [&](const SledFileEntry& e) { return e.name == name; });
            if (found == entries.end()) {
                std::string listed;
                for (const SledFileEntry& entry : entries) {
                    listed += " [" + entry.name + "]";
                }
                ADD_FAILURE() << name << " is not listed; the pane lists" << listed;
            }
            return found == entries.end() ? SledFileEntry() : *found;
        }(), &pane);
        RemoteFilePreviewSheetView* sheet = view.previewSheet();
        if (sheet == nullptr) {
            ADD_FAILURE() << "no preview sheet";
            return {};
        }
        EXPECT_TRUE(viewsWaitFor([&] { return !model.isLoadingPreview(); }));
        if (!model.previewResult()) {
            ADD_FAILURE() << model.previewError().value_or("no preview");
            return {};
        }
        EXPECT_EQ(sheet->titleLabel()->text(), QString::fromStdString(name));
        EXPECT_EQ(model.previewResult()->sha256Hex, VornSHA256::hexDigest(original));
        snapshot(*sheet, picture);

        QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
        EXPECT_TRUE(sheet->isEditing());
        QTest::keyClick(sheet->editor(), Qt::Key_End);
        QTest::keyClicks(sheet->editor(), " (revised)");
        std::string expected = original;
        expected.insert(expected.find("\r\n"), " (revised)");
        EXPECT_EQ(sheet->draftText(), expected);
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        EXPECT_TRUE(viewsWaitFor([&] { return !model.isSavingPreviewEdit() && !sheet->isEditing(); }))
            << model.toastMessage().value_or("");
        EXPECT_EQ(model.toastMessage(), "Saved & SHA-256 verified: " + name);
        EXPECT_EQ(model.previewResult()->sha256Hex, VornSHA256::hexDigest(expected));
        EXPECT_TRUE(model.transfers().front().isSHA256Verified);
        model.setShowingPreviewSheet(false);
        return expected;
    }
    static std::string randomName(const std::string& prefix) {
        static std::mt19937_64 random{std::random_device{}()};
        return prefix + std::to_string(random() % 1'000'000'000ULL);
    }

private:
    std::optional<VornScopedEnv> bus_;
    std::optional<VornUUID> saved_;
};

// A remote text on the loopback sshd, with a name holding spaces and quotes: previewed, edited
// and saved; the file the server holds has the new SHA-256 and every CR LF and no-break space.
TEST_F(RemotePreviewSheetTest, AnSFTPTextIsSavedAndTheServerHoldsTheNewDigest) {
    VORN_REQUIRE_SERVICE("sshd");
    ConnectionProfile profile = sftpTestProfile();
    profile.id = VornUUID::random();
    const std::filesystem::path folder = std::filesystem::path(VornTestServices::value("SSHD_HOME")) / randomName("preview-");
    ASSERT_TRUE(std::filesystem::create_directories(folder));
    const std::string name = "it's a \"draft\" v2.txt";
    const std::string original = "line one\xC2\xA0x\r\nline two\r\n";
    writeBytes(folder / name, original);
    // The sshd's user replaces files there.
    vornShell("chown -R " + vornShellQuote(VornTestServices::value("SSHD_USER")) + " " + vornShellQuote(folder.string()));
    profile.initialRemotePath = folder.string();

    auto model = makeModelAsking(remoteEnvironment());
    saveProfile(*model, profile, std::nullopt);
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    PaneBrowserState& remote = *model->rightPane();
    model->selectEndpoint(PaneEndpoint::remote(profile.id), &remote);
    ASSERT_TRUE(viewsWaitFor([&] { return !remote.isLoading(); }));
    ASSERT_FALSE(remote.errorMessage().has_value()) << *remote.errorMessage();

    const std::string expected =
        editFirstLineThroughTheSheet(*model, view, remote, name, original, QStringLiteral("app-preview-sftp-en"));
    EXPECT_EQ(expected, "line one\xC2\xA0x (revised)\r\nline two\r\n");
    // The server's copy, read where the sshd keeps it.
    EXPECT_EQ(readBytes(folder / name), expected);
    EXPECT_EQ(VornChecksum::sha256(folder / name, 65536), VornSHA256::hexDigest(expected));
    std::filesystem::remove_all(folder);
}

// The same on the SigV4-checking S3 server; the stored object is fetched back over HTTP through a
// signed link.
TEST_F(RemotePreviewSheetTest, AnObjectStoreTextIsSavedAndTheServerServesTheNewBytes) {
    VORN_REQUIRE_SERVICE("s3");
    VORN_REQUIRE_TOOL("curl");
    ConnectionProfile profile;
    profile.id = VornUUID::random();
    profile.name = "Test bucket";
    profile.kind = ConnectionProtocolKind::s3Compatible;
    profile.endpointURL = VornTestServices::value("S3_ENDPOINT");
    profile.bucket = VornTestServices::value("S3_BUCKET");
    profile.region = VornTestServices::value("S3_REGION");
    profile.accessKeyID = VornTestServices::value("S3_ACCESS_KEY");
    profile.usePathStyleAddressing = true;
    const std::string name = "notes (v2) draft.txt";
    const std::string original = "first\r\nsecond\xC2\xA0line\r\n";
    writeBytes(left.path() / name, original);

    auto model = makeModelAsking(remoteEnvironment());
    saveProfile(*model, profile, VornTestServices::value("S3_SECRET_KEY"));
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    PaneBrowserState& local = *model->leftPane();
    PaneBrowserState& bucket = *model->rightPane();
    model->jumpToBookmark({VornUUID::random(), "", PaneEndpoint::remote(profile.id), "/" + randomName("preview-")}, &bucket);
    ASSERT_TRUE(viewsWaitFor([&] { return !bucket.isLoading(); }));
    ASSERT_FALSE(bucket.errorMessage().has_value()) << *bucket.errorMessage();
    local.setSelectedPaths({(left.path() / name).string()});
    QSignalSpy finished(model.get(), &SledViewModel::transferBatchFinished);
    model->transferSelected(&local, &bucket);
    ASSERT_TRUE(viewsWaitFor([&] { return finished.count() == 1; }));
    ASSERT_TRUE(viewsWaitFor([&] { return !bucket.isLoading() && bucket.entries().size() == 1; }));

    const std::string expected =
        editFirstLineThroughTheSheet(*model, view, bucket, name, original, QStringLiteral("app-preview-s3-en"));
    EXPECT_EQ(expected, "first (revised)\r\nsecond\xC2\xA0line\r\n");
    ASSERT_TRUE(viewsWaitFor([&] { return !bucket.isLoading(); }));
    model->copyPresignedURL(entryNamed(bucket, name), &bucket, 3600);
    ASSERT_TRUE(viewsWaitFor([&] { return clipboard->value.has_value() && clipboard->value->starts_with("http"); }));
    const VornShellResult fetched = vornShell("curl -sf " + vornShellQuote(*clipboard->value));
    ASSERT_EQ(fetched.exitCode, 0) << fetched.output;
    EXPECT_EQ(fetched.output, expected);
    EXPECT_EQ(VornSHA256::hexDigest(fetched.output), VornSHA256::hexDigest(expected));

    bucket.setSelectedPaths({entryNamed(bucket, name).path});
    model->deleteSelected(&bucket);
    ASSERT_TRUE(viewsWaitFor([&] { return model->toastMessage() == "Deleted 1 item(s)"; }));
}

// The file changes on disk while it is being edited: Save is refused with the reason over the
// buttons, the sheet stays in editing with the draft, and the other program's text stays.
TEST_F(PreviewSheetTest, ASaveOverAChangeMadeSinceThePreviewIsRefusedAndTheDraftStays) {
    writeBytes(left.path() / "shared.txt", "first version\n");
    auto model = makeModel();
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    PaneBrowserState& pane = *model->leftPane();
    RemoteFilePreviewSheetView* sheet = preview(*model, view, pane, "shared.txt");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    QTest::keyClick(sheet->editor(), Qt::Key_End);
    QTest::keyClicks(sheet->editor(), "my line");
    const std::string draft = sheet->draftText();
    EXPECT_FALSE(sheet->saveRefusalLabel()->isVisible());

    for (const VornLanguage language : {VornLanguage::en, VornLanguage::tr}) {
        writeBytes(left.path() / "shared.txt", language == VornLanguage::en ? "their version\n" : "their version 2\n");
        model->setLanguage(language);
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
        ASSERT_TRUE(viewsWaitFor([&] { return !model->isSavingPreviewEdit() && model->previewSaveError(); }));
        EXPECT_TRUE(sheet->isEditing());
        EXPECT_EQ(sheet->draftText(), draft);
        EXPECT_TRUE(sheet->saveRefusalLabel()->isVisible());
        EXPECT_EQ(sheet->saveRefusalLabel()->text().toStdString(), *model->previewSaveError());
        EXPECT_TRUE(model->toastIsError());
        const bool english = language == VornLanguage::en;
        EXPECT_EQ(model->previewSaveError()->rfind(english ? "The file changed since the preview opened"
                                                           : "Dosya önizleme açıldıktan sonra değişti",
                                                   0),
                  0u)
            << *model->previewSaveError();
        snapshot(*sheet, english ? QStringLiteral("app-preview-save-refused-en")
                                 : QStringLiteral("app-preview-save-refused-tr"));
    }
    EXPECT_EQ(readBytes(left.path() / "shared.txt"), "their version 2\n");
    // Discarding leaves editing, and with it the refusal.
    QTest::mouseClick(sheet->discardButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet->saveRefusalLabel()->isVisible());
}

// In Turkish: a file gone before its preview shows the system's reason in Turkish, and a save
// that meets a folder where the edited file was is refused with a Turkish toast, keeping the edit.
TEST_F(PreviewSheetTest, FailuresReadInTheChosenLanguageAndAFailedSaveKeepsTheEdit) {
    writeBytes(left.path() / "vanishing.txt", "soon gone");
    writeBytes(left.path() / "plan.txt", "first line\n");
    auto model = makeModelAsking(environment());
    MainSledWorkspaceView view(*model);
    view.resize(1228, 700);
    view.show();
    model->setLanguage(VornLanguage::tr);
    PaneBrowserState& pane = *model->leftPane();

    std::filesystem::remove(left.path() / "vanishing.txt");
    RemoteFilePreviewSheetView* sheet = preview(*model, view, pane, "vanishing.txt");
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::error);
    EXPECT_TRUE(sheet->errorLabel()->text().startsWith(QString::fromUtf8("Böyle bir dosya ya da klasör yok: ")))
        << sheet->errorLabel()->text().toStdString();
    snapshot(*sheet, QStringLiteral("app-preview-error-tr"));
    model->setShowingPreviewSheet(false);

    sheet = preview(*model, view, pane, "plan.txt");
    ASSERT_NE(sheet, nullptr);
    ASSERT_EQ(sheet->body(), RemoteFilePreviewSheetView::Body::result) << model->previewError().value_or("");
    snapshot(*sheet, QStringLiteral("app-preview-text-tr"));
    QTest::mouseClick(sheet->editButton(), Qt::LeftButton);
    ASSERT_TRUE(sheet->isEditing());
    QTest::keyClicks(sheet->editor(), "new ");
    const std::string draft = sheet->draftText();
    // While the text is edited, a folder takes the file's place.
    std::filesystem::remove(left.path() / "plan.txt");
    std::filesystem::create_directory(left.path() / "plan.txt");
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(viewsWaitFor([&] { return !model->isSavingPreviewEdit(); }));
    ASSERT_TRUE(model->toastMessage().has_value());
    EXPECT_TRUE(model->toastIsError());
    // The file is no longer the one the preview read, so the save is refused before it writes.
    EXPECT_TRUE(model->toastMessage()->starts_with("Dosya önizleme açıldıktan sonra değişti"))
        << *model->toastMessage();
    EXPECT_TRUE(sheet->isEditing()) << "the edit stays for another try";
    EXPECT_EQ(sheet->draftText(), draft);
    EXPECT_TRUE(std::filesystem::is_directory(left.path() / "plan.txt")) << "the folder is left alone";
    QTest::qWait(350);
    snapshot(view, QStringLiteral("app-preview-save-failed-tr"));
    model->setLanguage(VornLanguage::en);
}
