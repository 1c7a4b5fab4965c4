// The zl serve page: one websocket for the server's state and the tag
// values (coalesced by the server: each message holds every tag's latest
// change since the last one), plain requests for everything else.
//
// Every value shown comes from the server attached now: the state names its
// attachment (session); a new one (a server started again, another
// database), and a new link to zl serve (zl serve started again), drop every
// value and trend point and read the table afresh. Within a session a tag's
// value is its latest change, or the table's reading where no change came
// since that reading was asked for (a tag that does not change).
"use strict";

const $ = (sel) => document.querySelector(sel);
const TREND_WINDOW_S = 120;     // how much history a trend shows
const TREND_SAMPLE_MS = 250;    // how often a trend takes a point
const TABLE_REFRESH_MS = 5000;  // mode and force of the shown rows
const FILES_REFRESH_MS = 5000;  // the folder's files and their runs
const COLORS = ["#1565c0", "#c62828", "#2e7d32", "#ef6c00", "#6a1b9a", "#00838f",
                "#5d4037", "#ad1457"];

const latest = new Map();       // tag -> {value, mode, seq}: every value of this session
const units = new Map();        // tag -> unit, from the table
const chosen = [];              // tags trended, in the order ticked
let trend = null;               // {plot, tags, times, columns}
let logSetPlot = null;          // the plot of the log set shown, if any
let serverState = {};
let runs = [];                  // the runs of zl run processes (their state)
let session = null;             // the server's attachment the values belong to
let valuesSeq = 0;              // value messages received so far
let generation = 0;             // resets so far: a table read of an older one is dropped

// --- helpers -------------------------------------------------------------

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  for (const c of children) e.append(c);
  return e;
}

function fmt(v) {
  if (typeof v !== "number") return String(v);
  return String(+v.toPrecision(6));
}

// A request of the page's own; its JSON answer. A refusal of access (zl
// serve started again: a new token) shows the banner that says what to do.
async function request(path, options) {
  const r = await fetch(path, options);
  if (r.status === 403 || r.status === 421) denied();
  return r.json();
}

const get = (path) => request(path);
const post = (path, body) => request(path, {
  method: "POST", headers: {"Content-Type": "application/json"}, body: JSON.stringify(body)});

function denied() {
  $("#denied").hidden = false;
}

function status(node, ok, text) {
  node.textContent = text;
  node.classList.toggle("bad", !ok);
}

// --- live link -----------------------------------------------------------

function connect() {
  const ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") +
                           location.host + "/ws");
  ws.onopen = () => {
    status($("#link"), true, "live");
    session = null;  // whatever zl serve this is: its first state starts afresh
  };
  ws.onmessage = (event) => {
    const m = JSON.parse(event.data);
    if (m.type === "values") showValues(m.values);
    else if (m.type === "state") showState(m);
    else if (m.type === "runs") showRuns(m.runs);
  };
  ws.onclose = () => {
    status($("#link"), false, "view disconnected");
    status($("#server"), false, "server: unknown");
    serverState = {...serverState, connected: false};
    $("#tags").classList.add("stale");
    // Refused rather than gone: the page's token is no longer zl serve's.
    fetch("api/runs").then((r) => { if (r.status === 403 || r.status === 421) denied(); },
                           () => {});
    setTimeout(connect, 1000);
  };
}

function showValues(values) {
  valuesSeq += 1;
  for (const [tag, [value, mode]] of Object.entries(values)) {
    latest.set(tag, {value, mode: mode ? "Manual" : "Auto", seq: valuesSeq});
    showValue(tag);
  }
}

// Shows a tag's latest value and mode in its row of the table, if any.
function showValue(tag) {
  const seen = latest.get(tag);
  const row = document.querySelector(`#tags tr[data-tag="${CSS.escape(tag)}"]`);
  if (!row || !seen) return;
  row.querySelector(".value").textContent = fmt(seen.value);
  row.querySelector(".mode").textContent = seen.mode;
}

// Drops every value and trend point of the server before, and reads the
// table of the server attached now.
function startSession(s) {
  session = s.session;
  generation += 1;
  latest.clear();
  buildTrend();
  searchTags();
}

let lastChanges = null;          // [count, time] of the last state

function showState(s) {
  serverState = s;
  $("#tags").classList.toggle("stale", !s.connected);
  if (s.connected && s.session !== session) startSession(s);
  const now = Date.now() / 1000;
  const rate = lastChanges && now > lastChanges[1]
    ? (s.changes - lastChanges[0]) / (now - lastChanges[1]) : 0;
  lastChanges = [s.changes, now];
  status($("#server"), s.connected, s.connected ? "server: connected"
    : s.stalled ? "server: not answering" : "server: disconnected");
  const select = $("#databases");
  const names = s.databases && s.databases.length ? s.databases : [s.database];
  if (select.dataset.names !== names.join(",") || select.value !== s.database) {
    select.replaceChildren(...names.map((n) => el("option", {value: n, textContent: n})));
    select.dataset.names = names.join(",");
    select.value = s.database;
  }
  $("#simstate").textContent = s.connected
    ? `${s.running ? "running" : "paused"} · cycle ${fmt(s.cycle)} s · warp ${fmt(s.warp)}` +
      ` · sim time ${s.elapsed} s · ${Math.round(rate)} changes/s`
    : "";
  showScenarios();
  showQuestions();
  document.dispatchEvent(new CustomEvent("zl-state", {detail: s}));  // for the editor
}

// --- server state --------------------------------------------------------

$("#pause").onclick = () => post("api/sim", {running: false});
$("#run").onclick = () => post("api/sim", {running: true});
$("#databases").onchange = (e) => post("api/connect", {database: e.target.value});

// --- tag table -----------------------------------------------------------

// Reads the table. A row's reading becomes the tag's value unless a change
// of the tag came after the reading was asked for (that change is newer).
async function searchTags() {
  const pattern = $("#pattern").value;
  const asked = valuesSeq;
  const reset = generation;
  const r = await get("api/tags?pattern=" + encodeURIComponent(pattern));
  if (reset !== generation || !r.rows) return;  // read from a server before
  for (const t of r.rows) {
    const seen = latest.get(t.tag);
    if (!seen || seen.seq <= asked) latest.set(t.tag, {value: t.value, mode: t.mode, seq: asked});
  }
  const body = $("#tags tbody");
  body.replaceChildren(...r.rows.map(tagRow));
  $("#tagcount").textContent = `${r.rows.length} tag(s)` + (r.more ? `, ${r.more} more` : "");
}

function tagRow(t) {
  units.set(t.tag, t.unit);
  const seen = latest.get(t.tag);
  const box = el("input", {type: "checkbox", checked: chosen.includes(t.tag)});
  box.onchange = () => choose(t.tag, box.checked);
  const modeBtn = el("button", {textContent: t.mode === "Auto" ? "Manual" : "Auto"});
  modeBtn.onclick = () => act(t.tag, t.mode === "Auto" ? "manual" : "auto");
  const forceBtn = el("button", {textContent: t.forced ? "Unforce" : "Force"});
  forceBtn.onclick = () => act(t.tag, t.forced ? "unforce" : "force");
  const setBtn = el("button", {textContent: "Set…", className: "set"});
  setBtn.onclick = () => { $("#set-tag").value = t.tag; $("#set-value").focus(); };
  const row = el("tr", {},
    el("td", {}, box), el("td", {textContent: t.tag, className: "tag"}),
    el("td", {textContent: fmt(seen.value), className: "num value"}),
    el("td", {textContent: t.unit}), el("td", {textContent: seen.mode, className: "mode"}),
    el("td", {textContent: t.forced ? "forced" : "", className: "forced"}),
    el("td", {textContent: t.type}), el("td", {}, modeBtn, forceBtn, setBtn));
  row.dataset.tag = t.tag;
  return row;
}

async function act(tag, op, value) {
  await post("api/tag", {tag, op, value});
  searchTags();
}

$("#search").onsubmit = (e) => { e.preventDefault(); searchTags(); };
{
  const form = el("form", {id: "set"}, "set ", el("input", {id: "set-tag", size: 16}), " = ",
                  el("input", {id: "set-value", size: 8}), el("button", {textContent: "Set"}));
  form.onsubmit = (e) => {
    e.preventDefault();
    act($("#set-tag").value, "set", $("#set-value").value);
  };
  $("#search").after(form);
}
setInterval(() => { if (serverState.connected) searchTags(); }, TABLE_REFRESH_MS);

// --- trends --------------------------------------------------------------

function choose(tag, on) {
  const i = chosen.indexOf(tag);
  if (on && i < 0) chosen.push(tag);
  if (!on && i >= 0) chosen.splice(i, 1);
  buildTrend();
}

const tickText = (u, ticks) => ticks.map(fmt);

// Plots are as wide as their panel, also after the window changed its size.
const plotWidth = (host) => Math.max(240, host.clientWidth || 560);
window.addEventListener("resize", () => {
  if (trend) trend.plot.setSize({width: plotWidth($("#trend")), height: 300});
  if (logSetPlot) logSetPlot.setSize({width: plotWidth($("#file-view")), height: 280});
});

// One scale and axis per unit, so tags of different ranges stay readable.
function buildTrend() {
  const host = $("#trend");
  if (trend) trend.plot.destroy();
  trend = null;
  $("#trend-hint").hidden = chosen.length > 0;
  if (!chosen.length) return;
  const scaleOf = (tag) => "u:" + (units.get(tag) || tag);
  const scales = [...new Set(chosen.map(scaleOf))];
  const opts = {
    width: plotWidth(host), height: 300,
    scales: {x: {time: true}},
    series: [{}, ...chosen.map((tag, i) => ({
      label: tag + (units.get(tag) ? ` (${units.get(tag)})` : ""),
      stroke: COLORS[i % COLORS.length], scale: scaleOf(tag), width: 1.5}))],
    axes: [{}, ...scales.map((s, i) => ({
      scale: s, side: i % 2 ? 1 : 3, label: s.slice(2), values: tickText,
      stroke: COLORS[chosen.findIndex(
        (t) => scaleOf(t) === s) % COLORS.length], grid: {show: i === 0}}))],
  };
  trend = {tags: chosen.slice(), times: [], columns: chosen.map(() => [])};
  trend.plot = new uPlot(opts, [trend.times, ...trend.columns], host);
}

setInterval(() => {
  if (!trend) return;
  const now = Date.now() / 1000;
  trend.times.push(now);
  trend.tags.forEach((tag, i) => {
    const v = serverState.connected ? latest.get(tag) : null;  // no server: a gap
    trend.columns[i].push(v && Number.isFinite(v.value) ? v.value : null);
  });
  while (trend.times.length && trend.times[0] < now - TREND_WINDOW_S) {
    trend.times.shift();
    trend.columns.forEach((c) => c.shift());
  }
  trend.plot.setData([trend.times, ...trend.columns]);
}, TREND_SAMPLE_MS);

// --- scenarios and questions ---------------------------------------------

$("#start").onsubmit = async (e) => {
  e.preventDefault();
  const r = await post("api/scenario/start",
                       {file: $("#scenario-file").value, arguments: $("#scenario-args").value});
  $("#start-result").textContent = r.id > 0 ? `started as ${r.id}` : (r.error || "did not start");
};

function showRuns(list) {
  runs = list;
  showScenarios();
  showQuestions();
}

// The scenarios started from the page (run by zl serve itself), then the
// runs of zl run (each marked with its process and database; "run" names
// its process in requests about it).
function showScenarios() {
  const own = (serverState.scenarios || []).map((s) => ({...s, from: "zl serve"}));
  const others = runs.map((r) => ({...r, file: r.scenario, run: r.pid,
                                    from: `zl run ${r.pid} · ${r.database}`}));
  $("#scenarios tbody").replaceChildren(...own.concat(others).map((s) => {
    const stop = el("button", {textContent: "Stop", className: "stop"});
    stop.onclick = () => post("api/scenario/stop", {id: s.id, run: s.run});
    const row = el("tr", {},
      el("td", {textContent: s.id}), el("td", {textContent: s.from, className: "from"}),
      el("td", {textContent: s.file, className: "text"}),
      el("td", {textContent: s.line, className: "num"}),
      el("td", {textContent: `${s.verifies} (${s.failedVerifies} failed)`}),
      el("td", {textContent: `${s.monitorChecks} (${s.failedMonitorChecks} failed)`}),
      el("td", {textContent: s.errors, className: "num"}),
      el("td", {textContent: s.question, className: "text"}), el("td", {}, stop));
    row.dataset.id = s.id;
    if (s.run) row.dataset.run = s.run;
    // Its failure and error lines so far, each at its scenario line.
    const reported = (s.reported || []).map((r) =>
      el("li", {className: r.level === "ERROR" ? "error" : "failure",
                textContent: `${r.where}: ${r.text}`}));
    if (s.moreReported) reported.push(el("li", {textContent: `... ${s.moreReported} more`}));
    if (!reported.length) return [row];
    return [row, el("tr", {className: "reported"},
                    el("td", {colSpan: row.children.length}, el("ul", {}, ...reported)))];
  }).flat());
}

const shownQuestions = new Set();

function showQuestions() {
  const list = (serverState.questions || []).concat(
    runs.filter((r) => r.asked).map((r) => ({...r.asked, run: r.pid})));
  const keys = new Set(list.map((q) => `${q.run || ""}/${q.sid}/${q.number}`));
  if (keys.size === shownQuestions.size && [...keys].every((k) => shownQuestions.has(k))) return;
  shownQuestions.clear();
  keys.forEach((k) => shownQuestions.add(k));
  $("#questions").replaceChildren(...list.map((q) => {
    const answer = (text) => post("api/answer", {sid: q.sid, number: q.number, answer: text,
                                                 run: q.run});
    const text = el("input", {placeholder: "answer", size: 14, className: "answer-text"});
    const box = el("div", {className: "question"},
      el("b", {textContent: `Scenario ${q.sid} (${q.file}` +
                            (q.run ? `, zl run ${q.run}` : "") + `) asks: ${q.text}`}),
      el("button", {textContent: "Yes", className: "yes", onclick: () => answer("Yes")}), " ",
      el("button", {textContent: "No", className: "no", onclick: () => answer("No")}), " ",
      text, el("button", {textContent: "Answer", className: "send",
                          onclick: () => answer(text.value)}));
    box.dataset.sid = q.sid;
    if (q.run) box.dataset.run = q.run;
    return box;
  }));
}

// --- files ---------------------------------------------------------------

async function listFiles() {
  const r = await get("api/files");
  $("#folder").textContent = r.folder;
  const scenarios = r.files.filter((f) => f.kind === "scenario");
  const select = $("#scenario-file");
  const keep = select.value;
  select.replaceChildren(...scenarios.map((f) => el("option", {value: f.name,
                                                              textContent: f.name})));
  if (scenarios.some((f) => f.name === keep)) select.value = keep;
  document.dispatchEvent(new CustomEvent("zl-files", {detail: r.files}));  // for the editor
  $("#files tbody").replaceChildren(...r.files.filter((f) => f.kind !== "scenario").map((f) => {
    const row = el("tr", {},
      el("td", {textContent: f.name, className: "text"}), el("td", {textContent: f.kind}),
      el("td", {textContent: (f.verdict || "") + (f.kind === "testlog" && f.verdict
                  ? ` · ${f.checks} checks, ${f.failures} failed, ${f.errors} errors` : ""),
                className: f.verdict || ""}),
      el("td", {textContent: f.size, className: "num"}), el("td", {}, viewer(f)));
    row.dataset.name = f.name;
    return row;
  }));
}

// A test log's report opens in a tab of its own (a whole page, sandboxed);
// a log set's plot shows below the table.
function viewer(f) {
  const q = "?file=" + encodeURIComponent(f.name);
  if (f.kind === "testlog") {
    return el("a", {href: "api/report" + q, target: "_blank", rel: "noopener",
                    textContent: "Report", className: "view"});
  }
  const view = el("button", {textContent: "View", className: "view"});
  view.onclick = () => viewLogSet(f, q);
  return view;
}

async function viewLogSet(f, q) {
  const host = $("#file-view");
  const r = await get("api/logset" + q);
  const csv = el("a", {href: "api/logset.csv" + q, textContent: "CSV", download: ""});
  const chart = el("div");
  if (logSetPlot) logSetPlot.destroy();
  logSetPlot = null;
  host.replaceChildren(el("p", {}, `${f.name}: ${r.tags.length} tag(s) `, csv,
                          r.error ? ` (damaged: ${r.error})` : ""), chart);
  if (!r.time || !r.time.length) return;
  const num = (v) => (typeof v === "number" ? v : null);
  logSetPlot = new uPlot({
    width: plotWidth(host), height: 280,
    scales: {x: {time: false}},
    series: [{label: "s"}, ...r.tags.map((t, i) => ({
      label: t, stroke: COLORS[i % COLORS.length], scale: "t" + i, width: 1.5}))],
    axes: [{label: "time (s)"}, ...r.tags.slice(0, 2).map((t, i) => ({
      scale: "t" + i, side: i ? 1 : 3, stroke: COLORS[i], label: t, values: tickText}))],
  }, [r.time, ...r.tags.map((t) => r.values[t].map(num))], chart);
}

$("#refresh-files").onclick = listFiles;
setInterval(listFiles, FILES_REFRESH_MS);  // runs of other processes move too

connect();
searchTags();
listFiles();
