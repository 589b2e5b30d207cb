// CPython extension palavox._palavox over PalavoxClass. A str crosses as
// UTF-16 both ways with surrogatepass, so lone surrogates survive and astral
// characters travel as pairs; the GIL is released while the core works.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "palavox/palavox_class.hpp"

namespace {

PyObject* palavoxError = nullptr;  // palavox.PalavoxError, set once at import

// A str's UTF-16 code units, held in a bytes object for the length of the call.
class Units {
public:
    // False with a Python exception set. None is the empty text.
    bool Take(PyObject* value, const char* name) {
        if (value == Py_None) return true;
        if (!PyUnicode_Check(value)) {
            PyErr_Format(PyExc_TypeError, "%s must be str or None, not %.100s", name,
                         Py_TYPE(value)->tp_name);
            return false;
        }
        bytes_ = PyUnicode_AsEncodedString(value, "utf-16-le", "surrogatepass");
        return bytes_ != nullptr;
    }
    ~Units() { Py_XDECREF(bytes_); }

    std::u16string_view View() const {
        if (bytes_ == nullptr) return {};
        // bytes storage is aligned for any scalar; the units are whole pairs of bytes.
        return {reinterpret_cast<const char16_t*>(PyBytes_AS_STRING(bytes_)),
                static_cast<std::size_t>(PyBytes_GET_SIZE(bytes_)) / 2};
    }

private:
    PyObject* bytes_ = nullptr;
};

// Malloc'd, since it is asked for without the GIL.
class Result final : public palavox::TextSink {
public:
    char16_t* Allocate(std::size_t units) override {
        if (units > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(char16_t)) {
            throw std::bad_alloc();
        }
        storage_.reset(static_cast<char16_t*>(std::malloc((units == 0 ? 1 : units) * sizeof(char16_t))));
        if (!storage_) throw std::bad_alloc();
        units_ = units;
        return storage_.get();
    }

    PyObject* ToStr() const {
        int littleEndian = -1;  // a leading U+FEFF is text, not a byte order mark
        return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(storage_.get()),
                                     static_cast<Py_ssize_t>(units_ * sizeof(char16_t)),
                                     "surrogatepass", &littleEndian);
    }

private:
    struct Free {
        void operator()(char16_t* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<char16_t, Free> storage_;
    std::size_t units_ = 0;
};

// Runs `call` without the GIL; false with PalavoxError set when the core failed.
template <typename Call>
bool Run(Call call) {
    int number = 0;
    const char* description = nullptr;
    Py_BEGIN_ALLOW_THREADS
    try {
        call();
    } catch (const palavox::Error& e) {
        number = e.number();
        description = nullptr;
        switch (number) {
            case palavox::kInvalidArgument: description = "Invalid procedure call or argument"; break;
            case palavox::kOverflow: description = "Overflow"; break;
            case palavox::kTypeMismatch: description = "Type mismatch"; break;
            default: description = "Application-defined or object-defined error"; break;
        }
    } catch (const std::bad_alloc&) {
        number = 7;
        description = "Out of memory";
    }
    Py_END_ALLOW_THREADS
    if (number == 0) return true;
    PyObject* error = PyObject_CallFunction(palavoxError, "s", description);
    if (error == nullptr) return false;
    PyObject* value = PyLong_FromLong(number);
    if (value == nullptr || PyObject_SetAttrString(error, "number", value) < 0) {
        Py_XDECREF(value);
        Py_DECREF(error);
        return false;
    }
    Py_DECREF(value);
    PyErr_SetObject(palavoxError, error);
    Py_DECREF(error);
    return false;
}

PyObject* TrataHtml(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"entrada", "target", nullptr};
    PyObject* entrada = nullptr;
    PyObject* target = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:trata_html", const_cast<char**>(names),
                                     &entrada, &target)) {
        return nullptr;
    }
    Units e, t;
    if (!e.Take(entrada, "entrada") || !t.Take(target, "target")) return nullptr;
    Result result;
    if (!Run([&] { palavox::PalavoxClass().TrataHTML(e.View(), t.View(), result); })) return nullptr;
    return result.ToStr();
}

PyObject* FindString(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"entrada", "procura", "tipo", nullptr};
    PyObject* entrada = nullptr;
    PyObject* procura = nullptr;
    PyObject* tipo = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O:find_string", const_cast<char**>(names),
                                     &entrada, &procura, &tipo)) {
        return nullptr;
    }
    Units e, p, t;
    if (!e.Take(entrada, "entrada") || !p.Take(procura, "procura") || !t.Take(tipo, "tipo")) {
        return nullptr;
    }
    std::int32_t count = 0;
    if (!Run([&] { count = palavox::PalavoxClass().FindString(e.View(), p.View(), t.View()); })) {
        return nullptr;
    }
    return PyLong_FromLong(count);
}

PyObject* RemoverAcentuacao(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"texto", nullptr};
    PyObject* texto = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:remover_acentuacao",
                                     const_cast<char**>(names), &texto)) {
        return nullptr;
    }
    Units t;
    if (!t.Take(texto, "texto")) return nullptr;
    Result result;
    if (!Run([&] { palavox::PalavoxClass().RemoverAcentuacao(t.View(), result); })) return nullptr;
    return result.ToStr();
}

PyMethodDef methods[] = {
    {"trata_html", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(TrataHtml)),
     METH_VARARGS | METH_KEYWORDS,
     "trata_html(entrada, target=None) -> str\n\nWraps every web link in an anchor opening in "
     "target (\"_self\" when empty)."},
    {"find_string", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(FindString)),
     METH_VARARGS | METH_KEYWORDS,
     "find_string(entrada, procura, tipo=None) -> int\n\nNon-overlapping occurrences of "
     "procura, ignoring case unless tipo is \"B\" or \"b\"."},
    {"remover_acentuacao",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(RemoverAcentuacao)),
     METH_VARARGS | METH_KEYWORDS,
     "remover_acentuacao(texto) -> str\n\nFolds accents, \"&\" to \"e\", and a fixed set of "
     "symbols to spaces."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef moduleDef = {
    PyModuleDef_HEAD_INIT, "palavox._palavox", "Palavox text services over the C++ core.", -1,
    methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__palavox() {
    PyObject* module = PyModule_Create(&moduleDef);
    if (module == nullptr) return nullptr;
    palavoxError = PyErr_NewExceptionWithDoc(
        "palavox.PalavoxError",
        "A failed call; number is the error number (13, 5, 6) or 7, out of memory.",
        PyExc_ValueError, nullptr);
    if (palavoxError == nullptr || PyModule_AddObjectRef(module, "PalavoxError", palavoxError) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
