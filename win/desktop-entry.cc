// Reading a desktop entry's command line, by the rules of the freedesktop.org Desktop Entry
// format: the value's string escapes (\s \n \t \r \\), then the Exec quoting (double quotes, in
// which a backslash escapes " ` $ and \), then the field codes.
#include <map>

#include "win/win.h"

namespace win {
namespace {

std::string trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

// The keys of the [Desktop Entry] group. Localised keys (Name[ja]) are kept under their full
// name, so they never stand in for the plain key.
std::map<std::string, std::string> entryKeys(std::string_view content) {
  std::map<std::string, std::string> keys;
  bool inEntry = false;
  while (!content.empty()) {
    const size_t end = content.find('\n');
    const std::string line = trim(content.substr(0, end));
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!inEntry || equals == std::string::npos) continue;
    // The first occurrence of a key counts.
    keys.emplace(trim(std::string_view(line).substr(0, equals)), trim(line.substr(equals + 1)));
  }
  return keys;
}

std::string unescapeString(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:  // not a string escape: left for the Exec quoting
        out += '\\';
        out += value[i];
    }
  }
  return out;
}

}  // namespace

std::optional<std::vector<std::string>> desktopEntryCommand(std::string_view content,
                                                            std::string_view path,
                                                            std::string& error) {
  const auto keys = entryKeys(content);
  auto value = [&](const char* key) {
    auto it = keys.find(key);
    return it == keys.end() ? std::string() : unescapeString(it->second);
  };
  const std::string where = std::string(path) + ": ";
  if (value("Type") != "Application") {
    error = where + "not an application (Type=" + value("Type") + ")";
    return std::nullopt;
  }
  const std::string exec = value("Exec");
  const std::string icon = value("Icon");
  std::vector<std::string> argv;
  std::string arg;
  bool inArg = false;     // an argument has begun (also an empty quoted one)
  bool onlyCodes = true;  // the argument so far is made of field codes alone
  bool quoted = false;
  auto finish = [&]() {
    // A field code that stood alone and expanded to nothing leaves no argument behind.
    if (inArg && !(arg.empty() && onlyCodes)) argv.push_back(arg);
    arg.clear();
    inArg = false;
    onlyCodes = true;
  };
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < exec.size() &&
                 std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
        arg += exec[++i];
      } else {
        arg += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n') {
      finish();
      continue;
    }
    inArg = true;
    if (c == '"') {
      quoted = true;
      onlyCodes = false;
    } else if (c == '\\' && i + 1 < exec.size()) {
      arg += exec[++i];
      onlyCodes = false;
    } else if (c == '%') {
      const char code = i + 1 < exec.size() ? exec[++i] : '\0';
      switch (code) {
        case '%':
          arg += '%';
          onlyCodes = false;
          break;
        case 'f':
        case 'F':
        case 'u':
        case 'U':  // files and URLs: a launch opens none
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':  // deprecated codes, removed
          break;
        case 'i':
          // Two arguments, --icon and the icon, when the code stands alone and there is one.
          if (arg.empty() && (i + 1 == exec.size() || exec[i + 1] == ' ' || exec[i + 1] == '\t') &&
              !icon.empty()) {
            argv.push_back("--icon");
            arg = icon;
            onlyCodes = false;
          }
          break;
        case 'c':
          arg += value("Name");
          onlyCodes = false;
          break;
        case 'k':
          arg += path;
          onlyCodes = false;
          break;
        default:
          error = where + (code ? "Exec has an unknown field code %" + std::string(1, code)
                                : std::string("Exec ends with a lone %"));
          return std::nullopt;
      }
    } else {
      arg += c;
      onlyCodes = false;
    }
  }
  if (quoted) {
    error = where + "Exec has an unterminated quote";
    return std::nullopt;
  }
  finish();
  if (argv.empty()) {
    error = where + "no Exec command";
    return std::nullopt;
  }
  return argv;
}

}  // namespace win
