# SPDX-License-Identifier: MIT
"""Checks the reference service with an independent SOAP stack: zeep loads the service
description from the running service and calls every operation through it.

Usage: zeep_interop.py SERVICE_BINARY CATALOG_DIR
"""

import base64
import json
import os
import subprocess
import sys

import zeep
import zeep.exceptions


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def elements(result):
    """The element children zeep hands back for an xs:any Result."""
    if result is None:
        return []
    if isinstance(result, list):
        return [e for e in result if hasattr(e, "tag")]
    # A mixed complex type comes back as an object whose _value_1 holds the children.
    value = getattr(result, "_value_1", None)
    if value is None:
        return []
    return [e for e in (value if isinstance(value, list) else [value]) if hasattr(e, "tag")]


def main():
    binary, catalog = sys.argv[1], sys.argv[2]
    service = subprocess.Popen([binary, "--catalog", catalog, "--port", "0"], stdout=subprocess.PIPE, text=True)
    try:
        first = service.stdout.readline().strip()
        check(first.startswith("listening on http://127.0.0.1:"), "unexpected first line: %r" % first)
        url = first[len("listening on "):]

        client = zeep.Client(url + "?wsdl")
        soap = client.service

        check(soap.HelloWorld() == "Hello World", "HelloWorld")

        data = elements(soap.GetClientData("6103", 1031))
        check(len(data) == 1 and data[0].tag == "ClientData", "GetClientData shape")
        # The catalogue offers the component's own version, so that its clients need no update.
        with open(os.path.join(catalog, "catalog.json"), encoding="utf-8") as f:
            version = json.load(f)["clientData"]["version"]
        check(list(data[0].attrib.values())[0] == version, "GetClientData version at position 0")
        check(base64.b64decode(data[0].text)[:2] == b"\xff\xd8", "GetClientData banner is a JPEG")

        structure = elements(soap.getStructure("demo", "DEMO", 1031))
        check(structure[0].tag == "Structure", "getStructure root")
        first_field = list(structure[0])[0]
        check(list(first_field.attrib.values())[2:4] == ["3", "Hersteller"], "getStructure positions")

        select = elements(soap.GetDefaultSelect("demo", "DEMO", 1033))
        check([f.get("ID") for f in select[0]] == ["7", "3", "12"], "GetDefaultSelect entries")

        tree = elements(soap.getTreeData("demo", "DEMO", 1033, "7,3,12"))
        check(tree[0].get("ID") == "0" and tree[0].get("Value") == "Catalog", "getTreeData root")
        check([n.get("Value") for n in tree[0]] == ["Drives", "Motors", "Sensors", "Switchgear"], "tree level 1")

        key = base64.b64encode("0{}Catalog||7{}Motors||3{}Velmora||12{}AC".encode("cp1252")).decode()
        rows = elements(soap.GetSelectionData("demo", "DEMO", 1033, key))
        numbers = [list(row)[0].get("Value") for row in rows[0]]
        check(numbers == ["4711", "4712"], "GetSelectionData rows: %r" % numbers)

        item = elements(soap.GetItemData("demo", "DEMO", 1033, "4711"))
        check(item[0].tag == "root", "GetItemData root")
        document = item[0].find("Articleinfo/BINARY/DOCUMENTS/Document")
        check(base64.b64decode(document.text).startswith(b"%PDF"), "GetItemData document payload")

        refused = elements(soap.GetItemData("wrong", "DEMO", 1033, "4711"))
        check(refused[0].tag == "Exception" and refused[0].get("ID") == "32", "Exception for a wrong password")

        try:
            soap.getStructure("demo", "DEMO", 70000)
        except (zeep.exceptions.Fault, zeep.exceptions.ValidationError, ValueError, OverflowError):
            pass
        else:
            raise AssertionError("a language number beyond 16 bits was accepted")
        print("zeep called all seven operations")
    finally:
        service.terminate()
        service.wait(timeout=30)


if __name__ == "__main__":
    main()
