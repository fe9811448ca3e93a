// Programs of the build started as processes of their own, on both systems:
// for what one process cannot show (state that lives as long as the
// process, several processes at once, one killed).
#pragma once

#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace testing_support {

struct Process {
#if defined(_WIN32)
  HANDLE handle = nullptr;
#else
  pid_t pid = -1;
#endif
};

#if defined(_WIN32)
inline std::wstring wide(const std::string& text) {
  std::wstring out(text.size() + 1, L'\0');
  out.resize(static_cast<std::size_t>(
                 MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(),
                                     static_cast<int>(out.size()))) -
             1);
  return out;
}
#endif

// Starts `args` (the program first, found as a shell finds it) with the
// variable `name` set to `value` (UTF-8; none where `name` is empty), its
// standard output and error going to the file `output` (discarded where empty).
inline Process start(const std::vector<std::string>& args,
                     const std::string& name = {},
                     const std::string& value = {},
                     const std::string& output = {}) {
  Process p;
#if defined(_WIN32)
  std::wstring line;
  for (const std::string& arg : args) {
    line += line.empty() ? L"\"" : L" \"";
    for (wchar_t c : wide(arg))
      line += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    line += L'"';
  }
  if (!name.empty())
    SetEnvironmentVariableW(wide(name).c_str(), wide(value).c_str());
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE null =
      CreateFileW(output.empty() ? L"NUL" : wide(output).c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                  output.empty() ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = null;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    p.handle = info.hProcess;
  }
  CloseHandle(null);
  if (!name.empty()) SetEnvironmentVariableW(wide(name).c_str(), nullptr);
#else
  p.pid = fork();
  if (p.pid == 0) {
    if (!name.empty()) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int null = output.empty() ? open("/dev/null", O_WRONLY)
                                    : open(output.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 1), dup2(null, 2);
    execvp(argv[0], argv.data());  // a program of the build, or on PATH
    _exit(127);
  }
#endif
  return p;
}

// Waits for the process to end; its exit status, or -1.
inline int wait_for(Process p) {
#if defined(_WIN32)
  if (!p.handle) return -1;
  WaitForSingleObject(p.handle, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(p.handle, &code);
  CloseHandle(p.handle);
  return static_cast<int>(code);
#else
  int status = 0;
  if (p.pid < 0 || waitpid(p.pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// Ends the process at once, as a killed render node does, and reaps it.
inline void kill_now(Process p) {
#if defined(_WIN32)
  TerminateProcess(p.handle, 9);
#else
  kill(p.pid, SIGKILL);
#endif
  wait_for(p);
}

}  // namespace testing_support
