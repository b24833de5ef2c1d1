// The ends every Arrow C stream of the module shares: its producer keeps a state object
// of its own type in private_data, with the message of its last failure in
// `last_error`; the stream owns that state and deletes it on release.
#pragma once

#include <cerrno>
#include <new>
#include <string>

#include "export/arrow_c.h"

namespace quarrow::arrow {

template <class State>
State* stream_state(ArrowArrayStream* stream) {
  return static_cast<State*>(stream->private_data);
}

template <class State>
const char* stream_last_error(ArrowArrayStream* stream) {
  const std::string& error = stream_state<State>(stream)->last_error;
  return error.empty() ? nullptr : error.c_str();
}

template <class State>
void stream_release(ArrowArrayStream* stream) {
  delete stream_state<State>(stream);
  stream->release = nullptr;
}

// A stream callback's work: 0 when `work` returns, ENOMEM with the state's last error
// set when memory runs out (no exception may cross the C interface).
template <class State, class Work>
int without_exceptions(ArrowArrayStream* stream, Work&& work) {
  try {
    work();
    return 0;
  } catch (const std::bad_alloc&) {
    stream_state<State>(stream)->last_error = "out of memory";
    return ENOMEM;
  }
}

}  // namespace quarrow::arrow
