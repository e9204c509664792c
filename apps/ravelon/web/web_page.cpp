#include "web/web_page.h"

namespace ravelon::cli {

const std::string& WebPageHtml() {
  static const std::string kPage = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Ravelon</title>
<style>
  body { font: 14px system-ui, sans-serif; margin: 0; background: #15181c; color: #e4e6ea; }
  header { display: flex; justify-content: space-between; padding: 8px 16px; background: #1f2329; }
  h1 { font-size: 18px; margin: 0; }
  main { display: grid; grid-template-columns: minmax(0, 3fr) minmax(220px, 1fr); gap: 16px; padding: 16px; }
  #viewer h2 { font-size: 16px; margin: 0 0 8px; }
  #live { width: 100%; height: 60vh; background: #000; object-fit: contain; display: block; }
  #controls { display: flex; gap: 12px; align-items: center; margin: 8px 0; flex-wrap: wrap; }
  #controls a, #controls button { color: #9cf; }
  #timeline { position: relative; height: 36px; background: #2a2f36; cursor: crosshair; }
  #timeline .span { position: absolute; top: 4px; bottom: 4px; background: #3a9d5d; min-width: 2px; }
  #timeline .chosen { position: absolute; top: 0; bottom: 0; width: 2px; background: #fc3; }
  #hours { display: flex; justify-content: space-between; font-size: 11px; color: #99a; }
  #sources { display: grid; gap: 12px; align-content: start; }
  .source { background: #1f2329; padding: 8px; cursor: pointer; border: 2px solid transparent; }
  .source.selected { border-color: #9cf; }
  .source img { width: 100%; aspect-ratio: 4 / 3; object-fit: cover; background: #000; }
  .source .name { font-weight: 600; }
  .source .error { color: #f88; font-size: 12px; overflow-wrap: anywhere; }
  .state-receiving { color: #6d6; }
</style>
</head>
<body>
<header><h1>Ravelon</h1><span id="now"></span></header>
<main>
  <section id="viewer">
    <h2 id="title">No source</h2>
    <img id="live" alt="">
    <div id="controls">
      <button id="go-live" type="button">Live</button>
      <label>Day <input id="day" type="date"></label>
      <span id="range"></span>
      <span id="downloads" hidden>Download <a id="download">pictures (.mjpg)</a>
        <a id="download-files">files (.tar)</a></span>
    </div>
    <div id="timeline" title="Click a recorded span to play it from there"></div>
    <div id="hours"><span>00</span><span>06</span><span>12</span><span>18</span><span>24</span></div>
  </section>
  <section id="sources"></section>
</main>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const cards = new Map();
let selected = null, spans = [], serverDay = "", tick = 0;

const sourcePath = (name, rest) => "/sources/" + encodeURIComponent(name) + "/" + rest;
const secondsOfDay = (stamp) => {
  const [h, m, s] = stamp.slice(11).split(":");
  return Number(h) * 3600 + Number(m) * 60 + Number(s);
};
const stampAt = (day, seconds) => {
  const two = (n) => String(Math.floor(n)).padStart(2, "0");
  return day + " " + two(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
};

function card(name) {
  if (cards.has(name)) return cards.get(name);
  const c = document.createElement("div");
  c.className = "source";
  c.dataset.name = name;
  c.innerHTML = '<img class="thumb" alt=""><div class="name"></div><div class="state"></div>' +
                '<div class="rates"></div><div class="error"></div>';
  c.querySelector(".name").textContent = name;
  c.onclick = () => select(name);
  $("sources").appendChild(c);
  cards.set(name, c);
  return c;
}

async function refreshStatus() {
  try {
    const status = await (await fetch("/api/status", {cache: "no-store"})).json();
    $("now").textContent = status.now;
    serverDay = status.now.slice(0, 10);
    if (!$("day").value) $("day").value = serverDay;
    for (const s of status.sources) {
      const c = card(s.name);
      c.querySelector(".state").textContent = s.state;
      c.querySelector(".state").className = "state state-" + s.state.replace(/ /g, "-");
      c.querySelector(".rates").textContent =
          s.packets_per_second.toFixed(1) + " frames/s, " + s.saves_per_second.toFixed(1) +
          " saves/s, " + s.queued + " queued";
      c.querySelector(".error").textContent = s.last_error;
      if (tick % 2 === 0) c.querySelector(".thumb").src = sourcePath(s.name, "latest.jpg?n=" + tick);
    }
    if (!selected && status.sources.length) select(status.sources[0].name);
    if (tick % 10 === 0 && $("day").value === serverDay) loadTimeline();
  } catch (e) {
    $("now").textContent = "no answer from the recorder";
  }
  tick++;
}

function select(name) {
  selected = name;
  for (const [n, c] of cards) c.classList.toggle("selected", n === name);
  $("title").textContent = name;
  goLive();
  loadTimeline();
}

function goLive() {
  if (!selected) return;
  $("live").src = sourcePath(selected, "live.mjpg");
  $("range").textContent = "live";
  $("downloads").hidden = true;
}

async function loadTimeline() {
  if (!selected || !$("day").value) return;
  const name = selected;
  const answer = await fetch(sourcePath(name, "timeline?day=" + $("day").value), {cache: "no-store"});
  if (!answer.ok || name !== selected) return;
  spans = (await answer.json()).spans;
  const line = $("timeline");
  line.querySelectorAll(".span").forEach((e) => e.remove());
  for (const s of spans) {
    const from = secondsOfDay(s.from), to = secondsOfDay(s.to);
    const e = document.createElement("div");
    e.className = "span";
    e.dataset.from = s.from;
    e.dataset.to = s.to;
    e.title = s.from.slice(11, 19) + " to " + s.to.slice(11, 19) + ", " + s.frames + " frames";
    e.style.left = (from / 864) + "%";
    e.style.width = ((to - from) / 864) + "%";
    line.appendChild(e);
  }
}

// A click plays from that moment to the end of the span it falls in (or the
// next span after it). A short span is a sliver of a pixel, so a click
// within two pixels of one counts as on it.
function play(event) {
  const box = $("timeline").getBoundingClientRect();
  const at = (event.clientX - box.left) / box.width * 86400;
  const slack = 2 / box.width * 86400;
  const span = spans.find((s) => secondsOfDay(s.to) + slack >= at);
  if (!selected || !span) return;
  const start = Math.min(Math.max(at, secondsOfDay(span.from)), secondsOfDay(span.to));
  const from = stampAt($("day").value, start);
  const query = "?from=" + encodeURIComponent(from) + "&to=" + encodeURIComponent(span.to);
  $("live").src = sourcePath(selected, "playback.mjpg" + query);
  $("range").textContent = from.slice(11) + " to " + span.to.slice(11, 19);
  $("download").href = sourcePath(selected, "export.mjpg" + query);
  $("download-files").href = sourcePath(selected, "export.tar" + query);
  $("downloads").hidden = false;
  let mark = $("timeline").querySelector(".chosen");
  if (!mark) {
    mark = document.createElement("div");
    mark.className = "chosen";
    $("timeline").appendChild(mark);
  }
  mark.style.left = (start / 864) + "%";
}

$("timeline").onclick = play;
$("go-live").onclick = goLive;
$("day").onchange = loadTimeline;
refreshStatus();
setInterval(refreshStatus, 1000);
</script>
</body>
</html>
)html";
  return kPage;
}

}  // namespace ravelon::cli
