#include "writer/set_names.hpp"

#include <charconv>
#include <unordered_set>

namespace mopsel {
namespace {

bool has_prefix_and_digits(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  for (char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "{prefix}1" unless a name in use equals it; then the first "{prefix}{k}"
// not in use. Only names of that shape are collected, so the usual model
// (no clash) costs one comparison per name.
std::string unused_name(const NameList& names, std::string_view extra, std::string_view prefix) {
  std::string candidate = std::string(prefix) + "1";
  bool clash = extra == candidate;
  for (size_t i = 0; i < names.size() && !clash; ++i) clash = names[i] == candidate;
  if (!clash) return candidate;

  std::unordered_set<std::string_view> taken;
  if (has_prefix_and_digits(extra, prefix)) taken.insert(extra);
  for (size_t i = 0; i < names.size(); ++i) {
    if (has_prefix_and_digits(names[i], prefix)) taken.insert(names[i]);
  }
  // At most taken.size() + 1 candidates need trying.
  for (uint64_t k = 2;; ++k) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, k).ptr;
    candidate.assign(prefix).append(digits, end);
    if (taken.count(candidate) == 0) return candidate;
  }
}

}  // namespace

SetNames choose_set_names(const ModelRecord& record, std::string_view objective) {
  SetNames names;
  names.rhs = unused_name(record.row_names, objective, "RHS");
  names.range = unused_name(record.row_names, objective, "RNG");
  names.bound = unused_name(record.col_names, {}, "BND");
  return names;
}

}  // namespace mopsel
