#include "desktop/kde/layout.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace mevrik::desktop::kde {
namespace {

constexpr char kSavedHeader[] = "vantic-type saved kxkbrc 1 ";
// Deeper than any include path XKB is given: extra steps up stop at the root.
constexpr int kClimb = 24;

std::optional<std::string> readFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[8192];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
  close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

// Written whole under a temporary name and renamed over the file: a reader (KWin) never sees
// a part of it.
bool writeFile(const std::string& path, const std::string& text) {
  const std::string partial = path + ".new";
  const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  close(fd);
  if (!written || rename(partial.c_str(), path.c_str()) != 0) {
    unlink(partial.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

std::string joinList(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
  return text;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return std::string(text);
}

}  // namespace

std::optional<std::string> entryOf(std::string_view text, std::string_view group,
                                   std::string_view key) {
  bool inGroup = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[" + std::string(group) + "]";
    } else if (inGroup) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos && trimmed(line.substr(0, equals)) == key)
        return trimmed(std::string_view(line).substr(equals + 1));
    }
  }
  return std::nullopt;
}

std::string withLayouts(std::string_view kxkbrc, const std::string& layouts,
                        const std::string& variants) {
  const std::string entries = "LayoutList=" + layouts + "\nVariantList=" + variants + "\n";
  std::string out;
  bool inGroup = false, written = false;
  while (!kxkbrc.empty()) {
    const size_t end = kxkbrc.find('\n');
    const std::string_view raw = kxkbrc.substr(0, end);
    kxkbrc.remove_prefix(end == std::string_view::npos ? kxkbrc.size() : end + 1);
    const std::string line = trimmed(raw);
    if (!line.empty() && line.front() == '[') {
      inGroup = line == "[Layout]";
      out += std::string(raw) + "\n";
      if (inGroup && !written) {
        out += entries;
        written = true;
      }
      continue;
    }
    if (inGroup) {
      const size_t equals = line.find('=');
      const std::string key = trimmed(line.substr(0, equals == std::string::npos ? 0 : equals));
      if (equals != std::string::npos && (key == "LayoutList" || key == "VariantList")) continue;
    }
    out += std::string(raw) + "\n";
  }
  if (!written) {
    if (!out.empty() && out.substr(out.size() > 1 ? out.size() - 2 : 0) != "\n\n") out += "\n";
    out += "[Layout]\n" + entries;
  }
  return out;
}

std::unique_ptr<RunLayout> RunLayout::forUser(std::string& error) {
  std::string folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
    folder = config;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    folder = std::string(home) + "/.config";
  } else {
    error = "there is no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
    return nullptr;
  }
  // The folder's path becomes part of a layout's name in a comma-separated list, which XKB
  // reads as FILE(MAP) joined by + and |.
  if (folder.find_first_of(",+|():\"\\ \t\n") != std::string::npos) {
    error = "the configuration folder's path \"" + folder +
            "\" holds a character that a keyboard layout's name cannot";
    return nullptr;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return std::unique_ptr<RunLayout>(new RunLayout(folder));
}

bool RunLayout::inEffect() const {
  return access((config_ + "/mevrik/kxkbrc.saved").c_str(), F_OK) == 0;
}

bool RunLayout::switchTo(const std::vector<ExtraKey>& keys, size_t active, std::string& error) {
  const std::string folder = config_ + "/mevrik";
  const std::string kxkbrc = config_ + "/kxkbrc", saved = folder + "/kxkbrc.saved";
  const std::string symbols = folder + "/kwin-layout";
  std::string name;
  for (int i = 0; i < kClimb; ++i) name += "../";
  name += symbols.substr(1);

  mkdir(config_.c_str(), 0700);
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + folder + ": " + std::strerror(errno);
    return false;
  }
  // The user's settings: from the saved copy when a run's layout is in them already.
  std::optional<std::string> user;
  if (const auto copy = readFile(saved)) {
    if (copy->rfind(kSavedHeader, 0) != 0) {
      error = saved + " is not a copy this program saved";
      return false;
    }
    const size_t line = copy->find('\n');
    if (copy->compare(sizeof kSavedHeader - 1, 7, "present") == 0 && line != std::string::npos)
      user = copy->substr(line + 1);
  } else {
    user = readFile(kxkbrc);
    // The layout in use goes with it: KWin's reload leaves it for the first.
    if (!writeFile(saved, std::string(kSavedHeader) + (user ? "present " : "absent ") +
                              std::to_string(active) + "\n" + user.value_or(""))) {
      error = "cannot save the keyboard settings to " + saved + ": " + std::strerror(errno);
      return false;
    }
  }

  // The layouts KWin uses: the settings', else the environment's (as KWin falls back), else US.
  std::string layoutList = user ? entryOf(*user, "Layout", "LayoutList").value_or("") : "";
  std::string variantList = user ? entryOf(*user, "Layout", "VariantList").value_or("") : "";
  if (layoutList.empty()) {
    const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
    const char* variant = std::getenv("XKB_DEFAULT_VARIANT");
    layoutList = layout && layout[0] ? layout : "us";
    variantList = layout && layout[0] && variant ? variant : "";
  }
  std::vector<std::string> layouts = splitList(layoutList), variants = splitList(variantList);
  variants.resize(layouts.size());
  active = std::min(active, layouts.size() - 1);
  if (layouts[active].find("mevrik/kwin-layout") != std::string::npos) {
    error = "the keyboard settings name this program's own layout, and the user's are not saved";
    return false;
  }
  std::string text =
      "// vantic-type's keyboard layout for one run: the layout in use, and the characters it\n"
      "// lacks on key codes it leaves empty. The user's settings (kxkbrc.saved beside this file)\n"
      "// are put back when the run ends.\n"
      "default xkb_symbols \"run\" {\n  include \"" +
      layouts[active] + (variants[active].empty() ? "" : "(" + variants[active] + ")") + "\"\n";
  for (const ExtraKey& key : keys) {
    text += "  key <" + key.name + "> { type[Group1] = \"TWO_LEVEL\", [ " + key.alone + ", " +
            key.shifted + " ] };\n";
  }
  text += "};\n";
  layouts[active] = name;
  variants[active].clear();
  if (!writeFile(symbols, text) ||
      !writeFile(kxkbrc, withLayouts(user.value_or(""), joinList(layouts), joinList(variants)))) {
    error = std::string("cannot write the run's keyboard layout: ") + std::strerror(errno);
    return false;
  }
  return true;
}

std::vector<ExtraKey> RunLayout::bindings() const {
  std::vector<ExtraKey> keys;
  const auto settings = readFile(config_ + "/kxkbrc");
  const auto text = readFile(config_ + "/mevrik/kwin-layout");
  if (!settings || !text ||
      entryOf(*settings, "Layout", "LayoutList")
              .value_or("")
              .find(config_.substr(1) + "/mevrik/kwin-layout") == std::string::npos) {
    return keys;
  }
  // The lines switchTo() writes: key <NAME> { type[Group1] = "TWO_LEVEL", [ ALONE, SHIFTED ] };
  size_t at = 0;
  while ((at = text->find("  key <", at)) != std::string::npos) {
    const size_t nameEnd = text->find('>', at);
    const size_t open = text->find("[ ", nameEnd), comma = text->find(", ", open);
    const size_t close = text->find(" ]", comma);
    if (nameEnd == std::string::npos || close == std::string::npos) break;
    keys.push_back({text->substr(at + 7, nameEnd - at - 7),
                    text->substr(open + 2, comma - open - 2),
                    text->substr(comma + 2, close - comma - 2)});
    at = close;
  }
  return keys;
}

std::optional<size_t> RunLayout::putBack() {
  const std::string folder = config_ + "/mevrik";
  const std::string kxkbrc = config_ + "/kxkbrc", saved = folder + "/kxkbrc.saved";
  const auto copy = readFile(saved);
  if (!copy || copy->rfind(kSavedHeader, 0) != 0) return std::nullopt;
  const size_t line = copy->find('\n');
  if (line == std::string::npos) return std::nullopt;
  const bool present = copy->compare(sizeof kSavedHeader - 1, 7, "present") == 0;
  const size_t active =
      std::strtoul(copy->c_str() + sizeof kSavedHeader - 1 + (present ? 8 : 7), nullptr, 10);
  // Settings that name another layout now are the user's newer ones: they stay.
  const auto settings = readFile(kxkbrc);
  const bool ours =
      settings && entryOf(*settings, "Layout", "LayoutList")
                          .value_or("")
                          .find(folder.substr(1) + "/kwin-layout") != std::string::npos;
  if (ours && (present ? !writeFile(kxkbrc, copy->substr(line + 1))
                       : unlink(kxkbrc.c_str()) != 0 && errno != ENOENT)) {
    return std::nullopt;
  }
  // With what a run killed while writing may have left.
  for (const std::string& file : {saved, folder + "/kwin-layout", saved + ".new",
                                  folder + "/kwin-layout.new", kxkbrc + ".new"}) {
    unlink(file.c_str());
  }
  rmdir(folder.c_str());  // when nothing else of Mevrik's is there
  return active;
}

// KWin answers on org.kde.keyboard only while it has several layouts.
size_t RunLayout::activeLayout() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return 0;
  guint32 index = 0;
  if (GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.kde.keyboard", "/Layouts", "org.kde.KeyboardLayouts", "getLayout", nullptr,
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, nullptr)) {
    g_variant_get(reply, "(u)", &index);
    g_variant_unref(reply);
  }
  g_object_unref(bus);
  return index;
}

void RunLayout::selectLayout(size_t index) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  if (GVariant* reply = g_dbus_connection_call_sync(
          bus, "org.kde.keyboard", "/Layouts", "org.kde.KeyboardLayouts", "setLayout",
          g_variant_new("(u)", static_cast<guint32>(index)), nullptr,
          G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, nullptr)) {
    g_variant_unref(reply);
  }
  g_object_unref(bus);
}

void RunLayout::reload() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  g_dbus_connection_emit_signal(bus, nullptr, "/Layouts", "org.kde.keyboard", "reloadConfig",
                                nullptr, nullptr);
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
}

}  // namespace mevrik::desktop::kde
