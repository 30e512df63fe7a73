#pragma once

#include "LANClipboardMessage.h"
#include "LANPeerInfo.h"
#include "LANReceivedFileItem.h"
#include "LANSharedFileItem.h"
#include "SledFileEntry.h"
#include "SledTransferRecord.h"
#include "SyncPlanItem.h"
#include "VornUUID.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <vector>

// Display text made from raw bytes: names and paths need not be UTF-8, so invalid sequences show
// as replacement characters while the bytes themselves travel unchanged in RawRole.
QString sledDisplayText(const std::string& bytes);

// Text kept on one line: control characters (a line break in a file name) show as their visible
// pictures (U+2400 onwards) instead of breaking the line or vanishing.
QString sledOneLine(QString text);

// The roles every list below offers besides Qt::DisplayRole (a one-line summary).
enum SledListRole : int {
    SledIdRole = Qt::UserRole + 1,  // the row's identity as text
    SledRawRole,                    // the row's main bytes (a path, a name) as QByteArray
    SledNameRole,                   // the name for display
    SledSizeRole,                   // a byte count (qint64)
    SledStatusRole,                 // a status or kind as its raw value
    SledProgressRole,               // 0…1
    SledFlagRole,                   // a row's main flag (a folder, verified, outgoing, manual)
    SledDetailRole,                 // secondary text (a label, a reason, an error)
};

// A list shown row by row: rows are inserted, removed and changed one at a time (or as one
// contiguous range), and replaced whole only when the list it mirrors was replaced whole.
// Owned and fed by the workspace model on the GUI thread; views only read it.
template <class Row>
class SledRowListModel : public QAbstractListModel {
public:
    using Describe = std::function<QVariant(const Row&, int role)>;

    explicit SledRowListModel(Describe describe, QObject* parent = nullptr)
        : QAbstractListModel(parent), describe_(std::move(describe)) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) {
            return {};
        }
        return describe_(rows_[static_cast<std::size_t>(index.row())], role);
    }
    QHash<int, QByteArray> roleNames() const override {
        return {{Qt::DisplayRole, "display"}, {SledIdRole, "id"},         {SledRawRole, "raw"},
                {SledNameRole, "name"},       {SledSizeRole, "size"},     {SledStatusRole, "status"},
                {SledProgressRole, "progress"}, {SledFlagRole, "flag"},   {SledDetailRole, "detail"}};
    }

    const std::deque<Row>& rows() const { return rows_; }

    void insertFront(Row row) {
        beginInsertRows(QModelIndex(), 0, 0);
        rows_.push_front(std::move(row));
        endInsertRows();
    }
    void append(Row row) {
        const int at = rowCount();
        beginInsertRows(QModelIndex(), at, at);
        rows_.push_back(std::move(row));
        endInsertRows();
    }
    void removeAt(int row) {
        beginRemoveRows(QModelIndex(), row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
    void removeLast() { removeAt(rowCount() - 1); }
    // Removes the rows the predicate picks, one contiguous range at a time, keeping the others'
    // order. Returns how many went.
    template <class Predicate>
    int removeIf(Predicate picks) {
        int removed = 0;
        int row = rowCount() - 1;
        while (row >= 0) {
            if (!picks(rows_[static_cast<std::size_t>(row)])) {
                --row;
                continue;
            }
            int first = row;
            while (first > 0 && picks(rows_[static_cast<std::size_t>(first - 1)])) {
                --first;
            }
            beginRemoveRows(QModelIndex(), first, row);
            rows_.erase(rows_.begin() + first, rows_.begin() + row + 1);
            endRemoveRows();
            removed += row - first + 1;
            row = first - 1;
        }
        return removed;
    }
    void replaceAll(std::vector<Row> rows) {
        beginResetModel();
        rows_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        endResetModel();
    }
    // Takes rows built elsewhere (a worker thread) without copying them on the GUI thread.
    void replaceAll(std::deque<Row>&& rows) {
        beginResetModel();
        rows_.swap(rows);
        endResetModel();
    }
    template <class Change>
    void updateAt(int row, Change change) {
        change(rows_[static_cast<std::size_t>(row)]);
        const QModelIndex at = index(row);
        emit dataChanged(at, at);
    }
    // Tells the views that the rows from `first` to `last` changed: one signal for the changes of
    // many rows made together.
    void rowsChanged(int first, int last) {
        if (first >= 0 && first <= last && last < rowCount()) {
            emit dataChanged(index(first), index(last));
        }
    }

protected:
    std::deque<Row> rows_;

private:
    Describe describe_;
};

// The transfer list, newest first, with every record found by its id in constant time: progress
// reports arrive by record id many times a second and must not search the list.
class SledTransferListModel final : public SledRowListModel<SledTransferRecord> {
public:
    explicit SledTransferListModel(QObject* parent = nullptr);

    // Puts the records on top in the order given, each above the one before (the last ends first).
    void insertFrontBatch(std::vector<SledTransferRecord> records);
    void insertFront(SledTransferRecord record);
    // The row of a record; -1 when it is not listed.
    int rowOf(const VornUUID& id) const;
    const SledTransferRecord* find(const VornUUID& id) const;
    template <class Change>
    bool update(const VornUUID& id, Change change) {
        const int row = rowOf(id);
        if (row < 0) {
            return false;
        }
        updateAt(row, change);
        return true;
    }
    // As update, but without telling the views: the caller tells them of all its changes at once
    // (rowsChanged). Returns the record's row, -1 when it is not listed.
    template <class Change>
    int updateSilently(const VornUUID& id, Change change) {
        const int row = rowOf(id);
        if (row >= 0) {
            change(rows_[static_cast<std::size_t>(row)]);
        }
        return row;
    }
    template <class Predicate>
    int removeRecordsIf(Predicate picks) {
        const int removed = removeIf(picks);
        if (removed > 0) {
            reindex();
        }
        return removed;
    }

private:
    void reindex();

    // Rows are numbered with decreasing ordinals as they are put on top, so a record's row is its
    // ordinal minus the top row's ordinal; a removal renumbers once.
    std::unordered_map<VornUUID, std::int64_t> ordinals_;
    std::int64_t topOrdinal_ = 0;
};

using SledEntryListModel = SledRowListModel<SledFileEntry>;
using SledReceivedFileListModel = SledRowListModel<LANReceivedFileItem>;
using SledClipboardListModel = SledRowListModel<LANClipboardMessage>;
using SledPeerListModel = SledRowListModel<LANPeerInfo>;
using SledSharedFileListModel = SledRowListModel<LANSharedFileItem>;
using SledSyncPlanListModel = SledRowListModel<SyncPlanItem>;

// The row descriptions of the lists above.
QVariant sledDescribeEntry(const SledFileEntry& entry, int role);
QVariant sledDescribeTransfer(const SledTransferRecord& record, int role);
QVariant sledDescribeReceivedFile(const LANReceivedFileItem& item, int role);
QVariant sledDescribeClipboardMessage(const LANClipboardMessage& message, int role);
QVariant sledDescribePeer(const LANPeerInfo& peer, int role);
QVariant sledDescribeSharedFile(const LANSharedFileItem& item, int role);
QVariant sledDescribePlanItem(const SyncPlanItem& item, int role);
