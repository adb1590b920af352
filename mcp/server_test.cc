#include "mcp/server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mcp/fuzz_check.h"

namespace mcp {
namespace {

namespace fs = std::filesystem;
using testing::IsSubstring;

// The text of a tool call's answer.
std::string text(const Json& result) {
  return result["content"][0]["text"].get<std::string>();
}

// Fake tools in a scratch folder: each records its arguments, prints the prepared output and
// exits with the prepared status.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("mcp_test_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    for (const char* tool :
         {"vantic-ax", "vantic-act", "vantic-click", "vantic-type", "vantic-win"}) {
      const fs::path path = folder_ / tool;
      std::ofstream(path) << "#!/bin/sh\nprintf '%s ' \"$@\" > \"$0.args\"\n"
                             "[ -f \"$0.sleep\" ] && exec sleep \"$(cat \"$0.sleep\")\"\n"
                             "cat \"$0.out\" 2>/dev/null; echo noise >&2\n"
                             "exit \"$(cat \"$0.status\" 2>/dev/null || echo 0)\"\n";
      fs::permissions(path, fs::perms::owner_all);
    }
    // The screenshot tool writes its image to the file it is given and reports it.
    const fs::path shot = folder_ / "vantic-shot";
    std::ofstream(shot) << "#!/bin/sh\nprintf '%s ' \"$@\" > \"$0.args\"\nprintf PNGDATA > \"$1\"\n"
                           "echo \"pid=5 file=$1 x=10 y=20 width=3 height=2 image=6x4 scale=2\"\n";
    fs::permissions(shot, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void prepare(const std::string& tool, const std::string& out, int status) {
    std::ofstream(folder_ / (tool + ".out")) << out;
    std::ofstream(folder_ / (tool + ".status")) << status;
    fs::remove(folder_ / (tool + ".args"));
  }
  // The arguments the fake tool was given, or "(not run)".
  std::string ran(const std::string& tool) {
    std::ifstream in(folder_ / (tool + ".args"));
    if (!in) return "(not run)";
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::optional<Json> send(const std::string& line) {
    const auto answer = server_.handleLine(line);
    if (!answer) return std::nullopt;
    EXPECT_EQ(answer->find('\n'), std::string::npos) << *answer;
    return Json::parse(*answer);
  }
  Json call(const std::string& tool, const Json& arguments) {
    const Json request = {{"jsonrpc", "2.0"},
                          {"id", 7},
                          {"method", "tools/call"},
                          {"params", {{"name", tool}, {"arguments", arguments}}}};
    return *send(request.dump());
  }

  fs::path folder_;
  ProcessRunner runner_;
  Server server_{(fs::temp_directory_path() / ("mcp_test_" + std::to_string(::getpid()))).string(),
                 "1.2.3", runner_};
};

TEST_F(ServerTest, ProtocolErrorsAndSilence) {
  struct Case {
    std::string line;
    int code;  // 0: a result, 1: no answer at all
  };
  const Case cases[] = {
      {"{", -32700},
      {"[1,2]", -32600},
      {R"({"jsonrpc":"2.0","id":1})", -32600},
      {R"({"jsonrpc":"2.0","id":{},"method":"ping"})", -32600},
      {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", -32600},
      {R"({"jsonrpc":"2.0","id":1,"method":"resources/list"})", -32601},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[1]})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"nope"}})", -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"click","arguments":{"x":"1","y":2}}})",
       -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"click","arguments":{"x":1}}})",
       -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"click","arguments":{"x":1,"y":2,"action":"scroll","dx":1.5}}})",
       -32602},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"snapshot","arguments":[]}})",
       -32602},
      {R"({"jsonrpc":"2.0","id":"a","method":"ping"})", 0},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", 1},
      {R"({"jsonrpc":"2.0","method":"no/such/notification"})", 1},
      {R"({"jsonrpc":"2.0","id":3,"result":{}})", 1},
      {"  \r", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const auto answer = send(c.line);
    if (c.code == 1) {
      EXPECT_FALSE(answer);
      continue;
    }
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["jsonrpc"], "2.0");
    if (c.code == 0) {
      EXPECT_TRUE(answer->contains("result"));
    } else {
      EXPECT_EQ((*answer)["error"]["code"], c.code);
    }
  }
  EXPECT_EQ(ran("vantic-click"), "(not run)");
}

TEST_F(ServerTest, InitializeNegotiatesTheVersion) {
  const std::pair<Json, std::string> cases[] = {
      {"2024-11-05", "2024-11-05"}, {"2025-03-26", "2025-03-26"}, {"2025-06-18", "2025-06-18"},
      {"2025-11-25", "2025-11-25"}, {"2099-01-01", "2025-11-25"}, {nullptr, "2025-11-25"}};
  for (const auto& [asked, answered] : cases) {
    Json params = {{"capabilities", Json::object()}};
    if (!asked.is_null()) params["protocolVersion"] = asked;
    const Json request = {
        {"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", params}};
    const Json result = (*send(request.dump()))["result"];
    EXPECT_EQ(result["protocolVersion"], answered);
    EXPECT_EQ(result["serverInfo"], Json({{"name", "mevrik-mcp"}, {"version", "1.2.3"}}));
    EXPECT_TRUE(result["capabilities"].contains("tools"));
  }
}

TEST_F(ServerTest, ListsTheToolsWithAnnotations) {
  const Json tools =
      (*send(R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})"))["result"]["tools"];
  ASSERT_EQ(tools.size(), 12u);
  EXPECT_EQ(tools[0]["name"], "snapshot");
  EXPECT_EQ(tools[0]["annotations"]["readOnlyHint"], true);
  EXPECT_EQ(tools[1]["name"], "click");
  EXPECT_EQ(tools[1]["annotations"]["readOnlyHint"], false);
  EXPECT_EQ(tools[1]["inputSchema"]["required"], Json({"x", "y"}));
  EXPECT_EQ(tools[5]["name"], "screenshot");  // the names in order: stdio_test.py
  EXPECT_EQ(tools[5]["annotations"]["readOnlyHint"], true);
  EXPECT_EQ(tools[6]["name"], "list_windows");
  EXPECT_EQ(tools[6]["annotations"]["readOnlyHint"], true);
  EXPECT_EQ(tools[11]["name"], "set_text");
  EXPECT_EQ(tools[11]["inputSchema"]["required"], Json({"path", "text"}));
}

TEST_F(ServerTest, KeyboardTools) {
  prepare("vantic-type", "pid=4 sent=text characters=8 remapped=5\n", 0);
  Json result = call("type_text", {{"text", "こんにちは -x"}})["result"];
  EXPECT_EQ(ran("vantic-type"), "text こんにちは -x ");
  EXPECT_EQ(text(result), "pid=4 sent=text characters=8 remapped=5");
  call("press_keys", {{"keys", {"ctrl+a", "BackSpace"}}});
  EXPECT_EQ(ran("vantic-type"), "key ctrl+a BackSpace ");

  prepare("vantic-type", "", 2);
  result = call("press_keys", {{"keys", {"hyper+x"}}})["result"];
  EXPECT_EQ(result["isError"], true);
  EXPECT_EQ(text(result), "vantic-type failed with status 2: noise");
  result = call("press_keys", {{"keys", Json::array()}})["result"];
  EXPECT_PRED_FORMAT2(IsSubstring, "keys needs at least 1 item", text(result));
  for (const Json& keys : {Json("Return"), Json({1})}) {
    EXPECT_EQ(call("press_keys", {{"keys", keys}})["error"]["code"], -32602) << keys;
  }
}

TEST_F(ServerTest, ScreenshotGivesTheImageAndTheScale) {
  Json result = call("screenshot", Json::object())["result"];
  ASSERT_EQ(result["isError"], false) << result.dump();
  EXPECT_EQ(result["content"][1],
            Json({{"type", "image"}, {"data", "UE5HREFUQQ=="}, {"mimeType", "image/png"}}));
  EXPECT_PRED_FORMAT2(IsSubstring, "Image point (u, v) = screen point (10 + u / 2, 20 + v / 2).",
                      text(result));
  EXPECT_EQ(result["structuredContent"]["scale"], 2);
  EXPECT_EQ(result["structuredContent"]["x"], 10);
  // The image file is gone once it is in the answer.
  const std::string file = ran("vantic-shot").substr(0, ran("vantic-shot").find(' '));
  EXPECT_FALSE(fs::exists(file)) << file;

  call("screenshot", {{"region", {{"x", 1}, {"y", 2.5}, {"width", 30}, {"height", 40}}}});
  EXPECT_TRUE(ran("vantic-shot").ends_with(".png 1 2.5 30 40 ")) << ran("vantic-shot");
  EXPECT_EQ(call("screenshot", {{"region", {{"x", 1}, {"y", 2}, {"width", 30}}}})["error"],
            Json({{"code", -32602}, {"message", "screenshot: missing argument region.height"}}));
}

TEST_F(ServerTest, ClickCommandLines) {
  struct Case {
    Json arguments;
    std::string commandLine;  // or, for a tool error, a part of its text
    bool error;
  };
  const Case cases[] = {
      {{{"x", 10}, {"y", 20}}, "10 20 left ", false},
      {{{"x", 10.5}, {"y", 2e3}, {"action", "double"}}, "10.5 2000 double ", false},
      {{{"x", 1}, {"y", 2}, {"action", "drag"}, {"to_x", 30}, {"to_y", -4}},
       "1 2 drag 30 -4 ",
       false},
      {{{"x", 1}, {"y", 2}, {"action", "scroll"}, {"dy", -3}}, "1 2 scroll 0 -3 ", false},
      {{{"x", 1}, {"y", 2}, {"action", "scroll"}, {"dx", 2.0}}, "1 2 scroll 2 0 ", false},
      {{{"x", 1}, {"y", 2}, {"action", "kick"}}, "action must be one of", true},
      {{{"x", 1}, {"y", 2}, {"action", "drag"}, {"to_x", 3}}, "to_y is needed for drag", true},
      {{{"x", 1}, {"y", 2}, {"to_x", 3}}, "to_x is only for drag", true},
      {{{"x", 1}, {"y", 2}, {"dy", 3}}, "dy is only for scroll", true},
      {{{"x", 1}, {"y", 2}, {"action", "scroll"}}, "scroll needs dx or dy", true},
      {{{"x", 1}, {"y", 2}, {"button", 3}}, "unknown argument button", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.dump());
    prepare("vantic-click", "pid=1 delivery=hid real_cursor_before=0,0 after=0,0\n", 0);
    const Json result = call("click", c.arguments)["result"];
    EXPECT_EQ(result["isError"], c.error);
    if (c.error) {
      EXPECT_PRED_FORMAT2(IsSubstring, c.commandLine, text(result));
      EXPECT_EQ(ran("vantic-click"), "(not run)");
    } else {
      EXPECT_EQ(ran("vantic-click"), c.commandLine);
      EXPECT_EQ(text(result), "pid=1 delivery=hid real_cursor_before=0,0 after=0,0");
    }
  }
}

// The window and element tools: each call's command line, or the tool error that names the
// argument when the combination cannot be run.
TEST_F(ServerTest, WindowAndElementCommandLines) {
  struct Case {
    std::string tool;
    Json arguments;
    std::string commandLine;  // or, for a tool error, a part of its text
    bool error;
  };
  const Case cases[] = {
      {"list_windows", Json::object(), "list ", false},
      {"focus_window", {{"window", 4294967295}}, "focus 4294967295 ", false},
      {"focus_window", {{"pid", 42}, {"timeout", 0.5}}, "focus --pid 42 --timeout 0.5 ", false},
      {"focus_window", {{"app", "--timeout"}}, "focus --app --timeout ", false},
      {"focus_window", Json::object(), "give exactly one of window, pid, app", true},
      {"focus_window", {{"pid", 1}, {"app", "x"}}, "give exactly one of", true},
      {"focus_window", {{"app", ""}}, "app must not be empty", true},
      {"launch_app",
       {{"desktop_id", "org.gnome.Calculator.desktop"}},
       "launch org.gnome.Calculator.desktop ",
       false},
      {"launch_app",
       {{"command", {"xterm", "-e", "--", "x y"}}, {"timeout", 3}},
       "launch --timeout 3 -- xterm -e -- x y ",
       false},
      {"launch_app", {{"command", {""}}}, "command[0] must name the program", true},
      {"launch_app", Json::object(), "give exactly one of desktop_id, command", true},
      {"window_at", {{"x", -5}, {"y", 2.5}}, "at -5 2.5 ", false},
      {"snapshot",
       {{"pid", 7}, {"window", 9}, {"paths", true}},
       "--pid 7 --window 9 --paths ",
       false},
      {"snapshot", {{"paths", false}}, " ", false},
      {"click", {{"x", 1}, {"y", 2}, {"expect_pid", 12}}, "1 2 left --expect-pid 12 ", false},
      {"press",
       {{"path", "0.3.1"}, {"pid", 5}, {"expect_role", "checkbox"}},
       "0.3.1 press --pid 5 --expect-role checkbox ",
       false},
      {"set_text",
       {{"path", "m.2"}, {"text", "--pid 9"}, {"window", 3}, {"expect_label", "-x"}},
       "m.2 set-text --pid 9 --window 3 --expect-label -x ",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.arguments.dump());
    const std::string program = c.tool == "snapshot"                        ? "vantic-ax"
                                : c.tool == "click"                         ? "vantic-click"
                                : c.tool == "press" || c.tool == "set_text" ? "vantic-act"
                                                                            : "vantic-win";
    prepare(program, R"({"id":1})", 0);
    const Json result = call(c.tool, c.arguments)["result"];
    EXPECT_EQ(result["isError"], c.error) << result.dump();
    if (c.error) {
      EXPECT_PRED_FORMAT2(IsSubstring, c.commandLine, text(result));
      EXPECT_EQ(ran(program), "(not run)");
    } else {
      EXPECT_EQ(ran(program), c.commandLine);
    }
  }
}

TEST_F(ServerTest, ToolOutcomes) {
  struct Case {
    std::string tool;
    Json arguments;
    std::string out;
    int status;
    bool isError;
    std::string textPart;
  };
  const std::string document = R"({"app":"A","elements":[],"truncated":false})";
  const Case cases[] = {
      {"snapshot", Json::object(), document + "\n", 0, false, document},
      {"snapshot", Json::object(), R"({"error":"accessibility not enabled"})", 3, true,
       "accessibility not enabled\nWhat to do: call request_access"},
      {"snapshot", Json::object(), R"({"error":"no frontmost application"})", 4, true,
       "no frontmost application\nWhat to do: call list_windows and focus_window"},
      {"snapshot", Json::object(), "not json", 0, true, "vantic-ax failed with status 0: noise"},
      {"snapshot", Json::object(), "{\"app\":\n\"A\"}", 0, true, "failed with status 0"},
      {"request_access", Json::object(), R"({"trusted":true})", 0, false, "is granted"},
      {"request_access", Json::object(), R"({"trusted":false})", 3, false, "not granted yet"},
      {"click", {{"x", 1}, {"y", 2}}, "", 1, true, "vantic-click failed with status 1: noise"},
      {"click",
       {{"x", 1}, {"y", 2}, {"expect_pid", 3}},
       "",
       5,
       true,
       "noise\nWhat to do: focus_window"},
      {"snapshot",
       {{"pid", 9}},
       R"({"error":"no application with pid 9"})",
       4,
       true,
       "no application with pid 9\nWhat to do: call list_windows"},
      {"focus_window",
       {{"window", 9}},
       R"({"error":"no window 9"})",
       4,
       true,
       "no window 9\nWhat to do: call list_windows"},
      {"list_windows", Json::object(), R"({"error":"no EWMH"})", 3, true, "no EWMH\nWhat to do"},
      {"list_windows", Json::object(), "", 2, true, "vantic-win failed with status 2: noise"},
      {"press",
       {{"path", "0"}},
       R"({"error":"gone"})",
       5,
       true,
       "gone\nWhat to do: the interface changed"},
      {"press", {{"path", "0"}}, R"({"error":"no action"})", 7, true, "click the record's x"},
      {"set_text",
       {{"path", "0"}, {"text", ""}},
       R"({"error":"not editable"})",
       7,
       true,
       "use type_text"},
      {"set_text",
       {{"path", "0"}, {"text", "a"}},
       R"({"value":"a","changed":true})",
       0,
       false,
       R"("changed":true)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.out);
    for (const char* tool : {"vantic-ax", "vantic-act", "vantic-click", "vantic-win"})
      prepare(tool, c.out, c.status);
    const Json result = call(c.tool, c.arguments)["result"];
    EXPECT_EQ(result["isError"], c.isError);
    EXPECT_PRED_FORMAT2(IsSubstring, c.textPart, text(result)) << result.dump();
  }
  prepare("vantic-ax", document, 0);
  const Json result = call("snapshot", {{"budget", 1.5}, {"max_elements", 40}, {"settle", 0}});
  EXPECT_EQ(ran("vantic-ax"), "--budget 1.5 --settle 0 --max-elements 40 ");
  EXPECT_EQ(result["result"]["structuredContent"], Json::parse(document));
  prepare("vantic-ax", R"({"trusted":true})", 0);
  call("request_access", Json::object());
  EXPECT_EQ(ran("vantic-ax"), "--prompt ");
}

TEST_F(ServerTest, MissingAndHangingToolsAreReported) {
  fs::remove(folder_ / "vantic-click");
  Json result = call("click", {{"x", 1}, {"y", 2}})["result"];
  EXPECT_EQ(result["isError"], true);
  EXPECT_PRED_FORMAT2(IsSubstring, "cannot run", text(result));

  // A snapshot with a 0.1 s budget may live 5.1 s; one that sleeps 30 s is killed then.
  prepare("vantic-ax", "{}", 0);
  std::ofstream(folder_ / "vantic-ax.sleep") << 30;
  const auto start = std::chrono::steady_clock::now();
  result = call("snapshot", {{"budget", 0.1}})["result"];
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(result["isError"], true);
  EXPECT_PRED_FORMAT2(IsSubstring, "did not finish within 5.1 s", text(result));
  EXPECT_LT(seconds, 10);
}

// Lines a hostile or careless client sends. Each gets its answer, with the id exactly as the
// client wrote it, and the server answers the next line as before.
TEST_F(ServerTest, HostileInputsAreAnsweredAndTheServerGoesOn) {
  const std::string deepParams = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"a":)" +
                                 std::string(20000, '[') + std::string(20000, ']') + "}}";
  std::string nestedObjects;
  for (int k = 0; k < 20000; ++k) nestedObjects += R"({"a":)";
  nestedObjects += "1" + std::string(20000, '}');
  const auto toolCall = [](const std::string& tool, const std::string& arguments) {
    return R"({"jsonrpc":"2.0","id":9,"method":"tools/call","params":{"name":")" + tool +
           R"(","arguments":)" + arguments + "}}";
  };
  const std::string longText = R"({"text":")" + std::string(16385, 'a') + R"("})";
  const std::string hugeText = R"({"text":")" + std::string(200000, 'a') + R"("})";
  std::string manyChords = R"({"keys":[)";
  for (int k = 0; k < 1001; ++k) manyChords += std::string(k ? "," : "") + R"("a")";
  manyChords += "]}";
  std::string bigBatch = "[";
  for (int k = 0; k < 101; ++k)
    bigBatch += std::string(k ? "," : "") + R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
  bigBatch += "]";
  const auto initialize = [](const char* version) {
    return std::string(
               R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":")") +
           version + R"("}})";
  };
  struct Case {
    std::string line;
    std::string start;  // how the answer starts ("" for no answer)
    std::string part;   // and a part of it
  };
  const std::string id1 = R"({"jsonrpc":"2.0","id":1,)";
  const std::string idNull = R"({"jsonrpc":"2.0","id":null,)";
  const std::string id9 = R"({"jsonrpc":"2.0","id":9,)";
  const Case cases[] = {
      // "jsonrpc" of any other type than a string
      {R"({"jsonrpc":2.0,"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"jsonrpc":null,"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"jsonrpc":["2.0"],"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"jsonrpc":{"v":2},"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"jsonrpc":true,"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"id":1,"method":"ping"})", id1, "-32600"},
      {R"({"jsonrpc":"2.0","id":1,"method":7})", id1, "-32600"},
      // nesting: refused while reading, whatever is nested
      {deepParams, id1, "nested deeper than 64"},
      {std::string(20000, '[') + std::string(20000, ']'), idNull, "nested deeper than 64"},
      {nestedObjects, idNull, "nested deeper than 64"},
      {std::string(100000, '['), idNull, "-326"},
      // ids: integers of any size and strings come back as written
      {R"({"jsonrpc":"2.0","id":123456789012345678901234567890,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":123456789012345678901234567890,"result":{})", ""},
      {R"({"jsonrpc":"2.0","id":18446744073709551616,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":18446744073709551616,"result")", ""},
      {R"({"jsonrpc":"2.0","id":18446744073709551615,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":18446744073709551615,"result")", ""},
      {R"({"jsonrpc":"2.0","id":-9223372036854775809,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":-9223372036854775809,"result")", ""},
      {R"({"jsonrpc":"2.0","id":9007199254740993,"method":"nope"})",
       R"({"jsonrpc":"2.0","id":9007199254740993,"error")", "-32601"},
      {R"({"jsonrpc":"2.0","id":1.50,"method":"ping"})", R"({"jsonrpc":"2.0","id":1.50,)", ""},
      {R"({"jsonrpc":"2.0","id":"\u00e9\"x","method":"ping"})",
       R"({"jsonrpc":"2.0","id":"é\"x","result")", ""},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", idNull, "-32600"},
      {R"({"jsonrpc":"2.0","id":[1],"method":"ping"})", idNull, "-32600"},
      // batches: only where the negotiated version has them
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", idNull, "none negotiated yet"},
      {initialize("2025-06-18"), R"({"jsonrpc":"2.0","id":0,"result")", "2025-06-18"},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", idNull, "protocol version 2025-06-18"},
      {initialize("2025-03-26"), R"({"jsonrpc":"2.0","id":0,"result")", "2025-03-26"},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"},{"jsonrpc":"2.0","method":"n"},7,)"
       R"({"jsonrpc":"2.0","id":"b","method":"initialize"}])",
       R"([{"jsonrpc":"2.0","id":1,"result":{}},{"jsonrpc":"2.0","id":null,"error")",
       R"({"jsonrpc":"2.0","id":"b","error":{"code":-32600,"message":"Invalid Request: initialize cannot be batched"}}])"},
      {R"([{"jsonrpc":"2.0","method":"notifications/initialized"}])", "", ""},
      {"[]", idNull, "-32600"},
      {bigBatch, idNull, "1 to 100 messages"},
      {R"([[[{"jsonrpc":"2.0","id":1,"method":"ping"}]]])", R"([{"jsonrpc":"2.0","id":null,)",
       "-32600"},
      {initialize("2024-11-05"), R"({"jsonrpc":"2.0","id":0,"result")", "2024-11-05"},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", idNull, "protocol version 2024-11-05"},
      // arguments a tool cannot be given: refused, naming the argument
      {toolCall("type_text", R"({"text":"ab\u0000rm -rf"})"), id9, "text must not contain NUL"},
      {toolCall("press_keys", R"({"keys":["a","b\u0000c"]})"), id9, "keys[1] must not contain NUL"},
      {toolCall("click", R"({"x":1,"y":2,"action":"scroll","dy":18446744073709551615})"), id9,
       "dy must be from -10000 to 10000"},
      {toolCall("click", R"({"x":1,"y":2,"action":"scroll","dy":9223372036854775808})"), id9,
       "dy must be from"},
      {toolCall("click", R"({"x":1,"y":2,"action":"scroll","dx":-1e19})"), id9, "dx must be from"},
      {toolCall("click", R"({"x":1e300,"y":2})"), id9, "x must be from -1048576 to 1048576"},
      {toolCall("click", R"({"x":1,"y":2,"action":"drag","to_x":-1e7,"to_y":0})"), id9,
       "to_x must be from"},
      {toolCall("snapshot", R"({"max_elements":1e20})"), id9,
       "max_elements must be from 1 to 100000"},
      {toolCall("snapshot", R"({"budget":0})"), id9, "budget must be above 0 and at most 30"},
      {toolCall("snapshot", R"({"settle":1e308})"), id9, "settle must be from 0 to 5"},
      {toolCall("screenshot", R"({"region":{"x":0,"y":0,"width":-5,"height":1}})"), id9,
       "region.width must be above 0"},
      {toolCall("type_text", longText), id9,
       "text is 16385 characters long, more than the 16384 one call takes"},
      {toolCall("type_text", hugeText), id9, "text is 200000 characters long"},
      {toolCall("press_keys", manyChords), id9, "keys has 1001 items, more than the 1000"},
      {toolCall("press_keys", R"({"keys":[")" + std::string(65, 'x') + R"("]})"), id9,
       "keys[0] is 65 characters long"},
      {toolCall("click", R"("x")"), id9, "arguments must be an object"},
      // the window and element tools' arguments: no value may turn into another option
      {toolCall("snapshot", R"({"pid":0})"), id9, "pid must be from 1 to 2147483647"},
      {toolCall("snapshot", R"({"window":4294967296})"), id9, "window must be from 1 to"},
      {toolCall("snapshot", R"({"paths":1})"), id9, "paths must be a boolean"},
      {toolCall("click", R"({"x":1,"y":2,"expect_pid":-1})"), id9, "expect_pid must be from 1"},
      {toolCall("focus_window", R"({"pid":1e10})"), id9, "pid must be from 1 to"},
      {toolCall("focus_window", R"({"app":"a\u0000b"})"), id9, "app must not contain NUL"},
      {toolCall("launch_app", R"({"desktop_id":"--timeout"})"), id9, "desktop_id must match ^[^-]"},
      {toolCall("launch_app", R"({"command":["sh","\u0000"]})"), id9, "command[1] must not"},
      {toolCall("window_at", R"({"x":1,"y":-1e9})"), id9, "y must be from -1048576"},
      {toolCall("press", R"({"path":"--pid"})"), id9, "path must match"},
      {toolCall("press", R"({"path":"0.01"})"), id9, "path must match"},
      {toolCall("press", R"({"path":"0.1\n2"})"), id9, "path must match"},
      {toolCall("press", R"({"path":""})"), id9, "path must match"},
      {toolCall("press", R"({"path":")" + std::string(999, '1') + R"("})"), id9, "path must match"},
      {toolCall("press", R"({"path":")" + std::string(1001, '1') + R"("})"), id9,
       "path is 1001 characters long"},
      {toolCall("press", R"({"path":"0","window":-3})"), id9, "window must be from 1"},
      {toolCall("set_text", R"({"path":"0"})"), id9, "missing argument text"},
      {toolCall("set_text", R"({"path":"0","text":"a\u0000"})"), id9, "text must not contain NUL"},
      {toolCall("set_text", "{\"path\":\"0\",\"text\":\"\xc3(\"}"), idNull, "-32700"},
      {toolCall("set_text",
                R"({"path":"0","text":"x","expect_label":")" + std::string(1001, 'l') + R"("})"),
       id9, "expect_label is 1001 characters long"},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":"x"})", id1, "-32602"},
      // text that is not JSON, or not JSON text the server takes
      {"{\"jsonrpc\":\"2.0\",\"id\":\"\xff\",\"method\":\"ping\"}", idNull, "-32700"},
      {R"({"jsonrpc":"2.0","id":"\ud800","method":"ping"})", idNull, "-32700"},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"} x)", idNull, "-32700"},
      {R"({"jsonrpc":"2.0","id":NaN,"method":"ping"})", idNull, "-32700"},
      {std::string("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\0", 41), idNull, "-32700"},
  };
  int held = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 200));
    const int failures =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    const auto answer = server_.handleLine(c.line);
    if (c.start.empty()) {
      EXPECT_FALSE(answer) << *answer;
    } else {
      ASSERT_TRUE(answer);
      EXPECT_TRUE(answer->starts_with(c.start)) << *answer;
      EXPECT_PRED_FORMAT2(IsSubstring, c.part, *answer);
      EXPECT_TRUE(Json::accept(*answer)) << *answer;
    }
    // The server goes on.
    EXPECT_EQ(server_.handleLine(R"({"jsonrpc":"2.0","id":2,"method":"ping"})"),
              R"({"jsonrpc":"2.0","id":2,"result":{}})");
    held += failures ==
            ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
  }
  for (const char* tool : {"vantic-type", "vantic-click", "vantic-act", "vantic-win"})
    EXPECT_EQ(ran(tool), "(not run)") << tool;
  std::printf("hostile inputs: %d tried, %d held\n", static_cast<int>(std::size(cases)), held);
}

// A runner that records what it was asked to run instead of running it.
class RecordingRunner : public Runner {
 public:
  ChildResult run(const std::string&, const std::vector<std::string>& args,
                  double budgetSeconds) override {
    budget = budgetSeconds;
    this->args = args;
    ChildResult child;
    child.started = true;
    child.status = 0;
    return child;
  }
  double budget = 0;
  std::vector<std::string> args;
};

TEST(ServerBudgetTest, TypingBudgetsGrowWithTheWork) {
  RecordingRunner runner;
  Server server("/nowhere", "0", runner);
  const auto budget = [&](const std::string& tool, const Json& arguments) {
    server.handleLine(Json({{"jsonrpc", "2.0"},
                            {"id", 1},
                            {"method", "tools/call"},
                            {"params", {{"name", tool}, {"arguments", arguments}}}})
                          .dump());
    return runner.budget;
  };
  // 15 s for the start, the connection and applications that lag, and 0.1 s a character (not
  // a byte: "あ" is three) or chord.
  EXPECT_EQ(budget("type_text", {{"text", "abc"}}), 15.3);
  EXPECT_EQ(budget("type_text", {{"text", "あああ"}}), 15.3);
  EXPECT_EQ(budget("type_text", {{"text", std::string(16384, 'x')}}), 15 + 1638.4);
  EXPECT_EQ(budget("press_keys", {{"keys", {"Return"}}}), 15.1);
  EXPECT_EQ(budget("press_keys", {{"keys", std::vector<std::string>(1000, "Tab")}}), 115);
  EXPECT_EQ(runner.args.size(), 1001u);
}

// The screenshot goes through a folder of the server's own under any TMPDIR, even one with
// spaces, and nothing of it is left once the server is gone.
TEST_F(ServerTest, ScreenshotsUnderAnyTmpdirLeaveNothingBehind) {
  const fs::path tmpdir = folder_ / "temp dir\twith spaces";
  fs::create_directories(tmpdir);
  const char* saved = std::getenv("TMPDIR");
  const std::string before = saved ? saved : "";
  ::setenv("TMPDIR", tmpdir.c_str(), 1);
  {
    Server server(folder_.string(), "1", runner_);
    for (int k = 0; k < 2; ++k) {
      const Json answer = Json::parse(*server.handleLine(
          R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"screenshot"}})"));
      EXPECT_EQ(answer["result"]["isError"], false) << answer.dump();
      EXPECT_EQ(answer["result"]["content"][1]["data"], "UE5HREFUQQ==");
    }
    ASSERT_EQ(std::distance(fs::directory_iterator(tmpdir), {}), 1);
    const fs::path scratch = *fs::directory_iterator(tmpdir);
    EXPECT_TRUE(scratch.filename().string().starts_with("mevrik-mcp-"));
    EXPECT_EQ(fs::status(scratch).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(scratch));
  }
  EXPECT_TRUE(fs::is_empty(tmpdir));
  saved ? ::setenv("TMPDIR", before.c_str(), 1) : ::unsetenv("TMPDIR");
}

// A child past its budget is asked to stop with SIGTERM, and killed only if it does not end
// within the grace; it sees no descriptor of ours but its standard ones.
TEST(RunChildTest, SigtermThenGraceThenSigkillAndNoStrayDescriptors) {
  const fs::path folder = fs::temp_directory_path() / ("mcp_child_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string mark = (folder / "restored").string();
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  ChildResult polite =
      runChild("/bin/sh",
               {"-c", "trap 'echo put back > \"$0\"; exit 0' TERM; sleep 30 & wait", mark}, 0.3, 5);
  EXPECT_TRUE(polite.timedOut);
  EXPECT_FALSE(polite.killed);
  EXPECT_EQ(polite.status, 0);
  EXPECT_TRUE(fs::exists(mark));
  EXPECT_LT(elapsed(), 4);

  const auto again = std::chrono::steady_clock::now();
  ChildResult stubborn =
      runChild("/bin/sh", {"-c", "trap '' TERM; while :; do sleep 0.05; done"}, 0.2, 0.5);
  EXPECT_TRUE(stubborn.killed);
  EXPECT_EQ(stubborn.signal, SIGKILL);
  EXPECT_GT(std::chrono::duration<double>(std::chrono::steady_clock::now() - again).count(), 0.6);

  // A descriptor without close-on-exec, as a client may leave one.
  const int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(::dup2(stray, 57), 0);
  const ChildResult listing = runChild("/bin/ls", {"/proc/self/fd"}, 5);
  EXPECT_EQ(listing.out, "0\n1\n2\n3\n");  // 3: the listing's own directory
  ::close(57);
  ::close(stray);
  fs::remove_all(folder);
}

// The fuzzer's seeds and every input it found failing, replayed.
TEST(FuzzRegressionTest, EveryKeptInputHoldsTheProperty) {
  int checked = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    for (const auto& entry : fs::directory_iterator(fs::path(MCP_FUZZ_DIR) / folder)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string input((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(checkFuzzInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "")
          << entry.path();
      ++checked;
    }
  }
  EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace mcp
