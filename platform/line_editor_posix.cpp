#include <fcntl.h>
#include <histedit.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>

#include "platform/line_editor.h"
#include "text/codesets.h"

namespace phonebook {
namespace {

// Sets LC_CTYPE to a locale whose characters are the terminal's. For a
// UTF-8 terminal C.UTF-8, which Debian always has; for a Korean one the
// user's own locale or a Korean one, where installed. A CP949 terminal needs
// a CP949 locale: under EUC-KR the syllables that only CP949 has (8,822 of
// them, such as 똠) would be lost as they are typed.
bool useTerminalLocale(const std::string& codeset) {
  const std::string key = codesetKey(codeset);
  if (key == "UTF8") {
    return std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr ||
           std::setlocale(LC_CTYPE, "C.utf8") != nullptr;
  }
  if (!isKoreanCodeset(key)) return false;
  auto holdsTheTerminals = [&](const std::string& localeKey) {
    return localeKey == "CP949" || localeKey == "UHC" || (key == "EUCKR" && localeKey == "EUCKR");
  };
  for (const char* name :
       {"", "ko_KR.CP949", "ko_KR.cp949", "ko_KR.UHC", "ko_KR.EUC-KR", "ko_KR.euckr"}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr &&
        holdsTheTerminals(codesetKey(nl_langinfo(CODESET)))) {
      return true;
    }
  }
  std::setlocale(LC_CTYPE, "C");
  return false;
}

// The longest a run remembers of its answers of each kind.
constexpr int kHistorySize = 100;
constexpr std::size_t kLineKinds = 3;

}  // namespace

struct LineEditor::State {
  ~State() {
    // el_end puts the terminal back as it found it.
    if (editor != nullptr) el_end(editor);
    for (History* history : histories) {
      if (history != nullptr) history_end(history);
    }
  }

  EditLine* editor = nullptr;
  History* histories[kLineKinds] = {};  // by LineKind
  std::string prompt;
};

namespace {

// The editor's client data is the prompt of the line being read.
char* promptOf(EditLine* editor) {
  void* prompt = nullptr;
  el_get(editor, EL_CLIENTDATA, &prompt);
  return static_cast<std::string*>(prompt)->data();
}

}  // namespace

std::unique_ptr<LineEditor> LineEditor::open(const std::string& codeset) {
  if (!useTerminalLocale(codeset)) return nullptr;
  auto state = std::make_unique<State>();
  state->editor = el_init("phonebook", stdin, stdout, stderr);
  if (state->editor == nullptr) return nullptr;
  for (History*& kept : state->histories) {
    kept = history_init();
    if (kept == nullptr) return nullptr;
    HistEvent event;
    history(kept, &event, H_SETSIZE, kHistorySize);
  }

  EditLine* editor = state->editor;
  el_set(editor, EL_EDITOR, "emacs");
  // Ctrl-C and its kind restore the terminal and then act as they would
  // without the editor; Ctrl-Z restores it and sets it up again on fg.
  el_set(editor, EL_SIGNAL, 1);
  el_set(editor, EL_CLIENTDATA, &state->prompt);
  el_set(editor, EL_PROMPT, promptOf);
  // The keys as a shell has them, whatever the terminal's description says.
  el_set(editor, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
  el_set(editor, EL_BIND, "^U", "vi-kill-line-prev", nullptr);
  for (const char* home : {"\\e[H", "\\eOH", "\\e[1~", "\\e[7~"}) {
    el_set(editor, EL_BIND, home, "ed-move-to-beg", nullptr);
  }
  for (const char* end : {"\\e[F", "\\eOF", "\\e[4~", "\\e[8~"}) {
    el_set(editor, EL_BIND, end, "ed-move-to-end", nullptr);
  }
  el_set(editor, EL_BIND, "\\e[3~", "ed-delete-next-char", nullptr);
  el_set(editor, EL_BIND, "\\e[1;5C", "em-next-word", nullptr);  // Ctrl-Right
  el_set(editor, EL_BIND, "\\e[1;5D", "ed-prev-word", nullptr);  // Ctrl-Left
  // Keys that do nothing here (Insert, Page Up and Down, F1 to F12) are
  // taken whole, not left as a stray "~" in the answer.
  for (const char* key :
       {"\\e[2~", "\\e[5~", "\\e[6~", "\\eOP", "\\eOQ", "\\eOR", "\\eOS", "\\e[15~", "\\e[17~",
        "\\e[18~", "\\e[19~", "\\e[20~", "\\e[21~", "\\e[23~", "\\e[24~"}) {
    el_set(editor, EL_BIND, key, "ed-unassigned", nullptr);
  }
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(state)));
}

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}

LineEditor::~LineEditor() = default;

bool LineEditor::readLine(const std::string& prompt, LineKind kind, std::string& line) {
  state_->prompt = prompt;
  History* answers = state_->histories[static_cast<std::size_t>(kind)];
  el_set(state_->editor, EL_HIST, history, answers);
  // The editor takes a terminal left in non-blocking mode, with nothing
  // typed yet, for the end of input: it waits in blocking mode, and the
  // terminal gets its mode back afterwards.
  int flags = fcntl(STDIN_FILENO, F_GETFL);
  bool nonBlocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
  if (nonBlocking) fcntl(STDIN_FILENO, F_SETFL, flags & ~O_NONBLOCK);
  int count = 0;
  const char* read = nullptr;
  do {
    read = el_gets(state_->editor, &count);
  } while (read == nullptr && count < 0 && errno == EINTR);
  if (nonBlocking) fcntl(STDIN_FILENO, F_SETFL, flags);
  if (read == nullptr || count <= 0) return false;
  line.assign(read, static_cast<std::size_t>(count));
  if (line != "\n") {
    HistEvent event;
    history(answers, &event, H_ENTER, read);
  }
  return true;
}

}  // namespace phonebook
