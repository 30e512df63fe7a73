#pragma once

#include "PaneBrowserCard.h"
#include "SledViewModel.h"
#include "VornLanguage.h"
#include "VornTestSupport.h"
#include "VornTestUI.h"

#include <QSize>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <memory>

// A clipboard of the test's own, so tests neither read nor change the desktop's.
class ViewsTestClipboard final : public SledClipboardAccess {
public:
    std::optional<std::string> value;
    std::optional<std::string> text() override { return value; }
    void setText(const std::string& text) override { value = text; }
};

// Waits with events running; the bound only keeps a broken build from hanging, it measures nothing.
inline bool viewsWaitFor(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60'000);
}

// A real workspace model on temporary folders, LAN services off until a test starts them.
class ViewsTest : public ::testing::Test {
protected:
    // A language picked in a test is stored for the whole process: each test starts in the one a
    // fresh process starts in, whichever tests ran before it.
    ViewsTest() { VornLanguage::setFollowSystem(); }

    VornTestTempDir data;
    VornTestTempDir left;
    VornTestTempDir right;
    std::shared_ptr<ViewsTestClipboard> clipboard = std::make_shared<ViewsTestClipboard>();

    SledModelEnvironment environment() const {
        SledModelEnvironment environment;
        environment.dataFolder = data.path();
        environment.leftStartPath = left.path().string();
        environment.rightStartPath = right.path().string();
        environment.clipboard = clipboard;
        environment.startLANServicesOnLaunch = false;
        environment.advertiseLANServer = false;
        return environment;
    }
    std::unique_ptr<SledViewModel> makeModel() {
        auto model = std::make_unique<SledViewModel>(environment());
        EXPECT_TRUE(viewsWaitFor([&] { return !model->leftPane()->isLoading() && !model->rightPane()->isLoading(); }));
        return model;
    }
    // The pane's card alone on `ground`, which it fills, shown at `size`.
    static PaneBrowserCard& showPaneCard(QWidget& ground, PaneBrowserState& pane, SledViewModel& model, QSize size) {
        auto* card = new PaneBrowserCard(pane, model, true, &ground);
        auto* layout = new QVBoxLayout(&ground);
        layout->addWidget(card);
        ground.resize(size);
        ground.show();
        return *card;
    }
    // Renders the widget as shown (opaque) and keeps the picture with the artefacts.
    static QImage snapshot(QWidget& widget, const QString& name) {
        // Layouts settle in posted events (a retitled button grows there).
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QImage image(widget.size(), QImage::Format_ARGB32);
        image.fill(Qt::black);
        widget.render(&image);
        EXPECT_FALSE(vornSaveArtefact(image, name).isEmpty()) << name.toStdString();
        return image;
    }
};
