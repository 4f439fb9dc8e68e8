// The records vportd takes from the driver, raw: an input is a sequence of
// records, each a 16-bit length and that many bytes, with a step of the
// virtual clock (1 byte, ms) before it. Each record goes to
// Engine::HandleRequest in a block of exactly its size (so a read past it is
// seen), the clock ticks, the actions are taken. Whatever the bytes: no crash,
// a malformed record is refused and does nothing, and the engine's memory stays
// within what the records handed it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <set>

#include "bridge_records.h"
#include "engine.h"
#include "fuzz_check.h"

// Every allocation of the program is counted, so the engine's memory can be
// bounded. The size sits before the block, so every form of new and delete that
// is not over-aligned is replaced (libFuzzer's own allocations pass through
// them too).
namespace {
size_t g_liveBytes = 0;
constexpr size_t kSizeSlot = alignof(std::max_align_t);

void* Allocate(size_t size) {
  void* block = std::malloc(size + kSizeSlot);
  if (block == nullptr) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  g_liveBytes += size;
  return static_cast<char*>(block) + kSizeSlot;
}

void Release(void* at) {
  if (at == nullptr) return;
  void* block = static_cast<char*>(at) - kSizeSlot;
  g_liveBytes -= *static_cast<size_t*>(block);
  std::free(block);
}
}  // namespace

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* at) noexcept {
  Release(at);
}
void operator delete[](void* at) noexcept {
  Release(at);
}
void operator delete(void* at, size_t) noexcept {
  Release(at);
}
void operator delete[](void* at, size_t) noexcept {
  Release(at);
}
void operator delete(void* at, const std::nothrow_t&) noexcept {
  Release(at);
}
void operator delete[](void* at, const std::nothrow_t&) noexcept {
  Release(at);
}

namespace {

// What the engine may hold per port it has heard of (its send queue and the
// containers of an empty port), and per byte of records it was handed (a
// write's bytes, a read's or a write's entry).
constexpr size_t kPortBytes = vportd::kSendQueueBytes + 16 * 1024;
constexpr size_t kBytesPerRecordByte = 8;

bool KindKnown(uint32_t kind) {
  return kind >= VPORT_BRIDGE_WRITE && kind <= VPORT_BRIDGE_PURGE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const size_t liveBefore = g_liveBytes;
  {
    vportd::Engine engine;
    uint64_t nowMs = 1000;
    std::set<uint32_t> ports;
    size_t handed = 0;
    while (input.Left() != 0) {
      nowMs += input.Byte();
      const size_t length = input.Le16();
      size_t got;
      const uint8_t* bytes = input.Bytes(length, &got);
      auto record = std::make_unique<uint8_t[]>(got);
      if (got != 0) std::memcpy(record.get(), bytes, got);

      VportBridgeRequest parsed;
      const bool wellFormed = VportReadBridgeRequest(record.get(), got, &parsed) != 0;
      // The engine keeps a port for each COM number a readable record names.
      if (wellFormed) ports.insert(parsed.comNumber);
      const bool accepted = engine.HandleRequest(record.get(), got, nowMs);
      FUZZ_CHECK(accepted == (wellFormed && KindKnown(parsed.kind)));
      if (!accepted) FUZZ_CHECK(engine.TakeActions().empty());
      handed += got;

      engine.Tick(nowMs);
      engine.TakeActions();
      record.reset();
      FUZZ_CHECK(g_liveBytes - liveBefore <=
                 64 * 1024 + ports.size() * kPortBytes + handed * kBytesPerRecordByte);
    }
  }
  // Nothing outlives the engine.
  FUZZ_CHECK(g_liveBytes == liveBefore);
  return 0;
}
