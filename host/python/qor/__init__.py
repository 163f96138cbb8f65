"""The host application's own Python package."""
