#include "reader/records/fixed_layout.hpp"

#include "model/mps_codes.hpp"
#include "reader/text/fixed_fields.hpp"

namespace mopsel {

Fields fixed_record(FixedLayout layout, std::string_view line) {
  const FixedRecord f = fixed_fields(line);
  Fields out;
  auto pairs_count = [&](size_t first) -> size_t {
    if (!f[4].empty() || !f[5].empty()) return first + 4;
    if (!f[2].empty() || !f[3].empty()) return first + 2;
    return first;
  };
  switch (layout) {
    case FixedLayout::Rows:
      out.at[0] = f[0];
      out.at[1] = f[1];
      out.count = (f[0].empty() || f[1].empty()) ? 0 : 2;
      break;
    case FixedLayout::Columns:
      if (f[1].empty()) break;
      out.at[0] = f[1];
      if (f[2] == kMarker) {
        out.at[1] = f[2];
        out.at[2] = f[3].empty() ? f[4] : f[3];
        out.count = 3;
        break;
      }
      for (size_t i = 1; i < 5; ++i) out.at[i] = f[i + 1];
      out.count = pairs_count(1);
      break;
    case FixedLayout::Bounds:
      for (size_t i = 0; i < 4; ++i) out.at[i] = f[i];
      out.count = (f[0].empty() || f[2].empty()) ? 0 : 4;
      break;
    case FixedLayout::Quadratic:
      for (size_t i = 0; i < 3; ++i) out.at[i] = f[i + 1];
      out.count = (f[1].empty() || f[2].empty()) ? 0 : (f[3].empty() ? 2 : 3);
      break;
    case FixedLayout::SosSet:
      for (size_t i = 0; i < 3; ++i) out.at[i] = f[i];
      out.count = f[0].empty() ? 0 : (!f[2].empty() ? 3 : (!f[1].empty() ? 2 : 1));
      break;
    case FixedLayout::SosMember:  // the weight in field 3, or in field 4 where values go elsewhere
      out.at[0] = f[1];
      out.at[1] = f[2].empty() ? f[3] : f[2];
      out.count = f[1].empty() ? 0 : (out.at[1].empty() ? 1 : 2);
      break;
    case FixedLayout::SetPairs:  // RHS, RANGES: the set name may be empty
      for (size_t i = 0; i < 5; ++i) out.at[i] = f[i + 1];
      out.count = pairs_count(1);
      break;
  }
  return out;
}

}  // namespace mopsel
