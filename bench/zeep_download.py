# SPDX-License-Identifier: MIT
"""The same download as ovk-host's, written the way a Python developer would with zeep: the
set-up calls, GetItemData per article with each item's content appended beneath Project,
symbol and GER records appended to their files (a record already there is not written again),
each document's Base64 decoded to its file, and one final write of the indented document,
synced. A peer to set our own download against, not a reference for its output.

Usage: zeep_download.py WSDL URL PROJECT PASSWORD LANG IDS_FILE OUT_DIR
Prints the wall seconds of the download (set-up calls to the synced document).
"""

import base64
import os
import sys
import time

import zeep
from lxml import etree

# How zeep hands back an xs:any result is read the same way as in the interoperability check.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
from zeep_interop import elements  # noqa: E402


def local(tag):
    return etree.QName(tag).localname


class RecordFile:
    """A text file of records, each first line of eight characters or more written once."""

    def __init__(self, path, separator):
        self.file = open(path, "w", encoding="cp1252", newline="")
        self.separator = separator
        self.seen = set()
        if separator:
            self.file.write(" \r\n")

    def append(self, text):
        first = text.split("\n", 1)[0] if "\n" in text else ""
        if len(first) >= 8:
            if first.lower() in self.seen:
                return
            self.seen.add(first.lower())
        self.file.write(self.separator + text.replace("\n", "\r\n"))

    def close(self):
        self.file.flush()
        os.fsync(self.file.fileno())
        self.file.close()


def main():
    wsdl, url, project_id, password, lang, ids_file, out = sys.argv[1:8]
    lang = int(lang)
    ids = [line.strip() for line in open(ids_file) if line.strip()]
    started = time.perf_counter()

    client = zeep.Client(wsdl)
    service = client.create_service(next(iter(client.wsdl.bindings)), url)
    if service.HelloWorld().upper() != "HELLO WORLD":
        sys.exit("HelloWorld failed")
    elements(service.GetClientData("6103", 1033))
    root = etree.Element("Download")
    project = etree.SubElement(root, "Project")
    for element in elements(service.getStructure(password, project_id, lang)):
        project.append(element)
    for element in elements(service.GetDefaultSelect(password, project_id, lang)):
        project.append(element)

    symbols = RecordFile(os.path.join(out, "symbols.txt"), " \r\n")
    gers = RecordFile(os.path.join(out, "ger.txt"), "")
    for material in ids:
        reply = elements(service.GetItemData(password, project_id, lang, material))
        if not reply or local(reply[0].tag) != "root":
            continue
        for child in list(reply[0]):
            for binary in child.iter():
                if not isinstance(binary.tag, str) or local(binary.tag).upper() != "BINARY":
                    continue
                for group in binary:
                    kind = local(group.tag).upper()
                    for record in group:
                        if kind == "SYMBOLS":
                            symbols.append(record.text or "")
                        elif kind == "GERS":
                            gers.append(record.text or "")
                        elif kind == "DOCUMENTS":
                            path = os.path.join(out, record.get("Name"))
                            with open(path, "wb") as document:
                                document.write(base64.b64decode(record.text or ""))
            project.append(child)
    symbols.close()
    gers.close()

    etree.indent(root)
    with open(os.path.join(out, "download.xml"), "wb") as file:
        file.write(etree.tostring(root, xml_declaration=True, encoding="UTF-8"))
        file.flush()
        os.fsync(file.fileno())
    print("%.3f" % (time.perf_counter() - started))


if __name__ == "__main__":
    main()
