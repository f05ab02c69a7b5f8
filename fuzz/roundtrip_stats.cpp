// Sorts the inputs of a round-trip corpus by how strictly fuzz_roundtrip checks
// them: not read, name exception (reads again only), free rows or values that
// print differently (model compared, text not), or text compared byte for byte.
// Shows how much of the corpus the exact-text check really covers.
//   build/fuzz/fuzz/roundtrip_stats build/fuzz-corpus/roundtrip
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "fuzz_checks.hpp"

int main(int argc, char** argv) {
  using namespace mopsel;
  using namespace mopsel::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS-DIR\n", argv[0]);
    return 2;
  }
  std::map<std::string, size_t> counts;
  size_t failed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ++counts["inputs"];
    if (!check_round_trip(text).empty()) ++failed;
    std::string fault;
    Result<ModelRecord> first = guarded_read(text, fault);
    if (!first.ok()) continue;
    ++counts["read"];
    const RoundTripHazards hazards = find_name_hazards(first.value());
    if (hazards.names) {
      ++counts["name exception: " + hazards.why];
      continue;
    }
    ByteBuffer written;
    if (!write_text(first.value(), written, "first").empty()) continue;
    Result<ModelRecord> second = guarded_read(as_view(written), fault);
    if (!second.ok()) continue;
    bool render_changes = false;
    (void)compare_round_trip(first.value(), second.value(), render_changes);
    bool free_rows = false;
    for (uint32_t i = 0; i < first.value().num_row; ++i)
      free_rows = free_rows || (!is_finite(first.value().row_lower[i]) && !is_finite(first.value().row_upper[i]));
    ++counts[free_rows ? "free rows" : render_changes ? "values print differently" : "text compared"];
  }
  for (const auto& [what, n] : counts) std::printf("%8zu  %s\n", n, what.c_str());
  std::printf("%8zu  failing the round-trip check\n", failed);
  return failed == 0 ? 0 : 1;
}
