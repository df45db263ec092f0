#pragma once
#include <QString>
#include <string>

namespace portflash {

// The core's texts are 8-bit in the system's encoding; paths are the file system's bytes.
QString FromCore(const char* text);  // null gives ""
QString FromCore(const std::string& text);
std::string ToCore(const QString& text);
QString StringResource(int id);  // LoadStringResource as a QString

}  // namespace portflash
