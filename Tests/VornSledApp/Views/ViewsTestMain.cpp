#include "VornPainting.h"
#include "VornTestSupport.h"
#include "VornTypography.h"

#include <QApplication>
#include <QFont>

#include <gtest/gtest.h>

#include <cstdlib>

// Interface tests draw offscreen at scale 1 in English with DejaVu, so pictures and sizes do not
// depend on the machine; each process keeps its own user defaults, so language choices made by
// one test never leak into another running beside it.
int main(int argc, char** argv) {
    // keyboard-window-manager.test.sh runs the keyboard suite on a real X server instead.
    if (!std::getenv("VORN_UNDER_WINDOW_MANAGER")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    setenv("QT_SCALE_FACTOR", "1", 1);
    setenv("LANGUAGE", "en", 1);
    // A test run again in a fresh process (vornRunInFreshProcess) takes this folder over rather
    // than leaving one of its own behind.
    VornTestTempDir config("VORN_TEST_VIEWS_CONFIG_DIR");
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);

    QApplication application(argc, argv);
    vornApplyDesignLook(application);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    vornSetMonospacedFamily(QStringLiteral("DejaVu Sans Mono"));

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
