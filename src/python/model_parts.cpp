#include "python/model_parts.hpp"

#include <cstddef>
#include <string>

#include "python/errors.hpp"
#include "python/numpy_types.hpp"
#include "python/slice_container.hpp"
#include "python/type_slots.hpp"

namespace mopsel::python {
namespace {

// ---- SosSets ---------------------------------------------------------------

SosObject* as_sos(PyObject* self) noexcept { return reinterpret_cast<SosObject*>(self); }

void sos_dealloc(PyObject* self) noexcept {
  SosObject* sos = as_sos(self);
  Py_CLEAR(sos->type);
  Py_CLEAR(sos->priority);
  Py_CLEAR(sos->start);
  Py_CLEAR(sos->index);
  Py_CLEAR(sos->weight);
  names_of(sos).~NameList();
  free_instance(self);
}

PyObject* sos_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const SosObject* sos = as_sos(self);
    const std::string text = "SosSets(num_sets=" + std::to_string(element_count(sos->type)) +
                             ", size=" + std::to_string(element_count(sos->index)) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

// len(): the number of sets.
Py_ssize_t sos_length(PyObject* self) noexcept { return static_cast<Py_ssize_t>(element_count(as_sos(self)->type)); }

PyObject* get_sos_names(PyObject* self, void*) noexcept {
  const NameList& names = names_of(as_sos(self));
  PyRef list(PyList_New(static_cast<Py_ssize_t>(names.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    PyObject* item = PyUnicode_DecodeUTF8(names[i].data(), static_cast<Py_ssize_t>(names[i].size()), "strict");
    if (item == nullptr || PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item) != 0) return nullptr;
  }
  return list.release();
}

PyMemberDef g_sos_members[] = {
    {"type", T_OBJECT_EX, offsetof(SosObject, type), READONLY, ""},
    {"priority", T_OBJECT_EX, offsetof(SosObject, priority), READONLY, ""},
    {"start", T_OBJECT_EX, offsetof(SosObject, start), READONLY, ""},
    {"index", T_OBJECT_EX, offsetof(SosObject, index), READONLY, ""},
    {"weight", T_OBJECT_EX, offsetof(SosObject, weight), READONLY, ""},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef g_sos_getset[] = {
    {"names", get_sos_names, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot g_sos_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(sos_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(sos_repr)},
    {Py_mp_length, reinterpret_cast<void*>(sos_length)},
    {Py_tp_members, g_sos_members},
    {Py_tp_getset, g_sos_getset},
    {0, nullptr},
};

PyType_Spec g_sos_spec = {"mopsel._mopsel.SosSets", sizeof(SosObject), 0, Py_TPFLAGS_DEFAULT, g_sos_slots};

// ---- Indicators ------------------------------------------------------------

void indicators_dealloc(PyObject* self) noexcept {
  auto* indicators = reinterpret_cast<IndicatorsObject*>(self);
  Py_CLEAR(indicators->row);
  Py_CLEAR(indicators->column);
  Py_CLEAR(indicators->value);
  free_instance(self);
}

PyObject* indicators_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const auto* indicators = reinterpret_cast<IndicatorsObject*>(self);
    const std::string text = "Indicators(size=" + std::to_string(element_count(indicators->row)) + ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

// len(): the number of indicators.
Py_ssize_t indicators_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(element_count(reinterpret_cast<IndicatorsObject*>(self)->row));
}

PyMemberDef g_indicator_members[] = {
    {"row", T_OBJECT_EX, offsetof(IndicatorsObject, row), READONLY, ""},
    {"column", T_OBJECT_EX, offsetof(IndicatorsObject, column), READONLY, ""},
    {"value", T_OBJECT_EX, offsetof(IndicatorsObject, value), READONLY, ""},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot g_indicator_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(indicators_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(indicators_repr)},
    {Py_mp_length, reinterpret_cast<void*>(indicators_length)},
    {Py_tp_members, g_indicator_members},
    {0, nullptr},
};

PyType_Spec g_indicator_spec = {"mopsel._mopsel.Indicators", sizeof(IndicatorsObject), 0, Py_TPFLAGS_DEFAULT,
                                g_indicator_slots};

PyTypeObject* g_sos_type = nullptr;        // created once under the lock, never released
PyTypeObject* g_indicators_type = nullptr;  // likewise

}  // namespace

PyTypeObject* sos_sets_type() noexcept {
  if (g_sos_type == nullptr) g_sos_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_sos_spec));
  return g_sos_type;
}

PyTypeObject* indicators_type() noexcept {
  if (g_indicators_type == nullptr) {
    g_indicators_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&g_indicator_spec));
  }
  return g_indicators_type;
}

PyObject* wrap_sos(SosRecord&& sos) {
  PyRef type_array(array_from_buffer(std::move(sos.type)));
  PyRef priority(array_from_buffer(std::move(sos.priority)));
  PyRef start(array_from_buffer(std::move(sos.start)));
  PyRef index(array_from_buffer(std::move(sos.index)));
  PyRef weight(array_from_buffer(std::move(sos.weight)));
  PyTypeObject* kind = sos_sets_type();
  if (kind == nullptr) return nullptr;
  PyObject* instance = allocate_instance(kind);
  if (instance == nullptr) return nullptr;
  SosObject* object = as_sos(instance);
  new (object->names_storage) NameList{std::move(sos.names)};
  object->type = type_array.release();
  object->priority = priority.release();
  object->start = start.release();
  object->index = index.release();
  object->weight = weight.release();
  return instance;
}

PyObject* wrap_indicators(IndicatorRecord&& indicators) {
  PyRef row(array_from_buffer(std::move(indicators.row)));
  PyRef column(array_from_buffer(std::move(indicators.column)));
  PyRef value_array(array_from_buffer(std::move(indicators.value)));
  PyTypeObject* kind = indicators_type();
  if (kind == nullptr) return nullptr;
  PyObject* instance = allocate_instance(kind);
  if (instance == nullptr) return nullptr;
  auto* object = reinterpret_cast<IndicatorsObject*>(instance);
  object->row = row.release();
  object->column = column.release();
  object->value = value_array.release();
  return instance;
}

}  // namespace mopsel::python
