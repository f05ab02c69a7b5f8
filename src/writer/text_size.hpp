#pragma once
// An estimate of the size of a record's MPS text, so that the in-memory sink
// can reserve its buffer once instead of growing (and copying) it repeatedly.
#include <cstddef>

#include "model/model_record.hpp"

namespace mopsel {

// Meant to be a little above the true size for usual models; it reads only
// counts and name lengths, never the numbers. It is only a capacity hint: the
// sink still grows when the text turns out longer.
size_t estimate_text_size(const ModelRecord& record) noexcept;

}  // namespace mopsel
