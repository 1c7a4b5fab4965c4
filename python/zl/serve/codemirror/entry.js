// The parts of CodeMirror 6 that the zl serve page's scenario editor uses,
// bundled into one file (static/vendor/codemirror.min.js) that sets
// window.CM. Rebuild with the command in static/vendor/README.md.
export {EditorState, StateEffect, StateField} from "@codemirror/state";
export {EditorView, Decoration, keymap, lineNumbers, highlightActiveLine,
        highlightActiveLineGutter, drawSelection, hoverTooltip} from "@codemirror/view";
export {StreamLanguage, HighlightStyle, syntaxHighlighting, indentOnInput,
        bracketMatching} from "@codemirror/language";
export {tags} from "@lezer/highlight";
export {defaultKeymap, history, historyKeymap} from "@codemirror/commands";
export {searchKeymap, highlightSelectionMatches} from "@codemirror/search";
export {autocompletion, completionKeymap, closeBrackets,
        closeBracketsKeymap} from "@codemirror/autocomplete";
export {linter, lintGutter, lintKeymap, forceLinting} from "@codemirror/lint";
