// Headless Chromium driven from end-to-end tests: a chromedriver process and
// one browser session spoken to over the WebDriver HTTP/JSON protocol. The
// answers are read with a small field extractor, enough for the strings and
// numbers the tests' scripts return. Ends the browser and chromedriver when
// destroyed, whatever the test found. Owned by one test; one thread.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "cli/json_text.h"
#include "tests/command_process.h"
#include "web/web_login.h"

namespace ravelon::cli::testing {

// The value of the first field called `name` in `json`: a string without its
// quotes and escapes, or the bare text of a number, true, false or null.
// Nested objects and arrays are not taken apart; nullopt when not found.
// Of the escapes, \n is a line feed and any other gives the character after
// the backslash: the tests' scripts return ASCII text of lines.
inline std::optional<std::string> JsonField(std::string_view json, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\"";
  size_t at = json.find(key);
  if (at == json.npos) return std::nullopt;
  at = json.find_first_not_of(" \t\r\n:", at + key.size());
  if (at == json.npos) return std::nullopt;
  if (json[at] != '"') {
    const size_t end = json.find_first_of(",}] \r\n", at);
    return std::string(json.substr(at, end == json.npos ? json.npos : end - at));
  }
  std::string text;
  for (size_t i = at + 1; i < json.size(); ++i) {
    if (json[i] == '"') return text;
    const bool escaped = json[i] == '\\' && i + 1 < json.size();
    if (escaped) ++i;
    text += escaped && json[i] == 'n' ? '\n' : json[i];
  }
  return std::nullopt;  // the string never ended
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
    const std::string args =
        "[\"--headless=new\", \"--no-sandbox\", \"--disable-gpu\", "
        "\"--disable-dev-shm-usage\", \"--window-size=" +
        std::to_string(width) + "," + std::to_string(height) + "\"]";
    const std::string answer = Send(
        "POST", "/session",
        R"({"capabilities": {"alwaysMatch": {"goog:chromeOptions": {"args": )" + args + "}}}}");
    session_ = JsonField(answer, "sessionId").value_or("");
    if (session_.empty()) failure_ = "no browser session: " + answer;
  }
  // The session's end closes the browser; chromedriver is killed after it.
  ~BrowserSession() {
    if (!session_.empty()) Send("DELETE", "/session/" + session_, "");
  }
  BrowserSession(const BrowserSession&) = delete;
  BrowserSession& operator=(const BrowserSession&) = delete;

  // False when chromedriver is not on PATH at all.
  bool Installed() const { return driver_.Started(); }
  bool Ready() const { return !session_.empty(); }
  const std::string& Failure() const { return failure_; }

  // Loads `url`; an error's message, or "" once the page has loaded.
  std::string Open(const std::string& url) {
    const std::string answer = Command("POST", "url", "{\"url\": " + JsonString(url) + "}");
    return JsonField(answer, "error") ? answer : "";
  }

  // Runs `script` (a function body) in the page and gives what it returned,
  // as text; a script error gives "error: " and the message.
  std::string Run(const std::string& script) {
    const std::string answer =
        Command("POST", "execute/sync", "{\"script\": " + JsonString(script) + ", \"args\": []}");
    if (JsonField(answer, "error"))
      return "error: " + JsonField(answer, "message").value_or(answer);
    return JsonField(answer, "value").value_or("");
  }

  // The browser's window as PNG bytes; "" when it could not be taken.
  std::string ScreenshotPng() {
    const std::string answer = Command("GET", "screenshot", "");
    return JsonField(answer, "error")
               ? ""
               : DecodeBase64(JsonField(answer, "value").value_or("")).value_or("");
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
    const httplib::Result result = method == "GET" ? http_->Get(path.c_str())
                                   : method == "POST"
                                       ? http_->Post(path.c_str(), body, "application/json")
                                       : http_->Delete(path.c_str());
    if (!result) {
      return R"({"value": {"error": "no answer", "message": ")" +
             httplib::to_string(result.error()) + "\"}}";
    }
    return result->body;
  }

  CommandProcess driver_{{"--port=0"}, "", "chromedriver"};
  std::optional<httplib::Client> http_;
  std::string session_;
  std::string failure_;
};

}  // namespace ravelon::cli::testing
