#pragma once

#include "VornAppVersion.h"

#include <QWidget>

// The version tag in a small glass capsule: "v1.4.2", or "v1.4.2 (57)" with the build shown.
class VornVersionBadge : public QWidget {
public:
    VornVersionBadge(VornAppVersion version, bool showBuild, QWidget* parent = nullptr);

    const VornAppVersion& version() const { return version_; }
    bool showBuild() const { return showBuild_; }
    // What the capsule reads.
    QString text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VornAppVersion version_;
    bool showBuild_;
};
