#include "catalogue.hpp"

#include <cmath>
#include <string_view>

#include "../binding/calls.hpp"
#include "catalogue/references.hpp"
#include "catalogue/table.hpp"

namespace quorvel::binding::tunable {
namespace {

using namespace quorvel::catalogue;

PyObject* text(std::string_view value) {
    return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

const char* kind_name(ValueKind kind) {
    switch (kind) {
        case ValueKind::Real: return "real";
        case ValueKind::Integer: return "integer";
        case ValueKind::Choice: return "choice";
        case ValueKind::Samples: return "samples";
        case ValueKind::Flag: return "flag";
        case ValueKind::Points: return "points";
    }
    return "";
}

const char* check_name(DataCheck check) {
    switch (check) {
        case DataCheck::None: return "none";
        case DataCheck::Window: return "window";
        case DataCheck::Extent: return "extent";
        case DataCheck::PolyOrder: return "poly_order";
    }
    return "";
}

const char* family_name(Family family) {
    switch (family) {
        case Family::Whittaker: return "whittaker";
        case Family::Morphology: return "morphology";
        case Family::Polynomial: return "polynomial";
        case Family::Clipping: return "clipping";
        case Family::Smoothing: return "smoothing";
        case Family::Pspline: return "pspline";
    }
    return "";
}

// A new tuple of make(item) for each item, or null with the exception of the first that failed.
template <class Items, class Make>
PyObject* tuple_of(const Items& items, Make make) {
    Owned tuple(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t k = 0; tuple && k < items.size(); ++k) {
        PyObject* one = make(items[k]);
        if (!one) return nullptr;
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k), one);  // steals one
    }
    return tuple.release();
}

// A tuple of the texts of "a|b|c".
PyObject* choices(std::string_view joined) {
    Owned list(PyList_New(0));
    while (list && !joined.empty()) {
        const auto bar = joined.find('|');
        const Owned one(text(joined.substr(0, bar)));
        if (!one || PyList_Append(list.get(), one.get()) < 0) return nullptr;
        joined = bar == std::string_view::npos ? std::string_view{} : joined.substr(bar + 1);
    }
    return list ? PyList_AsTuple(list.get()) : nullptr;
}

PyObject* default_of(const Parameter& p) {
    switch (p.kind) {
        case ValueKind::Choice: return text(p.default_choice());
        case ValueKind::Flag: return PyBool_FromLong(p.number != 0.0);
        case ValueKind::Real:
        case ValueKind::Integer:
        case ValueKind::Samples:
        case ValueKind::Points: break;
    }
    if (std::isnan(p.number)) Py_RETURN_NONE;
    return p.kind == ValueKind::Integer ? PyLong_FromDouble(p.number) : PyFloat_FromDouble(p.number);
}

PyObject* parameter(const Parameter& p) {
    const Owned fallback(default_of(p));
    const Owned options(choices(p.choices));
    const Owned meaning(text(p.meaning));
    if (!fallback || !options || !meaning) return nullptr;
    return Py_BuildValue("{s:s#,s:s,s:O,s:O,s:(dd),s:(OO),s:O,s:s,s:O}", "name", p.name.data(),
                         static_cast<Py_ssize_t>(p.name.size()), "kind", kind_name(p.kind), "default", fallback.get(),
                         "choices", options.get(), "range", p.range.lower, p.range.upper, "open",
                         p.range.lower_open ? Py_True : Py_False, p.range.upper_open ? Py_True : Py_False, "per_axis",
                         p.per_axis ? Py_True : Py_False, "data_check", check_name(p.data_check), "meaning",
                         meaning.get());
}

PyObject* dimension(const Dimension& d) {
    if (!d.present) Py_RETURN_NONE;
    const Owned parameters(tuple_of(d.parameters, parameter));
    if (!parameters) return nullptr;
    return Py_BuildValue("{s:O,s:K,s:O,s:O}", "fixed", d.fixed ? Py_True : Py_False, "min_used",
                         static_cast<unsigned long long>(d.min_used), "parameters", parameters.get(), "uses_x",
                         d.uses_x ? Py_True : Py_False);
}

PyObject* method(const MethodRow& m) {
    const Owned aliases(tuple_of(m.aliases, text));
    const Owned one_d(dimension(m.one_d)), two_d(dimension(m.two_d)), name(text(m.name));
    if (!aliases || !one_d || !two_d || !name) return nullptr;
    const Owned source(text(reference(m.id)));
    if (!source) return nullptr;
    return Py_BuildValue("{s:O,s:O,s:s,s:O,s:{i:O,i:O}}", "name", name.get(), "aliases", aliases.get(), "family",
                         family_name(m.family), "reference", source.get(), "dims", 1, one_d.get(), 2, two_d.get());
}

}  // namespace

PyObject* catalogue(PyObject*, PyObject*) {
    return guarded([]() -> PyObject* { return tuple_of(table, method); });
}

}  // namespace quorvel::binding::tunable
