// The zl serve page: one websocket for the server's state and the tag
// values (coalesced by the server: each message holds every tag's latest
// change since the last one), plain requests for everything else.
"use strict";

const $ = (sel) => document.querySelector(sel);
const TREND_WINDOW_S = 120;     // how much history a trend shows
const TREND_SAMPLE_MS = 250;    // how often a trend takes a point
const TABLE_REFRESH_MS = 5000;  // mode and force of the shown rows
const FILES_REFRESH_MS = 5000;  // the folder's files and their runs
const COLORS = ["#1565c0", "#c62828", "#2e7d32", "#ef6c00", "#6a1b9a", "#00838f",
                "#5d4037", "#ad1457"];

const latest = new Map();       // tag -> {value, mode, time}: every value seen
const units = new Map();        // tag -> unit, from the table
const chosen = [];              // tags trended, in the order ticked
let trend = null;               // {plot, tags, times, columns}
let serverState = {};
let runs = [];                  // the runs of zl run processes (their state)

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

async function post(path, body) {
  const r = await fetch(path, {method: "POST", headers: {"Content-Type": "application/json"},
                               body: JSON.stringify(body)});
  return r.json();
}

function status(node, ok, text) {
  node.textContent = text;
  node.classList.toggle("bad", !ok);
}

// --- live link -----------------------------------------------------------

function connect() {
  const ws = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") +
                           location.host + "/ws");
  ws.onopen = () => status($("#link"), true, "live");
  ws.onmessage = (event) => {
    const m = JSON.parse(event.data);
    if (m.type === "values") showValues(m.values);
    else if (m.type === "state") showState(m);
    else if (m.type === "runs") showRuns(m.runs);
  };
  ws.onclose = () => {
    status($("#link"), false, "view disconnected");
    status($("#server"), false, "server: unknown");
    setTimeout(connect, 1000);
  };
}

function showValues(values) {
  for (const [tag, [value, mode, time]] of Object.entries(values)) {
    latest.set(tag, {value, mode: mode ? "Manual" : "Auto", time});
    const row = document.querySelector(`#tags tr[data-tag="${CSS.escape(tag)}"]`);
    if (!row) continue;
    row.querySelector(".value").textContent = fmt(value);
    row.querySelector(".mode").textContent = mode ? "Manual" : "Auto";
  }
}

let lastChanges = null;          // [count, time] of the last state

function showState(s) {
  const wasConnected = serverState.connected;
  serverState = s;
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
  if (s.connected && wasConnected === false) searchTags();  // back: fresh values
}

// --- server state --------------------------------------------------------

$("#pause").onclick = () => post("api/sim", {running: false});
$("#run").onclick = () => post("api/sim", {running: true});
$("#databases").onchange = (e) => post("api/connect", {database: e.target.value});

// --- tag table -----------------------------------------------------------

async function searchTags() {
  const pattern = $("#pattern").value;
  const r = await (await fetch("api/tags?pattern=" + encodeURIComponent(pattern))).json();
  const body = $("#tags tbody");
  body.replaceChildren(...r.rows.map(tagRow));
  $("#tagcount").textContent = `${r.rows.length} tag(s)` + (r.more ? `, ${r.more} more` : "");
}

function tagRow(t) {
  units.set(t.tag, t.unit);
  const seen = latest.get(t.tag);
  const value = seen ? seen.value : t.value;
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
    el("td", {textContent: fmt(value), className: "num value"}),
    el("td", {textContent: t.unit}), el("td", {textContent: t.mode, className: "mode"}),
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
    width: Math.max(360, host.clientWidth || 560), height: 300,
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
    const v = latest.get(tag);
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
      el("td", {textContent: s.file}),
      el("td", {textContent: s.line, className: "num"}),
      el("td", {textContent: `${s.verifies} (${s.failedVerifies} failed)`}),
      el("td", {textContent: `${s.monitorChecks} (${s.failedMonitorChecks} failed)`}),
      el("td", {textContent: s.errors, className: "num"}),
      el("td", {textContent: s.question}), el("td", {}, stop));
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
  const r = await (await fetch("api/files")).json();
  $("#folder").textContent = r.folder;
  const scenarios = r.files.filter((f) => f.kind === "scenario");
  const select = $("#scenario-file");
  const keep = select.value;
  select.replaceChildren(...scenarios.map((f) => el("option", {value: f.name,
                                                              textContent: f.name})));
  if (scenarios.some((f) => f.name === keep)) select.value = keep;
  $("#files tbody").replaceChildren(...r.files.filter((f) => f.kind !== "scenario").map((f) => {
    const view = el("button", {textContent: "View", className: "view"});
    view.onclick = () => viewFile(f);
    const row = el("tr", {},
      el("td", {textContent: f.name}), el("td", {textContent: f.kind}),
      el("td", {textContent: (f.verdict || "") + (f.kind === "testlog" && f.verdict
                  ? ` · ${f.checks} checks, ${f.failures} failed, ${f.errors} errors` : ""),
                className: f.verdict || ""}),
      el("td", {textContent: f.size, className: "num"}), el("td", {}, view));
    row.dataset.name = f.name;
    return row;
  }));
}

async function viewFile(f) {
  const host = $("#file-view");
  const q = "?file=" + encodeURIComponent(f.name);
  if (f.kind === "testlog") {
    host.replaceChildren(el("iframe", {src: "api/report" + q, title: f.name}));
    return;
  }
  const r = await (await fetch("api/logset" + q)).json();
  const csv = el("a", {href: "api/logset.csv" + q, textContent: "CSV", download: ""});
  const chart = el("div");
  host.replaceChildren(el("p", {}, `${f.name}: ${r.tags.length} tag(s) `, csv,
                          r.error ? ` (damaged: ${r.error})` : ""), chart);
  if (!r.time || !r.time.length) return;
  const num = (v) => (typeof v === "number" ? v : null);
  new uPlot({
    width: Math.max(360, host.clientWidth || 560), height: 280,
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
