"""The zl command-line tool: scenarios, test logs, signatures and the files
of a Zelvik client, from the shell. `zl --help` lists the commands."""
