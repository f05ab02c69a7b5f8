#pragma once
// Names waiting to enter a map, in order. Each name's home slot is asked for when
// the name is queued and the name is inserted a few names later, so that on a map
// beyond the caches the fetches of several names overlap instead of each insert
// waiting for its own. The default reader queues the names of ROWS this way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "reader/names/name_map.hpp"

namespace mopsel {

template <class V>
struct InsertsAhead {
  static constexpr size_t kDepth = 8;
  struct Entry {
    NameKey key;  // under the map's seed when queued
    bool keyed;   // whether that seed was the keyed one
    V value;
  };
  Entry at[kDepth];
  size_t first = 0;
  size_t count = 0;
};

// Inserts the oldest queued name (a key made under a seed the map has since left
// is made again).
template <class V>
void insert_oldest(InsertsAhead<V>& q, NameMap<V>& map) {
  const typename InsertsAhead<V>::Entry& e = q.at[q.first];
  const std::string_view name(e.key.data, e.key.size);
  assign_name(map, name, e.value, e.keyed == map.seed.keyed ? &e.key : nullptr);
  q.first = (q.first + 1) % InsertsAhead<V>::kDepth;
  --q.count;
}

// Queues `name` for insertion with `value`; when the queue is full, the oldest
// queued name is inserted first.
template <class V>
[[gnu::always_inline]] inline void queue_insert(InsertsAhead<V>& q, NameMap<V>& map, std::string_view name,
                                                V value) {
  if (q.count == InsertsAhead<V>::kDepth) insert_oldest(q, map);
  typename InsertsAhead<V>::Entry& e = q.at[(q.first + q.count) % InsertsAhead<V>::kDepth];
  e.key = map_key(map, name);
  e.keyed = map.seed.keyed;
  e.value = value;
  ++q.count;
  prefetch_name(map, e.key);
}

// Inserts every queued name, in order.
template <class V>
void insert_queued(InsertsAhead<V>& q, NameMap<V>& map) {
  while (q.count > 0) insert_oldest(q, map);
}

}  // namespace mopsel
