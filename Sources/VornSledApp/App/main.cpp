#include "VornPainting.h"
#include "VornSledApplication.h"
#include "VornSledSingleInstance.h"

#include <QApplication>

#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vornsled"));
    QApplication::setOrganizationName(QStringLiteral("Vornworks"));
    QApplication::setDesktopFileName(QStringLiteral("com.vornworks.vornsled"));

    std::error_code error;
    const std::filesystem::path workingFolder = std::filesystem::current_path(error);
    // QApplication has taken its own options out of argv by now.
    const auto files = vornSledFileArguments(argc, argv, workingFolder);

    VornSledSingleInstance instance;
    if (instance.forwardToRunning(files)) {
        return 0;
    }

    vornApplyDesignLook(application);
    VornSledApplication sled;
    sled.start(instance, files);
    return QApplication::exec();
}
