#pragma once

#include "SledViewModel.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStyledItemDelegate>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QListView;
class QMimeData;
class QScrollArea;
class QStackedWidget;
class QHBoxLayout;
class VornGlassButton;
class VornGlassCard;
class VornGlassInputField;
class VornPrimaryButton;

// What the LAN tab keeps of its own: the manual connect fields and the shelf's drop highlight.
// It starts again from these values each time the tab is shown.
struct LanAirDropUIState {
    QString manualHost;
    QString manualPort = QStringLiteral("53318");
    QString peerPIN;
    bool isShareDropTargeted = false;

    // The PIN sent to peers: the typed text when there is any (spaces included), else none.
    std::optional<std::string> pinOrNone() const;
};

// A symbol and a bold title, the head of every card of the tab.
class LanCardTitle : public QWidget {
public:
    LanCardTitle(std::string symbol, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    // Whether the title takes more than one line at its present width.
    bool isWrapped() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double symbolSide() const;
    QRectF textBounds(double width) const;

    std::string symbol_;
    QString text_;
};

// The portal's QR code on white, crisp, or a placeholder while there is nothing to scan.
class LanQRCodeView : public QWidget {
public:
    explicit LanQRCodeView(QWidget* parent = nullptr);
    // Shows the code when `image` is not null; the placeholder otherwise.
    void setImage(const QImage& image);
    bool showsCode() const { return !image_.isNull(); }
    QSize sizeHint() const override { return {130, 130}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

// The shelf card: files dropped anywhere on it are put on the shelf.
class LanShareShelfCard;
// One peer: its name, platform and address, "Send Files" and "Clipboard"; files dropped on it go
// to that peer at once.
class LanPeerCard;

// Rows of the shelf: name, size and the start of the digest, and a remove button.
class LanSharedFileDelegate : public QStyledItemDelegate {
public:
    LanSharedFileDelegate(SledViewModel& viewModel, QObject* parent = nullptr);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    // The remove button of a row drawn in `rowRect` (the row's full rectangle, gap included).
    static QRectF buttonRect(const QRectF& rowRect);
    // "1.2 MB • SHA-256 " and the first ten characters of the digest (all of a shorter one), then "…".
    static QString detailText(const LANSharedFileItem& item);
    static constexpr int rowGap = 6;

private:
    SledViewModel& model_;
};

// Rows of the clipboard history: who sent it, a copy button, and the text cut after three lines.
class LanClipboardDelegate : public QStyledItemDelegate {
public:
    LanClipboardDelegate(SledViewModel& viewModel, const QColor& accent, QListView* view);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    static QRectF copyButtonRect(const QRectF& rowRect);
    // The lines a text is shown in at `width`: at most three, the last one ending in "…" when the
    // text goes on.
    static QStringList shownLines(const QString& text, double width);
    QColor senderColor(const LANClipboardMessage& message) const;
    // The width the text of a row gets in the list as it is now.
    double textWidth() const;
    static constexpr int rowGap = 7;
    static constexpr int maximumLines = 3;

private:
    SledViewModel& model_;
    QColor accent_;
    QListView* view_;
};

// Rows of the received files: name with a shield, sender and size, and a button that shows the
// file in the file manager. Only a file whose digest was checked against the sender's wears the
// green shield.
class LanReceivedFileDelegate : public QStyledItemDelegate {
public:
    LanReceivedFileDelegate(SledViewModel& viewModel, QObject* parent = nullptr);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    static QRectF buttonRect(const QRectF& rowRect);
    // Where the shield of a row is drawn.
    QRectF shieldRect(const LANReceivedFileItem& item, const QRectF& rowRect) const;
    static std::string shieldSymbol(const LANReceivedFileItem& item);
    static QColor shieldColor(const LANReceivedFileItem& item);
    QString shieldToolTip(const LANReceivedFileItem& item) const;
    // "Sender • 1.2 MB".
    static QString detailText(const LANReceivedFileItem& item);
    static constexpr int rowGap = 7;

private:
    SledViewModel& model_;
};

// The LAN sharing tab: the receiver with its portal address and QR code, the share shelf, the
// devices nearby with a manual connect field, the clipboard history and the received files.
// Everything it shows lives in the model and is read again when the model reports a change;
// only the connect fields and the drop highlight are its own.
class LanAirDropView : public QWidget {
public:
    LanAirDropView(SledViewModel& viewModel, const QColor& accent, QWidget* parent = nullptr);

    SledViewModel& viewModel() const { return model_; }
    const LanAirDropUIState& uiState() const { return ui_; }
    QColor accent() const { return accent_; }

    // The cards and their controls, for tests and the screenshots.
    VornGlassCard* receiverStatusCard() const { return receiverCard_; }
    VornGlassCard* sharedShelfCard() const;
    VornGlassCard* nearbyPeersCard() const { return peersCard_; }
    VornGlassCard* clipboardBridgeCard() const { return clipboardCard_; }
    VornGlassCard* receivedFilesCard() const { return receivedCard_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    VornGlassButton* serverButton() const { return serverButton_; }
    LanQRCodeView* qrCodeView() const { return qrCode_; }
    QLabel* portalCaptionLabel() const { return portalCaption_; }
    QLabel* portalAddressLabel() const { return portalAddress_; }
    VornGlassButton* copyURLButton() const { return copyURL_; }
    QCheckBox* pinToggle() const { return pinToggle_; }

    LanCardTitle* shelfTitle() const { return shelfTitle_; }
    VornGlassButton* addFilesButton() const { return addFiles_; }
    QWidget* shelfDropZone() const { return dropZone_; }
    QLabel* shelfDropZoneLabel() const { return dropZoneText_; }
    QListView* shelfList() const { return shelfList_; }
    bool showsShelfDropZone() const;

    LanCardTitle* peersTitle() const { return peersTitle_; }
    VornGlassInputField* hostField() const { return hostField_; }
    VornGlassInputField* portField() const { return portField_; }
    VornGlassInputField* pinField() const { return pinField_; }
    VornGlassButton* connectButton() const { return connect_; }
    QWidget* scanningHint() const { return scanningHint_; }
    QLabel* scanningHintLabel() const { return scanningText_; }
    bool showsScanningHint() const;
    std::vector<LanPeerCard*> peerCards() const;

    LanCardTitle* clipboardTitle() const { return clipboardTitle_; }
    VornPrimaryButton* shareClipboardButton() const { return shareClipboard_; }
    QLabel* clipboardEmptyLabel() const { return clipboardEmpty_; }
    QListView* clipboardList() const { return clipboardList_; }
    LanClipboardDelegate* clipboardDelegate() const { return clipboardDelegate_; }
    bool showsClipboardEmptyState() const;

    LanCardTitle* receivedTitle() const { return receivedTitle_; }
    VornGlassButton* folderButton() const { return folderButton_; }
    QLabel* receivedEmptyLabel() const { return receivedEmpty_; }
    QListView* receivedList() const { return receivedList_; }
    LanReceivedFileDelegate* receivedDelegate() const { return receivedDelegate_; }
    bool showsReceivedEmptyState() const;

    // The require-PIN switch as the user turns it: saves the settings and restarts the receiver
    // only while it runs.
    void setRequirePIN(bool on);
    // Puts the connect fields and the drop highlight back to their first values.
    void resetUIState();
    // What a drop of `mime` on the shelf or on a peer does (the drag-and-drop handlers call these).
    bool dropOnShelf(const QMimeData* mime);
    bool dropOnPeer(const LANPeerInfo& peer, const QMimeData* mime);
    void setShareDropTargeted(bool targeted);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    VornGlassCard* makeReceiverCard();
    VornGlassCard* makeShelfCard();
    VornGlassCard* makePeersCard();
    VornGlassCard* makeClipboardCard();
    VornGlassCard* makeReceivedCard();
    void retranslate();
    void syncReceiver();
    void syncShelf();
    void syncPeers();
    void syncClipboard();
    void syncReceived();
    void syncConnectButton();
    void fitPeersContent();

    SledViewModel& model_;
    QColor accent_;
    LanAirDropUIState ui_;

    VornGlassCard* receiverCard_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    VornGlassButton* serverButton_ = nullptr;
    LanQRCodeView* qrCode_ = nullptr;
    QLabel* portalCaption_ = nullptr;
    QLabel* portalAddress_ = nullptr;
    VornGlassButton* copyURL_ = nullptr;
    QCheckBox* pinToggle_ = nullptr;

    LanShareShelfCard* shelfCard_ = nullptr;
    LanCardTitle* shelfTitle_ = nullptr;
    VornGlassButton* addFiles_ = nullptr;
    QStackedWidget* shelfContent_ = nullptr;
    QWidget* dropZone_ = nullptr;
    QLabel* dropZoneText_ = nullptr;
    QListView* shelfList_ = nullptr;

    VornGlassCard* peersCard_ = nullptr;
    LanCardTitle* peersTitle_ = nullptr;
    VornGlassInputField* hostField_ = nullptr;
    VornGlassInputField* portField_ = nullptr;
    VornGlassInputField* pinField_ = nullptr;
    VornGlassButton* connect_ = nullptr;
    QStackedWidget* peersContent_ = nullptr;
    QWidget* scanningHint_ = nullptr;
    QLabel* scanningText_ = nullptr;
    QScrollArea* peersScroll_ = nullptr;
    QWidget* peersStrip_ = nullptr;
    QHBoxLayout* peersRow_ = nullptr;

    VornGlassCard* clipboardCard_ = nullptr;
    LanCardTitle* clipboardTitle_ = nullptr;
    VornPrimaryButton* shareClipboard_ = nullptr;
    QStackedWidget* clipboardContent_ = nullptr;
    QLabel* clipboardEmpty_ = nullptr;
    QListView* clipboardList_ = nullptr;
    LanClipboardDelegate* clipboardDelegate_ = nullptr;

    VornGlassCard* receivedCard_ = nullptr;
    LanCardTitle* receivedTitle_ = nullptr;
    VornGlassButton* folderButton_ = nullptr;
    QStackedWidget* receivedContent_ = nullptr;
    QLabel* receivedEmpty_ = nullptr;
    QListView* receivedList_ = nullptr;
    LanReceivedFileDelegate* receivedDelegate_ = nullptr;
};

class LanPeerCard : public QWidget {
public:
    LanPeerCard(LanAirDropView& tab, LANPeerInfo peer, QWidget* parent = nullptr);
    const LANPeerInfo& peer() const { return peer_; }
    VornPrimaryButton* sendFilesButton() const { return sendFiles_; }
    VornGlassButton* clipboardButton() const { return clipboard_; }
    QLabel* nameLabel() const { return name_; }
    QLabel* addressLabel() const { return address_; }
    void retranslate();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    LanAirDropView& tab_;
    LANPeerInfo peer_;
    QLabel* name_;
    QLabel* platform_;
    QLabel* address_;
    VornPrimaryButton* sendFiles_;
    VornGlassButton* clipboard_;
};
