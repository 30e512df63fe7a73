#include "VornSymbol.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegularExpression>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Symbol name -> "<context>/<icon>" below the theme's scalable folder, without "-symbolic.svg".
const std::map<std::string, std::string, std::less<>>& table() {
    static const std::map<std::string, std::string, std::less<>> names{
        {"antenna.radiowaves.left.and.right", "devices/network-wireless"},
        {"arrow.clockwise", "actions/view-refresh"},
        {"arrow.down", "actions/go-down"},
        {"arrow.down.circle", "actions/go-down"},
        {"arrow.down.doc.fill", "actions/document-save"},
        {"arrow.left.arrow.right", "status/network-transmit-receive"},
        {"arrow.left.arrow.right.circle.fill", "status/network-transmit-receive"},
        {"arrow.left.circle.fill", "actions/go-previous"},
        {"arrow.right.circle.fill", "actions/go-next"},
        {"arrow.triangle.2.circlepath", "emblems/emblem-synchronizing"},
        {"arrow.up", "actions/go-up"},
        {"arrow.up.arrow.down", "actions/view-sort-ascending"},
        {"arrow.up.doc.fill", "actions/document-send"},
        {"arrow.up.left.and.arrow.down.right", "ui/window-maximize"},
        {"arrow.uturn.backward", "actions/edit-undo"},
        {"bolt.circle.fill", "devices/thunderbolt"},
        {"bolt.fill", "devices/thunderbolt"},
        {"bolt.horizontal.circle.fill", "devices/thunderbolt"},
        {"bolt.horizontal.fill", "devices/thunderbolt"},
        {"bolt.shield", "status/security-medium"},
        {"bubble.left.and.bubble.right.fill", "actions/chat-message-new"},
        {"bubble.left.and.exclamationmark.bubble.right", "status/user-available"},
        {"chart.bar.xaxis", "status/network-cellular-signal-excellent"},
        {"checklist.checked", "actions/selection-mode"},
        {"checkmark", "actions/object-select"},
        {"checkmark.circle.fill", "emblems/emblem-ok"},
        {"checkmark.seal.fill", "emblems/emblem-default"},
        {"checkmark.shield", "status/security-high"},
        {"checkmark.shield.fill", "status/security-high"},
        {"circle", "ui/radio"},
        {"chevron.down", "ui/pan-down"},
        {"chevron.left", "ui/pan-start"},
        {"chevron.right", "ui/pan-end"},
        {"chevron.up", "ui/pan-up"},
        {"clock", "actions/document-open-recent"},
        {"clock.arrow.circlepath", "actions/document-open-recent"},
        {"cloud.bolt.fill", "status/weather-storm"},
        {"desktopcomputer", "devices/computer"},
        {"doc", "mimetypes/text-x-generic"},
        {"doc.fill", "mimetypes/text-x-generic"},
        {"doc.on.clipboard", "actions/edit-paste"},
        {"doc.on.clipboard.fill", "actions/edit-paste"},
        {"doc.on.doc", "actions/edit-copy"},
        {"doc.text.magnifyingglass", "actions/edit-find"},
        {"dot.radiowaves.left.and.right", "status/network-wireless-signal-excellent"},
        {"ellipsis", "actions/view-more-horizontal"},
        {"ellipsis.circle", "actions/view-more-horizontal"},
        {"equal.circle", "ui/radio-mixed"},
        {"exclamationmark.triangle.fill", "status/dialog-warning"},
        {"externaldrive", "devices/drive-harddisk"},
        {"externaldrive.badge.timemachine", "devices/drive-harddisk-system"},
        {"externaldrive.connected.to.line.below.fill", "devices/drive-multidisk"},
        {"eye.fill", "actions/view-reveal"},
        {"eye.slash", "actions/view-conceal"},
        {"folder", "places/folder"},
        {"folder.badge.plus", "actions/folder-new"},
        {"folder.fill", "places/folder"},
        {"gearshape", "categories/preferences-system"},
        {"globe", "legacy/preferences-desktop-locale"},
        {"house", "places/user-home"},
        {"info.circle", "legacy/preferences-system-details"},
        {"key.fill", "status/dialog-password"},
        {"ladybug.fill", "emblems/emblem-important"},
        {"laptopcomputer", "devices/computer"},
        {"lightbulb.fill", "status/dialog-information"},
        {"link.badge.plus", "actions/insert-link"},
        {"list.bullet", "actions/view-list-bullet"},
        {"lock.fill", "status/channel-secure"},
        {"lock.shield.fill", "status/channel-secure"},
        {"macwindow", "ui/window-new"},
        {"magnifyingglass", "actions/system-search"},
        {"memorychip", "devices/media-flash"},
        {"memorychip.fill", "devices/media-flash"},
        {"minus", "ui/window-minimize"},
        {"music.note.list", "emblems/emblem-music"},
        {"network", "places/network-workgroup"},
        {"paperplane.fill", "actions/mail-send"},
        {"pause.fill", "actions/media-playback-pause"},
        {"pencil", "actions/document-edit"},
        {"person.fill", "status/avatar-default"},
        {"photo.on.rectangle.angled", "mimetypes/image-x-generic"},
        {"play.fill", "actions/media-playback-start"},
        {"plus", "actions/list-add"},
        {"plus.circle", "actions/list-add"},
        {"plus.circle.fill", "actions/list-add"},
        {"qrcode", "actions/view-grid"},
        {"questionmark.circle", "status/dialog-question"},
        {"rectangle.inset.topright.filled", "actions/view-pin"},
        {"rectangle.split.2x1.fill", "actions/view-dual"},
        {"safari", "legacy/web-browser"},
        {"scope", "actions/find-location"},
        {"server.rack", "places/network-server"},
        {"shield", "status/security-low"},
        {"sidebar.left", "actions/sidebar-show"},
        {"slider.horizontal.3", "categories/preferences-system"},
        {"square.and.arrow.down", "actions/document-save"},
        {"square.and.arrow.up", "actions/send-to"},
        {"square.and.arrow.up.on.square.fill", "actions/send-to"},
        {"square.grid.2x2.fill", "actions/view-app-grid"},
        {"star", "actions/star-new"},
        {"star.fill", "status/starred"},
        {"sparkles", "actions/star-new"},
        {"star.slash", "status/semi-starred"},
        {"stop.fill", "actions/media-playback-stop"},
        {"sun.max.fill", "status/weather-clear"},
        {"tag.fill", "actions/bookmark-new"},
        {"terminal.fill", "legacy/utilities-terminal"},
        {"thermometer.medium", "status/power-profile-balanced"},
        {"trash", "places/user-trash"},
        {"trash.fill", "places/user-trash"},
        {"tray.and.arrow.up", "actions/send-to"},
        {"vm.swapusage", "devices/drive-harddisk-solidstate"},
        {"waveform.path.ecg", "status/network-cellular-signal-good"},
        {"wifi", "devices/network-wireless"},
        {"xmark", "ui/window-close"},
        {"xmark.circle", "actions/process-stop"},
        {"xmark.circle.fill", "actions/process-stop"},
        {"xmark.octagon.fill", "actions/process-stop"},
    };
    return names;
}

// Icons the theme draws ghosted (an unchecked radio ring at a third of its ink) that the design uses
// as plain outlines: their opacity attributes are dropped so they take the tint fully.
bool drawnWithFullInk(std::string_view name) { return name == "circle"; }

// Loads the icon's SVG into `renderer`, dropping the theme's ghosting where the design wants full ink.
bool loadIcon(QSvgRenderer& renderer, const QString& file, std::string_view name) {
    if (!drawnWithFullInk(name)) {
        return renderer.load(file);
    }
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly)) {
        return false;
    }
    QString svg = QString::fromUtf8(source.read(1 << 20));
    svg.remove(QRegularExpression(QStringLiteral("\\s(?:fill-)?opacity=\"[^\"]*\"")));
    return renderer.load(svg.toUtf8());
}

void paintPlaceholder(QPainter& painter, const QRectF& square, const QColor& tint) {
    const double side = square.width();
    const double inset = std::max(0.5, side * 0.08);
    const QRectF box = square.adjusted(inset, inset, -inset, -inset);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(tint, std::max(1.0, side / 14.0), Qt::DashLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box, side * 0.18, side * 0.18);
    QFont font = painter.font();
    font.setPixelSize(std::max(1, int(side * 0.62)));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(tint);
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("?"));
}

}  // namespace

QString VornSymbol::themeDirectory() {
    const QByteArray overridden = qgetenv("VORN_ICON_THEME_DIR");
    return overridden.isEmpty() ? QStringLiteral("/usr/share/icons/Adwaita/scalable") : QString::fromLocal8Bit(overridden);
}

std::vector<std::string> VornSymbol::knownNames() {
    std::vector<std::string> names;
    names.reserve(table().size());
    for (const auto& [name, file] : table()) {
        names.push_back(name);
    }
    return names;
}

bool VornSymbol::isKnown(std::string_view name) { return table().find(name) != table().end(); }

QString VornSymbol::themeFile(std::string_view name) {
    const auto found = table().find(name);
    if (found == table().end()) {
        return {};
    }
    const QString file =
        themeDirectory() + QLatin1Char('/') + QString::fromStdString(found->second) + QStringLiteral("-symbolic.svg");
    return QFile::exists(file) ? file : QString();
}

QImage VornSymbol::image(std::string_view name, int pixelSize, const QColor& tint, double devicePixelRatio) {
    const double ratio = (std::isfinite(devicePixelRatio) && devicePixelRatio > 0) ? devicePixelRatio : 1.0;
    const int side = std::clamp(int(std::lround(std::max(1, pixelSize) * ratio)), 1, 4096);
    const QString key = QString::fromUtf8(name.data(), qsizetype(name.size())) + QLatin1Char('|') +
                        QString::number(side) + QLatin1Char('|') + QString::number(tint.rgba(), 16);
    static QHash<QString, QImage> cache;
    if (const auto found = cache.constFind(key); found != cache.constEnd()) {
        return found.value();
    }

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        // Rendered images are cached below, so each file is parsed once per size and tint.
        QSvgRenderer svg;
        const QString file = themeFile(name);
        QSvgRenderer* renderer = (!file.isEmpty() && loadIcon(svg, file, name)) ? &svg : nullptr;
        if (renderer) {
            // The theme draws on a 16-unit grid; keep its proportions inside the square.
            QSizeF natural = renderer->viewBoxF().size();
            if (natural.isEmpty()) {
                natural = QSizeF(16, 16);
            }
            const double scale = std::min(side / natural.width(), side / natural.height());
            const QSizeF drawn = natural * scale;
            renderer->render(&painter, QRectF((side - drawn.width()) / 2, (side - drawn.height()) / 2, drawn.width(),
                                              drawn.height()));
            // The theme's ink is dark grey; keep its shape and coverage, take the tint's colour.
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(image.rect(), tint);
        } else {
            paintPlaceholder(painter, QRectF(0, 0, side, side), tint);
        }
    }
    image.setDevicePixelRatio(ratio);
    if (cache.size() > 2048) {
        cache.clear();
    }
    cache.insert(key, image);
    return image;
}

void VornSymbol::paint(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& tint) {
    if (!rect.isValid() || !std::isfinite(rect.width()) || !std::isfinite(rect.height())) {
        return;
    }
    const double side = std::min(rect.width(), rect.height());
    if (side < 1.0) {
        return;
    }
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QImage drawn = image(name, int(std::lround(side)), tint, ratio);
    const QRectF target(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, drawn);
    painter.restore();
}

QIcon VornSymbol::icon(std::string_view name, const QColor& tint, int logicalSize) {
    QIcon icon;
    const int size = std::max(1, logicalSize);
    for (const double ratio : {1.0, 2.0}) {
        icon.addPixmap(QPixmap::fromImage(image(name, size, tint, ratio)));
    }
    return icon;
}
