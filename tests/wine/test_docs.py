"""The documents: every relative link leads to a file, and to a heading
where it names one, as GitHub makes a heading's anchor."""

import os
import re

import pytest

from winetools import ROOT

DOCUMENTS = ["README.md", "CONTRIBUTING.md",
             *sorted(os.path.join("docs", name) for name in os.listdir(os.path.join(ROOT, "docs"))
                     if name.endswith(".md"))]


def anchors(path):
    """GitHub's anchors for the headings of a Markdown file: lower case, each
    blank a hyphen, and nothing but letters, digits, hyphens and underscores."""
    with open(path, encoding="utf-8") as f:
        text = re.sub(r"```.*?```", "", f.read(), flags=re.S)
    return {re.sub(r"[^\w\- ]", "", title.strip().lower()).replace(" ", "-")
            for title in re.findall(r"^#+ (.*)$", text, re.M)}


@pytest.mark.parametrize("document", DOCUMENTS)
def test_every_relative_link_leads_to_a_file_and_its_heading(document):
    with open(os.path.join(ROOT, document), encoding="utf-8") as f:
        text = re.sub(r"```.*?```", "", f.read(), flags=re.S)
    broken = []
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue  # an address, not a file of ours
        path, _, anchor = target.partition("#")
        found = os.path.normpath(os.path.join(ROOT, os.path.dirname(document), path)) \
            if path else os.path.join(ROOT, document)
        if not os.path.isfile(found) or (anchor and anchor not in anchors(found)):
            broken.append(target)
    assert broken == []
