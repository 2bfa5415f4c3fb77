"""Configuration files for the end-to-end tests: writing one, the smallest one that installs,
installing from one, and the administrator's round trip through a saved report."""


def write_config(machine, lines, file_name="svc.conf"):
    """Writes the lines (each ended by a line feed) into a file of this test; returns its path."""
    path = machine.tmp / file_name
    path.write_text("".join(line + "\n" for line in lines))
    return path


def basic(name, *extra, display=None, service_class="com.example.Service"):
    """The three required keys of a service, then the extra lines."""
    return [f"serviceDisplayName={display or 'Display ' + name}", f"serviceName={name}",
            f"ibrontelClass={service_class}", *extra]


def install(machine, lines, *options, file_name="svc.conf"):
    """brontel -i on a file of the lines, with further options; the Result."""
    config = write_config(machine, lines, file_name)
    return machine.run(["-i", machine.path(config), *options])


def round_trip(machine, name, removed=None):
    """Saves an installed service's settings (-e), removes the service (-r), installs the saved
    file again and saves once more: the second file must equal the first. `removed(result)`
    checks the removal's Result before the reinstallation. Returns the saved text."""
    saved = machine.tmp / "saved.conf"
    assert machine.run(["-e", name, machine.path(saved)]).rc == 0
    stored = saved.read_text()
    result = machine.run(["-r", name])
    assert result.rc == 0, result
    if removed is not None:
        removed(result)
    result = machine.run(["-i", machine.path(saved)])
    assert result.rc == 0, result
    again = machine.tmp / "again.conf"
    assert machine.run(["-e", name, machine.path(again)]).rc == 0
    assert again.read_text() == stored
    return stored
