#include "SledImageProbe.h"

#include <memory>
#include <mutex>
#include <utility>

namespace {

struct ProbeSlot {
    std::mutex lock;
    std::shared_ptr<const SledImageProbe::Function> probe;
};

// Outlives static destruction, so a preview still running on another thread at exit finds it.
ProbeSlot& slot() {
    static auto* instance = new ProbeSlot;
    return *instance;
}

std::shared_ptr<const SledImageProbe::Function> current() {
    ProbeSlot& s = slot();
    std::lock_guard guard(s.lock);
    return s.probe;
}

}  // namespace

SledImageProbe::Function SledImageProbe::install(Function probe) {
    std::shared_ptr<const Function> next;
    if (probe) {
        next = std::make_shared<const Function>(std::move(probe));
    }
    std::shared_ptr<const Function> previous;
    {
        ProbeSlot& s = slot();
        std::lock_guard guard(s.lock);
        previous = std::exchange(s.probe, std::move(next));
    }
    return previous ? *previous : Function();
}

bool SledImageProbe::isInstalled() {
    return current() != nullptr;
}

std::optional<SledImagePixelSize> SledImageProbe::probe(std::span<const std::byte> bytes) {
    // The probe runs outside the lock: decoding may take a while and may run on many threads.
    const auto probe = current();
    if (!probe) {
        return std::nullopt;
    }
    std::optional<SledImagePixelSize> size = (*probe)(bytes);
    if (size && (size->width < 1 || size->height < 1)) {
        return std::nullopt;
    }
    return size;
}
