"""Modules of the host application, one package each."""
