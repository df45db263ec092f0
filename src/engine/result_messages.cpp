#include "engine/result_messages.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/update_app.h"
#include "engine/dialogs.h"
#include "platform/files.h"
#include "res/string_table.h"

namespace portflash {
namespace {

// The header search looks at a line in pieces of this many characters at most.
constexpr std::size_t kLinePiece = 253;
// Longest text an entry keeps; the rest of its line is dropped.
constexpr std::size_t kMaxEntryText = 255;

constexpr const char* kDefaultTexts[] = {
    "ERROR: File not found",
    "ERROR: Access violation",
    "ERROR: Disk full",
    "ERROR: Illegal Operation",
    "ERROR: Unkown Transfer ID",
    "ERROR: File exists",
    "ERROR: No such user",
    "ERROR: No response",
    "ERROR: No resource",
    "ERROR: Record length Mis-match",
    "ERROR: Bad record type",
    "ERROR: Checksum error",
    "ERROR: Wrong hardware type",
    "ERROR: Wrong hardware version number",
    "ERROR: No header",
    "ERROR: Byte Count",
    "ERROR: Prog Address Error",
    "ERROR: Flash Erase Failure",
    "ERROR: Flash program failure",
    "Load Pending",
    "Load active",
    "TRANSFER COMPLETED SUCCESSFULLY",
    "ERROR: User aborted",
    "ERROR: Not wanted",
    "ERROR: Unknown",
    "ERROR: Device recognition failed",
};

// Message numbers of the internal codes, from RESULT_SUCCESS (0xFFFF) down.
constexpr int kInternalMessages[] = {111, 112, 113, 114, 115, 116, 117, 118, 119, 121};

// The files are written on systems whose text streams read CR LF as LF; a lone
// CR is an ordinary character there and stays one here.
int GetTextChar(std::FILE* file) {
  int c = std::getc(file);
  if (c == '\r') {
    int next = std::getc(file);
    if (next == '\n') return '\n';
    if (next != EOF) std::ungetc(next, file);
  }
  return c;
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

// Reads the entries that follow the header: a code, whitespace (line ends too),
// the rest of a line as its text.
class EntryReader {
 public:
  enum class Kind { Entry, Skipped, End };

  explicit EntryReader(std::FILE* file) : file_(file), next_(GetTextChar(file)) {}

  Kind Next(std::int32_t* code, char (&text)[kMaxEntryText + 1]) {
    SkipSpace();
    if (next_ == EOF) return Kind::End;
    bool negative = false;
    if (next_ == '+' || next_ == '-') negative = Get() == '-';
    if (!IsDigit(next_)) {
      // Not an entry: drop the line so that reading always moves on.
      SkipLine();
      return Kind::Skipped;
    }
    long long value = 0;
    while (IsDigit(next_)) {
      value = value * 10 + (Get() - '0');
      if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    *code = static_cast<std::int32_t>(value);
    SkipSpace();
    // A code with nothing after it has no text of its own: no entry.
    if (next_ == EOF) return Kind::End;
    std::size_t length = 0;
    while (next_ != EOF && next_ != '\n') {
      int c = Get();
      if (length < kMaxEntryText) text[length++] = static_cast<char>(c);
    }
    text[length] = '\0';
    return Kind::Entry;
  }

 private:
  int Get() {
    int c = next_;
    if (c != EOF) next_ = GetTextChar(file_);
    return c;
  }
  void SkipSpace() {
    while (next_ != EOF && IsSpace(next_)) Get();
  }
  void SkipLine() {
    while (next_ != EOF && Get() != '\n') {
    }
  }

  std::FILE* file_;
  int next_;
};

void ShowNoMemory(CUpdateApp& app) {
  app.GetDialogs().ShowMessage(LoadStringResource(IDS_NO_MEMORY));
}

}  // namespace

ResultMessage* AddResultMessage(CUpdateApp& app, std::int32_t code, const char* text) {
  void* block = std::malloc(sizeof(ResultMessage));
  if (block == nullptr) return nullptr;
  auto* node = new (block) ResultMessage{code, DupString(text), app.GetResultMessages()};
  app.SetResultMessages(node);
  return node;
}

void FreeResultMessages(CUpdateApp& app) {
  while (ResultMessage* node = app.m_pResultMessages) {
    app.m_pResultMessages = node->next;
    FreeString(node->text);
    std::free(node);
  }
}

const char* FindResultMessage(const CUpdateApp& app, std::int32_t code) {
  for (const ResultMessage* node = app.GetResultMessages(); node != nullptr; node = node->next) {
    if (node->code == code) return node->text;
  }
  return nullptr;
}

bool LoadDefaultResultMessages(CUpdateApp& app) {
  ResultMessage* last = nullptr;
  std::int32_t code = 1;
  for (const char* text : kDefaultTexts) last = AddResultMessage(app, code++, text);
  if (last == nullptr) {
    ShowNoMemory(app);
    FreeResultMessages(app);
    return false;
  }
  return true;
}

bool FindLine(const char* header, std::FILE* file) {
  char piece[256];
  for (;;) {
    std::size_t length = 0;
    while (length < kLinePiece) {
      int c = GetTextChar(file);
      if (c == EOF) break;
      piece[length++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    if (length == 0) return false;
    piece[length] = '\0';
    if (char* lineEnd = std::strchr(piece, '\n')) *lineEnd = '\0';
    char* lowered = DupString(piece);
    bool equal = lowered != nullptr && StringsEqual(LowerString(lowered), header) != 0;
    FreeString(lowered);
    if (equal) return true;
  }
}

bool LoadResultMessages(CUpdateApp& app, const char* path) {
  std::string shownPath = path != nullptr ? path : "";
  // A FIFO or a device in the file's place would block: only a regular file is used.
  FileHandle handle = OpenRegularFile(path, "r");
  std::FILE* file = handle.get();
  if (file == nullptr) {
    app.GetDialogs().ShowMessage("Unable to open error file\n" + shownPath +
                                 "\nUsing Default error codes");
    return LoadDefaultResultMessages(app);
  }
  if (!FindLine("[errorfile]", file)) {
    handle.reset();
    app.GetDialogs().ShowMessage("ERROR: CANNOT FIND ERROR HEADER IN\n" + shownPath +
                                 "\nUsing default error codes\n");
    return LoadDefaultResultMessages(app);
  }
  EntryReader reader(file);
  std::int32_t code = 0;
  char text[kMaxEntryText + 1];
  for (;;) {
    EntryReader::Kind kind = reader.Next(&code, text);
    if (kind == EntryReader::Kind::End) break;
    if (kind == EntryReader::Kind::Skipped) continue;
    if (AddResultMessage(app, code, text) == nullptr) {
      ShowNoMemory(app);
      FreeResultMessages(app);
      return false;
    }
  }
  return true;
}

std::string ResultText(const CUpdateApp& app, ResultCode code) {
  if (IsInternalResult(code)) return LoadStringResource(kInternalMessages[RESULT_SUCCESS - code]);
  const char* text = FindResultMessage(app, code);
  if (text != nullptr && *text != '\0') return text;
  char fallback[64];
  std::snprintf(fallback, sizeof fallback, "ERROR: Unknown Result code = %04x\n",
                static_cast<unsigned>(code));
  return fallback;
}

}  // namespace portflash
