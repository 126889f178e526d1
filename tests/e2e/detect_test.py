#!/usr/bin/env python3
"""The launcher's detect run on five machines, as a deployment tool's
detection rule runs it: a launcher stamped by the packager's tool, started
with /detect and a standard output. Each report, on the standard output and
in %TEMP%, is compared as parsed JSON with the one expected; the run must
leave nothing in %TEMP% but the report and the log, change no component
file and start no process. Then the bad input: a report that cannot be
written and a document that cannot be read, each exit 1603 with no report.
Needs the test runner's Wine session."""
import copy
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

BIN = sys.argv[1]
RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-run.sh")
KEY = "HKCU\\Software\\Morrow Labs\\Brix"
failures = []


def windows(path):
    return "Z:" + path.replace("/", "\\")


def wine(*args, **options):
    return subprocess.run([RUN, *args], stdin=subprocess.DEVNULL, capture_output=True, **options)


work = tempfile.mkdtemp()
app, source, payload, temp = (os.path.join(work, name) for name in ("app", "app/source", "app/payload", "temp"))
os.makedirs(source)
files = {name: os.path.join(BIN, "e2e", name) for name in ("VantorConnect.exe", "SetupStandard.exe")}
for path in files.values():
    shutil.copy(path, source)
with open(os.path.join(app, "notes.txt"), "w") as notes:
    notes.write("no version resource\n")


def component(name, file):
    data = open(files[file], "rb").read()
    return (f'<Component name="{name}" display="Tessel {name}" check="QvInstalled" dest="[ExeFolder]\\payload" '
            f'filename="{file}" size="{len(data)}" md5="{hashlib.md5(data).hexdigest()}" requiresadmin="false">'
            f'<Location type="copy" file="[ExeFolder]\\source\\{file}"/></Component>')


def document(extra_condition=""):
    return f"""<QvDeploy version="2">
  <PackageVersion value="11.4.8.18902"/>
  <Flags silent="false" silentinstaller="true" skiplaunch="false"/>
  <Conditions>
    <Condition name="SilentInstaller" type="flag" value="silentinstaller"/>
    <Condition name="QvInstalled" type="qv" op="gteq" path="{KEY}\\Path"/>{extra_condition}
  </Conditions>
  <Components>{component("Client", "VantorConnect.exe")}{component("Setup", "SetupStandard.exe")}</Components>
  <Strings><String name="InstallerArgs" check="SilentInstaller" passstring="/exebasicui /qb" failstring="/q"/></Strings>
  <Installer name="Setup" args="$InstallerArgs"/>
  <LaunchQV min="5.1.0" reg="{KEY}\\Path" config="[TempFolder]\\QvConfig.xml"/>
</QvDeploy>"""


def stamp(text, launcher):
    path = os.path.join(work, "deployment.xml")
    with open(path, "w") as out:
        out.write(text)
    stamped = wine(os.path.join(BIN, "VantorPack.exe"), "stamp", os.path.join(BIN, "VantorLauncher.exe"), path,
                   "-o", launcher, cwd=work)
    assert stamped.returncode == 0, stamped.stdout + stamped.stderr


def normal(value):
    """The report with this run's folders and random folder name replaced."""
    if isinstance(value, dict):
        return {key: normal(item) for key, item in value.items()}
    if isinstance(value, list):
        return [normal(item) for item in value]
    if isinstance(value, str):
        value = re.sub(r"\\QV[0-9A-F]{8}\\", r"\\QV########\\", value)
        return value.replace(windows(temp), "<temp>").replace(windows(work), "<work>")
    return value


def detect(launcher):
    """Runs launcher /detect with its own %TEMP%: exit code, standard output, report or None."""
    shutil.rmtree(temp, ignore_errors=True)
    os.makedirs(temp)
    before = {name: os.path.getmtime(os.path.join(payload, name)) for name in os.listdir(payload)}
    # cmd sets the environment: Wine takes TMP and TEMP from the prefix's registry.
    command = (f"set TMP={windows(temp)}&& set TEMP={windows(temp)}&& "
               f"set TESSEL_CMDLINE_OUT={windows(temp)}\\client.txt&& {os.path.basename(launcher)} /detect")
    done = wine("cmd", "/c", command, cwd=os.path.dirname(launcher))
    report_path = os.path.join(temp, "VantorLauncher-detect.json")
    report = open(report_path, "rb").read() if os.path.isfile(report_path) else None
    left = sorted(set(os.listdir(temp)) - {"VantorLauncher-detect.json", "VantorLauncher.log"})
    if left:
        failures.append(f"{launcher}: left in %TEMP%: {left}")
    after = {name: os.path.getmtime(os.path.join(payload, name)) for name in os.listdir(payload)}
    if after != before:
        failures.append(f"{launcher}: the component files changed: {before} -> {after}")
    return done.returncode, done.stdout, report


def install(folder):
    wine("reg", "delete", KEY, "/f")
    if folder:
        wine("reg", "add", KEY, "/v", "Path", "/t", "REG_SZ", "/d", windows(folder), "/f")


sizes = {file: os.path.getsize(path) for file, path in files.items()}
config = "<temp>\\QV########\\QvConfig.xml"
nothing = {
    "launcher": "1.0.0.0",
    "document": {"format": "2", "package": "11.4.8.18902"},
    "flags": {"silent": False, "silentinstaller": True, "skiplaunch": False, "detect": True},
    "client": {"key": KEY + "\\Path", "folder": None, "file": None, "version": None, "minimum": "5.1.0",
               "upgradeable": "RESULT_FAILED", "newer": "RESULT_FAILED", "equal": "RESULT_FAILED"},
    "conditions": [
        {"name": "SilentInstaller", "type": "TYPE_FLAG", "op": "OP_UNKNOWN", "path": None,
         "value": "silentinstaller", "result": "RESULT_PASSED"},
        {"name": "QvInstalled", "type": "TYPE_QV_VERSION", "op": "OP_GREATER_THAN_OR_EQUAL",
         "path": KEY + "\\Path", "value": None, "result": "RESULT_FAILED"},
    ],
    "strings": [{"name": "InstallerArgs", "text": "/exebasicui /qb"}],
    "components": [
        {"name": name, "check": "RESULT_FAILED", "present": "RESULT_FAILED", "size": sizes[file], "cached": None,
         "location": {"type": "TRANSFER_COPY", "file": f"<work>\\app\\source\\{file}"}}
        for name, file in (("Client", "VantorConnect.exe"), ("Setup", "SetupStandard.exe"))
    ],
    "decision": "ask-install",
    "question": "This package will install Tessel v11.4.8.18902.\nWould you like to install?",
    "installerCommandLine": f'"<work>\\app\\payload\\SetupStandard.exe" /exebasicui /qb QV_CONFIG_PATH="{config}"',
    "clientCommandLine": None,
    "exitCode": 1,
}


def machine(changes, component_changes=None):
    expected = copy.deepcopy(nothing)
    for key, value in changes.items():
        if isinstance(value, dict) and isinstance(expected.get(key), dict):
            expected[key].update(value)
        else:
            expected[key] = value
    for index, update in (component_changes or {}).items():
        expected["components"][index].update(update)
    return expected


def installed(folder, version, upgradeable, newer, equal):
    return {"folder": f"<work>\\{folder}", "file": f"<work>\\{folder}\\VantorConnect.exe", "version": version,
            "upgradeable": upgradeable, "newer": newer, "equal": equal}


passed = {"check": "RESULT_PASSED"}
current = machine({
    "client": installed("current", "11.4.8.18902", "RESULT_PASSED", "RESULT_FAILED", "RESULT_PASSED"),
    "decision": "launch", "question": None, "installerCommandLine": None, "exitCode": 0,
    "clientCommandLine": f'"<work>\\current\\VantorConnect.exe" /l{config}',
}, {0: passed, 1: passed})
current["conditions"][1]["result"] = "RESULT_PASSED"
older = machine({
    "client": installed("old", "5.2.0.100", "RESULT_PASSED", "RESULT_FAILED", "RESULT_FAILED"),
    "decision": "ask-upgrade",
    "question": "There is a new version of software available (Tessel v11.4.8.18902).\nWould you like to install?",
    "clientCommandLine": f'"<work>\\old\\VantorConnect.exe" /l{config}',
})
corrupt = machine({}, {0: {"present": "RESULT_PASSED", "cached": 1000}, 1: {"cached": "whole"}})
broken = machine({"exitCode": 1603})
broken["conditions"].append({"name": "Notes", "type": "TYPE_FILE", "op": "OP_GREATER_THAN_OR_EQUAL",
                             "path": "<work>\\app\\notes.txt", "value": "1.0", "result": "RESULT_ERROR"})

for folder, client in (("current", ""), ("old", "old")):
    os.makedirs(os.path.join(work, folder))
    shutil.copy(os.path.join(BIN, "e2e", client, "VantorConnect.exe"), os.path.join(work, folder))
launcher = os.path.join(app, "VantorLauncher.exe")
broken_launcher = os.path.join(app, "Broken.exe")
stamp(document(), launcher)
stamp(document('\n    <Condition name="Notes" type="file" op="gteq" path="[ExeFolder]\\notes.txt" value="1.0"/>'),
      broken_launcher)

# name, installed client's folder, component files (None: the right one), launcher, exit code, report
machines = [
    ("nothing installed", None, {}, launcher, 1, nothing),
    ("installed and current", "current", {}, launcher, 0, current),
    ("an older client", "old", {}, launcher, 1, older),
    ("a component file present but corrupt", None, {"VantorConnect.exe": None, "SetupStandard.exe": b"x"},
     launcher, 1, corrupt),
    ("a condition in error", None, {}, broken_launcher, 1603, broken),
]
try:
    for name, folder, component_files, program, code, expected in machines:
        install(os.path.join(work, folder) if folder else None)
        shutil.rmtree(payload, ignore_errors=True)
        os.makedirs(payload)
        for file, content in component_files.items():
            if content is None:
                shutil.copy(files[file], payload)
            else:  # the right size, one byte changed
                data = bytearray(open(files[file], "rb").read())
                data[len(data) // 2] ^= 0xFF
                open(os.path.join(payload, file), "wb").write(bytes(data))
        # The download cache holds part of the client and the whole setup
        # program on the machine with the corrupt file.
        cache = os.path.join(os.environ["WINEPREFIX"], "drive_c", "ProgramData", "TesselCache")
        shutil.rmtree(cache, ignore_errors=True)
        if expected is corrupt:
            os.makedirs(cache)
            for file, kept in (("VantorConnect.exe", 1000), ("SetupStandard.exe", None)):
                data = open(files[file], "rb").read()
                entry = f"{len(data)}-{hashlib.md5(data).hexdigest()}-.bin"
                open(os.path.join(cache, entry), "wb").write(data[:kept] if kept else data)
        exit_code, output, report = detect(program)
        shutil.rmtree(cache, ignore_errors=True)
        if exit_code != code & 0xFF:  # a Unix exit status keeps the low byte
            failures.append(f"{name}: exit code {exit_code}, expected {code}")
        if report is None:
            failures.append(f"{name}: no report")
            continue
        if output != report:
            failures.append(f"{name}: the standard output is not the report: {output!r}")
        found = normal(json.loads(report.decode("utf-8")))
        if found != expected:
            failures.append(f"{name}: report\n{json.dumps(found, indent=2)}\nexpected\n{json.dumps(expected, indent=2)}")
        if os.path.exists(os.path.join(temp, "client.txt")):
            failures.append(f"{name}: the client was started")

    # Bad input: a folder where the report goes, and a document that cannot be read.
    install(None)
    shutil.rmtree(temp)
    os.makedirs(os.path.join(temp, "VantorLauncher-detect.json"))
    blocked = wine("cmd", "/c", f"set TMP={windows(temp)}&& set TEMP={windows(temp)}&& VantorLauncher.exe /detect",
                   cwd=app)
    left = sorted(os.listdir(temp))
    if (blocked.returncode, blocked.stdout, left) != (1603 & 0xFF, b"", ["VantorLauncher-detect.json", "VantorLauncher.log"]):
        failures.append(f"unwritable report: exit code {blocked.returncode}, output {blocked.stdout!r}, %TEMP% {left}")
    log = open(os.path.join(temp, "VantorLauncher.log"), encoding="latin-1").read()
    wanted = f"Deploy::Detect - cannot write {windows(temp)}\\VantorLauncher-detect.json, GetLastError 5"
    if wanted not in log:
        failures.append(f"unwritable report: no line \"{wanted}\" in\n{log}")

    # Hard links planted at the report's and the log's places, as anyone who
    # may add files to the temp folder can: what they lead to stays as it was.
    shutil.rmtree(temp)
    os.makedirs(temp)
    victims = temp + "-victims"
    shutil.rmtree(victims, ignore_errors=True)
    os.makedirs(victims)
    for name in ("VantorLauncher-detect.json", "VantorLauncher.log"):
        open(os.path.join(victims, name), "wb").write(b"keep me\r\n")
        os.link(os.path.join(victims, name), os.path.join(temp, name))
    linked = wine("cmd", "/c", f"set TMP={windows(temp)}&& set TEMP={windows(temp)}&& VantorLauncher.exe /detect",
                  cwd=app)
    kept = [open(os.path.join(victims, name), "rb").read() for name in sorted(os.listdir(victims))]
    if kept != [b"keep me\r\n"] * 2:
        failures.append(f"planted links: a linked file was written through: {kept}")
    if linked.returncode != 1 or not linked.stdout.startswith(b"{"):
        failures.append(f"planted links: exit code {linked.returncode}, output {linked.stdout[:80]!r}")
    shutil.rmtree(victims)

    unreadable = os.path.join(app, "Unreadable.exe")
    data = open(launcher, "rb").read()
    assert data.count(b"<QvDeploy") == 1
    open(unreadable, "wb").write(data.replace(b"<QvDeploy", b"<QvDeplXy"))
    exit_code, output, report = detect(unreadable)
    log = open(os.path.join(temp, "VantorLauncher.log"), encoding="latin-1").read()
    if (exit_code, output, report) != (1603 & 0xFF, b"", None):
        failures.append(f"unreadable document: exit code {exit_code}, output {output!r}, report {report!r}")
    if "Deploy::Detect - no report: the document cannot be read" not in log:
        failures.append(f"unreadable document: log\n{log}")
finally:
    install(None)
    shutil.rmtree(work, ignore_errors=True)

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
