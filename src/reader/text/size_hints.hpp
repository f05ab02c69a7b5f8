#pragma once
// Size hints: "* ROWS: n", "* COLUMNS: n" and "* NONZERO: n" comments at the head
// of the text, capped by what the text can hold, size the reader's arrays once;
// the rows after a ROWS header are counted to size the row map.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mopsel {

struct OptionalCount {
  bool present = false;
  uint64_t value = 0;
};

// Hint values: whitespace and surrounding parentheses removed, optional "+",
// decimal digits only, fitting 64 bits.
OptionalCount parse_count(std::string_view text) noexcept;

struct SizeHints {
  uint64_t nonzeros = 0;
  uint64_t columns = 0;
  uint64_t rows = 0;
  bool has_nonzeros = false;  // the value came from the text, not the default
  bool has_columns = false;
  bool has_rows = false;
};

// Reads "* ROWS: n", "* COLUMNS: n" and "* NONZERO: n" comments among the first
// 20 lines, up to the NAME line; missing values get defaults from the text length.
SizeHints scan_size_hints(std::string_view text) noexcept;

// The same from the head of a text of `text_length` bytes: enough for the hints when
// it holds the first 20 lines whole, or the whole text.
SizeHints scan_size_hints(std::string_view head, uint64_t text_length) noexcept;

// The reservations actually taken: the hints, capped by what the text can hold
// (entries by a quarter of its length, columns and rows by a sixteenth), so a
// hint alone never makes the reader reserve more than a small multiple of the
// text size.
struct Reservations {
  size_t entries;
  size_t columns;
  size_t rows;
};

Reservations capped_reservations(const SizeHints& hints, size_t text_length) noexcept;

// The number of row records at the start of `rest` (the text after a ROWS
// header): lines that begin with a blank, whose first field starts with E, G, L
// or N and that have a second field; empty and comment lines are passed over.
// Counting stops at the first other line. An estimate for sizing the row map
// (a header indented like a record may let it count on), so it is capped by a
// sixth of the text length (" L r1" and its line end).
size_t count_row_lines(std::string_view rest, size_t text_length) noexcept;

// The count of count_row_lines over `rest` made of whole lines only, going on from
// `counted` rows before it, with `open` set when lines that follow `rest` could still
// count: it ended neither at a line that stops the count nor at the cap.
struct RowLineCount {
  size_t rows = 0;
  bool open = false;
};
RowLineCount count_row_lines_so_far(std::string_view rest, size_t text_length, size_t counted = 0) noexcept;

}  // namespace mopsel
