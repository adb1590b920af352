#include "win/win.h"

#include <gtest/gtest.h>

#include "win/platform-recorder.h"

namespace win {
namespace {

Window window(uint64_t id, int32_t pid, std::string app, int64_t x, int64_t y, int64_t w, int64_t h,
              std::optional<int64_t> desktop = 0) {
  Window out;
  out.id = id;
  out.pid = pid;
  out.app = std::move(app);
  out.title = out.app + " window";
  out.x = x;
  out.y = y;
  out.w = w;
  out.h = h;
  out.desktop = desktop;
  return out;
}

// A terminal in front of a widget factory, a minimised editor, and a viewer on desktop 1.
RecorderOptions desk() {
  RecorderOptions o;
  o.desktop.windows = {window(10, 100, "XTerm", 0, 0, 400, 300),
                       window(20, 200, "Gtk3-widget-factory", 100, 100, 800, 600),
                       window(30, 300, "Mousepad", 0, 0, 1280, 800),
                       window(40, 400, "Viewer", 0, 0, 1280, 800, 1)};
  o.desktop.windows[2].minimized = true;
  o.desktop.currentDesktop = 0;
  o.active = 10;
  return o;
}

std::string trace(std::vector<std::string> args, RecorderOptions options = desk()) {
  args.insert(args.begin(), "vantic-win");
  RecorderPlatform recorder(std::move(options));
  recorder.recordResult(run(recorder, args));
  std::string text;
  for (const auto& line : recorder.transcript()) text += line + "\n";
  return text;
}

TEST(WinTest, ListPrintsEveryWindowTopmostFirstAsJson) {
  RecorderOptions o;
  o.desktop.windows = {window(7, 0, "", -5, 10, 20, 30, kAllDesktops),
                       window(8, 81, "App", 0, 0, 1, 1, std::nullopt)};
  o.desktop.windows[0].title = "say \"hi\"\n\xff";
  o.active = 8;
  EXPECT_EQ(trace({"list"}, o),
            "read -> 2 windows\n"
            "out {\"windows\":[{\"id\":7,\"app\":\"\",\"pid\":0,\"title\":\"say "
            "\\\"hi\\\"\\n\xEF\xBF\xBD\","
            "\"x\":-5,\"y\":10,\"w\":20,\"h\":30,\"focused\":false,\"minimized\":false,"
            "\"desktop\":-1},{\"id\":8,\"app\":\"App\",\"pid\":81,\"title\":\"App window\","
            "\"x\":0,\"y\":0,\"w\":1,\"h\":1,\"focused\":true,\"minimized\":false}]}\n"
            "exit 0\n");
}

TEST(WinTest, AtNamesTheTopmostWindowOnScreenThatHoldsThePoint) {
  auto id = [](double x, double y) {
    const std::string t = trace({"at", std::to_string(x), std::to_string(y)});
    const size_t at = t.find("\"id\":");
    return at == std::string::npos ? std::string("none") : t.substr(at + 5, 2);
  };
  EXPECT_EQ(id(399.5, 299), "10");  // the terminal's last pixel
  EXPECT_EQ(id(400, 299), "20");    // just beside it: the factory behind
  // Beyond the factory lie only the minimised editor and a window of another desktop.
  EXPECT_EQ(id(1000, 750), "none");
  EXPECT_EQ(trace({"at", "1000", "750.5"}),
            "read -> 4 windows\nout {\"error\":\"no window at 1000,750.5\"}\nexit 4\n");
}

TEST(WinTest, FocusShowsTheDesktopActivatesAndWaitsUntilActive) {
  // Then, as the window may still be moving in from the other desktop, until it keeps still.
  std::string settle;
  for (int i = 0; i < 6; ++i) settle += "read -> 4 windows\nwait 0.05\n";
  EXPECT_EQ(trace({"focus", "--app", "viewer"}),
            "read -> 4 windows\n"
            "show desktop 1\n"
            "activate 40\n"
            "active -> 10\n"
            "exists 40 -> yes\n"
            "wait 0.1\n"
            "active -> 40\n" +
                settle +
                "read -> 4 windows\n"
                "out {\"id\":40,\"app\":\"Viewer\",\"pid\":400,\"title\":\"Viewer window\",\"x\":0,"
                "\"y\":0,\"w\":1280,\"h\":800,\"focused\":true,\"minimized\":false,\"desktop\":1}\n"
                "exit 0\n");
}

TEST(WinTest, FocusNeverActsOnAnotherWindow) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"focus", "99"}, {"focus", "--pid", "999"}, {"focus", "--app", "Nothing"}}) {
    const std::string t = trace(args);
    EXPECT_EQ(t.find("activate"), std::string::npos) << t;
    EXPECT_NE(t.find("exit 4"), std::string::npos) << t;
  }
  EXPECT_NE(trace({"focus", "0x14"}).find("activate 20"), std::string::npos);
  EXPECT_NE(trace({"focus", "--pid", "300"}).find("activate 30"), std::string::npos);

  RecorderOptions closes = desk();
  closes.activation = RecorderOptions::Activation::kCloses;
  EXPECT_EQ(trace({"focus", "20"}, closes),
            "read -> 4 windows\nactivate 20\nactive -> 10\nexists 20 -> yes\nwait 0.1\n"
            "active -> 10\nexists 20 -> no\n"
            "out {\"error\":\"window 20 closed before it became active\"}\nexit 5\n");

  RecorderOptions ignored = desk();
  ignored.activation = RecorderOptions::Activation::kIgnored;
  const std::string t = trace({"focus", "20", "--timeout", "0.2"}, ignored);
  EXPECT_NE(t.find("wait 0.1\nactive -> 10\nexists 20 -> yes\n"
                   "out {\"error\":\"window 20 did not become active within 0.2 s\"}\nexit 5\n"),
            std::string::npos)
      << t;
}

TEST(WinTest, WithoutAWindowListNothingIsActivatedOrStarted) {
  RecorderOptions o = desk();
  o.noWindowList = true;
  o.launchPid = 5;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"list"}, {"focus", "10"}, {"launch", "xterm"}, {"at", "1", "1"}}) {
    EXPECT_EQ(trace(args, o),
              "read -> none\nout {\"error\":\"the window manager keeps no window list\"}\n"
              "exit 3\n");
  }
}

TEST(WinTest, LaunchPrintsTheFirstNewWindowOfTheProcess) {
  RecorderOptions o = desk();
  o.launchPid = 500;
  o.launchWindow = window(50, 500, "Calc", 10, 10, 300, 200);
  EXPECT_EQ(trace({"launch", "--", "calc", "--x"}, o),
            "read -> 4 windows\n"
            "launch command calc --x -> pid 500\n"
            "running 500 -> yes\n"
            "read -> 4 windows\n"
            "wait 0.1\n"
            "running 500 -> yes\n"
            "read -> 5 windows\n"
            "out {\"id\":50,\"app\":\"Calc\",\"pid\":500,\"title\":\"Calc window\",\"x\":10,"
            "\"y\":10,\"w\":300,\"h\":200,\"focused\":false,\"minimized\":false,\"desktop\":0}\n"
            "exit 0\n");

  // A process that ends at once is given the hand-off grace, then reported.
  o.launchWindow.reset();
  o.launchExits = true;
  const std::string exits = trace({"launch", "calc.desktop"}, o);
  EXPECT_NE(exits.find("out {\"error\":\"\\\"calc.desktop\\\" (pid 500) exited without showing "
                       "a window\"}\nexit 6\n"),
            std::string::npos)
      << exits;
  EXPECT_EQ(exits.find("wait 0.1\n", exits.find("wait 0.1\n") + 1) != std::string::npos, true);

  o.launchExits = false;
  const std::string late = trace({"launch", "calc", "--timeout", "0.3"}, o);
  EXPECT_NE(late.find("showed no window within 0.3 s\"}\nexit 6\n"), std::string::npos) << late;

  o.unknownApplication = true;
  EXPECT_EQ(trace({"launch", "nothing"}, o),
            "read -> 4 windows\nlaunch application nothing -> pid 0\n"
            "out {\"error\":\"no such application\"}\nexit 4\n");
}

TEST(WinTest, BadArgumentsGetAnErrorLineAndTheUsage) {
  for (const auto& [args, why] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "no command"},
           {{"lists"}, "unknown command \\\"lists\\\""},
           {{"list", "x"}, "list takes no arguments"},
           {{"at", "1"}, "at needs two numbers, X and Y"},
           {{"at", "nan", "1"}, "at needs two numbers, X and Y"},
           {{"focus"}, "focus needs one of ID, --pid PID, --app NAME"},
           {{"focus", "1", "--pid", "2"}, "focus needs one of ID, --pid PID, --app NAME"},
           {{"focus", "0"}, "not a window id: \\\"0\\\""},
           {{"focus", "--pid", "-3"}, "--pid needs a process id"},
           {{"focus", "--app", "\xC3"}, "--app needs a name in UTF-8"},
           {{"focus", "1", "--timeout", "inf"}, "--timeout needs seconds from 0 to 3600"},
           {{"focus", "1", "--timeout"}, "unknown option or missing value: \\\"--timeout\\\""},
           {{"launch", "--"}, "-- needs a command"},
           {{"launch", "a", "b"}, "launch needs one of DESKTOP-ID, -- COMMAND"},
       }) {
    std::string usage;
    for (std::string_view rest = kUsage; !rest.empty();) {
      const size_t end = rest.find('\n');
      usage += "err " + std::string(rest.substr(0, end)) + "\n";
      rest.remove_prefix(end + 1);
    }
    EXPECT_EQ(trace(args), "out {\"error\":\"" + why + "\"}\n" + usage + "exit 2\n");
  }
}

TEST(DesktopEntryTest, ExecIsSplitAndItsFieldCodesHandled) {
  std::string error;
  auto run = [&](const std::string& entry) {
    auto argv = desktopEntryCommand(entry, "/a/b.desktop", error);
    std::string joined;
    for (const auto& a : argv.value_or(std::vector<std::string>{"<none>"})) joined += "[" + a + "]";
    return joined;
  };
  const std::string head = "# comment\n[Desktop Entry]\nType=Application\nName=My App\n";
  EXPECT_EQ(run(head + "Icon=calc\nExec=calc %U --name=%c %i --k %k 100%% \"a b\\\\$\" \"\" %F\n"
                       "[Desktop Action new]\nExec=other\n"),
            "[calc][--name=My App][--icon][calc][--k][/a/b.desktop][100%][a b$][]");
  EXPECT_EQ(run(head + "Exec=say\\shi %i\nExec=ignored"), "[say][hi]");
  EXPECT_EQ(run(head + "Exec=sh -c \"echo \\\\\"x\\\\\"\""), "[sh][-c][echo \"x\"]");

  for (const auto& [entry, why] : std::vector<std::pair<std::string, std::string>>{
           {"[Desktop Entry]\nType=Link\nExec=x", "not an application (Type=Link)"},
           {head, "no Exec command"},
           {head + "Exec=%f", "no Exec command"},
           {head + "Exec=x \"open", "Exec has an unterminated quote"},
           {head + "Exec=x %z", "Exec has an unknown field code %z"},
           {"[Other]\nType=Application\nExec=x", "not an application (Type=)"},
       }) {
    EXPECT_EQ(run(entry), "[<none>]");
    EXPECT_EQ(error, "/a/b.desktop: " + why);
  }
}

}  // namespace
}  // namespace win
