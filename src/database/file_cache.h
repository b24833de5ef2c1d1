// What upper layers work out from a file's bytes and keep while it is open (the file
// does not change): one value per key, made by the first caller that asks for it and
// shared by every later one, from any thread. As LevelDB's cache, the store knows a
// key, an opaque value and the deleter that frees it, never what the value is: each
// layer names its own kinds of value with a CacheKind of its own type, and the typed
// lookup below is the one place a value is cast back, to the type its kind names.
// Values live until the cache does (the open database); nothing is evicted.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace quarrow {

// A kind of cached value, holding values of type T. Define one per kind, with static
// storage: its address tells the kinds apart.
template <class T>
struct CacheKind {};

class FileCache {
 public:
  using Deleter = void (*)(void* value);
  // A kind (the address of its CacheKind) and an id within it (a page, an object id).
  struct Key {
    const void* kind = nullptr;
    std::uint64_t id = 0;
    friend auto operator<=>(const Key&, const Key&) = default;
  };

  FileCache() = default;
  FileCache(const FileCache&) = delete;
  FileCache& operator=(const FileCache&) = delete;
  ~FileCache() {
    for (auto& [key, entry] : entries_) entry.deleter(entry.value);
  }

  // The value under `key`, made by `make()` (an owning pointer, freed by `deleter`)
  // when there is none yet. `make` runs under the cache's lock: it should only
  // allocate, and leave the expensive part to the value.
  template <class Make>
  void* find_or_insert(const Key& key, Make&& make, Deleter deleter) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) it = entries_.emplace(key, Entry{make(), deleter}).first;
    return it->second.value;
  }

 private:
  struct Entry {
    void* value;
    Deleter deleter;
  };
  std::mutex mutex_;
  std::map<Key, Entry> entries_;
};

// The value of `kind` under `id` in `cache`, default-constructed on first use.
template <class T>
T& cached(FileCache& cache, const CacheKind<T>& kind, std::uint64_t id) {
  void* value = cache.find_or_insert(
      FileCache::Key{&kind, id}, [] { return static_cast<void*>(new T()); },
      [](void* p) { delete static_cast<T*>(p); });
  return *static_cast<T*>(value);
}

}  // namespace quarrow
