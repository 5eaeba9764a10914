#include "handle_table.h"

namespace installer {

// One released record per thread, kept for the next fetch.
thread_local std::shared_ptr<Record> HandleTable::spare_record;

Handle HandleTable::Add(Object object) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    if (slot_count_ >= kMaxSlots) return kNoHandle;
    index = slot_count_++;
    if (!chunks_[index >> kChunkBits].load(std::memory_order_relaxed))
      chunks_[index >> kChunkBits].store(new Slot[kChunkSize], std::memory_order_release);
  }
  Slot* slot = SlotAt(index);
  slot->object = std::move(object);
  const Handle handle = (slot->generation << kIndexBits) | (index + 1);
  slot->handle.store(handle, std::memory_order_release);
  return handle;
}

bool HandleTable::Remove(Handle handle) {
  Object doomed;  // destroyed outside the lock: a database may close its file
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t index_plus_one = handle & kIndexMask;
    Slot* slot = index_plus_one ? SlotAt(index_plus_one - 1) : nullptr;
    if (!slot || slot->handle.load(std::memory_order_relaxed) != handle) return false;
    slot->handle.store(kNoHandle, std::memory_order_release);
    doomed = std::move(slot->object);
    slot->object = Object();
    slot->generation = (slot->generation + 1) & kGenerationMask;
    free_.push_back(index_plus_one - 1);
  }
  auto* record = std::get_if<std::shared_ptr<Record>>(&doomed);
  if (record && record->use_count() == 1 && !spare_record) {
    (*record)->database.reset();
    spare_record = std::move(*record);
  }
  return true;
}

std::shared_ptr<Record> HandleTable::NewRecord() {
  if (spare_record) return std::move(spare_record);
  return std::make_shared<Record>();
}

}  // namespace installer
