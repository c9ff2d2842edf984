"""The run as a script sees it: banner, mode lines, checks, usage text,
registry presets and exit codes of the real binary."""
import os
import socket

import pytest

from conftest import BANNER, RULE
from support import accept_each, free_port

USAGE = [
    "Parameters you need to use:",
    RULE,
    "  /Receiver:receiver@example.com",
    "  /Sender:sender@example.com",
    "  /MailServer:mail.example.com",
    "For a single file use",
    "  /File:c:\\IncludeThisFile.txt",
    "Optional",
    "  /Zip[:Filename zipfile]",
    "  /CreateOnly (for use with /Zip. No transmission.)",
    "For a folder use",
    "  /Dir:c:\\MyDir (Implies /Zip)",
    "Optional",
    "  /Zip[:Filename]",
    "  /Recurse",
    "  /CreateOnly (No transmission.)",
    "  /NoSplit (No splitting of big files.)",
    "",
    "Using FTP",
    "  /FTPServer:The FTP server",
    "  /FTPUser:The FTP username",
    "  /FTPPassword:The FTP password",
    "  /FTPFilename:optional argument. The FTP Filename",
    "  /FTPPassiveMode",
    RULE,
    "Use of Registry:",
    RULE,
    "To avoid having to enter the sender",
    "and mailserver every time you can use",
    "the registry to preset these values.",
    "",
    "Set the REG_SZ values Mailserver and",
    "Sender in Software\\Veltrona\\Dropcart",
    "in HKEY_LOCAL_MACHINE or in",
    "HKEY_CURRENT_USER. The User key will",
    "override the Local Machine value.",
    "",
    "NOTE: Backup your registry first.",
    "Make sure you know how to restore",
    "and modify the registry before you",
    "modify any value in the registry.",
    RULE,
    "Veltrona Software, Example Country",
    "https://www.example.com/postrunner",
    RULE,
]

SAME_NAME = ("In File and Zip Mode the filename to zip and te zipfile need to "
             "have different names")

PRESET_SECTION = "[HKEY_{}\\Software\\Veltrona\\Dropcart]\r\n"


def write_reg(path, hive, values, header="REGEDIT4\r\n\r\n"):
    text = header + PRESET_SECTION.format(hive)
    for name, value in values.items():
        text += '"{}"="{}"\r\n'.format(name, value)
    path.write_bytes(text.encode("latin-1"))


class RefusingServer:
    """A TCP listener that records each connection and refuses it with a 554
    greeting, so a mail run that reaches it ends at once."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0), backlog=8)
        self.port = self.sock.getsockname()[1]
        self.connections = 0
        accept_each(self.sock, self._refuse)

    def _refuse(self, conn):
        self.connections += 1
        try:
            conn.sendall(b"554 no service here\r\n")
        finally:
            conn.close()

    def close(self):
        self.sock.close()


# --- missing options: message, usage, exit code 1 -----------------------

def test_no_options_asks_for_the_receiver(run):
    r = run()
    assert r.lines == BANNER + ["ERROR: Set the receiver"] + USAGE
    assert r.code == 1


def test_sender_missing_when_no_option_and_no_preset(run):
    r = run("/Receiver:r@example.com", "/File:x")
    assert r.lines == BANNER + ["ERROR: Set the sender"] + USAGE
    assert r.code == 1


def test_file_missing(run):
    r = run("/Receiver:r@example.com", "/Sender:s@example.com")
    assert r.lines == BANNER + ["ERROR: Set the file to send"] + USAGE
    assert r.code == 1


def test_empty_dir_value(run):
    r = run("/receiver:", "/sender:", "/Dir:")
    assert r.lines == BANNER + ["DIR Mode", "ERROR: Incomplete Parameter /Dir:"] + USAGE
    assert r.code == 1


def test_ftp_checks_print_usage_before_the_message(run):
    r = run("/FTPServer:ftp.example.com", "/File:x")
    assert r.lines == BANNER + USAGE + ["ERROR: Set the FTP Username"]
    assert r.code == 1
    r = run("/FTPServer:ftp.example.com", "/FTPUser:u", "/File:x")
    assert r.lines == BANNER + USAGE + ["ERROR: Set the FTP Username"]
    assert r.code == 1


# --- mode lines ------------------------------------------------------------

def test_mode_lines_come_in_fixed_order(run, workdir):
    (workdir / "a.txt").write_text("x")
    r = run("/Zip:out.zip", "/Recurse", "/CreateOnly", "/NoSplit",
            "/Sender:ignored", "/File:a.txt", "/Zip", stderr_ok=True)
    assert r.lines[:8] == BANNER + ["Dont split ZIP files", "CREATE ONLY Mode",
                                    "RECURSE Mode", "ZIP Mode", "FILE Mode"]
    assert r.stderr == ("postrunner: /Zip is given more than once; argument 7 is ignored, "
                        "the first one counts\n")


def test_create_only_without_archive_does_nothing_else(run, workdir):
    (workdir / "a.txt").write_text("x")
    r = run("/CreateOnly", "/File:a.txt")
    assert r.lines == BANNER + ["CREATE ONLY Mode", "FILE Mode"]
    assert r.code == 0
    assert sorted(os.listdir(workdir)) == ["a.txt"]


def test_create_only_still_needs_a_source(run):
    r = run("/CreateOnly")
    assert r.lines == BANNER + ["CREATE ONLY Mode", "ERROR: Set the file to send"] + USAGE
    assert r.code == 1


def test_dir_wins_over_file(run, workdir):
    r = run("/CreateOnly", "/File:a.txt", "/Dir:")
    assert r.lines[3:5] == ["CREATE ONLY Mode", "DIR Mode"]
    assert "FILE Mode" not in r.lines


# --- same file as archive and source ----------------------------------------

def test_same_name_differing_in_case_is_refused(run, workdir):
    (workdir / "A.ZIP").write_bytes(b"precious")
    r = run("/CreateOnly", "/Zip:a.zip", "/File:A.ZIP")
    assert r.lines == BANNER + ["CREATE ONLY Mode", "ZIP Mode", "FILE Mode", SAME_NAME]
    assert r.code == 1
    assert (workdir / "A.ZIP").read_bytes() == b"precious"


def test_same_file_under_another_name_is_refused_before_deletion(run, workdir):
    (workdir / "a.zip").write_bytes(b"precious")
    os.symlink("a.zip", workdir / "link.zip")
    for archive in ("./a.zip", "link.zip", str(workdir / "a.zip")):
        r = run("/CreateOnly", "/Zip:" + archive, "/File:a.zip")
        assert r.lines[-1] == SAME_NAME
        assert r.code == 1
        assert (workdir / "a.zip").read_bytes() == b"precious"


# --- delivery failures end with exit code 5 -----------------------------------

def test_failed_mail_delivery_ends_with_code_5(run, workdir):
    (workdir / "a.txt").write_text("x")
    port = free_port()
    r = run("/Receiver:r@example.com", "/Sender:s@example.com",
            "/Mailserver:127.0.0.1:%d" % port, "/File:a.txt")
    assert r.lines[:4] == BANNER + ["FILE Mode"]
    assert r.lines[-1] == "ERROR: File a.txt not sent to r@example.com"
    assert r.code == 5


def test_failed_ftp_delivery_ignores_receiver_and_ends_with_code_5(run, workdir):
    (workdir / "a.txt").write_text("x")
    server = "127.0.0.1:%d" % free_port()
    r = run("/Receiver:r@example.com", "/FTPServer:" + server, "/FTPUser:u",
            "/FTPPassword:secret-pw", "/File:" + str(workdir / "a.txt"))
    assert r.lines[:4] == BANNER + ["FILE Mode"]
    assert r.lines[-1] == "ERROR: File a.txt not sent to " + server
    assert "secret-pw" not in r.stdout
    assert r.code == 5


def test_failed_delivery_keeps_the_archive(run, workdir):
    (workdir / "a.txt").write_text("hello")
    r = run("/Receiver:r", "/Sender:s", "/Mailserver:127.0.0.1:%d" % free_port(),
            "/Zip", "/File:a.txt")
    assert r.code == 5
    assert r.lines[-1] == "ERROR: File a.txt not sent to r"
    assert (workdir / "Compressed.zip").exists()


# --- registry presets -------------------------------------------------------

def test_sender_from_machine_preset_passes_the_check(run, workdir, tmp_path):
    write_reg(tmp_path / "machine.reg", "LOCAL_MACHINE", {"Sender": "m@example.com"})
    port = free_port()
    r = run("/Receiver:r", "/Mailserver:127.0.0.1:%d" % port, "/File:a.txt")
    assert "ERROR: Set the sender" not in r.lines
    assert r.code == 5


def test_empty_user_preset_overrides_machine_sender(run, tmp_path):
    write_reg(tmp_path / "machine.reg", "LOCAL_MACHINE", {"Sender": "m@example.com"})
    write_reg(tmp_path / "user.reg", "CURRENT_USER", {"Sender": ""})
    r = run("/Receiver:r", "/File:a.txt")
    assert r.lines == BANNER + ["ERROR: Set the sender"] + USAGE
    assert r.code == 1


def test_oversized_or_malformed_user_value_falls_back_to_machine(run, tmp_path):
    write_reg(tmp_path / "machine.reg", "LOCAL_MACHINE", {"Sender": "m@example.com"},
              header="Windows Registry Editor Version 5.00\r\n\r\n")
    write_reg(tmp_path / "user.reg", "CURRENT_USER", {"Sender": "u" * 1024})
    r = run("/Receiver:r", "/Mailserver:127.0.0.1:%d" % free_port(), "/File:a.txt")
    assert "ERROR: Set the sender" not in r.lines
    (tmp_path / "user.reg").write_bytes(
        b"[HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart]\n\"Sender\"=\"broken\n")
    r = run("/Receiver:r", "/Mailserver:127.0.0.1:%d" % free_port(), "/File:a.txt",
            stderr_ok=True)
    assert "ERROR: Set the sender" not in r.lines
    # The run's own reason (a.txt does not exist) follows the registry's.
    assert r.stderr.startswith("postrunner: registry file %s has no \"REGEDIT4\" or \"Windows "
                               "Registry Editor Version 5.00\" header; line 2 does not parse, "
                               "skipped\n" % (tmp_path / "user.reg"))


def utf16_reg(hive, values):
    text = "Windows Registry Editor Version 5.00\r\n\r\n" + PRESET_SECTION.format(hive)
    for name, value in values.items():
        text += '"{}"="{}"\r\n'.format(name, value)
    return b"\xff\xfe" + text.encode("utf-16-le")


@pytest.mark.parametrize("user_file, reason", [
    # The registry editor's UTF-16 export is read: its empty Sender wins.
    (utf16_reg("CURRENT_USER", {"Sender": ""}), None),
    (utf16_reg("CURRENT_USER", {"Sender": ""})[:-1], "is broken UTF-16 text (an odd "
                                                      "number of bytes); ignored"),
    ("folder", "cannot be read: not a regular file"),
])
def test_registry_file_encodings_and_faults(run, tmp_path, user_file, reason):
    write_reg(tmp_path / "machine.reg", "LOCAL_MACHINE", {"Sender": "m@example.com"})
    user = tmp_path / "user.reg"
    if user_file == "folder":
        user.mkdir()
    else:
        user.write_bytes(user_file)
    r = run("/Receiver:r", "/Mailserver:127.0.0.1:%d" % free_port(), "/File:a.txt",
            stderr_ok=True)
    if reason is None:
        assert r.lines == BANNER + ["ERROR: Set the sender"] + USAGE
        assert r.stderr == ("postrunner: no sender: give /Sender:ADDRESS or the registry "
                            "preset Sender\n")
    else:
        # What cannot be read counts as empty: the machine's sender applies.
        assert "ERROR: Set the sender" not in r.lines
        assert r.stderr.startswith("postrunner: registry file %s %s\n" % (user, reason))


def test_user_mail_server_preset_overrides_machine(run, workdir, tmp_path):
    (workdir / "a.txt").write_text("x")
    machine, user = RefusingServer(), RefusingServer()
    try:
        write_reg(tmp_path / "machine.reg", "LOCAL_MACHINE",
                  {"Mailserver": "127.0.0.1:%d" % machine.port, "Sender": "s@example.com"})
        write_reg(tmp_path / "user.reg", "CURRENT_USER",
                  {"Mailserver": "127.0.0.1:%d" % user.port})
        r = run("/Receiver:r", "/File:a.txt")
        assert r.code == 5
        assert (machine.connections, user.connections) == (0, 1)
        # Without the user's value the machine's applies.
        (tmp_path / "user.reg").unlink()
        r = run("/Receiver:r", "/File:a.txt")
        assert (machine.connections, user.connections) == (1, 1)
        # A command-line server wins over both presets.
        r = run("/Receiver:r", "/File:a.txt", "/MailServer:127.0.0.1:%d" % user.port)
        assert (machine.connections, user.connections) == (1, 2)
    finally:
        machine.close()
        user.close()


def test_registry_files_default_to_xdg_config_home(run, workdir, tmp_path, env):
    config = tmp_path / "xdg"
    (config / "postrunner").mkdir(parents=True)
    write_reg(config / "postrunner" / "registry.reg", "CURRENT_USER",
              {"Sender": "u@example.com"})
    override = {"XDG_CONFIG_HOME": str(config)}
    env.pop("POSTRUNNER_USER_REGISTRY")
    r = run("/Receiver:r", "/Mailserver:127.0.0.1:%d" % free_port(), "/File:a.txt",
            env_override=override)
    assert "ERROR: Set the sender" not in r.lines
    assert r.code == 5
