"""Writing a file whole or not at all: the new content goes into a new file
in the same folder, which is renamed over the old one. `zl sign` and
`zl serve`'s editor save scenario files this way, so that a failed write
(a full disk, a signal) leaves the old file as it was."""
import os
import tempfile


def write_replacing(path: str, data: bytes) -> None:
    """Writes `data` to the existing file `path` through a new file renamed
    over it, keeping the file's permission bits. Raises OSError (the old
    file untouched, no new file left) when it cannot."""
    directory = os.path.dirname(os.path.abspath(path))
    mode = os.stat(path).st_mode & 0o7777
    fd, temp = tempfile.mkstemp(prefix=".zl-", dir=directory)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(temp, mode)
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.unlink(temp)
        raise
