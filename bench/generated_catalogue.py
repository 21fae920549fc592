# SPDX-License-Identifier: MIT
"""What the end-to-end benchmarks share about a catalogue made by `ovk-refservice --generate`:
its project, a wizard script that marks every article, and a download document for it."""
import json
import os


def load_project(work):
    """The first project of the catalogue generated into WORK/catalog."""
    return json.load(open(os.path.join(work, "catalog", "catalog.json")))["projects"][0]


def wizard_script(project):
    """ovk-host options that search by product group and mark every article, one tree leaf per
    group, then Finish."""
    groups = []
    for article in project["articles"]:
        if article["values"]["1"] not in groups:
            groups.append(article["values"]["1"])
    script = ["--fields", "Product group"]
    for group in groups:
        script += ["--leaf", group, "--mark", "all"]
    script.append("--finish")
    return script


def prepare_run(folder, url, project):
    """Makes FOLDER/settings and FOLDER/run with a download document for PROJECT at URL;
    returns the document's path."""
    os.makedirs(os.path.join(folder, "settings"), exist_ok=True)
    os.makedirs(os.path.join(folder, "run"), exist_ok=True)
    document = os.path.join(folder, "run", "download.xml")
    with open(document, "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<Download><System>TARVO</System>'
                  "<URL>%s</URL><ProjectID>%s</ProjectID><Language>English</Language>"
                  "<Password>%s</Password><Project><Symbolfile>symbols.txt</Symbolfile>"
                  "<Gerfile>ger.txt</Gerfile></Project></Download>\n"
                  % (url, project["id"], project.get("password", "")))
    return document
