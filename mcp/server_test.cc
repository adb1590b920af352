#include "mcp/server.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
    for (const char* tool : {"vantic-ax", "vantic-click", "vantic-type"}) {
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
  Server server_{(fs::temp_directory_path() / ("mcp_test_" + std::to_string(::getpid()))).string(),
                 "1.2.3"};
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
  ASSERT_EQ(tools.size(), 6u);
  EXPECT_EQ(tools[0]["name"], "snapshot");
  EXPECT_EQ(tools[0]["annotations"]["readOnlyHint"], true);
  EXPECT_EQ(tools[1]["name"], "click");
  EXPECT_EQ(tools[1]["annotations"]["readOnlyHint"], false);
  EXPECT_EQ(tools[1]["inputSchema"]["required"], Json({"x", "y"}));
  EXPECT_EQ(tools[5]["name"], "screenshot");  // the names in order: stdio_test.py
  EXPECT_EQ(tools[5]["annotations"]["readOnlyHint"], true);
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
  EXPECT_PRED_FORMAT2(IsSubstring, "at least one chord", text(result));
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
  result = call("screenshot", {{"region", {{"x", 1}, {"y", 2}, {"width", 30}}}})["result"];
  EXPECT_PRED_FORMAT2(IsSubstring, "region needs a number height", text(result));
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
      {{{"x", 1}, {"y", 2}, {"action", "scroll"}, {"dy", 99999}}, "dy must be from", true},
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
       "no frontmost application\nWhat to do: bring"},
      {"snapshot", Json::object(), "not json", 0, true, "vantic-ax failed with status 0: noise"},
      {"snapshot", Json::object(), "{\"app\":\n\"A\"}", 0, true, "failed with status 0"},
      {"snapshot", {{"budget", 0}}, "", 0, true, "budget must be above 0"},
      {"request_access", Json::object(), R"({"trusted":true})", 0, false, "is granted"},
      {"request_access", Json::object(), R"({"trusted":false})", 3, false, "not granted yet"},
      {"click", {{"x", 1}, {"y", 2}}, "", 1, true, "vantic-click failed with status 1: noise"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tool + " " + c.out);
    prepare("vantic-ax", c.out, c.status);
    prepare("vantic-click", c.out, c.status);
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

}  // namespace
}  // namespace mcp
