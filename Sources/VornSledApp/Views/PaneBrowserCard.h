#pragma once

#include "PaneBrowserState.h"
#include "SledViewModel.h"
#include "VornGlassCard.h"

#include <QAbstractButton>
#include <QColor>
#include <QListView>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>

#include <optional>
#include <string>

class QHBoxLayout;
class QLabel;
class QMenu;
class QStackedWidget;
class VornGlassButton;
class VornGlassInputField;
class VornMessageText;
class VornPrimaryButton;
class VornSpinner;

// A menu's face on a small glass chip: an optional leading symbol, an optional text and an
// optional trailing symbol, on surface2 in a rounded rectangle. Pressing it opens the menu its
// owner builds at that moment, so the items are always current.
class SledChipButton : public QAbstractButton {
public:
    SledChipButton(double horizontalPadding, double verticalPadding, QWidget* parent = nullptr);
    void setLeading(const std::string& symbol, const QColor& color, double side);
    void setText(const QString& text, const QFont& font, const QColor& color);
    void setTrailing(const std::string& symbol, const QColor& color, double side);
    std::string leadingSymbol() const { return leading_; }
    QColor leadingColor() const { return leadingColor_; }
    QString text() const { return text_; }
    // True while the chip is narrower than its text needs (the middle of the text gives way).
    bool isTextElided() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncToolTip();
    double horizontalPadding_;
    double verticalPadding_;
    std::string leading_;
    QColor leadingColor_;
    double leadingSide_ = 0;
    QString text_;
    QFont textFont_;
    QColor textColor_;
    std::string trailing_;
    QColor trailingColor_;
    double trailingSide_ = 0;
};

// A borderless text button in one colour (the footer's "Select Files").
class SledTextButton : public QAbstractButton {
public:
    SledTextButton(const QColor& color, const QFont& font, QWidget* parent = nullptr);
    void setLabel(const QString& label);
    QString label() const { return label_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    QString label_;
};

// Paints one listing row: the folder or file symbol, the name elided in the middle, then "DIR" or
// the size; a selected row sits on the accent at low opacity with an accent border.
class SledPaneRowDelegate : public QStyledItemDelegate {
public:
    SledPaneRowDelegate(PaneBrowserState& pane, const QColor& accent, QObject* parent = nullptr);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static constexpr int rowGap = 4;
    static QFont nameFont(bool folder);

private:
    PaneBrowserState& pane_;
    QColor accent_;
};

// The card's header: the side title and the endpoint's name, then the pane's tools on the same
// row when the whole name fits beside them, or on a row of their own below when it would not, so
// a narrow window still shows which storage the pane looks at.
class SledPaneHeader : public QWidget {
public:
    explicit SledPaneHeader(QWidget* parent = nullptr);
    void setParts(QWidget* title, SledChipButton* endpoint, QWidget* tools);
    bool isStacked() const { return stacked_; }
    // Places the tools for the current width and contents.
    void arrange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int oneRowWidth() const;
    QHBoxLayout* top_ = nullptr;
    QHBoxLayout* bottom_ = nullptr;
    QWidget* title_ = nullptr;
    SledChipButton* endpoint_ = nullptr;
    QWidget* tools_ = nullptr;
    bool stacked_ = false;
};

class PaneBrowserCard;

// The listing: a plain list of the pane's filtered entries. A single click toggles the row's
// selection once the double-click interval has passed without a second click; a double click
// opens the row instead; the right button opens the row's own menu. From the keyboard, Tab
// brings focus to the list and shows a focus row, the up and down arrows move it, Space toggles
// its selection as a click does and Enter opens it as a double click does; other keys go on to
// the window.
class SledPaneListView : public QListView {
public:
    explicit SledPaneListView(PaneBrowserCard& card, QWidget* parent = nullptr);
    // The row whose click waits for the double-click interval, if any.
    std::optional<std::string> pendingClickPath() const { return pendingPath_; }
    // Applies the waiting click now (the interval's end does the same).
    void applyPendingClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    std::optional<SledFileEntry> entryAt(const QPoint& position) const;
    std::optional<SledFileEntry> focusEntry() const;
    void moveFocusRow(int step);
    PaneBrowserCard& card_;
    QTimer clickTimer_;
    std::optional<std::string> pendingPath_;
    std::optional<SledPanePlace> pendingPlace_;
    bool swallowRelease_ = false;
};

// The card's own transient input state; nothing outside the card reads it.
struct PaneUIState {
    bool showingNewFolderInput = false;
    QString newFolderName;
    bool showingRenameInput = false;
    std::optional<SledFileEntry> renameTargetEntry;
    // Where the entry was listed: a rename acts there even after the pane has moved on.
    std::optional<SledPanePlace> renameTargetPlace;
    QString renameDraftName;
    bool isDropTargeted = false;
};

// One pane of the dual-pane explorer: which storage it shows and where, the listing with its
// states, the selection, and every command that works on this pane alone. Everything it shows
// lives in the pane and the model and is read again when they report a change; the card keeps
// only its input rows, the path being typed and the drop highlight.
class PaneBrowserCard : public VornGlassCard {
public:
    PaneBrowserCard(PaneBrowserState& pane, SledViewModel& viewModel, bool isLeft, QWidget* parent = nullptr);

    PaneBrowserState& pane() const { return pane_; }
    SledViewModel& viewModel() const { return model_; }
    QColor accent() const { return accent_; }
    const PaneUIState& ui() const { return ui_; }

    // The first selected file in listing order, if any.
    std::optional<SledFileEntry> selectedFile() const;

    // The card's actions, as the buttons, menus and fields call them.
    void beginRename(const SledFileEntry& entry);
    void createFolderAction();
    void commitRenameAction();
    void cancelRename();
    void toggleNewFolderInput();
    void deleteSelectedAction();
    void previewSelectedAction();
    void renameSelectedAction();
    void submitPathDraft();
    void selectFilesAction();
    void toggleSelection(const std::string& path);
    void openEntry(const SledFileEntry& entry);

    // The menus as they open now (the caller owns them).
    QMenu* buildEndpointMenu(QWidget* parent);
    QMenu* buildBookmarkMenu(QWidget* parent);
    QMenu* buildLinkMenu(QWidget* parent);
    QMenu* buildContextMenu(const SledFileEntry& entry, QWidget* parent);

    // The pieces, for tests and the screenshots.
    SledPaneHeader* header() const { return header_; }
    QLabel* sideTitleLabel() const { return sideTitle_; }
    SledChipButton* endpointButton() const { return endpointButton_; }
    VornGlassButton* editConnectionButton() const { return editConnection_; }
    SledChipButton* bookmarkButton() const { return bookmarkButton_; }
    VornGlassButton* previewButton() const { return previewButton_; }
    SledChipButton* linkButton() const { return linkButton_; }
    VornGlassButton* renameButton() const { return renameButton_; }
    VornGlassButton* newFolderButton() const { return newFolderButton_; }
    VornGlassButton* deleteButton() const { return deleteButton_; }
    VornGlassButton* refreshButton() const { return refreshButton_; }
    VornGlassButton* upButton() const { return upButton_; }
    VornGlassInputField* pathField() const { return pathField_; }
    VornGlassInputField* filterField() const { return filterField_; }
    QWidget* newFolderRow() const { return newFolderRow_; }
    VornGlassInputField* newFolderField() const { return newFolderField_; }
    VornPrimaryButton* createButton() const { return createButton_; }
    QWidget* renameRow() const { return renameRow_; }
    VornGlassInputField* renameField() const { return renameField_; }
    VornPrimaryButton* commitRenameButton() const { return commitRenameButton_; }
    VornGlassButton* cancelRenameButton() const { return cancelRenameButton_; }
    SledPaneListView* listView() const { return list_; }
    QLabel* loadingLabel() const { return loadingText_; }
    VornMessageText* errorLabel() const { return errorText_; }
    VornGlassButton* retryButton() const { return retryButton_; }
    QLabel* emptyLabel() const { return emptyText_; }
    QLabel* countsLabel() const { return counts_; }
    SledTextButton* selectFilesButton() const { return selectFiles_; }
    QWidget* dropHighlight() const { return dropHighlight_; }

    enum class ListingState { loading, error, empty, list };
    ListingState listingState() const;

    static constexpr int filterWidth = 110;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makePathBar();
    QWidget* makeNewFolderRow();
    QWidget* makeRenameRow();
    QWidget* makeListingArea();
    QWidget* makeFooter();
    void retranslate();
    void syncEndpoint();
    void syncPathDraft();
    void syncSelectionControls();
    void syncListingState();
    void syncFooter();
    void syncInputRows();
    void syncRenameEnabling();
    void setDropTargeted(bool targeted);
    void popUnder(QMenu* menu, QWidget* anchor);

    PaneBrowserState& pane_;
    SledViewModel& model_;
    bool isLeft_;
    QColor accent_;
    PaneUIState ui_;

    SledPaneHeader* header_ = nullptr;
    QLabel* sideTitle_ = nullptr;
    SledChipButton* endpointButton_ = nullptr;
    VornGlassButton* editConnection_ = nullptr;
    SledChipButton* bookmarkButton_ = nullptr;
    VornGlassButton* previewButton_ = nullptr;
    SledChipButton* linkButton_ = nullptr;
    VornGlassButton* renameButton_ = nullptr;
    VornGlassButton* newFolderButton_ = nullptr;
    VornGlassButton* deleteButton_ = nullptr;
    VornGlassButton* refreshButton_ = nullptr;
    VornGlassButton* upButton_ = nullptr;
    VornGlassInputField* pathField_ = nullptr;
    VornGlassInputField* filterField_ = nullptr;
    QWidget* newFolderRow_ = nullptr;
    VornGlassInputField* newFolderField_ = nullptr;
    VornPrimaryButton* createButton_ = nullptr;
    QWidget* renameRow_ = nullptr;
    VornGlassInputField* renameField_ = nullptr;
    VornPrimaryButton* commitRenameButton_ = nullptr;
    VornGlassButton* cancelRenameButton_ = nullptr;
    QStackedWidget* listing_ = nullptr;
    QWidget* loadingPage_ = nullptr;
    VornSpinner* spinner_ = nullptr;
    QLabel* loadingText_ = nullptr;
    QWidget* errorPage_ = nullptr;
    VornMessageText* errorText_ = nullptr;
    VornGlassButton* retryButton_ = nullptr;
    QWidget* emptyPage_ = nullptr;
    QLabel* emptyText_ = nullptr;
    SledPaneListView* list_ = nullptr;
    SledPaneRowDelegate* delegate_ = nullptr;
    QWidget* dropHighlight_ = nullptr;
    QLabel* counts_ = nullptr;
    SledTextButton* selectFiles_ = nullptr;
};
