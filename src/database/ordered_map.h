// An insertion-ordered map keyed by byte strings: a vector of entries plus a hash
// index from key to position. Inserting a present key replaces the value in place,
// so the first position is kept; iteration never shows hash order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quarrow {

template <class V>
class OrderedMap {
 public:
  void insert_or_replace(const std::string& key, V value) {
    auto it = index_.find(key);
    if (it != index_.end()) {
      entries_[it->second].second = std::move(value);
      return;
    }
    index_.emplace(key, entries_.size());
    entries_.emplace_back(key, std::move(value));
  }

  const V* find(std::string_view key) const {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }
  V* find(std::string_view key) {
    auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &entries_[it->second].second;
  }

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const std::pair<std::string, V>& at(std::size_t i) const { return entries_[i]; }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::vector<std::pair<std::string, V>> entries_;
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace quarrow
