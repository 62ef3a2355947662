#include "InteractiveShell.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#if ZEVA_HAVE_LIBEDIT
#if __has_include(<editline/readline.h>)
#include <editline/readline.h>  // Debian's libedit-dev, FreeBSD's devel/libedit
#else
#include <edit/readline/readline.h>  // FreeBSD's base system
#endif
#endif

#include "CtlCommand.h"
#include "Link.h"
#include "Session.h"

namespace {

constexpr const char* kPrompt = "zeva> ";

#if ZEVA_HAVE_LIBEDIT
// libedit calls back a plain function: the shell whose editor runs.
InteractiveShell* activeShell = nullptr;
#endif

}  // namespace

InteractiveShell::InteractiveShell(Link& link, Session& session, bool terminal)
    : link(link), session(session), terminal(terminal) {}

void InteractiveShell::PrintHelp() {
  printf(
      "Commands (one per line; words are case-insensitive):\n"
      "  configure ID DEVICE MODEL POLLMS   MODEL: %s, or any number\n"
      "  rotate ID DEGREES                  (or turn ID DEGREES)\n"
      "  stop ID                            (a station's: stop all too)\n"
      "  version\n"
      "  status                             a station's rotators, who turned them last\n"
      "  raw TEXT                           send TEXT as it is, then a CR\n"
      "  wait ID DEGREES [--tolerance N] [--timeout SECONDS]\n"
      "  watch [--for SECONDS]              print bearings (Ctrl+C ends)\n"
      "  sleep SECONDS\n"
      "  echo TEXT\n"
      "  help, quit\n",
      CtlCommand::ModelNames().c_str());
  fflush(stdout);
}

void InteractiveShell::Prompt() {
  if (!terminal) return;
  printf("%s", kPrompt);
  fflush(stdout);
}

int InteractiveShell::HandleInput(const std::string& input) {
  std::string line = input;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  if (words.empty()) return -1;

  CtlCommand command;
  std::string error;
  bool isRaw = words[0] == "raw" || words[0] == "RAW";
  if (isRaw) {
    // The rest of the line goes out exactly as typed, blanks included.
    std::string::size_type start = line.find(words[0]) + words[0].size();
    if (start < line.size() && line[start] == ' ') ++start;
    command.kind = CtlCommand::Kind::Raw;
    command.text = line.substr(start);
    if (command.text.empty()) {
      fprintf(stderr, "zeva-ctl: usage: raw TEXT\n");
      return -1;
    }
  } else if (!CtlCommand::Parse(words, command, error)) {
    fprintf(stderr, "zeva-ctl: %s\n", error.c_str());
    return -1;
  }
  if (command.kind == CtlCommand::Kind::Quit) return Session::kOk;
  if (command.kind == CtlCommand::Kind::Help) {
    PrintHelp();
    return -1;
  }
  int status = session.Execute(command);
  if (status == Session::kLost && !session.Recovers()) return status;
  if (status == Session::kInterrupted) {
    Session::interrupted = 0;
    printf("\n");
  }
  return -1;
}

int InteractiveShell::Run() {
  session.StartListening();
#if ZEVA_HAVE_LIBEDIT
  if (terminal) return RunEditor();
#endif
  return RunPlain();
}

int InteractiveShell::ReadPushed(bool underEditor) {
  if (!link.Fill()) {
    if (terminal) printf("\n");
    fprintf(stderr, "zeva-ctl: the daemon closed the connection\n");
    return Session::kLost;
  }
  std::string line;
  bool any = false;
  while (link.TakeBufferedLine(line)) {
    // Up to the prompt's line, which is cleared and printed over.
    if (terminal && !any) printf("\r\033[K");
    session.HandleLine(line, nullptr);
    any = true;
  }
  if (!any) return -1;
#if ZEVA_HAVE_LIBEDIT
  // libedit still holds the half-typed line: it draws the prompt and the
  // line again below what was printed, the cursor where it was.
  if (underEditor) {
    rl_forced_update_display();
    return -1;
  }
#endif
  (void)underEditor;
  Prompt();
  return -1;
}

#if ZEVA_HAVE_LIBEDIT
void InteractiveShell::OnEditedLine(char* text) {
  InteractiveShell& shell = *activeShell;
  if (text == nullptr) {  // Ctrl+D on an empty line
    printf("\n");
    shell.editorStatus = Session::kOk;
    return;
  }
  std::string line = text;
  free(text);
  if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
  shell.typed = false;
  shell.editorStatus = shell.HandleInput(line);
  // Some libedit versions leave the terminal as it is while a command runs
  // (cooked, so Ctrl+C interrupts a wait) until told to read again.
  if (shell.editorStatus < 0) rl_callback_handler_install(kPrompt, &InteractiveShell::OnEditedLine);
}

int InteractiveShell::RunEditor() {
  activeShell = this;
  editorStatus = -1;
  rl_readline_name = "zeva-ctl";  // "zeva-ctl:" lines of ~/.editrc apply
  // Ctrl+C comes to zeva-ctl's handler alone; libedit's own would put the
  // terminal back into its normal mode and signal the whole process group.
  rl_catch_signals = 0;
  rl_callback_handler_install(kPrompt, &InteractiveShell::OnEditedLine);
  typed = false;
  while (editorStatus < 0) {
    struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {link.Fd(), POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    // Ctrl+C may come with keys typed after it: it goes first.
    if (Session::interrupted) {
      Session::interrupted = 0;
      printf("\n");
      if (!typed) {
        editorStatus = Session::kOk;
      } else {
        // As shells do: the half-typed line goes, a fresh prompt comes
        // (starting over drops the editor's line).
        rl_callback_handler_remove();
        rl_callback_handler_install(kPrompt, &InteractiveShell::OnEditedLine);
        typed = false;
      }
      continue;
    }
    if (ready < 0) {
      if (errno != EINTR) editorStatus = Session::kFailed;
      continue;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) editorStatus = ReadPushed(true);
    if (editorStatus >= 0) break;
    if (fds[0].revents & POLLIN) {
      rl_callback_read_char();
      if (editorStatus < 0) typed = rl_end > 0;
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      editorStatus = Session::kOk;  // the terminal went away
    }
  }
  rl_callback_handler_remove();
  activeShell = nullptr;
  return editorStatus;
}
#endif

int InteractiveShell::RunPlain() {
  std::string input;
  Prompt();
  for (;;) {
    struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {link.Fd(), POLLIN, 0}};
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno != EINTR) return Session::kFailed;
      if (Session::interrupted) {
        if (terminal) printf("\n");
        return Session::kOk;
      }
      continue;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      int status = ReadPushed(false);
      if (status >= 0) return status;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char chunk[512];
      ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        if (!input.empty()) {
          int status = HandleInput(input);
          if (status >= 0) return status;
        }
        if (terminal) printf("\n");
        return Session::kOk;
      }
      input.append(chunk, static_cast<size_t>(count));
      std::string::size_type end;
      bool handled = false;
      while ((end = input.find('\n')) != std::string::npos) {
        std::string line = input.substr(0, end);
        input.erase(0, end + 1);
        int status = HandleInput(line);
        if (status >= 0) return status;
        handled = true;
      }
      if (handled) Prompt();
    }
  }
}
