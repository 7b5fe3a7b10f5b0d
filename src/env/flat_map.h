// A small open-addressing hash map with linear probing, for integer keys. Copying it copies
// one flat array; lookups touch no per-entry nodes. Iteration order is unspecified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ortolan {

template <class Key, class Value>
class FlatMap {
public:
    struct Slot {
        Key key;
        Value value;
        bool used;
    };

    FlatMap() = default;
    FlatMap(const FlatMap&) = default;
    FlatMap& operator=(const FlatMap&) = default;
    // A moved-from map is left empty, not holding its old size with no slots.
    FlatMap(FlatMap&& other) noexcept
        : slots_(std::move(other.slots_)), size_(std::exchange(other.size_, 0)) {
        other.slots_.clear();
    }
    FlatMap& operator=(FlatMap&& other) noexcept {
        if (this != &other) {
            slots_ = std::move(other.slots_);
            size_ = std::exchange(other.size_, 0);
            other.slots_.clear();
        }
        return *this;
    }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    void clear() {
        // A map that grew large from outside data does not keep its memory after a clear.
        if (slots_.size() > initial_capacity) {
            std::vector<Slot>().swap(slots_);
        } else {
            for (Slot& slot : slots_) slot.used = false;
        }
        size_ = 0;
    }

    const Value* find(Key key) const {
        if (slots_.empty()) return nullptr;
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.value;
        }
    }

    // The value stored under key, inserted as Value{} when absent.
    Value& operator[](Key key) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                slot = Slot{key, Value{}, true};
                ++size_;
                return slot.value;
            }
            if (slot.key == key) return slot.value;
        }
    }

    template <class F>
    void for_each(F&& f) const {
        for (const Slot& slot : slots_)
            if (slot.used) f(slot.key, slot.value);
    }

    // Room for count entries without growing on the way, reached with one table and one pass
    // over the old slots.
    void reserve(size_t count) {
        if (count * 2 <= slots_.size()) return;
        size_t capacity = slots_.empty() ? initial_capacity : slots_.size() * 2;
        while (count * 2 > capacity) capacity *= 2;
        rehash(capacity);
    }

private:
    static constexpr size_t initial_capacity = 64;

    static size_t hash(Key key) {
        uint64_t x = static_cast<uint64_t>(key);
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdULL;
        x ^= x >> 33;
        return static_cast<size_t>(x);
    }

    void grow() { rehash(slots_.empty() ? initial_capacity : slots_.size() * 2); }

    // Moves to a table of the given power-of-two size, re-inserting the entries in the order of
    // the old slots, each into the first free slot of its probe sequence (the keys are known to
    // be distinct).
    void rehash(size_t capacity) {
        // Value-initialised slots are unused and zero throughout.
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (!slot.used) continue;
            size_t i = hash(slot.key) & mask;
            while (slots_[i].used) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    size_t size_ = 0;
};

}  // namespace ortolan
