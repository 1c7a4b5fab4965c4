"""Type stubs of the zl extension module (filled in below)."""
