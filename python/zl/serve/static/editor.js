// The scenario editor of the zl serve page (CodeMirror 6, the vendored
// bundle that sets window.CM): a scenario file of the folder opened as text,
// highlighted from the keyword table zl serve sends once (the page holds no
// part of the language), checked as it is typed, completed and explained by
// zl serve (zl.authoring answers, as for zl lsp), saved (a signed file
// re-signed after the user confirms), and run, its running line and the
// lines it reported marked while it goes.
//
// Uses app.js's helpers ($, el, get, post); learns the files and the
// server's state from the events "zl-files" and "zl-state" that app.js
// dispatches on document.
"use strict";

(() => {
const CHECK_DELAY_MS = 20;   // a pause in typing this long sends the text to the check
const {EditorState, EditorView, StateEffect, StateField, Decoration, keymap, lineNumbers,
       highlightActiveLine, highlightActiveLineGutter, drawSelection, hoverTooltip,
       StreamLanguage, HighlightStyle, syntaxHighlighting, bracketMatching, tags,
       defaultKeymap, history, historyKeymap, searchKeymap, highlightSelectionMatches,
       autocompletion, completionKeymap, closeBrackets, closeBracketsKeymap, linter,
       lintGutter, lintKeymap} = window.CM;

let keywordRows = [];        // the keyword table: name, form, help, prefix, operands
let opened = null;           // {file, version, signed} of the file in the editor
let savedText = "";          // its text as last opened or saved
let followed = null;         // the id of the run of this file the editor marks
let shownMarks = "";         // the marks last shown (JSON), to redraw only on a change
let view = null;

const status = (text) => { $("#editor-status").textContent = text; };
const dirty = () => view !== null && opened !== null && view.state.doc.toString() !== savedText;

// --- the language, from the keyword table ------------------------------

// The row a line's first word runs as: the first it matches, a prefix row
// matching every word that begins with its name (as a run reads it).
function keywordOf(word) {
  const upper = word.toUpperCase();
  return keywordRows.find((k) => upper === k.name || (k.prefix && upper.startsWith(k.name)));
}

const TAG_OPERANDS = new Set(["tag", "taglist"]);
const GROUP_WORDS = new Set(["AND", "OR", "NOT"]);

// One line at a time: "#" first is a comment line, ":NAME" a label, "@FILE"
// a subtest; the first word is the keyword, whose operand shape says which
// words are tags (and labels); words in ( ) groups are tag names; $1..$8
// are the run's arguments; "..." a text.
const scenarioLanguage = StreamLanguage.define({
  name: "scenario",
  startState: () => ({word: -1, depth: 0, row: null}),
  copyState: (s) => ({...s}),
  token(stream, state) {
    if (stream.sol()) {
      Object.assign(state, {word: -1, depth: 0, row: null});
      if (stream.peek() === "#") { stream.skipToEnd(); return "comment"; }
      if (stream.peek() === ":") { stream.match(/^:\S*/); state.word = 0; return "labelName"; }
      if (stream.peek() === "@") { stream.match(/^@\S*/); state.word = 0; return "link"; }
    }
    if (stream.eatSpace()) return null;
    if (state.depth === 0 && (stream.pos === 0 || /\s/.test(stream.string[stream.pos - 1]))) {
      state.word += 1;  // a word begins (groups are part of the word they stand in)
    }
    if (stream.match(/^\$[1-8]/)) return "variableName.special";
    if (stream.peek() === "\"") {
      stream.next();
      if (stream.skipTo("\"")) stream.next(); else stream.skipToEnd();
      return "string";
    }
    if (stream.eat("(")) { state.depth += 1; return "paren"; }
    if (stream.eat(")")) { state.depth = Math.max(0, state.depth - 1); return "paren"; }
    if (state.depth > 0) {
      if (stream.match(/^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?/)) return "number";
      const name = stream.match(/^[A-Za-z_][\w.]*/);
      if (name) return GROUP_WORDS.has(name[0].toUpperCase()) ? "operatorKeyword" : "tagName";
      stream.next();
      return "operator";
    }
    const word = stream.match(/^[^\s($"]+/) || (stream.next(), [""]);
    if (state.word === 0) {
      state.row = keywordOf(word[0]) || null;
      return state.row ? "keyword" : null;
    }
    const shape = state.row ? state.row.operands : [];
    const operand = shape.length ? shape[Math.min(state.word, shape.length) - 1] : "";
    if (TAG_OPERANDS.has(operand)) return "tagName";
    if (operand === "label" || word[0].startsWith(":")) return "labelName";
    if (/^[-+]?(\d+\.?\d*|\.\d+)$/.test(word[0])) return "number";
    return null;
  },
});

const scenarioColors = HighlightStyle.define([
  {tag: tags.keyword, color: "#0d47a1", fontWeight: "bold"},
  {tag: tags.comment, color: "#6a737d", fontStyle: "italic"},
  {tag: tags.labelName, color: "#7b1fa2", fontWeight: "bold"},
  {tag: tags.tagName, color: "#00695c"},
  {tag: tags.special(tags.variableName), color: "#e65100", fontWeight: "bold"},
  {tag: tags.number, color: "#6d4c41"},
  {tag: tags.string, color: "#b71c1c"},
  {tag: tags.link, color: "#1565c0", textDecoration: "underline"},
  {tag: tags.operatorKeyword, color: "#0d47a1"},
]);

// --- what zl serve answers ---------------------------------------------

// The check's findings on the text as typed, as CodeMirror marks them (a
// finding in a subtest comes at the line that calls it, its message naming
// its place).
async function checkText(editorView) {
  if (!opened) return [];
  const doc = editorView.state.doc;
  const r = await post("api/editor/check", {file: opened.file, text: doc.toString(),
                                            arguments: $("#editor-args").value});
  if (!r.diagnostics) { status(r.error || "the check did not answer"); return []; }
  return r.diagnostics.map((d) => {
    const line = doc.line(Math.min(d.line + 1, doc.lines));
    return {from: Math.min(line.from + d.start, line.to), to: Math.min(line.from + d.end, line.to),
            severity: d.severity === "error" ? "error" : "warning", message: d.message,
            source: d.code};
  });
}

const KINDS = {keyword: "keyword", tag: "variable", label: "constant"};

// Keywords (each with its form), labels of the text, tags of the database.
async function complete(context) {
  const line = context.state.doc.lineAt(context.pos);
  const typed = context.matchBefore(/\S*/);
  if (!context.explicit && (!typed || typed.from === typed.to)) return null;
  const r = await post("api/editor/complete", {text: context.state.doc.toString(),
                                               line: line.number - 1,
                                               character: context.pos - line.from});
  if (!r.items || !r.items.length) return null;
  return {from: line.from + r.start, filter: false,
          options: r.items.map((i) => ({label: i.label, type: KINDS[i.kind], detail: i.detail,
                                        info: i.documentation || undefined}))};
}

// Help on the keyword under the pointer: its form and what it does.
const keywordHelp = hoverTooltip(async (editorView, pos) => {
  const line = editorView.state.doc.lineAt(pos);
  const r = await post("api/editor/hover", {text: editorView.state.doc.toString(),
                                            line: line.number - 1, character: pos - line.from});
  if (!r.hover) return null;
  return {pos: line.from + r.hover.start, end: line.from + r.hover.end, above: true,
          create: () => ({dom: el("div", {className: "cm-zl-help"},
                                  el("b", {textContent: r.hover.form}),
                                  el("div", {textContent: r.hover.help}))})};
});

// --- the marks of a run ------------------------------------------------

const setRunMarks = StateEffect.define();

// The running line and the lines the run reported (failures, errors), as
// line decorations that move with the text as it is edited.
const runMarks = StateField.define({
  create: () => Decoration.none,
  update(marks, tr) {
    marks = marks.map(tr.changes);
    for (const e of tr.effects) if (e.is(setRunMarks)) marks = e.value;
    return marks;
  },
  provide: (f) => EditorView.decorations.from(f),
});

function decorations(doc, running, marks) {
  const byLine = new Map();
  for (const m of marks) {
    if (m.line > doc.lines) continue;
    const seen = byLine.get(m.line) || {error: false, texts: []};
    seen.error = seen.error || m.level === "ERROR";
    seen.texts.push(m.text);
    byLine.set(m.line, seen);
  }
  const ranges = [...byLine].map(([n, m]) => Decoration.line({
    class: m.error ? "cm-zl-error" : "cm-zl-failed",
    attributes: {title: m.texts.join("\n")}}).range(doc.line(n).from));
  if (running > 0 && running <= doc.lines) {
    ranges.push(Decoration.line({class: "cm-zl-running"}).range(doc.line(running).from));
  }
  return Decoration.set(ranges, true);
}

function showRun(row, ended) {
  const running = ended ? 0 : Number(row.line) || 0;
  const key = JSON.stringify([running, row.marks]);
  if (key === shownMarks) return;
  shownMarks = key;
  view.dispatch({effects: setRunMarks.of(decorations(view.state.doc, running, row.marks))});
  $("#editor-marks").replaceChildren(...row.marks.map((m) => {
    const item = el("li", {className: m.level === "ERROR" ? "error" : "failure",
                           textContent: `line ${m.line}: ${m.text}` +
                                        (m.in ? ` (in ${m.in})` : "")});
    item.onclick = () => goTo(m.line);
    return item;
  }));
  const failed = row.marks.filter((m) => m.level !== "ERROR").length;
  const errors = row.marks.length - failed;
  $("#editor-run-state").textContent = (ended ? `run ${row.id} ended` :
    `run ${row.id} at line ${row.line || "?"}`) + ` · ${failed} failed, ${errors} error(s)`;
}

function goTo(line) {
  if (line > view.state.doc.lines) return;
  const at = view.state.doc.line(line).from;
  view.dispatch({selection: {anchor: at}, scrollIntoView: true});
  view.focus();
}

// Follows the latest run of the opened file that zl serve itself runs
// (started from the editor or from the Start form), and its last state
// after it ended.
document.addEventListener("zl-state", (e) => {
  if (!opened || !view) return;
  const mine = (e.detail.scenarios || []).filter((s) => s.name === opened.file);
  if (mine.length) followed = Math.max(...mine.map((s) => s.id));
  if (followed === null) return;
  const row = mine.find((s) => s.id === followed);
  if (row) return showRun(row, false);
  const ended = (e.detail.ended || []).find((s) => s.id === followed);
  if (ended) showRun(ended, true);
});

// --- open, save, run ---------------------------------------------------

function newState(text) {
  return EditorState.create({doc: text, extensions: [
    lineNumbers(), highlightActiveLineGutter(), history(), drawSelection(),
    bracketMatching(), closeBrackets(), highlightActiveLine(), highlightSelectionMatches(),
    scenarioLanguage, syntaxHighlighting(scenarioColors),
    linter(checkText, {delay: CHECK_DELAY_MS}), lintGutter(),
    autocompletion({override: [complete]}), keywordHelp, runMarks,
    keymap.of([{key: "Mod-s", preventDefault: true, run: () => { save(); return true; }},
               ...closeBracketsKeymap, ...defaultKeymap, ...searchKeymap, ...historyKeymap,
               ...completionKeymap, ...lintKeymap]),
    EditorView.updateListener.of((u) => { if (u.docChanged) showDirty(); }),
  ]});
}

function showDirty() {
  $("#editor-file-state").textContent = !opened ? "" :
    `${opened.file} · ${opened.signed ? "signed" : "unsigned"}` + (dirty() ? " · modified" : "");
}

async function openFile() {
  const name = $("#editor-file").value;
  if (!name) return;
  if (dirty() && !confirm(`Discard the changes to ${opened.file}?`)) return;
  await keywordsRead;  // the highlighting needs the table
  const r = await get("api/editor/file?file=" + encodeURIComponent(name));
  if (r.error) { status(r.error); return; }
  opened = {file: r.file, version: r.version, signed: r.signed};
  savedText = r.text;
  followed = null;
  shownMarks = "";
  $("#editor-marks").replaceChildren();
  $("#editor-run-state").textContent = "";
  if (view) view.setState(newState(r.text));
  else view = new EditorView({state: newState(r.text), parent: $("#editor")});
  status("");
  showDirty();
}

// Replaces only what differs, so the cursor stays where it was (a save
// changes the check line of a signed file, nothing else).
function replaceText(text) {
  const old = view.state.doc.toString();
  if (old === text) return;
  let start = 0;
  while (start < old.length && start < text.length && old[start] === text[start]) start++;
  let end = 0;
  while (end < old.length - start && end < text.length - start &&
         old[old.length - 1 - end] === text[text.length - 1 - end]) end++;
  view.dispatch({changes: {from: start, to: old.length - end,
                           insert: text.slice(start, text.length - end)}});
}

// Saves the text as it stands. A signed file is re-signed: zl serve refuses
// (409, "signed") until the user confirms that.
async function save() {
  if (!opened) return;
  const body = {file: opened.file, text: view.state.doc.toString(), version: opened.version};
  let r = await post("api/editor/save", body);
  if (r.signed && r.error) {
    if (!confirm(`${opened.file} is signed. Saving re-signs it: its #$CHECK line gets the ` +
                 "checksum of the new text. Save and re-sign?")) {
      status("not saved");
      return;
    }
    r = await post("api/editor/save", {...body, sign: true});
  }
  if (!r.saved) { status(r.error || "not saved"); return; }
  opened = {...opened, version: r.version, signed: r.signed};
  savedText = r.text;
  replaceText(r.text);
  status(r.note);
  showDirty();
}

// Runs the file as saved; the run reads the file, not the editor.
async function run() {
  if (!opened) return;
  if (dirty()) { status("save first: a run reads the file as saved"); return; }
  const r = await post("api/scenario/start", {file: opened.file,
                                              arguments: $("#editor-args").value});
  if (!(r.id > 0)) { status(r.error || "did not start"); return; }
  followed = r.id;
  shownMarks = "";
  status(`started as ${r.id}`);
}

document.addEventListener("zl-files", (e) => {
  const select = $("#editor-file");
  const keep = select.value;
  const names = e.detail.filter((f) => f.kind === "scenario").map((f) => f.name);
  select.replaceChildren(...names.map((n) => el("option", {value: n, textContent: n})));
  if (names.includes(keep)) select.value = keep;
});
$("#editor-open").onclick = openFile;
$("#editor-save").onclick = save;
$("#editor-run").onclick = run;
window.addEventListener("beforeunload", (e) => { if (dirty()) e.preventDefault(); });

const keywordsRead = get("api/editor/keywords").then((r) => { keywordRows = r.keywords || []; },
                                                    () => {});
})();
