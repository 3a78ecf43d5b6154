#pragma once
// The storage behind both lists of TUploadQueue: records in a fixed order, each reachable by its
// index and by its id. A record lives in a shared_ptr so that code which must call out while
// holding one (destroying an upload thread) can keep it alive even if a nested call removes it.

#include "core/queue/UploadJob.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillo {

template <class TRecord> class TJobList {
public:
    using TPtr = std::shared_ptr<TRecord>;

    explicit TJobList(const char* name) : FName(name) {}
    // One list, one stamp: a copy would share it with different records later.
    TJobList(const TJobList&) = delete;
    TJobList& operator=(const TJobList&) = delete;

    // A stamp that changes with every change of the list other than appending at its end, and
    // that no other list ever has: the records before the first appended one are the same, in the
    // same order, as long as the stamp is. What a saved copy of the list's bytes relies on.
    // Changing a record in place must go through Touched().
    std::uint64_t EditStamp() const { return FEditStamp; }
    void Touched() { FEditStamp = NewStamp(); }

    std::size_t Size() const { return FItems.size(); }

    const TPtr& Slot(std::size_t index) const {
        if (index >= FItems.size())
            throw std::out_of_range("Index " + std::to_string(index) + " is outside the " + FName);
        return FItems[index];
    }

    TRecord* Find(TJobId id) const {
        const auto it = FById.find(id);
        return it == FById.end() ? nullptr : it->second;
    }

    std::optional<std::size_t> IndexOf(TJobId id) const {
        const TRecord* r = Find(id);
        if (!r)
            return std::nullopt;
        return r->FIndex;
    }

    // Whether the record is (still) in this list, and where.
    std::optional<std::size_t> IndexOf(const TRecord* r) const {
        if (r->FIndex < FItems.size() && FItems[r->FIndex].get() == r)
            return r->FIndex;
        return std::nullopt;
    }

    std::vector<TJobId> Ids() const {
        std::vector<TJobId> ids;
        ids.reserve(FItems.size());
        for (const TPtr& p : FItems)
            ids.push_back(p->FId);
        return ids;
    }

    // Room for `extra` more records. Grows geometrically: appending one record at a time (every
    // AddTask) must not reallocate the whole list each time.
    void Reserve(std::size_t extra) {
        const std::size_t needed = FItems.size() + extra;
        if (needed <= FItems.capacity())
            return;
        const std::size_t room = std::max(needed, FItems.capacity() * 2);
        FItems.reserve(room);
        FById.reserve(room);
    }

    TRecord& Append(TPtr p, TJobId id) {
        if (!p)
            throw std::invalid_argument(std::string("No record to append to the ") + FName);
        p->FId = id;
        p->FIndex = FItems.size();
        FById.emplace(id, p.get());
        FItems.push_back(std::move(p));
        return *FItems.back();
    }

    TPtr RemoveAt(std::size_t index) {
        Touched();
        TPtr gone = std::move(FItems[index]);
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
        FById.erase(gone->FId);
        gone->FIndex = kNowhere;
        Renumber(index, FItems.size());
        return gone;
    }

    // Removes rows first .. first + count - 1 in one go.
    void RemoveRange(std::size_t first, std::size_t count) {
        Touched();
        const auto at = [this](std::size_t i) { return FItems.begin() + static_cast<std::ptrdiff_t>(i); };
        for (std::size_t i = first; i < first + count; ++i)
            Forget(*FItems[i]);
        FItems.erase(at(first), at(first + count));
        Renumber(first, FItems.size());
    }

    // Removes every row whose mark is set, in one pass (marks.size() == Size()).
    void RemoveMarked(const std::vector<char>& marks) {
        Touched();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < FItems.size(); ++i) {
            if (marks[i]) {
                Forget(*FItems[i]);
                FItems[i].reset();
            } else {
                if (kept != i)
                    FItems[kept] = std::move(FItems[i]);
                FItems[kept]->FIndex = kept;
                ++kept;
            }
        }
        FItems.resize(kept);
    }

    // The row at `from` ends up at `to`.
    void Move(std::size_t from, std::size_t to) {
        Touched();
        const auto at = [this](std::size_t i) { return FItems.begin() + static_cast<std::ptrdiff_t>(i); };
        if (from < to)
            std::rotate(at(from), at(from + 1), at(to + 1));
        else
            std::rotate(at(to), at(from), at(from + 1));
        Renumber(std::min(from, to), std::max(from, to) + 1);
    }

    // Reorders the whole list: the record at Order[i] ends up at index i. Order must hold every
    // index exactly once (std::invalid_argument otherwise, and the list is unchanged).
    void Permute(const std::vector<std::size_t>& Order) {
        if (Order.size() != FItems.size())
            throw std::invalid_argument(std::string("A new order for the ") + FName + " must name every row");
        std::vector<bool> seen(Order.size(), false);
        for (std::size_t from : Order) {
            if (from >= Order.size() || seen[from])
                throw std::invalid_argument(std::string("A new order for the ") + FName +
                                            " must name every row once");
            seen[from] = true;
        }
        Touched();
        std::vector<TPtr> items;
        items.reserve(FItems.size());
        for (std::size_t from : Order)
            items.push_back(std::move(FItems[from]));
        FItems = std::move(items);
        Renumber(0, FItems.size());
    }

    void Clear() {
        Touched();
        for (TPtr& p : FItems)
            p->FIndex = kNowhere;
        FItems.clear();
        FById.clear();
    }

private:
    static constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);

    static std::uint64_t NewStamp() {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }

    void Forget(TRecord& r) {
        FById.erase(r.FId);
        r.FIndex = kNowhere;
    }

    void Renumber(std::size_t first, std::size_t end) {
        for (std::size_t i = first; i < end && i < FItems.size(); ++i)
            FItems[i]->FIndex = i;
    }

    const char* FName;
    std::uint64_t FEditStamp = NewStamp();
    std::vector<TPtr> FItems;
    std::unordered_map<TJobId, TRecord*> FById;
};

} // namespace quillo
