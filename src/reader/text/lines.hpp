#pragma once
// Lines and their fields, the first stage of the reader: a cursor over the model
// text that yields lines, and the splitting of a line into fields at separator
// bytes, 64 bytes at a time (SSE2 compares into a bit mask, fields cut out with
// count-trailing-zeros). Everything works on views into the text.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mopsel {

// Cursor over the model text. Lines end at LF; a CR right before the LF is
// dropped with it, so CRLF and LF files read alike. A lone CR stays in the line.
struct LineCursor {
  const char* pos;
  const char* end;
};

// The UTF-8 encoding of U+FEFF, which Windows editors put before the text.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A cursor from the start of the model text; a byte-order mark at the very start
// is not part of the first line.
inline LineCursor line_cursor(std::string_view text) noexcept {
  const size_t skip = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  return {text.data() + skip, text.data() + text.size()};
}

// Yields the next line without its terminator; false at the end of the text.
inline bool next_line(LineCursor& cursor, std::string_view& line) noexcept {
  const char* start = cursor.pos;
  if (start == cursor.end) return false;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', cursor.end - start));
  const char* stop = cursor.end;
  if (lf != nullptr) {
    cursor.pos = lf + 1;
    stop = (lf != start && lf[-1] == '\r') ? lf - 1 : lf;
  } else {
    cursor.pos = cursor.end;
  }
  line = std::string_view(start, static_cast<size_t>(stop - start));
  return true;
}

// Only the very first byte counts: an asterisk after blanks is not a comment.
inline bool is_comment_line(std::string_view line) noexcept {
  return !line.empty() && (line.front() == '*' || line.front() == '$');
}

// ---------------------------------------------------------------------------
// Fields

namespace detail {
inline constexpr std::array<bool, 256> kFieldSeparator = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\f', '\r'}) table[c] = true;
  return table;
}();
}  // namespace detail

// Space, tab, LF, form feed and CR; vertical tab is not a separator.
inline bool is_field_separator(char c) noexcept {
  return detail::kFieldSeparator[static_cast<unsigned char>(c)];
}

inline constexpr size_t kMaxFields = 6;

struct Fields {
  std::array<std::string_view, kMaxFields> at;
  size_t count = 0;
};

namespace detail {

#if defined(__SSE2__)
// Bit i is set when byte i of v is a field separator.
inline uint32_t separator_bits(__m128i v) noexcept {
  const __m128i space = _mm_cmpeq_epi8(v, _mm_set1_epi8(' '));
  // Tab, LF, VT, FF, CR are 9 to 13; then vertical tab is taken out again.
  const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(9));
  const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(4)), shifted);
  const __m128i vtab = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0B));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_or_si128(space, _mm_andnot_si128(vtab, control))));
}

// Bit i is set when byte i of the 16 bytes at p is a field separator.
inline uint32_t separator_bits(const char* p) noexcept {
  return separator_bits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
#endif

// Bit i is set when byte p[i] is a field separator or lies at or past `end`.
// Loads 64 bytes at once when they lie before `readable` (readable >= end).
inline uint64_t separator_window(const char* p, const char* end, const char* readable) noexcept {
  uint64_t bits = 0;
  const ptrdiff_t left = end - p;
#if defined(__SSE2__)
  if (readable - p >= 64) {
    bits = uint64_t{separator_bits(p)} | (uint64_t{separator_bits(p + 16)} << 16) |
           (uint64_t{separator_bits(p + 32)} << 32) | (uint64_t{separator_bits(p + 48)} << 48);
  } else
#else
  (void)readable;
#endif
  {
    const ptrdiff_t n = left < 64 ? left : 64;
    for (ptrdiff_t i = 0; i < n; ++i) bits |= uint64_t{is_field_separator(p[i])} << i;
  }
  if (left < 64) bits |= ~uint64_t{0} << left;
  return bits;
}

// Cuts the fields out of one window of up to 64 bytes at `p`, whose separator bits
// are `separators` (bytes past the line's end count as separators). `before` is 1
// when the byte before the window is a separator or the line starts there; `open`
// is the start of a field that runs into the window from the one before, or null.
// Both are updated for the next window. Fields are stored at out[count] and on
// while count < keep.
[[gnu::always_inline]] inline void cut_window(const char* p, uint64_t separators, uint64_t& before,
                                              const char*& open, std::string_view* out, size_t& count,
                                              size_t keep) noexcept {
  // Field starts: non-separators after a separator; field ends: separators after
  // a non-separator. Each end closes the oldest start not yet closed.
  const uint64_t shifted = (separators << 1) | before;
  uint64_t starts = ~separators & shifted;
  uint64_t ends = separators & ~shifted;
  before = separators >> 63;
  if (open != nullptr && ends != 0) {
    out[count++] = std::string_view(open, static_cast<size_t>(p + __builtin_ctzll(ends) - open));
    ends &= ends - 1;
    open = nullptr;
  }
  while (ends != 0 && count < keep) {
    const int first = __builtin_ctzll(starts);
    out[count++] = std::string_view(p + first, static_cast<size_t>(__builtin_ctzll(ends) - first));
    starts &= starts - 1;
    ends &= ends - 1;
  }
  // At most one start is left: a field that runs into the next window.
  if (starts != 0 && ends == 0) open = p + __builtin_ctzll(starts);
}

}  // namespace detail

// Maximal runs of non-separator bytes; only the first `keep` (at most kMaxFields)
// are stored into `fields` (its count set, entries past the count left as they
// were, so a Fields reused from line to line costs no clearing), the rest of the
// line is ignored. Bytes from the line's end up to `readable` may be loaded
// (never used), so the line is scanned in 64-byte windows of separator bits.
[[gnu::always_inline]] inline void split_fields_into(std::string_view line, size_t keep,
                                                    const char* readable, Fields& fields) noexcept {
  if (keep > kMaxFields) keep = kMaxFields;
  std::string_view* const out = fields.at.data();
  size_t count = 0;
  const char* p = line.data();
  const char* const end = p + line.size();
  const char* start = nullptr;  // start of a field that runs past the last window
  uint64_t before = 1;          // 1 when the byte before the window is a separator (or none)
  while (p < end && count < keep) {
    detail::cut_window(p, detail::separator_window(p, end, readable), before, start, out, count, keep);
    if (end - p <= 64) break;
    p += 64;
  }
  if (start != nullptr && count < keep) {
    out[count++] = std::string_view(start, static_cast<size_t>(end - start));
  }
  fields.count = count;
}

// next_line and split_fields_into in one pass for a line that ends within the
// first 64 bytes, when those bytes lie inside the text: the line feed and the
// separators come from the same loads. Longer lines, and lines near the end of
// the text, take the two separate steps. The line is given as next_line gives it.
[[gnu::always_inline]] inline void next_line_fields(LineCursor& cursor, size_t keep, Fields& fields,
                                                    std::string_view& line) noexcept {
#if defined(__SSE2__)
  const char* const p = cursor.pos;
  if (cursor.end - p >= 64) {
    uint64_t separators = 0;
    uint64_t feeds = 0;
    const __m128i lf = _mm_set1_epi8('\n');
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      separators |= uint64_t{detail::separator_bits(v)} << (16 * k);
      feeds |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))} << (16 * k);
    }
    if (feeds != 0) [[likely]] {
      const int at = __builtin_ctzll(feeds);
      const char* stop = p + at;
      cursor.pos = stop + 1;
      if (at != 0 && stop[-1] == '\r') --stop;
      line = std::string_view(p, static_cast<size_t>(stop - p));
      // Bytes from the line feed on count as separators, so every field ends here.
      separators |= ~uint64_t{0} << at;
      if (keep > kMaxFields) keep = kMaxFields;
      size_t count = 0;
      uint64_t before = 1;         // the line starts after a "separator"
      const char* open = nullptr;  // and no field runs into it
      detail::cut_window(p, separators, before, open, fields.at.data(), count, keep);
      fields.count = count;
      return;
    }
  }
#endif
  next_line(cursor, line);
  split_fields_into(line, keep, cursor.end, fields);
}

inline Fields split_fields(std::string_view line, size_t keep, const char* readable) noexcept {
  Fields fields;
  split_fields_into(line, keep, readable, fields);
  return fields;
}

inline Fields split_fields(std::string_view line, size_t keep) noexcept {
  return split_fields(line, keep, line.data() + line.size());
}

}  // namespace mopsel
