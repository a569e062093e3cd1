// Delivers a console event to a Windows program as the system does: a thread started in the
// program at the system's control routine (CtrlRoutine), which calls the program's control
// handlers with the event. For the Windows tests under wine64, whose console delivers no
// Ctrl-Break and no close event.
//
//   console_event EVENT WATCH TEXT [options] -- PROGRAM
//
// Starts PROGRAM with this helper's standard output and error, waits until the file WATCH holds
// TEXT, then sends EVENT (ctrl-c, ctrl-break or close) and ends with the program's exit status.
// With the EVENT none, WATCH and TEXT are not looked at and the program is only run.
// Options:
//   --input-first=TEXT  written to the program's standard input (a pipe) before the event
//   --input-after=TEXT  written there when the program still runs 2 s after the event
//   --pipe=NAME         a named pipe \\.\pipe\NAME created first (the program's side may only
//                       write to it), of which nothing is ever read
//   --new-group         the program starts in a process group of its own, which the system
//                       starts with Ctrl-C ignored
//   --settle=MS         a pause between TEXT showing and the event
//   --output=FILE       the program's standard output is FILE, made empty, as a command
//                       interpreter's redirection opens it (for writing only)
// Exit status 90 and above: the helper's own failures (the program never showed TEXT, never
// ended, or could not be started).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPatienceMs = 30000;

[[noreturn]] void give_up(int status, const char* why) {
  std::fprintf(stderr, "console_event: %s (system error %lu)\n", why, GetLastError());
  std::exit(status);
}

bool file_holds(const std::string& path, const std::string& text) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str().find(text) != std::string::npos;
}

void write_all(HANDLE h, const std::string& text) {
  DWORD put = 0;
  if (!text.empty() && !WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &put, nullptr)) {
    give_up(93, "cannot write the program's input");
  }
}

// "\n" in an option's text stands for a line end.
std::string unescaped(std::string text) {
  for (std::size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
  return text;
}

int exit_status(HANDLE process) {
  DWORD status = 0;
  GetExitCodeProcess(process, &status);
  return static_cast<int>(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) give_up(90, "usage: console_event EVENT WATCH TEXT [options] -- PROGRAM");
  const std::string event_name = argv[1];
  const std::string watch = argv[2];
  const std::string text = argv[3];
  DWORD event;
  if (event_name == "ctrl-c") {
    event = CTRL_C_EVENT;
  } else if (event_name == "ctrl-break") {
    event = CTRL_BREAK_EVENT;
  } else if (event_name == "close") {
    event = CTRL_CLOSE_EVENT;
  } else if (event_name != "none") {
    give_up(90, "the event is ctrl-c, ctrl-break, close or none");
  }
  std::string input_first, input_after, pipe_name, output, program;
  bool new_group = false;
  DWORD settle = 0;
  int k = 4;
  for (; k < argc && std::strcmp(argv[k], "--") != 0; ++k) {
    const std::string option = argv[k];
    const auto value = [&](const char* prefix) { return option.substr(std::strlen(prefix)); };
    if (option.rfind("--input-first=", 0) == 0) {
      input_first = unescaped(value("--input-first="));
    } else if (option.rfind("--input-after=", 0) == 0) {
      input_after = unescaped(value("--input-after="));
    } else if (option.rfind("--pipe=", 0) == 0) {
      pipe_name = "\\\\.\\pipe\\" + value("--pipe=");
    } else if (option.rfind("--settle=", 0) == 0) {
      settle = static_cast<DWORD>(std::atoi(value("--settle=").c_str()));
    } else if (option.rfind("--output=", 0) == 0) {
      output = value("--output=");
    } else if (option == "--new-group") {
      new_group = true;
    } else {
      give_up(90, "unknown option");
    }
  }
  if (k + 1 >= argc) give_up(90, "no program after --");
  program = argv[k + 1];

  // Instances enough for a look at the name and the open that follows; none is ever read.
  std::vector<HANDLE> instances;
  for (int n = 0; !pipe_name.empty() && n < 4; ++n) {
    const HANDLE h =
        CreateNamedPipeA(pipe_name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) give_up(92, "cannot create the named pipe");
    instances.push_back(h);
  }

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE input_read, input_write;
  if (!CreatePipe(&input_read, &input_write, &inherit, 0)) give_up(92, "cannot create a pipe");
  SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = input_read;
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!output.empty()) {
    start.hStdOutput =
        CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (start.hStdOutput == INVALID_HANDLE_VALUE) give_up(92, "cannot make the output file");
  }
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  std::string command = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                      new_group ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr, &start, &child)) {
    give_up(92, "cannot start the program");
  }
  CloseHandle(input_read);
  write_all(input_write, input_first);

  const auto ended = [&](DWORD ms) { return WaitForSingleObject(child.hProcess, ms) == 0; };
  for (DWORD waited = 0; event_name != "none" && !file_holds(watch, text); waited += 10) {
    if (waited > kPatienceMs || ended(10)) {
      TerminateProcess(child.hProcess, 99);
      give_up(94, "the program never showed the text");
    }
  }
  Sleep(settle);

  // (Through void*: a function pointer of one type cast straight to another draws a warning.)
  const auto outcome = [&] {
    CloseHandle(input_write);
    if (!ended(kPatienceMs)) {
      TerminateProcess(child.hProcess, 99);
      give_up(95, "the program never ended");
    }
    return exit_status(child.hProcess);
  };
  if (event_name == "none") return outcome();
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CtrlRoutine")));
  if (routine == nullptr) give_up(92, "no CtrlRoutine in kernel32.dll");
  const HANDLE thread =
      CreateRemoteThread(child.hProcess, nullptr, 0, routine,
                         reinterpret_cast<void*>(static_cast<DWORD_PTR>(event)), 0, nullptr);
  if (thread == nullptr) give_up(92, "cannot start a thread in the program");

  if (!ended(2000)) write_all(input_write, input_after);
  return outcome();
}
