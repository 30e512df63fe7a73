#include "VornFeedbackSheet.h"
#include "VornSheetParts.h"
#include "VornTestBrowser.h"
#include "VornTestHTTPServer.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string imageBytes(const QColor& color, const char* format, QSize size = QSize(40, 30)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

// A real one-pixel GIF (Qt writes no GIF of its own).
const std::string onePixelGIF("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00!\xf9\x04\x00\x00\x00\x00"
                              "\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02" "D\x01\x00;",
                              43);

// Types `text` into `widget` character by character, as a keyboard with any layout would.
void type(QWidget* widget, const QString& text) {
    for (const QChar character : text) {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
}

QString q(const fs::path& path) { return QString::fromStdString(path.string()); }

// Runs the event loop until `done` holds (the submission's reply arrives through it).
bool waitUntil(const std::function<bool()>& done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The sheet as a person sees it: shown, laid out, then drawn.
QImage picture(QWidget& sheet, QSize size) {
    sheet.resize(size);
    sheet.show();
    // Layout requests travel up one level per pass of the event loop.
    for (int pass = 0; pass < 8; ++pass) {
        QCoreApplication::processEvents();
    }
    return vornRenderOnBlack(sheet, size);
}

std::string part(std::string_view boundary, std::string_view name, std::string_view value) {
    return "--" + std::string(boundary) + "\r\nContent-Disposition: form-data; name=\"" + std::string(name) +
           "\"\r\n\r\n" + std::string(value) + "\r\n";
}

class FeedbackSheetTest : public testing::Test {
protected:
    VornTestTempDir dir;
    VornScopedEnv environment{"VORNWORKS_FEEDBACK_BASE_URL", std::nullopt};
    VornTestHTTPServer server;
    int closes = 0;

    std::unique_ptr<VornFeedbackSheet> makeSheet(VornLanguage language = VornLanguage::en, bool closable = true) {
        auto sheet = std::make_unique<VornFeedbackSheet>(
            "VornSled", VornAppVersion("2.1.0", "57"), VornProductPalette::deepCoral, language, server.baseURL(),
            closable ? VornFeedbackSheet::OnClose([this] { ++closes; }) : VornFeedbackSheet::OnClose());
        VornHTTPOptions session;
        session.connectTimeout = std::chrono::seconds(10);
        session.idleTimeout = std::chrono::seconds(30);
        sheet->setSession(session);
        sheet->resize(620, 760);
        return sheet;
    }

    template <class W = QWidget>
    static W* child(QWidget& sheet, const char* name) {
        W* found = sheet.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Chooses `files` through "Choose Image…", as the file chooser would hand them over.
    static void choose(VornFeedbackSheet& sheet, const std::vector<fs::path>& files) {
        QStringList paths;
        for (const fs::path& file : files) {
            paths << q(file);
        }
        sheet.setFileChooser([paths](QWidget*, const QString&) { return std::optional<QStringList>(paths); });
        QTest::mouseClick(child(sheet, "chooseImage"), Qt::LeftButton);
    }

    static void putOnClipboard(QMimeData* data) { QGuiApplication::clipboard()->setMimeData(data); }
};

}  // namespace

TEST_F(FeedbackSheetTest, ChosenFilesAreSizedBeforeReadingAndTypedByExtension) {
    const std::string exact(VornFeedbackService::maxScreenshotBytes, 'e');
    const fs::path exactFile = dir.write("exact.png", exact);
    const fs::path over = dir.write("over.png", std::string(VornFeedbackService::maxScreenshotBytes + 1, 'o'));
    // Eight gigabytes that take no room on disk: read whole, they would exhaust memory.
    const fs::path huge = dir.write("huge.png", "");
    fs::resize_file(huge, 8ull << 30);
    const std::string jpeg = imageBytes(Qt::red, "JPG");
    const fs::path shout = dir.write("SHOT.JPG", jpeg);
    const fs::path empty = dir.write("empty.png", "");
    fs::create_directory(dir / "folder.png");
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);  // nobody will ever write to it
    const fs::path gif = dir.write("anim.gif", onePixelGIF);

    auto sheet = makeSheet();
    choose(*sheet, {exactFile, over, huge, shout, empty, dir / "folder.png", dir / "pipe.png", gif});
    const VornFeedbackSheetState& state = sheet->state();
    ASSERT_EQ(state.screenshots.size(), 3u);
    EXPECT_EQ(state.screenshots[0].filename, "exact.png");
    EXPECT_EQ(state.screenshots[0].mimeType, "image/png");
    EXPECT_EQ(state.screenshots[0].data, exact);
    EXPECT_EQ(state.screenshots[1].filename, "SHOT.JPG");
    EXPECT_EQ(state.screenshots[1].mimeType, "image/jpeg");
    EXPECT_EQ(state.screenshots[1].data, jpeg);
    EXPECT_EQ(state.screenshots[2].mimeType, "image/gif");
    EXPECT_EQ(state.screenshots[2].data, onePixelGIF);
    EXPECT_EQ(state.errorMessage, "Each screenshot must be smaller than 5 MB.");
    EXPECT_TRUE(child(*sheet, "errorBanner")->isVisibleTo(sheet.get()));
    EXPECT_EQ(sheet->findChildren<QWidget*>(QStringLiteral("screenshotTile")).size(), 3);
    // Only tiles whose bytes are a picture show one.
    EXPECT_EQ(sheet->findChildren<QLabel*>(QStringLiteral("screenshotPicture")).size(), 2);

    // The next choice starts with a clean banner; unknown extensions go as PNG.
    choose(*sheet, {dir.write("pic.webp", imageBytes(Qt::blue, "WEBP")), dir.write("raw.bmp", imageBytes(Qt::blue, "BMP"))});
    ASSERT_EQ(state.screenshots.size(), 5u);
    EXPECT_EQ(state.screenshots[3].mimeType, "image/webp");
    EXPECT_EQ(state.screenshots[4].mimeType, "image/png");
    EXPECT_FALSE(state.errorMessage.has_value());
    EXPECT_FALSE(child(*sheet, "errorBanner")->isVisibleTo(sheet.get()));

    // A cancelled chooser changes nothing.
    sheet->setFileChooser([](QWidget*, const QString&) { return std::optional<QStringList>(); });
    QTest::mouseClick(child(*sheet, "chooseImage"), Qt::LeftButton);
    EXPECT_EQ(state.screenshots.size(), 5u);
}

TEST_F(FeedbackSheetTest, NoSourceAddsASixthScreenshot) {
    std::vector<fs::path> seven;
    for (int i = 0; i < 7; ++i) {
        seven.push_back(dir.write("shot" + std::to_string(i) + ".png", imageBytes(QColor(30 * i, 90, 160), "PNG")));
    }
    auto sheet = makeSheet(VornLanguage::tr);
    choose(*sheet, seven);
    const VornFeedbackSheetState& state = sheet->state();
    ASSERT_EQ(state.screenshots.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(state.screenshots[i].filename, "shot" + std::to_string(i) + ".png");
    }
    // Error texts follow the interface language (English here), not the sheet's.
    EXPECT_EQ(state.errorMessage, "You can attach up to 5 screenshots.");

    vornSaveArtefact(picture(*sheet, QSize(620, 1000)), QStringLiteral("feedback-sheet-full-tr"));

    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/png"), QByteArray::fromStdString(imageBytes(Qt::white, "PNG")));
    putOnClipboard(data);
    for (const char* button : {"pasteClipboard", "chooseImage"}) {
        sheet->setFileChooser([&](QWidget*, const QString&) { return std::optional<QStringList>(QStringList{q(seven[5])}); });
        QTest::mouseClick(child(*sheet, button), Qt::LeftButton);
        EXPECT_EQ(state.screenshots.size(), 5u) << button;
        EXPECT_EQ(state.errorMessage, "You can attach up to 5 screenshots.") << button;
    }
}

TEST_F(FeedbackSheetTest, PastingTakesTheClipboardImage) {
    auto sheet = makeSheet();
    const VornFeedbackSheetState& state = sheet->state();
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(child(*sheet, "pasteClipboard"), Qt::LeftButton);
    EXPECT_TRUE(state.screenshots.empty());
    EXPECT_FALSE(state.errorMessage.has_value());
    EXPECT_EQ(state.statusHint,
              "No image found on the clipboard right now. Take a screenshot first, then click Paste.");
    EXPECT_EQ(child<QLabel>(*sheet, "statusHint")->text().toStdString(), *state.statusHint);

    // PNG bytes are taken as they are.
    const std::string png = imageBytes(QColor(200, 40, 90), "PNG");
    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/png"), QByteArray::fromStdString(png));
    putOnClipboard(data);
    QTest::mouseClick(child(*sheet, "pasteClipboard"), Qt::LeftButton);
    ASSERT_EQ(state.screenshots.size(), 1u);
    EXPECT_EQ(state.screenshots[0].data, png);
    EXPECT_EQ(state.screenshots[0].mimeType, "image/png");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^clipboard-[0-9]+\\.png$"))
                    .match(QString::fromStdString(state.screenshots[0].filename))
                    .hasMatch())
        << state.screenshots[0].filename;
    EXPECT_EQ(state.statusHint, "Screenshot pasted from clipboard.");

    // Any other image is encoded as PNG.
    QImage copied(64, 48, QImage::Format_RGB32);
    copied.fill(QColor(10, 200, 120));
    QGuiApplication::clipboard()->setImage(copied);
    QTest::mouseClick(child(*sheet, "pasteClipboard"), Qt::LeftButton);
    ASSERT_EQ(state.screenshots.size(), 2u);
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(QByteArray::fromStdString(state.screenshots[1].data), "PNG"));
    EXPECT_EQ(decoded.size(), QSize(64, 48));
    EXPECT_EQ(decoded.pixelColor(5, 5), QColor(10, 200, 120));

    // Too large a paste is refused with the service's own text.
    auto* large = new QMimeData;
    large->setData(QStringLiteral("image/png"), QByteArray(qsizetype(VornFeedbackService::maxScreenshotBytes + 1), 'x'));
    putOnClipboard(large);
    QTest::mouseClick(child(*sheet, "pasteClipboard"), Qt::LeftButton);
    EXPECT_EQ(state.screenshots.size(), 2u);
    EXPECT_EQ(state.errorMessage, "Each screenshot must be smaller than 5 MB.");
}

TEST_F(FeedbackSheetTest, RemovingATileRemovesExactlyThatScreenshot) {
    auto sheet = makeSheet();
    choose(*sheet, {dir.write("a.png", imageBytes(Qt::red, "PNG")), dir.write("b.png", imageBytes(Qt::green, "PNG")),
                    dir.write("c.png", imageBytes(Qt::blue, "PNG"))});
    const auto before = sheet->state().screenshots;
    ASSERT_EQ(before.size(), 3u);
    const QList<QAbstractButton*> removes = sheet->findChildren<QAbstractButton*>(QStringLiteral("removeScreenshot"));
    ASSERT_EQ(removes.size(), 3);
    QAbstractButton* second = nullptr;
    for (QAbstractButton* button : removes) {
        if (button->accessibleName() == QStringLiteral("b.png")) {
            second = button;
        }
    }
    ASSERT_NE(second, nullptr);
    QTest::mouseClick(second, Qt::LeftButton);
    QCoreApplication::processEvents();
    const auto& after = sheet->state().screenshots;
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].id, before[0].id);
    EXPECT_EQ(after[1].id, before[2].id);
    EXPECT_EQ(sheet->findChildren<QWidget*>(QStringLiteral("screenshotTile")).size(), 2);
}

TEST_F(FeedbackSheetTest, SubmissionRunsOffTheGUIThreadAndShowsTheReceipt) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server.setHandler([released](const VornRecordedRequest&) {
        released.wait();
        return VornTestHTTPReply::json(200, R"({"reference_code":"FB-7","attachments_count":2,"message":"Got it."})");
    });
    auto sheet = makeSheet();
    sheet->show();
    const VornFeedbackSheetState& state = sheet->state();
    QTest::mouseClick(child(*sheet, "kind-bug"), Qt::LeftButton);
    QTest::keyClicks(child(*sheet, "email"), QStringLiteral(" me@example.test "));
    type(child(*sheet, "senderName"), QStringLiteral("Ayşe"));
    QTest::keyClicks(child(*sheet, "subject"), QStringLiteral("Copy stalls"));
    QTest::keyClicks(child(*sheet, "message"), QStringLiteral("The copy stalls at 99%."));
    const std::string png = imageBytes(Qt::red, "PNG");
    const std::string jpeg = imageBytes(Qt::blue, "JPG");
    choose(*sheet, {dir.write("one.png", png), dir.write("two.jpeg", jpeg)});
    EXPECT_EQ(state.kind, VornFeedbackKind::bug);
    EXPECT_EQ(state.senderName, "Ayşe");
    EXPECT_EQ(state.message, "The copy stalls at 99%.");

    auto* send = child<VornTintedButton>(*sheet, "sendFeedback");
    QTest::mouseClick(send, Qt::LeftButton);
    // The GUI thread is free while the server holds the request.
    EXPECT_TRUE(state.isSubmitting);
    EXPECT_FALSE(send->isEnabled());
    EXPECT_TRUE(send->isBusy());
    EXPECT_EQ(send->label(), QStringLiteral("Sending…"));
    QTest::mouseClick(send, Qt::LeftButton);  // disabled: no second submission
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 1; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(state.isSubmitting);
    vornSaveArtefact(picture(*sheet, QSize(620, 900)), QStringLiteral("feedback-sheet-sending-en"));
    release.set_value();
    ASSERT_TRUE(waitUntil([&] { return !state.isSubmitting; }));

    ASSERT_TRUE(state.receipt.has_value());
    EXPECT_EQ(*state.receipt, (VornFeedbackReceipt{"FB-7", 2, "Got it."}));
    EXPECT_FALSE(child(*sheet, "composerForm")->isVisible());
    EXPECT_TRUE(child(*sheet, "receiptCard")->isVisible());
    EXPECT_EQ(child<QLabel>(*sheet, "referenceBadge")->text(), QStringLiteral("Reference: FB-7"));
    EXPECT_EQ(child<QLabel>(*sheet, "receiptMessage")->text(), QStringLiteral("Got it."));
    EXPECT_TRUE(child(*sheet, "attachmentsLine")->isVisible());
    EXPECT_EQ(child(*sheet, "attachmentsLine")->accessibleName(), QStringLiteral("📷 2"));
    EXPECT_TRUE(child(*sheet, "doneButton")->isVisible());
    vornSaveArtefact(picture(*sheet, QSize(620, 560)), QStringLiteral("feedback-sheet-receipt-en"));

    // Exactly the form as typed went out, once.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string contentType = requests[0].header("Content-Type").value_or("");
    const std::string boundary = contentType.substr(contentType.find("boundary=") + 9);
    const std::string expected =
        part(boundary, "type", "bug") + part(boundary, "program_slug", "vornsled") +
        part(boundary, "program_name", "VornSled") + part(boundary, "email", "me@example.test") +
        part(boundary, "sender_name", "Ayşe") + part(boundary, "subject", "Copy stalls") +
        part(boundary, "message", "The copy stalls at 99%.") + part(boundary, "app_version", "2.1.0") +
        part(boundary, "os_info", VornFeedbackService::currentOSDescription()) + part(boundary, "locale", "en") +
        part(boundary, "source", "desktop_app") + "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"screenshots[]\"; filename=\"one.png\"\r\n"
        "Content-Type: image/png\r\n\r\n" + png + "\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"screenshots[]\"; filename=\"two.jpeg\"\r\n"
        "Content-Type: image/jpeg\r\n\r\n" + jpeg + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(requests[0].body, expected);

    // Another note keeps the sender and the kind, and starts an empty form.
    QTest::mouseClick(child(*sheet, "sendAnotherNote"), Qt::LeftButton);
    EXPECT_FALSE(state.receipt.has_value());
    EXPECT_EQ(state.kind, VornFeedbackKind::bug);
    EXPECT_EQ(state.email, " me@example.test ");
    EXPECT_EQ(state.senderName, "Ayşe");
    EXPECT_TRUE(state.subject.empty());
    EXPECT_TRUE(state.message.empty());
    EXPECT_TRUE(state.screenshots.empty());
    EXPECT_TRUE(child<QLineEdit>(*sheet, "subject")->text().isEmpty());
    EXPECT_TRUE(child<QPlainTextEdit>(*sheet, "message")->toPlainText().isEmpty());
    EXPECT_EQ(child<QLineEdit>(*sheet, "email")->text(), QStringLiteral(" me@example.test "));
    EXPECT_TRUE(child(*sheet, "composerForm")->isVisible());
    EXPECT_EQ(sheet->findChildren<QWidget*>(QStringLiteral("screenshotTile")).size(), 0);
}

TEST_F(FeedbackSheetTest, AReceiptWithoutAttachmentsShowsOnlyTheReference) {
    server.setReply(VornTestHTTPReply::json(200, ""));
    auto sheet = makeSheet(VornLanguage::tr, false);
    sheet->show();
    QTest::keyClicks(child(*sheet, "email"), QStringLiteral("ali@ornek.com"));
    type(child(*sheet, "message"), QStringLiteral("Sekmeler eklenebilir mi?"));
    QTest::mouseClick(child(*sheet, "sendFeedback"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !sheet->state().isSubmitting; }));
    ASSERT_TRUE(sheet->state().receipt.has_value());
    EXPECT_EQ(child<QLabel>(*sheet, "referenceBadge")->text(), QStringLiteral("Takip Kodu: VORN-FB-OK"));
    EXPECT_FALSE(child(*sheet, "attachmentsLine")->isVisible());
    EXPECT_EQ(sheet->findChild<QWidget*>(QStringLiteral("doneButton")), nullptr);
    vornSaveArtefact(picture(*sheet, QSize(620, 560)), QStringLiteral("feedback-sheet-receipt-tr"));
}

TEST_F(FeedbackSheetTest, AFailedSubmissionKeepsEveryInputAndSaysWhy) {
    const struct {
        const char* email;
        VornTestHTTPReply reply;
        const char* banner;
        std::size_t requests;
    } cases[] = {
        {"me@example.test", VornTestHTTPReply::json(422, R"({"message":"Slow down, please."})"), "Slow down, please.", 1},
        {"me@example.test", VornTestHTTPReply::json(502, "<html>"), "HTTP 502", 1},
        // Checked before anything is sent; the text is in the interface language, not the sheet's.
        {"a@b", VornTestHTTPReply::json(200, "{}"), "Please enter a valid email address.", 0},
    };
    for (const auto& c : cases) {
        VornTestHTTPServer local([reply = c.reply](const VornRecordedRequest&) { return reply; });
        VornFeedbackSheet sheet("VornSled", VornAppVersion("2.1.0", "57"), VornProductPalette::deepCoral,
                                VornLanguage::tr, local.baseURL());
        sheet.show();
        QTest::keyClicks(child(sheet, "email"), QString::fromLatin1(c.email));
        QTest::keyClicks(child(sheet, "subject"), QStringLiteral("Tabs"));
        QTest::keyClicks(child(sheet, "message"), QStringLiteral("Please add tabs to the panes."));
        choose(sheet, {dir.write("keep.png", imageBytes(Qt::red, "PNG"))});
        QTest::mouseClick(child(sheet, "sendFeedback"), Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return !sheet.state().isSubmitting; }));
        EXPECT_EQ(sheet.state().errorMessage, c.banner) << c.banner;
        EXPECT_EQ(child<QLabel>(sheet, "errorText")->text(), QString::fromUtf8(c.banner));
        EXPECT_TRUE(child(sheet, "errorBanner")->isVisible());
        EXPECT_FALSE(sheet.state().receipt.has_value());
        EXPECT_EQ(sheet.state().email, c.email);
        EXPECT_EQ(sheet.state().subject, "Tabs");
        EXPECT_EQ(sheet.state().message, "Please add tabs to the panes.");
        EXPECT_EQ(sheet.state().screenshots.size(), 1u);
        EXPECT_TRUE(child(sheet, "sendFeedback")->isEnabled());
        EXPECT_EQ(local.requestCount(), c.requests) << c.banner;
        if (c.requests == 0) {
            vornSaveArtefact(picture(sheet, QSize(620, 900)), QStringLiteral("feedback-sheet-error-tr"));
        }
    }
}

TEST_F(FeedbackSheetTest, CloseActionsExistOnlyWithAnOnClose) {
    // Without one: no close button, no "Done", and Escape is taken without closing the host.
    QDialog host;
    auto* layout = new QVBoxLayout(&host);
    auto* bare = new VornFeedbackSheet("VornSled", VornAppVersion("2.1.0", "57"), VornProductPalette::deepCoral,
                                       VornLanguage::en, server.baseURL(), {}, &host);
    layout->addWidget(bare);
    host.show();
    EXPECT_EQ(bare->findChild<QWidget*>(QStringLiteral("closeButton")), nullptr);
    EXPECT_EQ(bare->findChild<QWidget*>(QStringLiteral("doneButton")), nullptr);
    QTest::keyClick(child(*bare, "email"), Qt::Key_Escape);
    EXPECT_TRUE(host.isVisible());

    auto sheet = makeSheet();
    sheet->show();
    QTest::keyClick(child(*sheet, "subject"), Qt::Key_Escape);
    EXPECT_EQ(closes, 1);
    QTest::mouseClick(child(*sheet, "closeButton"), Qt::LeftButton);
    EXPECT_EQ(closes, 2);
    EXPECT_NE(sheet->findChild<QWidget*>(QStringLiteral("doneButton")), nullptr);
}

TEST_F(FeedbackSheetTest, ArabicPersianAndHebrewAreLaidOutRightToLeft) {
    for (const VornLanguage language :
         {VornLanguage::ar, VornLanguage::fa, VornLanguage::he, VornLanguage::en, VornLanguage::tr}) {
        auto sheet = makeSheet(language);
        const Qt::LayoutDirection expected = language.isRTL() ? Qt::RightToLeft : Qt::LeftToRight;
        EXPECT_EQ(sheet->layoutDirection(), expected) << language.code();
        for (const char* name : {"email", "kind-bug", "sendFeedback", "composerForm"}) {
            EXPECT_EQ(child(*sheet, name)->layoutDirection(), expected) << language.code() << " " << name;
        }
        if (language == VornLanguage::ar || language == VornLanguage::en) {
            vornSaveArtefact(picture(*sheet, QSize(620, 820)),
                             QStringLiteral("feedback-sheet-%1").arg(QString::fromUtf8(language.code().data())));
        }
    }
    EXPECT_GE(makeSheet()->minimumSize().width(), 560);
    EXPECT_GE(makeSheet()->minimumSize().height(), 540);
}

TEST_F(FeedbackSheetTest, OpenInBrowserCarriesOnlyTheChosenKind) {
    VORN_REQUIRE_TOOL("xdg-open");
    const VornTestBrowser browser(dir);
    auto sheet = makeSheet(VornLanguage::tr);
    QTest::mouseClick(child(*sheet, "kind-new_app"), Qt::LeftButton);
    QTest::keyClicks(child(*sheet, "subject"), QStringLiteral("not carried"));
    QTest::mouseClick(child(*sheet, "openInBrowser"), Qt::LeftButton);
    EXPECT_EQ(browser.awaitOpened(), VornFeedbackService::webFeedbackURL("VornSled", VornAppVersion("2.1.0", "57"),
                                                                         VornFeedbackKind::newApp, VornLanguage::tr,
                                                                         server.baseURL())
                                         .value_or("?"));
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(FeedbackSheetTest, ClosingWhileSendingStopsTheSubmissionAndDropsItsResult) {
    // The server takes the request and never answers: only the sheet's stop can end the wait.
    server.setReply(VornTestHTTPReply::staySilent());
    auto sheet = makeSheet();
    sheet->show();
    QTest::keyClicks(child(*sheet, "email"), QStringLiteral("me@example.test"));
    QTest::keyClicks(child(*sheet, "message"), QStringLiteral("Closing while it sends."));
    int finished = 0;
    sheet->setOnSubmissionFinished([&finished] { ++finished; });
    QTest::mouseClick(child(*sheet, "sendFeedback"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 1; }));
    sheet.reset();  // returns once the worker has stopped
    QCoreApplication::processEvents();
    EXPECT_EQ(finished, 0);
}
