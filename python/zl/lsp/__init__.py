"""The language server of scenario files (`zl lsp`): the findings of the
static check as diagnostics while the user types, completion of keywords,
labels and tags, help on a keyword, for any editor with a language-server
client (docs/authoring.md, "In an editor").

`serve` speaks the protocol over two binary streams (the command gives it
its standard input and output) until the client's exit notification or the
end of the input. The frames are read by `framing`, the messages handled
by a pylsp_jsonrpc Endpoint whose dispatcher is `server.Server`, and the
answers written by the library's stream writer. Everything runs on the
calling thread; nothing but protocol messages is written to `output`, and
the log goes to the logger "zl.lsp" and those below it.
"""
import logging
from typing import Any, BinaryIO, Optional, Sequence

from pylsp_jsonrpc import endpoint, exceptions, streams

from zl.lsp import framing
from zl.lsp.server import INVALID_REQUEST, Server

log = logging.getLogger(__name__)


def serve(input: BinaryIO, output: BinaryIO, tags: Optional[Sequence[str]] = None,
          arguments: Optional[str] = None) -> int:
    """Serves one client. Gives the exit status the protocol asks for: 0
    after shutdown and exit, 1 when the input ends or exit comes without a
    shutdown before it."""
    writer = streams.JsonRpcStreamWriter(output)
    server = Server(tags, arguments)
    point = endpoint.Endpoint(server, writer.write, max_workers=1)
    server.notify = point.notify
    reader = framing.MessageReader(input)
    try:
        while not server.exited:
            try:
                message = reader.read()
            except framing.FrameError as e:
                log.warning("%s: ignored", e)
                continue
            if message is None:
                log.info("the input ended")
                break
            _consume(point, writer, message)
    finally:
        point.shutdown()
    return 0 if server.shut_down and server.exited else 1


def _consume(point: endpoint.Endpoint, writer: streams.JsonRpcStreamWriter,
             message: Any) -> None:
    """Hands one message to the endpoint; a message that is no JSON-RPC 2.0
    request, notification or response is answered with the protocol's
    error when it has an id, else logged."""
    problem = _problem(message)
    if problem is not None:
        log.warning("%s: ignored", problem)
        if isinstance(message, dict) and isinstance(message.get("id"), (int, str)):
            error = exceptions.JsonRpcException(message=problem, code=INVALID_REQUEST)
            writer.write({"jsonrpc": "2.0", "id": message["id"], "error": error.to_dict()})
        return
    try:
        point.consume(message)
    except Exception as e:  # noqa: BLE001 (one bad message must not end the server)
        log.warning("a message could not be handled: %s: %s", type(e).__name__, e)


def _problem(message: Any) -> Optional[str]:
    """What makes `message` no JSON-RPC 2.0 message, or None."""
    if not isinstance(message, dict) or message.get("jsonrpc") != "2.0":
        return "a message that is no JSON-RPC 2.0 object"
    if "method" in message:
        if not isinstance(message["method"], str):
            return "a method that is no string"
        if message.get("params") is not None and not isinstance(message["params"], dict):
            return "parameters that are no object"
        if "id" in message and not isinstance(message["id"], (int, str)):
            return "an id that is neither a number nor a string"
    elif "id" not in message:
        return "a message without a method or an id"
    return None
