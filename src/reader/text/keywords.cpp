#include "reader/text/keywords.hpp"

#include "reader/text/lines.hpp"
#include "reader/text/utf8.hpp"

namespace mopsel {

HeaderKind keyword_kind(std::string_view w) noexcept {
  using enum HeaderKind;
  struct Keyword {
    std::string_view word;
    HeaderKind kind;
  };
  static constexpr Keyword k3[] = {{"RHS", Rhs}, {"SOS", Sos}};
  static constexpr Keyword k4[] = {{"NAME", Name}, {"ROWS", Rows}, {"SETS", Unsupported}};
  static constexpr Keyword k6[] = {{"RANGES", Ranges},      {"BOUNDS", Bounds},
                                   {"ENDATA", EndData},     {"PWLOBJ", Unsupported},
                                   {"PWLNAM", Unsupported}, {"PWLCON", Unsupported}};
  static constexpr Keyword k7[] = {{"COLUMNS", Columns},
                                   {"QUADOBJ", QuadObj},
                                   {"QMATRIX", QMatrix},
                                   {"GENCONS", Unsupported}};
  static constexpr Keyword k8[] = {{"OBJSENSE", ObjSense},
                                   {"QSECTION", QSection},
                                   {"QCMATRIX", QcMatrix},
                                   {"CSECTION", Unsupported},
                                   {"USERCUTS", Unsupported}};
  static constexpr Keyword k9[] = {{"MODELCUTS", Unsupported}};
  static constexpr Keyword k10[] = {{"INDICATORS", Indicators}};
  static constexpr Keyword k11[] = {{"DELAYEDROWS", Unsupported}};

  auto match = [w](const auto& table) {
    for (const Keyword& k : table) {
      if (k.word == w) return k.kind;
    }
    return Data;
  };
  switch (w.size()) {
    case 3: return match(k3);
    case 4: return match(k4);
    case 6: return match(k6);
    case 7: return match(k7);
    case 8: return match(k8);
    case 9: return match(k9);
    case 10: return match(k10);
    case 11: return match(k11);
    default: return Data;
  }
}

HeaderKind word_kind(std::string_view word) noexcept {
  constexpr size_t kLongest = 11;
  if (word.size() < 3 || word.size() > kLongest) return HeaderKind::Data;
  char upper[kLongest];
  for (size_t i = 0; i < word.size(); ++i) upper[i] = ascii_upper(word[i]);
  return keyword_kind({upper, word.size()});
}

LineClass classify_line(std::string_view line) noexcept {
  const std::string_view text = trim_unicode_left(line);
  if (text.empty()) return {HeaderKind::Blank, {}, {}};
  size_t split = 0;
  while (split < text.size() && !is_field_separator(text[split])) ++split;
  LineClass result{word_kind(text.substr(0, split)), text.substr(0, split), text.substr(split)};
  switch (result.kind) {
    case HeaderKind::Rows:
    case HeaderKind::Columns:
    case HeaderKind::Rhs:
    case HeaderKind::Bounds:
    case HeaderKind::Ranges:
    case HeaderKind::EndData:
      // These headers stand alone; "ROWS extra" is data.
      if (!trim_unicode(result.rest).empty()) result.kind = HeaderKind::Data;
      break;
    default: break;
  }
  return result;
}

}  // namespace mopsel
