"""The methods of the scenario language server: the protocol's lifecycle
(initialize, shutdown, exit), the open documents and their diagnostics,
completion and hover. Answers come from zl.authoring, the same as the
browser editor's.

`Server` is the dispatcher of a pylsp_jsonrpc Endpoint: a message's method
"textDocument/didOpen" calls `m_text_document__did_open(**params)`. Every
handler answers at once (a check takes milliseconds), so messages are
handled one at a time, in order, on the thread that reads them. Invalid
parameters raise JsonRpcInvalidParams, which the endpoint answers (or, for
a notification, logs).
"""
import logging
import re
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from pylsp_jsonrpc import dispatchers, exceptions

from zl import authoring
from zl.lsp import documents

log = logging.getLogger(__name__)

# The protocol's numbers.
FULL_SYNC = 1
SERVER_NOT_INITIALIZED = -32002
INVALID_REQUEST = -32600
KIND = {"keyword": 14, "tag": 6, "label": 18}  # CompletionItemKind
_MARKDOWN_SPECIAL = re.compile(r"([\\`*_\[\]<>#|])")


def _invalid(message: str) -> exceptions.JsonRpcException:
    return exceptions.JsonRpcInvalidParams(message=message)


def _field(params: Dict[str, Any], name: str, kind: type) -> Any:
    value = params.get(name)
    if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
        raise _invalid("%s: %s expected" % (name, kind.__name__))
    return value


def _position(position: Any) -> Tuple[int, int]:
    if not isinstance(position, dict):
        raise _invalid("position: an object expected")
    line, character = _field(position, "line", int), _field(position, "character", int)
    if line < 0 or character < 0:
        raise _invalid("position: a line and character from 0 expected")
    return line, character


class Server(dispatchers.MethodDispatcher):
    """The server's state: the lifecycle, the open documents' texts, the
    known tags. `notify(method, params)` sends a notification (the
    endpoint's, set after construction)."""

    def __init__(self, tags: Optional[Sequence[str]], arguments: Optional[str]) -> None:
        # Constant after construction.
        self._tags = tags
        self._arguments = arguments
        self.notify: Callable[[str, Dict[str, Any]], None] = lambda method, params: None
        # The lifecycle and the documents (the reading thread's alone).
        self.initialized = False
        self.shut_down = False
        self.exited = False
        self._markdown = True
        self._texts: Dict[str, str] = {}
        self._diagnostics = documents.Diagnostics(self._publish)

    def __getitem__(self, method: str) -> Callable[[Any], Any]:
        """The handler of `method`: before initialize and after shutdown only
        the lifecycle's methods are served; others get the protocol's error."""
        if not self.initialized and method not in ("initialize", "exit"):
            return self._refuse(SERVER_NOT_INITIALIZED, "the server is not initialized")
        if self.shut_down and method != "exit":
            return self._refuse(INVALID_REQUEST, "the server was shut down")
        handler: Callable[[Any], Any] = super().__getitem__(method)
        return handler

    @staticmethod
    def _refuse(code: int, message: str) -> Callable[[Any], Any]:
        def refuse(params: Any) -> Any:
            raise exceptions.JsonRpcException(message=message, code=code)
        return refuse

    # --- the lifecycle -------------------------------------------------------

    def m_initialize(self, capabilities: Any = None, **_: Any) -> Dict[str, Any]:
        hover = ((capabilities or {}).get("textDocument") or {}).get("hover") or {}
        formats = hover.get("contentFormat")
        self._markdown = not isinstance(formats, list) or "markdown" in formats
        self.initialized = True
        return {
            "capabilities": {
                "positionEncoding": "utf-16",
                "textDocumentSync": {"openClose": True, "change": FULL_SYNC,
                                     "save": {"includeText": False}},
                "completionProvider": {"resolveProvider": False},
                "hoverProvider": True,
            },
            "serverInfo": {"name": "zl lsp"},
        }

    def m_initialized(self, **_: Any) -> None:
        pass

    def m_shutdown(self, **_: Any) -> None:
        self.shut_down = True

    def m_exit(self, **_: Any) -> None:
        self.exited = True

    # --- documents -----------------------------------------------------------

    def m_text_document__did_open(self, textDocument: Any = None, **_: Any) -> None:
        if not isinstance(textDocument, dict):
            raise _invalid("textDocument: an object expected")
        uri, text = _field(textDocument, "uri", str), _field(textDocument, "text", str)
        self._texts[uri] = text
        self._check(uri)

    def m_text_document__did_change(self, textDocument: Any = None, contentChanges: Any = None,
                                    **_: Any) -> None:
        uri = self._open_uri(textDocument)
        if not isinstance(contentChanges, list) or not contentChanges:
            raise _invalid("contentChanges: a list expected")
        whole = [c for c in contentChanges if isinstance(c, dict) and "range" not in c]
        if not whole:  # the server asked for whole texts only
            raise _invalid("contentChanges: the whole text expected (full synchronization)")
        self._texts[uri] = _field(whole[-1], "text", str)
        self._check(uri)

    def m_text_document__did_save(self, textDocument: Any = None, **_: Any) -> None:
        """A saved file may be a subtest of other open documents: every open
        document is checked again."""
        self._open_uri(textDocument)
        for uri in list(self._texts):
            self._check(uri)

    def m_text_document__did_close(self, textDocument: Any = None, **_: Any) -> None:
        uri = self._open_uri(textDocument)
        del self._texts[uri]
        self._diagnostics.forget(uri)

    def _open_uri(self, document: Any) -> str:
        if not isinstance(document, dict):
            raise _invalid("textDocument: an object expected")
        uri = _field(document, "uri", str)
        if uri not in self._texts:
            raise _invalid("textDocument: %s is not open" % uri)
        return uri

    def _check(self, uri: str) -> None:
        """Checks the open document `uri` and publishes what changed."""
        path = documents.path_of(uri)
        if path is None:
            log.info("%s is no file: not checked", uri)
            return
        try:
            found = authoring.diagnostics(path, self._texts[uri], self._tags, self._arguments)
        except (OSError, ValueError) as e:
            log.warning("%s: cannot be checked: %s", uri, e)
            found = []
        marks = [(uri if f["here"] else documents.uri_of(f["file"]),
                  documents.as_diagnostic(f, uri, self._texts[uri])) for f in found]
        self._diagnostics.replace(uri, marks)

    def _publish(self, uri: str, diagnostics: List[documents.Diagnostic]) -> None:
        self.notify("textDocument/publishDiagnostics", {"uri": uri, "diagnostics": diagnostics})

    # --- completion and hover ------------------------------------------------

    def _at(self, textDocument: Any, position: Any) -> Tuple[str, int, int]:
        """The text of an open document and a position in it."""
        uri = self._open_uri(textDocument)
        line, character = _position(position)
        return self._texts[uri], line, character

    def m_text_document__completion(self, textDocument: Any = None, position: Any = None,
                                    **_: Any) -> Dict[str, Any]:
        text, line, character = self._at(textDocument, position)
        found = authoring.completions(text, line, character, self._tags or ())
        replaced = {"start": {"line": line, "character": found["start"]},
                    "end": {"line": line, "character": character}}
        items = [{"label": item["label"], "kind": KIND[item["kind"]], "detail": item["detail"],
                  "documentation": item["documentation"],
                  "textEdit": {"range": replaced, "newText": item["label"]}}
                 for item in found["items"]]
        # At the limit there are more tags: the editor asks again as the word grows.
        return {"isIncomplete": len(items) >= authoring.MAX_TAG_ITEMS, "items": items}

    def m_text_document__hover(self, textDocument: Any = None, position: Any = None,
                               **_: Any) -> Optional[Dict[str, Any]]:
        text, line, character = self._at(textDocument, position)
        found = authoring.hover(text, line, character)
        if found is None:
            return None
        if self._markdown:
            contents = {"kind": "markdown", "value": "```\n%s\n```\n\n%s" % (
                found["form"], _MARKDOWN_SPECIAL.sub(r"\\\1", found["help"]))}
        else:
            contents = {"kind": "plaintext", "value": "%s\n\n%s" % (found["form"], found["help"])}
        return {"contents": contents,
                "range": {"start": {"line": line, "character": found["start"]},
                          "end": {"line": line, "character": found["end"]}}}
