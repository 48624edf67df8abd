#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "iow/iowkit.h"

namespace quillon::iow {

// The adapters that IowKitOpenDevice opened, by handle. One open call opens every adapter it
// finds as one group; closing any handle of the group closes the whole group, and the device
// count and the numbered handles refer to the newest group. Handles are never reused while
// the process runs, so a stale handle finds nothing. Safe to use from several threads: an
// adapter found stays alive until its own group is removed, which its owner does.
template <typename Adapter>
class HandleTable {
  public:
    // Adds a group of adapters; returns the handle of its first one (0 for an empty group).
    IowKitHandle AddGroup(std::vector<std::unique_ptr<Adapter>> adapters) {
        const std::lock_guard lock(mutex_);
        newestGroup_.clear();
        ++groupCounter_;
        for (auto& adapter : adapters) {
            const IowKitHandle handle = nextHandle_++;
            newestGroup_.push_back(handle);
            entries_.push_back(Entry{handle, groupCounter_, std::move(adapter)});
        }
        return newestGroup_.empty() ? 0 : newestGroup_.front();
    }

    Adapter* Find(IowKitHandle handle) {
        const std::lock_guard lock(mutex_);
        return FindLocked(handle);
    }

    // Removes the group that holds `handle` and gives its adapters back for closing.
    std::vector<std::unique_ptr<Adapter>> RemoveGroupOf(IowKitHandle handle) {
        const std::lock_guard lock(mutex_);
        std::vector<std::unique_ptr<Adapter>> removed;
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.handle == handle; });
        if (handle == 0 || it == entries_.end()) return removed;
        const std::uint64_t group = it->group;
        for (auto& entry : entries_) {
            if (entry.group == group) removed.push_back(std::move(entry.adapter));
        }
        std::erase_if(entries_, [&](const Entry& e) { return e.group == group; });
        std::erase_if(newestGroup_, [&](IowKitHandle h) { return FindLocked(h) == nullptr; });
        return removed;
    }

    std::uint32_t NewestGroupSize() const {
        const std::lock_guard lock(mutex_);
        return static_cast<std::uint32_t>(newestGroup_.size());
    }

    IowKitHandle NewestGroupHandle(std::uint32_t deviceNumber) const {
        const std::lock_guard lock(mutex_);
        if (deviceNumber < 1 || deviceNumber > newestGroup_.size()) return 0;
        return newestGroup_[deviceNumber - 1];
    }

  private:
    Adapter* FindLocked(IowKitHandle handle) {
        if (handle == 0) return nullptr;
        for (auto& entry : entries_) {
            if (entry.handle == handle) return entry.adapter.get();
        }
        return nullptr;
    }

    struct Entry {
        IowKitHandle handle;
        std::uint64_t group;
        std::unique_ptr<Adapter> adapter;
    };
    std::vector<Entry> entries_;
    std::vector<IowKitHandle> newestGroup_;
    std::uint64_t groupCounter_ = 0;
    IowKitHandle nextHandle_ = 0x100;
    mutable std::mutex mutex_;
};

}  // namespace quillon::iow
