// Headless Chromium driven from end-to-end tests: a chromedriver process and
// one browser session spoken to over the WebDriver HTTP/JSON protocol. Ends
// the browser and chromedriver when destroyed, whatever the test found.
// Owned by one test; one thread.
#pragma once

#include <httplib.h>

#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "cli/json_text.h"
#include "tests/command_process.h"
#include "web/web_login.h"

namespace ravelon::cli::testing {

// The value of the first field called `name` in `json`: a string without its
// quotes and escapes, or the bare text of a number, true, false or null; ""
// when there is none. Enough for the ASCII texts the tests' scripts return
// (not a regex: a screenshot's value is too long for one).
inline std::string JsonField(std::string_view json, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\"";
  size_t at = json.find(key);
  if (at != json.npos) at = json.find_first_not_of(" \t\r\n:", at + key.size());
  if (at == json.npos) return "";
  if (json[at] != '"') return std::string(json.substr(at, json.find_first_of(",}] \r\n", at) - at));
  std::string text;
  for (size_t i = at + 1; i < json.size() && json[i] != '"'; ++i)
    text += json[i] == '\\' ? json[++i] : json[i];
  return text;
}

class BrowserSession {
 public:
  // Starts chromedriver on a port of its choosing and opens a headless
  // browser of `width` x `height`. Ready() tells whether it worked, Failure()
  // why not.
  BrowserSession(int width, int height) {
    if (!driver_.Started() || !driver_.WaitForOutput("started successfully on port", kStart)) {
      failure_ = "chromedriver did not start: " + driver_.Out();
      return;
    }
    std::smatch port;
    const std::string out = driver_.Out();
    std::regex_search(out, port, std::regex("started successfully on port ([0-9]+)"));
    http_.emplace("127.0.0.1", std::stoi(port[1]));
    http_->set_read_timeout(kStart);
    const std::string answer =
        Send("POST", "/session",
             R"({"capabilities": {"alwaysMatch": {"goog:chromeOptions": {"args": ["--headless=new",
                 "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=)" +
                 std::to_string(width) + "," + std::to_string(height) + "\"]}}}}");
    session_ = JsonField(answer, "sessionId");
    if (session_.empty()) failure_ = "no browser session: " + answer;
  }
  // The session's end closes the browser; chromedriver is killed after it.
  ~BrowserSession() {
    if (!session_.empty()) Send("DELETE", "/session/" + session_, "");
  }

  // False when chromedriver is not on PATH at all.
  bool Installed() const { return driver_.Started(); }
  bool Ready() const { return !session_.empty(); }
  const std::string& Failure() const { return failure_; }

  // Loads `url`; an error's message, or "" once the page has loaded.
  std::string Open(const std::string& url) {
    const std::string answer = Command("POST", "url", "{\"url\": " + JsonString(url) + "}");
    return JsonField(answer, "error").empty() ? "" : answer;
  }

  // Runs `script` (a function body) in the page and gives what it returned,
  // as text; a script error gives "error: " and the message.
  std::string Run(const std::string& script) {
    const std::string answer =
        Command("POST", "execute/sync", "{\"script\": " + JsonString(script) + ", \"args\": []}");
    if (JsonField(answer, "error").empty()) return JsonField(answer, "value");
    return "error: " + JsonField(answer, "message");
  }

  // Runs `script` every 100 ms until `done` accepts what it returned or
  // `limit` passes; gives what it returned last.
  std::string RunUntil(const std::string& script,
                       const std::function<bool(const std::string&)>& done,
                       std::chrono::milliseconds limit) {
    std::string answer;
    PollUntil([&] { return done(answer = Run(script)); }, limit, std::chrono::milliseconds(100));
    return answer;
  }

  // The browser's window as PNG bytes; "" when it could not be taken.
  std::string ScreenshotPng() {
    return DecodeBase64(JsonField(Command("GET", "screenshot", ""), "value")).value_or("");
  }

 private:
  static constexpr std::chrono::seconds kStart{20};

  std::string Command(const std::string& method, const std::string& what, const std::string& body) {
    return Send(method, "/session/" + session_ + "/" + what, body);
  }

  // The body of chromedriver's answer, or a JSON error of our own when no
  // answer came.
  std::string Send(const std::string& method, const std::string& path, const std::string& body) {
    if (!http_) return R"({"value": {"error": "no chromedriver"}})";
    const httplib::Result result = method == "GET"    ? http_->Get(path)
                                   : method == "POST" ? http_->Post(path, body, "application/json")
                                                      : http_->Delete(path);
    return result ? result->body
                  : R"({"value": {"error": ")" + httplib::to_string(result.error()) + "\"}}";
  }

  CommandProcess driver_{{"--port=0"}, "", "chromedriver"};
  std::optional<httplib::Client> http_;
  std::string session_;
  std::string failure_;
};

}  // namespace ravelon::cli::testing
