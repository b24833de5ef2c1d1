#include "cli/terminal.h"

#include <cstdlib>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quarrow::cli {

bool is_terminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return ::isatty(::fileno(stream)) != 0;
#endif
}

unsigned terminal_rows(std::FILE* stream) {
  constexpr unsigned kDefaultRows = 24;
  if (const char* lines = std::getenv("LINES")) {
    try {
      const unsigned long n = std::stoul(lines);
      if (n > 0 && n < 100000) return static_cast<unsigned>(n);
    } catch (...) {
      // not a number: ask the terminal
    }
  }
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (GetConsoleScreenBufferInfo(handle, &info)) {
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    if (rows > 0) return static_cast<unsigned>(rows);
  }
#else
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
#endif
  return kDefaultRows;
}

unsigned hardware_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

void set_binary_stdout() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

// Lines a grid on a terminal leaves for the rules, the header and the prompt.
constexpr unsigned kGridFrameLines = 6;
constexpr unsigned kGridMinRows = 5;

unsigned screenful_rows() {
  const unsigned rows = terminal_rows(stdout);
  return rows > kGridFrameLines + kGridMinRows ? rows - kGridFrameLines : kGridMinRows;
}

}  // namespace quarrow::cli
