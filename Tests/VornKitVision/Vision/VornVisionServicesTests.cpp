#include "VornVisionServices.h"

#include "VornTestSupport.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <memory>
#include <random>

namespace {

// Text is drawn by Qt with a real font (DejaVu Sans), so the recognition reads what a screen shows.
QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "vision-tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }();
    return *app;
}

VornBitmapImage bitmap(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888);
    VornBitmapImage out(image.width(), image.height());
    out.bytesPerRow = std::size_t(image.bytesPerLine());
    out.pixels.assign(image.constBits(), image.constBits() + image.sizeInBytes());
    return out;
}

QImage textImage(const QStringList& lines, int pixelSize = 34, QSize size = QSize(900, 260)) {
    application();
    QImage image(size, QImage::Format_RGBA8888);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(Qt::black);
    int baseline = 30 + pixelSize;
    for (const QString& line : lines) {
        painter.drawText(40, baseline, line);
        baseline += pixelSize * 2;
    }
    return image;
}

// A picture with structure everywhere (blocks of colour, lines, a word), for registration and
// descriptors.
QImage scene(int seed, QSize size = QSize(320, 240)) {
    application();
    QImage image(size, QImage::Format_RGBA8888);
    image.fill(QColor(30, 60, 90));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    std::mt19937 random{unsigned(seed)};
    for (int i = 0; i < 24; ++i) {
        const QColor colour(int(random() % 256), int(random() % 256), int(random() % 256));
        painter.setBrush(colour);
        painter.setPen(QPen(colour.darker(), 2));
        const int x = int(random() % unsigned(size.width()));
        const int y = int(random() % unsigned(size.height()));
        if (i % 2 == 0) {
            painter.drawEllipse(QRect(x, y, 20 + int(random() % 60), 20 + int(random() % 60)));
        } else {
            painter.drawRect(QRect(x, y, 20 + int(random() % 60), 10 + int(random() % 40)));
        }
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(30, size.height() / 2, QStringLiteral("Vorn %1").arg(seed));
    return image;
}

// `image`'s content moved `right` pixels right and `down` pixels down, the uncovered edge filled
// with the ground colour.
QImage shifted(const QImage& image, int right, int down) {
    QImage out(image.size(), image.format());
    out.fill(QColor(30, 60, 90));
    QPainter painter(&out);
    painter.drawImage(QPoint(right, down), image);
    return out;
}

}  // namespace

TEST(VornVisionServicesTest, ReadsRenderedLinesInOrderWithLowerLeftBoxes) {
    const VornBitmapImage image =
        bitmap(textImage({QStringLiteral("Transfer complete"), QStringLiteral("Seven files verified")}));
    for (const bool accurate : {true, false}) {
        SCOPED_TRACE(accurate ? "accurate" : "fast");
        const VornOCRResult result = VornVisionServices::recognizeText(image, {"en-US"}, accurate);
        ASSERT_EQ(result.lines.size(), 2u) << result.fullText();
        EXPECT_EQ(result.lines[0].text, "Transfer complete");
        EXPECT_EQ(result.lines[1].text, "Seven files verified");
        EXPECT_EQ(result.fullText(), "Transfer complete\nSeven files verified");
        for (const VornOCRLine& line : result.lines) {
            EXPECT_GT(line.confidence, 0.5f);
            EXPECT_LE(line.confidence, 1.0f);
            EXPECT_GE(line.boundingBox.x, 0.0);
            EXPECT_GE(line.boundingBox.y, 0.0);
            EXPECT_LE(line.boundingBox.x + line.boundingBox.width, 1.0);
            EXPECT_LE(line.boundingBox.y + line.boundingBox.height, 1.0);
        }
        // Drawn 40 px from the left; the first line's baseline at 64 of 260 px from the top, so its
        // box lies in the upper part, above the second line's: y grows upwards.
        EXPECT_NEAR(result.lines[0].boundingBox.x, 40.0 / 900, 0.01);
        EXPECT_GT(result.lines[0].boundingBox.y, result.lines[1].boundingBox.y);
        EXPECT_NEAR(result.lines[0].boundingBox.y + result.lines[0].boundingBox.height, 1.0 - 36.0 / 260, 0.05);
        EXPECT_GT(result.lines[0].boundingBox.y, 0.6);
        EXPECT_LT(result.lines[1].boundingBox.y, 0.6);
    }
}

TEST(VornVisionServicesTest, ReadsTurkishLettersWithTurkishData) {
    const VornBitmapImage image =
        bitmap(textImage({QStringLiteral("Dosyalar güvenli şekilde"), QStringLiteral("IŞIK ÇİÇEK ığdır")}));
    const VornOCRResult result = VornVisionServices::recognizeText(image, {"tr-TR", "en"}, true);
    EXPECT_EQ(result.fullText(), "Dosyalar güvenli şekilde\nIŞIK ÇİÇEK ığdır");
}

TEST(VornVisionServicesTest, AnImageWithoutTextHasNoLines) {
    application();
    QImage blank(400, 200, QImage::Format_RGBA8888);
    blank.fill(Qt::white);
    for (const bool accurate : {true, false}) {
        const VornOCRResult result = VornVisionServices::recognizeText(bitmap(blank), {}, accurate);
        EXPECT_TRUE(result.lines.empty());
        EXPECT_EQ(result.fullText(), "");
    }
    const VornOCRResult none = VornVisionServices::recognizeText(VornBitmapImage(0, 0), {"en"}, true);
    EXPECT_TRUE(none.lines.empty());
}

TEST(VornVisionServicesTest, FullTextPutsOneLineFeedBetweenLines) {
    EXPECT_EQ(VornOCRResult().fullText(), "");
    EXPECT_EQ(VornOCRResult({VornOCRLine("a", {}, 1)}).fullText(), "a");
    EXPECT_EQ(VornOCRResult({VornOCRLine("a", {}, 1), VornOCRLine("b", {}, 0.5f)}).fullText(), "a\nb");
    EXPECT_NE(VornOCRLine("a", {0, 0, 1, 1}, 1), VornOCRLine("a", {0, 0, 1, 1}, 0.5f));
    EXPECT_EQ(VornOCRLine("a", {0, 0.5, 1, 1}, 1), VornOCRLine("a", {0, 0.5, 1, 1}, 1));
}

TEST(VornVisionServicesTest, AttemptsFallBackToTheFastLevelOnTheProcessor) {
    using L = VornRecognitionLevel;
    using D = VornComputeDevice;
    EXPECT_EQ(VornVisionServices::recognitionAttempts(true),
              (std::vector<VornRecognitionAttempt>{{L::accurate, D::any}, {L::accurate, D::cpu}, {L::fast, D::cpu}}));
    EXPECT_EQ(VornVisionServices::recognitionAttempts(false),
              (std::vector<VornRecognitionAttempt>{{L::fast, D::any}, {L::fast, D::cpu}, {L::fast, D::cpu}}));

    // The first attempt fails, the second answers: its lines come back and the first error is
    // dropped; the third never runs.
    int calls = 0;
    const VornOCRResult result = VornVisionServices::firstSucceeding(
        VornVisionServices::recognitionAttempts(true), [&](const VornRecognitionAttempt& attempt) {
            ++calls;
            if (attempt.device == D::any) {
                throw VornVisionError(VornVisionError::recognitionFailed, "first");
            }
            return VornOCRResult({VornOCRLine("second", {}, 1)});
        });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(result.fullText(), "second");

    // Every attempt fails: the last one's error is the one thrown.
    calls = 0;
    try {
        VornVisionServices::firstSucceeding(VornVisionServices::recognitionAttempts(true),
                                            [&](const VornRecognitionAttempt&) -> VornOCRResult {
                                                ++calls;
                                                throw VornVisionError(VornVisionError::recognitionFailed,
                                                                      "attempt " + std::to_string(calls));
                                            });
        FAIL() << "expected an error";
    } catch (const VornVisionError& error) {
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(error.localizedDescription(), "attempt 3");
    }
}

TEST(VornVisionServicesTest, MissingLanguageDataFailsWithTheFastAttemptsError) {
    const VornBitmapImage image = bitmap(textImage({QStringLiteral("Hello")}));
    try {
        VornVisionServices::recognizeText(image, {"en", "xq"}, true);
        FAIL() << "expected an error";
    } catch (const VornVisionError& error) {
        EXPECT_EQ(error.code(), VornVisionError::recognitionUnavailable);
        EXPECT_EQ(error.localizedDescription(), "Text recognition (fast) could not load the data for \"eng+xq\".");
    }
}

TEST(VornVisionServicesTest, HostileInputIsRefusedBeforeAnyWork) {
    const VornBitmapImage text = bitmap(textImage({QStringLiteral("Hello")}));
    // Language codes become file names in the engine's data folder.
    for (const std::string& code : std::vector<std::string>{"../../etc/passwd", "eng/../x", "", std::string("en\0g", 4), "e n",
                                   std::string(40, 'a')}) {
        SCOPED_TRACE(code);
        try {
            VornVisionServices::recognizeText(text, {code}, false);
            FAIL() << "expected an error";
        } catch (const VornVisionError& error) {
            EXPECT_EQ(error.code(), VornVisionError::invalidLanguage);
        }
    }
    EXPECT_EQ(VornVisionServices::engineLanguages({"en-GB", "tr", "TR-tr", "zh-Hant", "chi_sim", "en"}),
              "eng+tur+chi_tra+chi_sim");
    EXPECT_EQ(VornVisionServices::engineLanguages({}), "eng");

    VornBitmapImage shortBuffer(64, 64);
    shortBuffer.pixels.resize(shortBuffer.pixels.size() - 1);
    VornBitmapImage narrowRows(64, 64);
    narrowRows.bytesPerRow = 63 * 4;
    VornBitmapImage huge;
    huge.width = VornBitmapImage::maximumSide + 1;
    huge.height = 1;
    VornBitmapImage negative;
    negative.width = -5;
    negative.height = 10;
    for (const VornBitmapImage* bad : {&shortBuffer, &narrowRows, &huge, &negative}) {
        for (const auto& run : std::vector<std::function<void()>>{
                 [&] { VornVisionServices::recognizeText(*bad, {"en"}, true); },
                 [&] { VornVisionServices::featurePrint(*bad); },
                 [&] { VornVisionServices::translationalOffset(*bad, text); },
                 [&] { VornVisionServices::translationalOffset(text, *bad); }}) {
            try {
                run();
                FAIL() << "expected an error";
            } catch (const VornVisionError& error) {
                EXPECT_EQ(error.code(), VornVisionError::invalidImage);
                EXPECT_EQ(VornVisionError::domain, "VornVisionServices");
            }
        }
    }
}

TEST(VornVisionServicesTest, SimilarImagesHaveNearerFeaturePrints) {
    const QImage original = scene(1);
    const VornFeaturePrint print = VornVisionServices::featurePrint(bitmap(original));
    ASSERT_EQ(print.elements().size(), VornFeaturePrint::elementCount);
    EXPECT_EQ(print.distance(print), 0.0f);

    // Near copies: moved a little, scaled down, brighter, with noise.
    QImage noisy = original.copy();
    std::mt19937 random(7);
    for (int y = 0; y < noisy.height(); ++y) {
        for (int x = 0; x < noisy.width(); ++x) {
            const QColor c = noisy.pixelColor(x, y);
            const int n = int(random() % 21) - 10;
            noisy.setPixelColor(x, y, QColor(std::clamp(c.red() + n, 0, 255), std::clamp(c.green() + n, 0, 255),
                                             std::clamp(c.blue() + n, 0, 255)));
        }
    }
    QImage brighter = original.copy();
    {
        QPainter painter(&brighter);
        painter.fillRect(brighter.rect(), QColor(255, 255, 255, 30));
    }
    const std::vector<QImage> similar = {shifted(original, 3, 2), original.scaled(160, 120), noisy, brighter};
    const std::vector<QImage> different = {scene(2), scene(3), textImage({QStringLiteral("Other")})};
    float farthestSimilar = 0;
    float nearestDifferent = 1e9f;
    for (const QImage& image : similar) {
        farthestSimilar = std::max(farthestSimilar, print.distance(VornVisionServices::featurePrint(bitmap(image))));
    }
    for (const QImage& image : different) {
        nearestDifferent = std::min(nearestDifferent, print.distance(VornVisionServices::featurePrint(bitmap(image))));
    }
    EXPECT_LT(farthestSimilar, nearestDifferent);
    EXPECT_LE(nearestDifferent, 2.0f * std::sqrt(3.0f));

    try {
        VornVisionServices::featurePrint(VornBitmapImage(0, 10));
        FAIL() << "expected an error";
    } catch (const VornVisionError& error) {
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.localizedDescription(), "Could not compute image feature print.");
    }
}

TEST(VornVisionServicesTest, OffsetAlignsTheShiftedCopyWithTheOriginal) {
    const QImage original = scene(4);
    struct Case {
        int right;
        int down;
    };
    for (const Case& shift : {Case{7, 4}, Case{-12, 9}, Case{0, -15}, Case{20, 0}}) {
        SCOPED_TRACE(std::to_string(shift.right) + "," + std::to_string(shift.down));
        const auto [dx, dy] =
            VornVisionServices::translationalOffset(bitmap(original), bitmap(shifted(original, shift.right, shift.down)));
        // Aligning the copy with the original moves it back: left for a copy moved right, and up
        // (y grows upwards) for one moved down.
        EXPECT_NEAR(dx, -shift.right, 0.5);
        EXPECT_NEAR(dy, shift.down, 0.5);
    }
    const auto [sameX, sameY] = VornVisionServices::translationalOffset(bitmap(original), bitmap(original));
    EXPECT_NEAR(sameX, 0, 0.01);
    EXPECT_NEAR(sameY, 0, 0.01);
}

TEST(VornVisionServicesTest, NothingToRegisterGivesAZeroOffset) {
    application();
    QImage grey(200, 100, QImage::Format_RGBA8888);
    grey.fill(QColor(128, 128, 128));
    const VornBitmapImage structured = bitmap(scene(5));
    EXPECT_EQ(VornVisionServices::translationalOffset(bitmap(grey), structured), std::make_pair(0.0, 0.0));
    EXPECT_EQ(VornVisionServices::translationalOffset(structured, bitmap(grey)), std::make_pair(0.0, 0.0));
    EXPECT_EQ(VornVisionServices::translationalOffset(VornBitmapImage(0, 0), structured), std::make_pair(0.0, 0.0));
}
