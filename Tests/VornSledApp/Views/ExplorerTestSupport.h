#pragma once

#include "DualPaneExplorerView.h"
#include "PaneBrowserCard.h"
#include "ViewsTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <string>
#include <vector>

// Answers the model's confirmations as the test decides and keeps what was asked.
class ExplorerTestConfirmation final : public SledConfirmation {
public:
    bool answer = false;
    std::vector<std::pair<std::string, std::string>> asked;
    bool confirm(const std::string& title, const std::string& message) override {
        asked.emplace_back(title, message);
        return answer;
    }
};

inline void explorerWaitListed(PaneBrowserState& pane) {
    ASSERT_TRUE(viewsWaitFor([&] { return !pane.isLoading(); }));
}

// The row of the entry with this name in the card's list; -1 when it is not shown.
inline int explorerRowOf(const PaneBrowserCard& card, const std::string& name) {
    const auto& rows = card.pane().entryList()->rows();
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (rows[row].name == name) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

inline SledFileEntry explorerEntry(const PaneBrowserCard& card, const std::string& name) {
    const int row = explorerRowOf(card, name);
    EXPECT_GE(row, 0) << name;
    return row < 0 ? SledFileEntry{} : card.pane().entryList()->rows()[static_cast<std::size_t>(row)];
}

// The centre of a row in the list's viewport, scrolled into view first.
inline QPoint explorerRowCentre(const PaneBrowserCard& card, const std::string& name) {
    const QModelIndex index = card.pane().entryList()->index(explorerRowOf(card, name));
    card.listView()->doItemsLayout();
    card.listView()->scrollTo(index);
    return card.listView()->visualRect(index).center();
}

// The menu action whose text (without mnemonic escapes) is `text`, searched in submenus too.
inline QAction* explorerAction(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text().replace(QStringLiteral("&&"), QStringLiteral("&")) == text) {
            return action;
        }
        if (action->menu()) {
            if (QAction* inner = explorerAction(*action->menu(), text)) {
                return inner;
            }
        }
    }
    return nullptr;
}

inline QStringList explorerActionTexts(QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    return texts;
}

// A file URL carrying the path's bytes as they are (percent-encoded), as file managers send them.
inline QUrl explorerFileURL(const std::filesystem::path& path) {
    const QByteArray bytes(path.string().data(), static_cast<qsizetype>(path.string().size()));
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

// Drags the URLs over the card and drops them, as a file manager would; returns whether the
// highlight showed during the drag and whether the drop was accepted.
struct ExplorerDropOutcome {
    bool highlightedDuringDrag = false;
    bool highlightedAfterDrop = true;
    bool accepted = false;
};
inline ExplorerDropOutcome explorerDrop(PaneBrowserCard& card, const QList<QUrl>& urls) {
    ExplorerDropOutcome outcome;
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint at(card.width() / 2, card.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&card, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&card, &move);
    outcome.highlightedDuringDrag = card.ui().isDropTargeted && card.dropHighlight()->isVisible();
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&card, &drop);
    outcome.highlightedAfterDrop = card.ui().isDropTargeted || card.dropHighlight()->isVisible();
    outcome.accepted = drop.isAccepted();
    return outcome;
}
