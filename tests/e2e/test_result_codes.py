"""The result codes: the header the program names them in and the guide's table list the same."""

import pathlib
import re

REPO = pathlib.Path(__file__).resolve().parents[2]


def header_codes():
    text = (REPO / "platform" / "result_codes.h").read_text()
    codes = {}
    for name, number in re.findall(r"^#define (BRONTEL_RESULT_\w+) (\d+)$", text, re.M):
        assert int(number) not in codes.values(), f"{name}: {number} is named twice"
        codes[name] = int(number)
    return codes


def guide_codes():
    text = (REPO / "docs" / "admin-guide.md").read_text()
    table = text[text.index("brontel's codes form one table"):]
    table = table[:table.index("\n\n", table.index("| Code |"))]
    return [int(n) for n in re.findall(r"^\| (\d+) \|", table, re.M)]


def test_the_header_and_the_guide_list_the_same_codes():
    named = sorted(header_codes().values())
    documented = guide_codes()
    assert documented == sorted(set(documented)), "the guide lists a code twice or out of order"
    assert named == documented


def test_no_code_of_the_program_is_a_bare_number_outside_the_header():
    # A result the program returns is named: "result = 9;" or "return 25;" would bypass the table.
    bare = re.compile(r"\b(result|exitValue)\s*=\s*([2-9]|[1-9][0-9]+);|\breturn ([2-9]|[1-9][0-9]+);")
    found = []
    for folder in ("app", "config", "install", "registry", "runtime", "jvm"):
        for path in sorted((REPO / folder).rglob("*.cpp")):
            for number, line in enumerate(path.read_text().splitlines(), 1):
                if bare.search(line):
                    found.append(f"{path.relative_to(REPO)}:{number}: {line.strip()}")
    assert found == []


def test_the_status_words_every_event_as_the_message_table_does():
    """Status reads events back with its own copy of the message texts; each must stay the
    message table's, word for word, or status would show an event as it was never written."""
    ids = dict(re.findall(r"^#define (BRONTEL_EVENT_\w+) (\d+)$",
                          (REPO / "runtime" / "events" / "event_ids.h").read_text(), re.M))
    table = dict(re.findall(r"^MessageId=(\d+)\nLanguage=English\n(.*?)\n\.$",
                            (REPO / "runtime" / "events" / "event_messages.mc").read_text(),
                            re.M | re.S))
    source = (REPO / "runtime" / "events" / "event_texts.cpp").read_text()
    copies = {}
    for name, literals in re.findall(r"\{(BRONTEL_EVENT_\w+),((?:\s*L\"(?:[^\"\\]|\\.)*\")+)\}",
                                      source):
        copies[ids[name]] = "".join(re.findall(r"L\"((?:[^\"\\]|\\.)*)\"", literals))
    assert copies == table
