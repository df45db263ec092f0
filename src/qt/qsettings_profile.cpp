#include "qt/qsettings_profile.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include <QByteArray>
#include <QIODevice>
#include <QSettings>
#include <QString>
#include <QStringList>

namespace portflash {
namespace {

constexpr const char* kOrganisation = "Tarvex Corporation";
constexpr const char* kApplication = "Portflash";

// The profile's files are Qt's INI files but for one thing: Qt's reader splits an
// unquoted value at each "," into a list (which reads as ""), so
// "kvr=ldr/kvr,v2.ldr" lost its loader. Here a value is the whole text after "=",
// quoted or not. Sections, names, comments (";" outside quotes), quotes and
// backslash escapes are read as Qt reads them, and written as Qt writes them.

#ifndef Q_OS_WIN
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

// A section or entry name: %XX and %UXXXX escapes; a backslash stands for "/".
QString UnescapeName(QByteArrayView text) {
  const QString decoded = QString::fromUtf8(text);
  QString name;
  for (qsizetype i = 0; i < decoded.size();) {
    const QChar c = decoded.at(i);
    if (c == u'\\') {
      name += u'/';
      ++i;
      continue;
    }
    const qsizetype first = i + 1 + (i + 1 < decoded.size() && decoded.at(i + 1) == u'U');
    const int digits = first == i + 2 ? 4 : 2;
    bool ok = false;
    const ushort code = c == u'%' && first + digits <= decoded.size()
                            ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16)
                            : 0;
    if (!ok) {
      name += c;
      ++i;
      continue;
    }
    name += QChar(code);
    i = first + digits;
  }
  return name;
}

QByteArray EscapeName(const QString& name) {
  QByteArray text;
  for (QChar qc : name) {
    const char16_t c = qc.unicode();
    if (c == u'/') {
      text += '\\';
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'-' || c == u'.') {
      text += static_cast<char>(c);
    } else if (c <= 0xFF) {
      text += '%' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
    } else {
      text += "%U" + QByteArray::number(c, 16).toUpper().rightJustified(4, '0');
    }
  }
  return text;
}

// The text after "=": blanks around it dropped, quotes removed (blanks inside
// them kept), backslash escapes as Qt's; a "," is an ordinary character.
QString UnescapeValue(QByteArrayView text) {
  static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                         {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                         {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
  QString value;
  bool quoted = false;
  bool inQuotes = false;
  qsizetype keep = 0;  // blanks before this index are not trimmed
  qsizetype i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
    keep = value.size();
  };
  skipBlanks();
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      ++i;
      quoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) skipBlanks();
      continue;
    }
    if (c != '\\') {
      qsizetype end = i + 1;
      while (end < text.size() && text[end] != '\\' && text[end] != '"') ++end;
      value += QString::fromUtf8(text.sliced(i, end - i));
      i = end;
      continue;
    }
    if (++i >= text.size()) break;
    const char e = text[i++];
    const auto* named = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                     [e](const char* pair) { return pair[0] == e; });
    const int base = e == 'x' ? 16 : DigitValue(e, 8) >= 0 ? 8 : 0;
    if (named != std::end(kEscapes)) {
      value += QLatin1Char(named[0][1]);
    } else if (base != 0) {
      char16_t code = base == 8 ? static_cast<char16_t>(DigitValue(e, 8)) : 0;
      const qsizetype start = i;
      while (i < text.size() && DigitValue(text[i], base) >= 0) {
        code = static_cast<char16_t>(code * base + DigitValue(text[i++], base));
      }
      if (base == 8 || i > start) value += QChar(code);
    } else if ((e == '\n' || e == '\r') && i < text.size() &&
               (text[i] == '\n' || text[i] == '\r') && text[i] != e) {
      ++i;  // a line continued: the two-character line end
    }
    keep = value.size();
  }
  if (!quoted) {
    while (value.size() > keep && (value.back() == u' ' || value.back() == u'\t')) value.chop(1);
  }
  return value;
}

// Written so that Qt's own reader reads it the same: quoted when it holds a ",",
// ";" or "=" or starts or ends with a blank.
QByteArray EscapeValue(const QString& value) {
  static constexpr char kControls[] = "\a\b\f\n\r\t\v";
  static constexpr char kNames[] = "abfnrtv";
  QByteArray text = value.startsWith(u'@') ? "@" : "";
  bool needsQuotes =
      !value.isEmpty() && (IsBlank(value.front().toLatin1()) || IsBlank(value.back().toLatin1()));
  bool hexBefore = false;  // an \x escape takes every hex digit that follows
  for (const char c : value.toUtf8()) {
    if (c == ';' || c == ',' || c == '=') needsQuotes = true;
    const char* control = c != '\0' ? std::strchr(kControls, c) : nullptr;
    const bool hexEscape = (static_cast<unsigned char>(c) < 0x20 && control == nullptr) ||
                           c == 0x7F || (hexBefore && DigitValue(c, 16) >= 0);
    hexBefore = hexEscape;
    if (hexEscape) {
      text += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16);
    } else if (control != nullptr) {
      text += '\\';
      text += kNames[control - kControls];
    } else {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
  }
  return needsQuotes ? '"' + text + '"' : text;
}

// One line as Qt finds it: leading blanks and line ends skipped; ends at a line
// end outside quotes or at a ";" outside quotes (the rest of that line is a
// comment); a backslash takes the next character with it. equals: the first "="
// outside quotes, or -1.
bool NextLine(QByteArrayView data, qsizetype& pos, QByteArrayView& line, qsizetype& equals) {
  for (;;) {
    while (pos < data.size() && (IsBlank(data[pos]) || data[pos] == '\n' || data[pos] == '\r')) {
      ++pos;
    }
    if (pos >= data.size()) return false;
    if (data[pos] != ';') break;
    while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
  }
  const qsizetype start = pos;
  bool inQuotes = false;
  equals = -1;
  while (pos < data.size()) {
    const char c = data[pos];
    if ((c == '\n' || c == '\r' || c == ';') && !inQuotes) break;
    ++pos;
    if (c == '=' && !inQuotes && equals < 0) equals = pos - 1 - start;
    if (c == '"') inQuotes = !inQuotes;
    if (c == '\\' && pos < data.size()) {
      const char next = data[pos++];
      if (pos < data.size() && (next == '\n' || next == '\r') &&
          (data[pos] == '\n' || data[pos] == '\r') && data[pos] != next) {
        ++pos;
      }
    }
  }
  line = data.sliced(start, pos - start);
  return true;
}

bool ReadProfileFile(QIODevice& device, QSettings::SettingsMap& map) {
  QByteArray data = device.readAll();
  if (data.startsWith("\xEF\xBB\xBF")) data.remove(0, 3);
  QString section;
  qsizetype pos = 0;
  QByteArrayView line;
  qsizetype equals = -1;
  while (NextLine(data, pos, line, equals)) {
    if (line.startsWith('[')) {
      const qsizetype close = line.indexOf(']');
      const QByteArrayView name = line.sliced(1, (close < 0 ? line.size() : close) - 1).trimmed();
      if (name.compare("general", Qt::CaseInsensitive) == 0) {
        section.clear();
      } else if (name.compare("%general", Qt::CaseInsensitive) == 0) {
        section = QString::fromLatin1(name.sliced(1)) + u'/';
      } else {
        section = UnescapeName(name) + u'/';
      }
      continue;
    }
    if (equals < 0) continue;
    const QString key = section + UnescapeName(line.first(equals).trimmed());
    const QString value = UnescapeValue(line.sliced(equals + 1));
    // As Qt's reader: "@@" stands for one "@"; "@Invalid()" is no value.
    if (value == u"@Invalid()") continue;
    map.insert(key, value.startsWith(u"@@") ? value.sliced(1) : value);
  }
  return true;
}

bool WriteProfileFile(QIODevice& device, const QSettings::SettingsMap& map) {
  QByteArray text;
  QString section = QStringLiteral("/");  // none yet
  for (auto it = map.cbegin(); it != map.cend(); ++it) {
    const qsizetype slash = it.key().indexOf(u'/');
    const QString keySection = slash < 0 ? QString() : it.key().first(slash);
    if (keySection != section || text.isEmpty()) {
      if (!text.isEmpty()) text += '\n';
      section = keySection;
      const QByteArray name = EscapeName(section);
      text += name.isEmpty()                                      ? QByteArray("[General]\n")
              : name.compare("general", Qt::CaseInsensitive) == 0 ? "[%" + name + "]\n"
                                                                  : "[" + name + "]\n";
    }
    text +=
        EscapeName(it.key().sliced(slash + 1)) + '=' + EscapeValue(it.value().toString()) + '\n';
  }
  return device.write(text) == text.size();
}
#endif

QSettings::Format ProfileFormat() {
#ifdef Q_OS_WIN
  return QSettings::NativeFormat;  // the registry gives a value back whole
#else
  static const QSettings::Format format =
      QSettings::registerFormat(QStringLiteral("conf"), ReadProfileFile, WriteProfileFile);
  return format;
#endif
}

QString FindName(const QStringList& names, const QString& wanted) {
  for (const QString& name : names) {
    if (name.compare(wanted, Qt::CaseInsensitive) == 0) return name;
  }
  return {};
}

// The stored spelling of section/entry, or empty when there is none. A file may
// spell the section in more than one way; each spelling is searched.
QString FindKey(QSettings& settings, const std::string& section, const std::string& entry) {
  const QString wantedGroup = QString::fromStdString(section);
  const QString wantedKey = QString::fromStdString(entry);
  for (const QString& group : settings.childGroups()) {
    if (group.compare(wantedGroup, Qt::CaseInsensitive) != 0) continue;
    settings.beginGroup(group);
    QString key = FindName(settings.childKeys(), wantedKey);
    settings.endGroup();
    if (!key.isEmpty()) return group + "/" + key;
  }
  return {};
}

}  // namespace

QSettingsProfile::QSettingsProfile() = default;

std::string QSettingsProfile::GetString(const std::string& section, const std::string& entry) {
  // The user's file alone first: in the merged view an entry spelt differently in
  // the user's and the system's files counts twice, and the system's could win.
  // Then the merged view, which holds every system file.
  for (bool fallbacks : {false, true}) {
    QSettings settings(ProfileFormat(), QSettings::UserScope, kOrganisation, kApplication);
    settings.setFallbacksEnabled(fallbacks);
    QString key = FindKey(settings, section, entry);
    if (!key.isEmpty()) return settings.value(key).toString().toStdString();
  }
  return "";
}

void QSettingsProfile::WriteString(const std::string& section, const std::string& entry,
                                   const std::string& value) {
  RemoveEntry(section, entry);
  QSettings settings(ProfileFormat(), QSettings::UserScope, kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  QString group = FindName(settings.childGroups(), QString::fromStdString(section));
  if (group.isEmpty()) group = QString::fromStdString(section);
  settings.setValue(group + "/" + QString::fromStdString(entry), QString::fromStdString(value));
  settings.sync();
}

void QSettingsProfile::RemoveEntry(const std::string& section, const std::string& entry) {
  QSettings settings(ProfileFormat(), QSettings::UserScope, kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  // Every spelling of the name in the user's file goes.
  for (QString key = FindKey(settings, section, entry); !key.isEmpty();
       key = FindKey(settings, section, entry)) {
    settings.remove(key);
  }
  settings.sync();
}

std::unique_ptr<Profile> OpenUserProfile() {
  return std::make_unique<QSettingsProfile>();
}

}  // namespace portflash
