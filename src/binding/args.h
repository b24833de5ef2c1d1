// Argument parsing for the methods of EseDatabase: parameters given by position or by
// keyword, trailing ones optional, and the conversions of the values the methods take.
// Errors follow the interpreter's own wording and are set as Python exceptions; every
// function returns false (or nullptr) once an exception is set.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/convert.h"

namespace quarrow::python {

inline constexpr std::size_t kMaxParameters = 4;

// A function's parameter list: `names` in order, the first `required` of them without
// a default. `function` is the name shown in error messages.
struct Signature {
  const char* function;
  const char* const* names;
  std::size_t count;
  std::size_t required;
};

// Fills out[0..count) with borrowed references to the values given, in parameter
// order; an optional parameter that was not given is left nullptr.
// Vectorcall form: `args` holds the positional values followed by the values of the
// keywords named in the tuple `kwnames` (nullptr when there are none).
bool parse_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out);
// Tuple-and-dictionary form, as a type's tp_new receives its arguments.
bool parse_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// A str as UTF-8 text. The view points into the str object and lives as long as it.
// TypeError naming the parameter for any other type; UnicodeEncodeError for lone
// surrogates.
bool text_argument(const Signature& sig, const char* parameter, PyObject* value, std::string_view& out);
// A file-system path: a str, or an os.PathLike whose __fspath__ gives a str (pathlib
// paths), as UTF-8 text. `holder` keeps the str the view points into. Any other type
// (bytes paths included, as before) raises the TypeError of text_argument.
bool path_argument(const Signature& sig, const char* parameter, PyObject* value, PyRef& holder,
                   std::string_view& out);
// None (or a parameter that was not given) gives the empty text; otherwise as above.
bool optional_text_argument(const Signature& sig, const char* parameter, PyObject* value,
                            std::string_view& out);
// An integer through the index protocol, as an unsigned 64-bit value. A parameter that
// was not given takes `fallback`. TypeError naming the parameter for non-integers;
// OverflowError for negative values and values of 2**64 or more.
bool u64_argument(const Signature& sig, const char* parameter, PyObject* value, std::uint64_t fallback,
                  std::uint64_t& out);

}  // namespace quarrow::python
