#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/result_code.h"
#include "engine/strings.h"

namespace portflash {

class CUpdateApp;

// One entry of the application's result-message list; newest first.
struct ResultMessage {
  std::int32_t code = 0;
  char* text = nullptr;  // DupString copy, owned by the node
  ResultMessage* next = nullptr;
};

// All of these work on app's list (GetResultMessages/SetResultMessages).
ResultMessage* AddResultMessage(CUpdateApp& app, std::int32_t code, const char* text);
void FreeResultMessages(CUpdateApp& app);
const char* FindResultMessage(const CUpdateApp& app, std::int32_t code);
bool LoadResultMessages(CUpdateApp& app, const char* path);
bool LoadDefaultResultMessages(CUpdateApp& app);
// Reads lines until one, lowered, equals header; the file then stands after it.
bool FindLine(const char* header, std::FILE* file);

// The text that ShowResult shows for a code.
std::string ResultText(const CUpdateApp& app, ResultCode code);

}  // namespace portflash
