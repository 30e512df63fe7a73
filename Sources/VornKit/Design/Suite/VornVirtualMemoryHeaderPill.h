#pragma once

#include "VornLanguage.h"
#include "VornVirtualMemorySummary.h"

#include <QAbstractButton>
#include <QColor>
#include <QString>

#include <functional>
#include <string>

// A small capsule for an application's header: a status dot, an icon and the virtual-memory state
// in one monospaced line. A click opens the memory-offload app, unless the owner gives an action of
// its own. It holds no state: the owner passes a new summary whenever it reads one.
class VornVirtualMemoryHeaderPill : public QAbstractButton {
public:
    using Action = std::function<void()>;

    VornVirtualMemoryHeaderPill(VornVirtualMemorySummary summary, VornLanguage language, Action onTap,
                                QWidget* parent = nullptr);

    const VornVirtualMemorySummary& summary() const { return summary_; }
    VornLanguage language() const { return language_; }
    void setSummary(VornVirtualMemorySummary summary);
    void setLanguage(VornLanguage language);
    void setOnTap(Action onTap) { onTap_ = std::move(onTap); }

    // Pools, sparse disks or RAM disks are in use (swap alone does not count).
    static bool isActive(const VornVirtualMemorySummary& summary);
    // Critical pressure, else active pools, else warning pressure, else the calm cyan.
    static QColor statusColor(const VornVirtualMemorySummary& summary);
    static std::string symbolName(const VornVirtualMemorySummary& summary);
    // "VM: <compact badge text>", or "VM ON" when that text is empty.
    static QString title(const VornVirtualMemorySummary& summary, VornLanguage language);
    // The same in every state.
    static QString helpText(VornLanguage language);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    VornVirtualMemorySummary summary_;
    VornLanguage language_;
    Action onTap_;
};
