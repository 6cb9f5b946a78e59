// The page kestrova serve hands to the browser: everything in one document, so nothing is
// installed beside the tool and nothing is fetched from elsewhere.
#include <string>

#include "tools/serve/serve_games.h"

namespace kestrova::serve {

const std::string& PageHtml() {
  static const std::string page = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Kestrova</title>
<style>
  :root { --wood: #e3b96b; --line: #5a4220; --ink: #222; --muted: #666; }
  * { box-sizing: border-box; }
  body { margin: 0; font: 15px/1.4 system-ui, sans-serif; color: var(--ink); background: #f5f2ea; }
  header { padding: 10px 18px; background: #2e2a24; color: #f5f2ea; display: flex;
           align-items: baseline; gap: 16px; }
  header h1 { font-size: 20px; margin: 0; }
  header #players { color: #cfc6b4; }
  main { display: flex; flex-wrap: wrap; gap: 18px; padding: 16px 18px; align-items: flex-start; }
  #boardBox { flex: 0 1 640px; min-width: 280px; }
  #status { font-size: 16px; min-height: 1.5em; margin-bottom: 8px; font-weight: 600; }
  #status.wait { color: #8a5a00; }
  #status.over { color: #9b1c1c; }
  #board { width: 100%; height: auto; display: block; background: var(--wood); border-radius: 6px;
           box-shadow: 0 2px 8px rgba(0,0,0,.25); outline: none; }
  #board:focus-visible { box-shadow: 0 0 0 3px #3b82f6; }
  #board .grid line { stroke: var(--line); stroke-width: 1; }
  #board .coord { font: 11px system-ui, sans-serif; fill: var(--line); text-anchor: middle;
                  dominant-baseline: central; }
  #board .cell { fill: transparent; cursor: pointer; }
  #board.waiting .cell, #board.done .cell { cursor: not-allowed; }
  #board .black { fill: #1d1d1d; }
  #board .white { fill: #fafafa; stroke: #555; stroke-width: 1; }
  #board .last { fill: #e03131; pointer-events: none; }
  #board .five { fill: none; stroke: #f59f00; stroke-width: 3; pointer-events: none; }
  #board .fiveLine { stroke: #f59f00; stroke-width: 4; stroke-linecap: round; opacity: .8;
                     pointer-events: none; }
  #board .cursor { fill: none; stroke: #3b82f6; stroke-width: 2; pointer-events: none; }
  aside { flex: 1 1 240px; max-width: 340px; }
  fieldset { border: 1px solid #cdc3b0; border-radius: 6px; margin: 0 0 12px; padding: 8px 10px; }
  legend { color: var(--muted); }
  button { font: inherit; padding: 4px 12px; margin: 2px 4px 2px 0; border-radius: 4px;
           border: 1px solid #8d7d62; background: #fffaf0; cursor: pointer; }
  button:disabled { opacity: .5; cursor: default; }
  select { font: inherit; }
  #moves { margin: 0; padding-left: 2.4em; max-height: 420px; overflow-y: auto; }
  #moves li { padding: 1px 0; }
  #moves .ms { color: var(--muted); }
  .hint { color: var(--muted); font-size: 13px; }
  #busyPage { max-width: 520px; margin: 60px auto; padding: 24px; background: #fff;
              border-radius: 8px; box-shadow: 0 2px 8px rgba(0,0,0,.15); }
</style>
</head>
<body>
<header><h1>Kestrova</h1><span id="players"></span></header>
<main id="game">
  <div id="boardBox">
    <div id="status" role="status" aria-live="polite">Starting the engine…</div>
    <svg id="board" tabindex="0" aria-label="board: arrow keys move, Enter places a stone"></svg>
    <p class="hint">Click a point, or use the arrow keys and Enter.</p>
  </div>
  <aside>
    <fieldset>
      <legend>New game</legend>
      <label>Size <select id="size"></select></label>
      <label>First <select id="first"><option value="you">you</option>
        <option value="engine">engine</option></select></label>
      <div><button id="newGame">New game</button></div>
    </fieldset>
    <div><button id="takeback">Take back</button><button id="resign">Resign</button></div>
    <h3>Moves</h3>
    <ol id="moves"></ol>
  </aside>
</main>
<script>
"use strict";
const NS = "http://www.w3.org/2000/svg";
const GAP = 32, MARGIN = 34;
const $ = (id) => document.getElementById(id);
let game = null;       // the server's view of this tab's game
let waiting = "";      // why the board takes no stones just now, "" when it does
let cursor = null;     // the keyboard's point

const letter = (x) => String.fromCharCode(97 + x);
const pointName = (x, y) => letter(x) + (y + 1);
const boardSize = () => (game ? game.size : Number($("size").value));

async function api(method, path, body) {
  const options = { method, headers: {} };
  if (body !== undefined) {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body);
  }
  try {
    const response = await fetch(path, options);
    const data = await response.json().catch(() => ({ error: response.statusText }));
    return { ok: response.ok, status: response.status, data };
  } catch (e) {
    return { ok: false, status: 0, data: { error: "the server does not answer" } };
  }
}

function el(name, attributes, parent) {
  const node = document.createElementNS(NS, name);
  for (const [k, v] of Object.entries(attributes)) node.setAttribute(k, v);
  if (parent) parent.appendChild(node);
  return node;
}
const at = (i) => MARGIN + i * GAP;

function drawBoard() {
  const n = boardSize(), svg = $("board"), span = 2 * MARGIN + (n - 1) * GAP;
  svg.setAttribute("viewBox", `0 0 ${span} ${span}`);
  svg.replaceChildren();
  const grid = el("g", { class: "grid" }, svg);
  for (let i = 0; i < n; i++) {
    el("line", { x1: at(0), y1: at(i), x2: at(n - 1), y2: at(i) }, grid);
    el("line", { x1: at(i), y1: at(0), x2: at(i), y2: at(n - 1) }, grid);
    for (const [x, y, text] of [[at(i), MARGIN / 2 - 4, letter(i)],
                                [at(i), span - MARGIN / 2 + 4, letter(i)],
                                [MARGIN / 2 - 4, at(i), i + 1], [span - MARGIN / 2 + 4, at(i), i + 1]])
      el("text", { x, y, class: "coord" }, svg).textContent = text;
  }
  const moves = game ? game.moves : [];
  moves.forEach((m, k) => {
    el("circle", { cx: at(m.x), cy: at(m.y), r: GAP * 0.44, class: "stone " + m.stone,
                   "data-move": k + 1 }, svg);
  });
  if (moves.length) {
    const last = moves[moves.length - 1];
    el("circle", { cx: at(last.x), cy: at(last.y), r: GAP * 0.12, class: "last" }, svg);
  }
  const five = game ? game.five : [];
  if (five.length) {
    const [a, b] = [five[0], five[five.length - 1]];
    el("line", { x1: at(a[0]), y1: at(a[1]), x2: at(b[0]), y2: at(b[1]), class: "fiveLine" }, svg);
    for (const [x, y] of five) el("circle", { cx: at(x), cy: at(y), r: GAP * 0.47, class: "five" }, svg);
  }
  for (let y = 0; y < n; y++)
    for (let x = 0; x < n; x++) {
      el("rect", { x: at(x) - GAP / 2, y: at(y) - GAP / 2, width: GAP, height: GAP,
                   class: "cell", "data-cell": `${x},${y}` }, svg);
    }
  el("rect", { id: "cursor", width: GAP - 4, height: GAP - 4, rx: 4, class: "cursor" }, svg);
  placeCursor();
  svg.classList.toggle("waiting", waiting !== "");
  svg.classList.toggle("done", !!game && game.over);
}

// Only the cursor moves: redrawing the board under a pressed mouse button would lose the click.
function placeCursor() {
  const mark = $("cursor");
  if (!mark) return;
  const shown = cursor && document.activeElement === $("board");
  mark.style.display = shown ? "" : "none";
  if (shown) {
    mark.setAttribute("x", at(cursor.x) - GAP / 2 + 2);
    mark.setAttribute("y", at(cursor.y) - GAP / 2 + 2);
  }
}

function render(message) {
  drawBoard();
  const status = $("status");
  status.className = "";
  if (message) {
    status.textContent = message;
  } else if (waiting) {
    status.textContent = waiting;
    status.className = "wait";
  } else if (!game) {
    status.textContent = "No game: start a new one.";
  } else if (game.over) {
    // An engine's fault already says the game is over.
    status.textContent = game.result.endsWith("game over") ? game.result : "Game over: " + game.result;
    status.className = "over";
  } else {
    status.textContent = `Your move (${game.you}).`;
  }
  $("players").textContent = game
    ? `you: ${game.you} · ${game.engine}: ${game.you === "black" ? "white" : "black"} · ` +
      `${game.size}×${game.size} · ${game.turnMs / 1000} s a move`
    : "";
  const list = $("moves");
  list.replaceChildren();
  for (const m of game ? game.moves : []) {
    const item = document.createElement("li");
    item.textContent = `${pointName(m.x, m.y)} ${m.by === "you" ? "you" : game.engine}`;
    if (m.ms !== undefined) {
      const ms = document.createElement("span");
      ms.className = "ms";
      ms.textContent = ` ${(m.ms / 1000).toFixed(1)} s`;
      item.appendChild(ms);
    }
    list.appendChild(item);
  }
  list.scrollTop = list.scrollHeight;
  const idle = !!game && !waiting;
  $("takeback").disabled = !idle || !game.moves.some((m) => m.by === "you");
  $("resign").disabled = !idle || game.over;
  $("newGame").disabled = waiting !== "";
}

function thinking() {
  return `${game ? game.engine : "The engine"} is thinking… the board waits for its move.`;
}

// A reply that is not the game: say why, and forget a game the server no longer has.
function refused(reply) {
  if (reply.status === 404) game = null;
  render(reply.data.error || "the server refused");
}

async function play(x, y) {
  if (waiting || !game || game.over || game.turn !== "you") return;
  if (game.moves.some((m) => m.x === x && m.y === y)) return render(`${pointName(x, y)} is taken.`);
  game.moves.push({ x, y, stone: game.you, by: "you" });  // shown at once, confirmed below
  waiting = thinking();
  render();
  const reply = await api("POST", `/api/games/${game.id}/move`, { x, y });
  waiting = "";
  if (reply.ok) {
    game = reply.data;
    render();
  } else {
    if (game) game.moves.pop();
    refused(reply);
  }
}

async function simple(action) {
  if (waiting || !game) return;
  const reply = await api("POST", `/api/games/${game.id}/${action}`);
  if (reply.ok) {
    game = reply.data;
    render();
  } else {
    refused(reply);
  }
}

function showBusy(message) {
  document.title = "Kestrova: busy";
  $("game").replaceChildren();
  const page = document.createElement("div");
  page.id = "busyPage";
  page.innerHTML = "<h2>All games are taken</h2><p></p><button>Try again</button>";
  page.querySelector("p").textContent = message;
  page.querySelector("button").addEventListener("click", () => location.reload());
  $("game").appendChild(page);
}

async function newGame(withChoices) {
  if (waiting) return;
  if (game) api("DELETE", `/api/games/${game.id}`);
  const first = $("first").value;
  game = null;
  waiting = first === "engine" ? "Starting the engine; it moves first…" : "Starting the engine…";
  render();
  const reply = await api("POST", "/api/games",
                          withChoices ? { size: Number($("size").value), first } : {});
  waiting = "";
  if (reply.status === 503) return showBusy(reply.data.error);
  if (!reply.ok) return render(reply.data.error || "the engine did not start");
  game = reply.data;
  $("size").value = game.size;
  render();
}

function onKey(event) {
  const n = boardSize();
  const steps = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  if (!cursor) cursor = { x: n >> 1, y: n >> 1 };
  if (steps[event.key]) {
    const [dx, dy] = steps[event.key];
    cursor = { x: Math.min(n - 1, Math.max(0, cursor.x + dx)),
               y: Math.min(n - 1, Math.max(0, cursor.y + dy)) };
    placeCursor();
  } else if (event.key === "Enter" || event.key === " ") {
    play(cursor.x, cursor.y);
  } else {
    return;
  }
  event.preventDefault();
}

for (let n = 5; n <= 20; n++) $("size").add(new Option(`${n}×${n}`, n));
$("size").value = 20;
$("board").addEventListener("click", (event) => {
  const cell = event.target.closest("[data-cell]");
  if (!cell) return;
  const [x, y] = cell.dataset.cell.split(",").map(Number);
  cursor = { x, y };
  play(x, y);
});
$("board").addEventListener("keydown", onKey);
$("board").addEventListener("focus", placeCursor);
$("board").addEventListener("blur", placeCursor);
$("newGame").addEventListener("click", () => newGame(true));
$("takeback").addEventListener("click", () => simple("takeback"));
$("resign").addEventListener("click", () => simple("resign"));
// The server ends a game nobody asks about for ten minutes: an open tab keeps its game.
setInterval(async () => {
  if (!game || waiting) return;
  const reply = await api("GET", `/api/games/${game.id}`);
  if (reply.status === 404) refused(reply);
}, 60000);
window.addEventListener("pagehide", () => {
  if (game) fetch(`/api/games/${game.id}`, { method: "DELETE", keepalive: true });
});
newGame(false);
</script>
</body>
</html>
)PAGE";
  return page;
}

}  // namespace kestrova::serve
