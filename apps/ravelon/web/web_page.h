// The web view's one page: every source's picture and state, the chosen
// source's live stream, and its recorded spans of a day to play back or
// download. Plain HTML, CSS and script with no outside files; the page
// reads /api/status and the per-source paths of WebServer.
#pragma once

#include <string>

namespace ravelon::cli {

const std::string& WebPageHtml();

}  // namespace ravelon::cli
