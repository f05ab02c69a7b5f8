#pragma once
// Model assembly: the last step of a read, from the reader state to the record.
#include "model/model_record.hpp"
#include "reader/records/reader_state.hpp"

namespace mopsel {

// True when every name of the record (model, objective, row and column names)
// is valid UTF-8. Bytes elsewhere in the text are not checked.
[[nodiscard]] bool record_names_are_utf8(const ModelRecord& record) noexcept;

// Turns the state of a successful read into the record: closes the start array,
// copies the model and objective names out of the text and moves the name lists
// and the numeric arrays. The state is left empty; the record no longer refers
// to the text.
ModelRecord finish_model(ReaderState&& state);

// The SOS sets and indicators gathered (any at all) moved into the record.
void assemble_sos_and_indicators(SosParts& sos, IndicatorParts& indicators, ModelRecord& record);

}  // namespace mopsel
