#include "VornSymbol.h"
#include "VornTestUI.h"

#include <QDirIterator>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// Opaque-enough pixels of the image, and whether every one of them has the tint's colour.
struct Ink {
    int covered = 0;
    bool onlyTint = true;
};

Ink inkOf(const QImage& image, const QColor& tint) {
    Ink ink;
    const QImage plain = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            const QColor pixel = plain.pixelColor(x, y);
            if (pixel.alpha() >= 200) {
                ++ink.covered;
                ink.onlyTint = ink.onlyTint && vornColorNear(pixel, tint, 3);
            }
        }
    }
    return ink;
}

// Every symbol name the sources ask for: string literals returned from the `symbolName`
// functions and literals passed straight to VornSymbol.
std::set<std::string> symbolNamesInSources() {
    std::set<std::string> names;
    const QRegularExpression literal(QStringLiteral("\"([a-z0-9]+(?:\\.[a-z0-9]+)*)\""));
    const QRegularExpression symbolCall(QStringLiteral("VornSymbol::(?:paint|image|icon)\\([^\"]*\"([a-z0-9.]+)\""));
    QDirIterator files(QStringLiteral(VORN_TEST_SOURCE_DIR "/Sources"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
                       QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        bool inSymbolFunction = false;
        for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("std::string_view symbolName(")) ||
                line.contains(QStringLiteral("symbolName() const {"))) {
                inSymbolFunction = true;
            } else if (inSymbolFunction && line.startsWith(QLatin1Char('}'))) {
                inSymbolFunction = false;
            }
            if (inSymbolFunction && line.contains(QStringLiteral("return"))) {
                for (auto match = literal.globalMatch(line); match.hasNext();) {
                    names.insert(match.next().captured(1).toStdString());
                }
            }
            for (auto match = symbolCall.globalMatch(line); match.hasNext();) {
                names.insert(match.next().captured(1).toStdString());
            }
        }
    }
    return names;
}

}  // namespace

TEST(VornSymbol, EveryKnownNameDrawsItsThemeIconInTheTint) {
    const QColor tint(255, 100, 124);
    const std::vector<std::string> names = VornSymbol::knownNames();
    ASSERT_GT(names.size(), 60u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(VornSymbol::themeFile(name).isEmpty()) << "no icon file in " << VornSymbol::themeDirectory().toStdString();
        const Ink ink = inkOf(VornSymbol::image(name, 32, tint), tint);
        EXPECT_GT(ink.covered, 20);
        EXPECT_TRUE(ink.onlyTint);
    }
}

TEST(VornSymbol, EveryNameTheSourcesUseIsKnown) {
    const std::set<std::string> used = symbolNamesInSources();
    // The scan itself must find the names it is meant to guard.
    ASSERT_TRUE(used.count("terminal.fill"));
    ASSERT_TRUE(used.count("ladybug.fill"));
    ASSERT_TRUE(used.count("globe"));
    for (const std::string& name : used) {
        EXPECT_TRUE(VornSymbol::isKnown(name)) << name << " has no icon and would draw the placeholder";
    }
}

TEST(VornSymbol, UnknownNamesAndBadSizesDrawAVisiblePlaceholderWithoutCrashing) {
    const QColor tint = Qt::white;
    for (const std::string name : {"no.such.symbol", "", "Folder.Fill", "../../../etc/passwd"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(VornSymbol::isKnown(name));
        EXPECT_TRUE(VornSymbol::themeFile(name).isEmpty());
        const QImage placeholder = VornSymbol::image(name, 32, tint);
        EXPECT_GT(inkOf(placeholder, tint).covered, 20);
    }
    EXPECT_NE(VornSymbol::image("no.such.symbol", 32, tint), VornSymbol::image("folder", 32, tint));
    for (const int size : {0, -5, 1}) {
        const QImage tiny = VornSymbol::image("folder", size, tint);
        EXPECT_EQ(tiny.size(), QSize(1, 1));
    }
    // Painting into rectangles that are empty, inverted or not finite draws nothing and stays inside.
    QImage canvas(20, 20, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        VornSymbol::paint(painter, QRectF(5, 5, 0, 10), "folder", tint);
        VornSymbol::paint(painter, QRectF(5, 5, -10, -10), "folder", tint);
        VornSymbol::paint(painter, QRectF(5, 5, qInf(), 10), "folder", tint);
    }
    EXPECT_EQ(inkOf(canvas, tint).covered, 0);
}
