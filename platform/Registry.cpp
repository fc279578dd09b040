// Wine's system.reg holds HKEY_LOCAL_MACHINE as text: a key line
//   [Software\\Square Soft, Inc.\\Final Fantasy VII] 1700000000
// followed by value lines such as
//   "AppPath"="C:\\Games\\FF7\\"
// with backslashes and quotes escaped by a backslash.
#include "platform/Registry.h"

#include "platform/StringList.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace palkor {

namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The key name of a "[...]" line, unescaped; empty for other lines.
std::string KeyOf(const std::string& line) {
  if (line.empty() || line[0] != '[') return {};
  size_t end = line.find(']');
  return end == std::string::npos ? std::string() : Unescape(line.substr(1, end - 1));
}

} // namespace

std::string FindGameAppPath(const std::string& systemReg) {
  TStringList lines;
  lines.SetText(systemReg);
  bool inKey = false;
  for (const std::string& line : lines.Lines()) {
    if (!line.empty() && line[0] == '[') {
      std::string key = KeyOf(line);
      inKey = SameTextASCII(key, "Software\\Square Soft, Inc.\\Final Fantasy VII") ||
              SameTextASCII(key, "Software\\Wow6432Node\\Square Soft, Inc.\\Final Fantasy VII");
      continue;
    }
    if (!inKey) continue;
    const std::string prefix = "\"AppPath\"=\"";
    if (line.size() > prefix.size() && SameTextASCII(line.substr(0, prefix.size()), prefix) &&
        line.back() == '"')
      return Unescape(line.substr(prefix.size(), line.size() - prefix.size() - 1));
  }
  return {};
}

std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.wine";
}

std::string ReadGameAppPath() {
  std::ifstream file(WinePrefix() + "/system.reg", std::ios::binary);
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  return FindGameAppPath(text.str());
}

std::string WindowsPathToLocal(const std::string& windowsPath, const std::string& prefix) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return {};
  std::string drive = std::string(1, char(std::tolower(uint8_t(windowsPath[0])))) + ":";
  std::string local = prefix + "/dosdevices/" + drive;
  for (char c : windowsPath.substr(2)) local += c == '\\' ? '/' : c;
  return local;
}

} // namespace palkor
