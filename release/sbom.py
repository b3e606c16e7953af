#!/usr/bin/env python3
"""Writes the release's SPDX 2.3 bill of materials (JSON) to standard output:
  sbom.py STAGE VERSION EPOCH
every file under STAGE (the archive's tree) with its SHA-256, the runtime parts
linked statically into the DLLs, and the Debian packages and versions of the
toolchain that built them. The same inputs give the same bytes: the creation time
is EPOCH (the release's commit time) and the namespace is derived from the content."""
import hashlib
import json
import os
import re
import sys
import time
import uuid

import toolchain

NAME = "WDXPatchAgent"


def spdx_id(kind, text):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.]+", "-", text).strip("-")


def file_type(name):
    if name.endswith((".dll", ".a", ".pdb", ".debug")):
        return ["BINARY"]
    if name.endswith((".cpp", ".h")):
        return ["SOURCE"]
    return ["DOCUMENTATION"] if name.endswith((".txt", ".md")) or "." not in name else ["TEXT"]


def deb_package(name, version, kind):
    return {"SPDXID": spdx_id(kind, name), "name": name, "versionInfo": version, "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "licenseConcluded": "NOASSERTION",
            "licenseDeclared": "NOASSERTION", "copyrightText": "NOASSERTION",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": f"pkg:deb/debian/{name}@{version}"}]}


def main(stage, version, epoch):
    product = {"SPDXID": spdx_id("Package", NAME), "name": NAME, "versionInfo": version,
               "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "licenseConcluded": "MIT",
               "licenseDeclared": "MIT", "copyrightText": "NOASSERTION", "primaryPackagePurpose": "LIBRARY"}
    files, relationships = [], [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                                 "relatedSpdxElement": product["SPDXID"]}]
    names = sorted(os.path.relpath(os.path.join(d, f), stage).replace(os.sep, "/")
                   for d, _, fs in os.walk(stage) for f in fs)
    for name in names:
        with open(os.path.join(stage, name), "rb") as f:
            data = f.read()
        # SPDX 2.3 requires a SHA-1 for every file; SHA-256 is the one to check.
        files.append({"SPDXID": spdx_id("File", name), "fileName": f"./{name}", "fileTypes": file_type(name),
                      "checksums": [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
                                    {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}],
                      "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION"})
        relationships.append({"spdxElementId": product["SPDXID"], "relationshipType": "CONTAINS",
                              "relatedSpdxElement": files[-1]["SPDXID"]})
    packages = [product]
    components = toolchain.component_packages()
    debs = sorted(set(toolchain.tool_packages()) | {p for *_, parts in components for _, _, p in parts})
    for deb in debs:
        packages.append(deb_package(deb, toolchain.version_of(deb), "Deb"))
        relationships.append({"spdxElementId": packages[-1]["SPDXID"], "relationshipType": "BUILD_TOOL_OF",
                              "relatedSpdxElement": product["SPDXID"]})
    for name, description, licence, parts in components:
        origin = sorted({p for _, _, p in parts})
        packages.append({"SPDXID": spdx_id("Component", name), "name": name,
                         "versionInfo": toolchain.version_of(origin[0]), "supplier": "Organization: Debian",
                         "downloadLocation": "NOASSERTION", "filesAnalyzed": False, "licenseConcluded": "NOASSERTION",
                         "licenseDeclared": licence, "copyrightText": "NOASSERTION", "description": description,
                         "sourceInfo": "linked statically from " + ", ".join(sorted({f for _, f, _ in parts})) +
                                       " of the Debian packages " + ", ".join(origin),
                         "comment": "licence texts: THIRD_PARTY_NOTICES.txt"})
        for deb in origin:
            relationships.append({"spdxElementId": packages[-1]["SPDXID"], "relationshipType": "GENERATED_FROM",
                                  "relatedSpdxElement": spdx_id("Deb", deb)})
        for f in files:
            if f["fileName"].endswith(".dll"):
                relationships.append({"spdxElementId": f["SPDXID"], "relationshipType": "STATIC_LINK",
                                      "relatedSpdxElement": packages[-1]["SPDXID"]})
    document = {"spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
                "name": f"{NAME}-{version}",
                "creationInfo": {"created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch))),
                                 "creators": ["Tool: WDXPatchAgent-release-sbom.py"]},
                "packages": packages, "files": files, "relationships": relationships}
    # The namespace names this exact content: the same files give the same document.
    digest = hashlib.sha256(json.dumps(document, sort_keys=True).encode()).hexdigest()
    document["documentNamespace"] = f"https://spdx.org/spdxdocs/{NAME}-{version}-{uuid.UUID(digest[:32])}"
    json.dump(document, sys.stdout, indent=1, sort_keys=True)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
