"""The customs register of intellectual-property objects ("ТРОИС").

The register module looks for this package among the loaded modules before it shows the
entries for a commodity code; `manager.showcode` does the showing.
"""
