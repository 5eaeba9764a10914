// The table behind the public handles.
//
// A handle is a slot index + 1 in its low 20 bits and the slot's generation
// in the high 12, so that a released handle is not mistaken for a newer one
// in the same slot. Slots live in fixed chunks that never move, so looking a
// handle up takes no lock (it runs several times per row); adding and
// removing take one. A handle may be used from any thread, but not while
// another thread releases it.
//
// Records are recycled: a released record that nothing else holds is kept
// (one per thread) for the next fetch, with its buffers.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "database.h"
#include "installer.h"
#include "record.h"
#include "view.h"

namespace installer {

class HandleTable {
 public:
  using Object =
      std::variant<std::shared_ptr<const Database>, std::shared_ptr<View>, std::shared_ptr<Record>>;

  // kNoHandle when every slot is taken.
  Handle Add(Object object);

  // The object of a live handle of type T, or null.
  template <typename T>
  T* Get(Handle handle) const {
    const std::shared_ptr<T>* p = Find<T>(handle);
    return p ? p->get() : nullptr;
  }
  template <typename T>
  std::shared_ptr<T> GetShared(Handle handle) const {
    const std::shared_ptr<T>* p = Find<T>(handle);
    return p ? *p : nullptr;
  }

  // False for a handle that is not live.
  bool Remove(Handle handle);

  // An empty record, recycled when one is spare.
  std::shared_ptr<Record> NewRecord();

 private:
  static constexpr unsigned kIndexBits = 20;
  static constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1;
  static constexpr uint32_t kGenerationMask = (1u << (32 - kIndexBits)) - 1;
  static constexpr unsigned kChunkBits = 10;
  static constexpr uint32_t kChunkSize = 1u << kChunkBits;
  static constexpr uint32_t kChunkCount = 1u << (kIndexBits - kChunkBits);
  static constexpr uint32_t kMaxSlots = kIndexMask - 1;  // index + 1 must fit the mask

  struct Slot {
    Object object;
    std::atomic<Handle> handle{kNoHandle};  // the live handle, published after the object
    uint32_t generation = 0;
  };

  Slot* SlotAt(uint32_t index) const {
    Slot* chunk = chunks_[index >> kChunkBits].load(std::memory_order_acquire);
    return chunk ? &chunk[index & (kChunkSize - 1)] : nullptr;
  }

  template <typename T>
  const std::shared_ptr<T>* Find(Handle handle) const {
    const uint32_t index_plus_one = handle & kIndexMask;
    if (index_plus_one == 0) return nullptr;
    Slot* slot = SlotAt(index_plus_one - 1);
    if (!slot || slot->handle.load(std::memory_order_acquire) != handle) return nullptr;
    return std::get_if<std::shared_ptr<T>>(&slot->object);
  }

  std::mutex mutex_;  // guards everything below and every write to a slot
  std::atomic<Slot*> chunks_[kChunkCount] = {};
  uint32_t slot_count_ = 0;
  std::vector<uint32_t> free_;
  static thread_local std::shared_ptr<Record> spare_record;
};

}  // namespace installer
