#include "SledListModels.h"

#include "VornRawValue.h"

#include <QtGlobal>

QString sledDisplayText(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString sledOneLine(QString text) {
    for (QChar& character : text) {
        if (character.unicode() < 0x20) {
            character = QChar(0x2400 + character.unicode());
        } else if (character.unicode() == 0x7F) {
            character = QChar(0x2421);
        }
    }
    return text;
}

namespace {

QByteArray rawBytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString rawValueText(auto value) {
    return QString::fromStdString(rawValue(value));
}

}  // namespace

SledTransferListModel::SledTransferListModel(QObject* parent)
    : SledRowListModel<SledTransferRecord>(&sledDescribeTransfer, parent) {}

void SledTransferListModel::insertFrontBatch(std::vector<SledTransferRecord> records) {
    if (records.empty()) {
        return;
    }
    beginInsertRows(QModelIndex(), 0, static_cast<int>(records.size()) - 1);
    ordinals_.reserve(ordinals_.size() + records.size());
    for (SledTransferRecord& record : records) {
        ordinals_[record.id] = --topOrdinal_;
        rows_.push_front(std::move(record));
    }
    endInsertRows();
}

void SledTransferListModel::insertFront(SledTransferRecord record) {
    const VornUUID id = record.id;
    SledRowListModel<SledTransferRecord>::insertFront(std::move(record));
    ordinals_[id] = --topOrdinal_;
}

int SledTransferListModel::rowOf(const VornUUID& id) const {
    const auto found = ordinals_.find(id);
    if (found == ordinals_.end()) {
        return -1;
    }
    return static_cast<int>(found->second - topOrdinal_);
}

const SledTransferRecord* SledTransferListModel::find(const VornUUID& id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &rows_[static_cast<std::size_t>(row)];
}

void SledTransferListModel::reindex() {
    ordinals_.clear();
    topOrdinal_ = 0;
    std::int64_t ordinal = 0;
    for (const SledTransferRecord& record : rows_) {
        ordinals_[record.id] = ordinal++;
    }
}

QVariant sledDescribeEntry(const SledFileEntry& entry, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(entry.name);
    case SledIdRole:
        return sledDisplayText(entry.path);
    case SledRawRole:
        return rawBytes(entry.path);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(entry.sizeBytes);
    case SledFlagRole:
        return entry.isDirectory;
    case SledDetailRole:
        return entry.permissions ? sledDisplayText(*entry.permissions) : QString();
    default:
        return {};
    }
}

QVariant sledDescribeTransfer(const SledTransferRecord& record, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(record.fileName);
    case SledIdRole:
        return QString::fromStdString(record.id.uuidString());
    case SledRawRole:
        return rawBytes(record.fileName);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(record.totalBytes);
    case SledStatusRole:
        return rawValueText(record.status);
    case SledProgressRole:
        return record.fractionCompleted();
    case SledFlagRole:
        return record.isSHA256Verified;
    case SledDetailRole:
        return record.errorMessage ? sledDisplayText(*record.errorMessage)
                                   : sledDisplayText(record.sourceLabel + " → " + record.destinationLabel);
    default:
        return {};
    }
}

QVariant sledDescribeReceivedFile(const LANReceivedFileItem& item, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(item.fileName);
    case SledIdRole:
        return QString::fromStdString(item.id.uuidString());
    case SledRawRole:
        return rawBytes(item.savedPath);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(item.sizeBytes);
    case SledFlagRole:
        return item.verifiedMatch;
    case SledDetailRole:
        return sledDisplayText(item.senderName);
    default:
        return {};
    }
}

QVariant sledDescribeClipboardMessage(const LANClipboardMessage& message, int role) {
    switch (role) {
    case Qt::DisplayRole:
        return sledDisplayText(message.text);
    case SledIdRole:
        return QString::fromStdString(message.id.uuidString());
    case SledRawRole:
        return rawBytes(message.text);
    case SledNameRole:
    case SledDetailRole:
        return sledDisplayText(message.senderName);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(static_cast<qint64>(message.text.size()));
    case SledFlagRole:
        return message.isOutgoing;
    default:
        return {};
    }
}

QVariant sledDescribePeer(const LANPeerInfo& peer, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(peer.deviceName);
    case SledIdRole:
        return sledDisplayText(peer.id);
    case SledRawRole:
        return rawBytes(peer.host);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(peer.port);
    case SledFlagRole:
        return peer.isManual;
    case SledStatusRole:
        return peer.requiresPIN;
    case SledDetailRole:
        return sledDisplayText(peer.host + ":" + std::to_string(peer.port));
    default:
        return {};
    }
}

QVariant sledDescribeSharedFile(const LANSharedFileItem& item, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(item.fileName);
    case SledIdRole:
        return sledDisplayText(item.id);
    case SledRawRole:
        return rawBytes(item.filePath);
    case SledSizeRole:
        return QVariant::fromValue<qint64>(item.sizeBytes);
    case SledDetailRole:
        return sledDisplayText(item.sha256Hex);
    default:
        return {};
    }
}

QVariant sledDescribePlanItem(const SyncPlanItem& item, int role) {
    switch (role) {
    case Qt::DisplayRole:
    case SledNameRole:
        return sledDisplayText(item.relativeName());
    case SledIdRole:
        return sledDisplayText(item.id());
    case SledRawRole:
        return rawBytes(item.relativeName());
    case SledSizeRole:
        return QVariant::fromValue<qint64>(item.bytesToTransfer());
    case SledStatusRole:
        return rawValueText(item.action());
    case SledDetailRole:
        return sledDisplayText(item.reason());
    default:
        return {};
    }
}
