#!/usr/bin/python3
"""Finds and drives an application's controls through AT-SPI, by role and accessible name.

  dump     --app NAME [--json]                     the tree: path, role, name, description, x y w h, states, actions
  wait     --app NAME --role ROLE --name NAME       waits for a showing match; prints its screen extents: x y w h
  press    --app NAME --role ROLE --name NAME       does its Press (or Click, or first) action; prints the action
  settext  --app NAME --role ROLE --name NAME TEXT  replaces a line edit's text, waits until it reads back
  focused  --app NAME                               prints the focused accessible: role<TAB>name

A control matches by its role as pyatspi names it ("push button", "text", "password text", "label"; case,
underscores and dashes do not matter) and by its name, exactly or with --contains a part of it. A nameless one
matches by its description instead: Qt 5 puts a line edit's placeholder text there. --index N takes the Nth match
(from 0, in tree order); --pid picks one of several applications of that name. wait and press take only showing
controls, the others do with --showing.

Each command waits up to --timeout seconds (10) for what it needs. Output goes to stdout; on a failure or a time-out
the reason goes to stderr and the exit status is 1 (2 for a bad command line).
"""

import argparse
import json
import os
import sys
import time


def die(message):
    print("atspi: " + message, file=sys.stderr)
    sys.exit(1)


# Without a session bus libdbus would try to autolaunch one, and fail with a message that does not say why.
if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
    die("no D-Bus session bus (DBUS_SESSION_BUS_ADDRESS is unset): run under tests/e2e/atspi-session.sh")

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Gio, GLib
except (ImportError, ValueError) as error:
    die("pyatspi is missing (%s): install python3-pyatspi and run this with /usr/bin/python3" % error)

# libatspi aborts the process when it finds no accessibility bus: ask for it first, for a message instead.
if not os.environ.get("AT_SPI_BUS_ADDRESS"):
    try:
        Gio.bus_get_sync(Gio.BusType.SESSION, None).call_sync(
            "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None, GLib.VariantType("(s)"),
            Gio.DBusCallFlags.NONE, 10000, None)
    except GLib.Error as error:
        die("no AT-SPI bus on the session bus (%s): run under tests/e2e/atspi-session.sh" % error.message)

try:
    import pyatspi
    from gi.repository import Atspi
except ImportError as error:
    die("pyatspi is missing (%s): install python3-pyatspi and run this with /usr/bin/python3" % error)

MAX_NODES = 20000  # a runaway tree (a huge table) ends the walk, not the test machine
POLL = 0.1


def norm_role(role):
    return " ".join(role.lower().replace("_", " ").replace("-", " ").split())


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


def safe(get, default=None):
    # An accessible can go away between two calls; it then just does not match.
    try:
        return get()
    except Exception:
        return default


def states_of(acc):
    state_set = safe(acc.getState)
    if state_set is None:
        return []
    return sorted(pyatspi.stateToString(s) for s in state_set.getStates())


def has_state(acc, state):
    state_set = safe(acc.getState)
    return state_set is not None and state_set.contains(state)


def is_showing(acc):
    return has_state(acc, pyatspi.STATE_SHOWING) and has_state(acc, pyatspi.STATE_VISIBLE)


def extents_of(acc):
    def get():
        e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return (e.x, e.y, e.width, e.height)

    return safe(get)


def actions_of(acc):
    def get():
        action = acc.queryAction()
        return [action.getName(i) for i in range(action.nActions)]

    return safe(get, [])


def label_of(acc):
    name = safe(lambda: acc.name, "") or ""
    return name if name else (safe(lambda: acc.description, "") or "")


def walk(root):
    """Yields (path, depth, accessible) in tree order; path is the child indices joined by dots."""
    stack = [("", 0, root)]
    seen = 0
    while stack and seen < MAX_NODES:
        path, depth, acc = stack.pop()
        seen += 1
        yield path, depth, acc
        count = safe(lambda: acc.childCount, 0) or 0
        children = []
        for i in range(count):
            child = safe(lambda: acc.getChildAtIndex(i))
            if child is not None:
                children.append(((path + "." if path else "") + str(i), depth + 1, child))
        stack.extend(reversed(children))


class Finder:
    def __init__(self, args):
        self.args = args
        self.desktop = pyatspi.Registry.getDesktop(0)

    def apps(self):
        # Fresh each time: this process runs no main loop, so libatspi's caches would not follow the changes.
        self.desktop.clear_cache()
        found = []
        for i in range(safe(lambda: self.desktop.childCount, 0) or 0):
            app = safe(lambda: self.desktop.getChildAtIndex(i))
            if app is None or safe(lambda: app.name) != self.args.app:
                continue
            if self.args.pid and safe(app.get_process_id) != self.args.pid:
                continue
            safe(lambda: app.set_cache_mask(Atspi.Cache.NONE))
            found.append(app)
        return found

    def app(self):
        """(application, None) or (None, why not)."""
        apps = self.apps()
        who = repr(self.args.app) + (" with pid %d" % self.args.pid if self.args.pid else "")
        if not apps:
            names = sorted({safe(lambda: a.name, "?") for a in self.desktop if a is not None})
            return None, "no application %s on the accessibility bus (there: %s)" % (who, ", ".join(names) or "none")
        if len(apps) > 1:
            pids = ", ".join(str(safe(a.get_process_id)) for a in apps)
            return None, "%d applications %s (pids %s): pick one with --pid" % (len(apps), who, pids)
        return apps[0], None

    def control(self, need_showing):
        """((path, accessible), None) or (None, why not)."""
        args = self.args
        app, why = self.app()
        if app is None:
            return None, why
        role = norm_role(args.role) if args.role else None
        matches, others = [], []
        for path, _, acc in walk(app):
            if role is not None and norm_role(safe(acc.getRoleName, "")) != role:
                continue
            label = label_of(acc)
            showing = is_showing(acc)
            named = args.name is None or (args.name in label if args.contains else label == args.name)
            if named and (showing or not need_showing):
                matches.append((path, acc))
            elif len(others) < 20:
                others.append(repr(label) + ("" if showing else " (hidden)"))
        if len(matches) > args.index:
            return matches[args.index], None
        what = "%s%s%s" % (
            "showing " if need_showing else "",
            args.role or "accessible",
            "" if args.name is None else (" containing %r" if args.contains else " named %r") % args.name,
        )
        where = "%s (pid %s)" % (args.app, safe(app.get_process_id))
        if matches:
            return None, "no %s number %d in %s: there are %d" % (what, args.index, where, len(matches))
        return None, "no %s in %s; of that role there: %s" % (what, where, ", ".join(others) or "none")


def called(args, acc):
    return "%s %r" % (safe(acc.getRoleName, args.role or "accessible"), label_of(acc))


def poll(timeout, attempt):
    """attempt() -> (result, why); returns the first result that is not None, else dies with the last why."""
    deadline = time.monotonic() + timeout
    while True:
        result, why = attempt()
        if result is not None:
            return result
        if time.monotonic() >= deadline:
            die("%s (waited %g s)" % (why, timeout))
        time.sleep(POLL)


def line_of(path, depth, acc):
    e = extents_of(acc)
    return "\t".join(
        [
            "  " * depth + (path or "-"),
            safe(acc.getRoleName, "?"),
            escape(safe(lambda: acc.name, "") or ""),
            escape(safe(lambda: acc.description, "") or ""),
            " ".join(map(str, e)) if e else "- - - -",
            ",".join(s.replace(" ", "-") for s in states_of(acc)),
            ",".join(actions_of(acc)),
        ]
    )


def record_of(path, depth, acc):
    e = extents_of(acc)
    return {
        "path": path,
        "depth": depth,
        "role": safe(acc.getRoleName, "?"),
        "name": safe(lambda: acc.name, "") or "",
        "description": safe(lambda: acc.description, "") or "",
        "extents": list(e) if e else None,
        "states": states_of(acc),
        "actions": actions_of(acc),
    }


def cmd_dump(finder, args):
    app = poll(args.timeout, finder.app)
    if args.json:
        json.dump([record_of(p, d, a) for p, d, a in walk(app)], sys.stdout, ensure_ascii=False, indent=1)
        print()
        return
    print("# path\trole\tname\tdescription\tx y w h\tstates\tactions; pid %s" % safe(app.get_process_id))
    for path, depth, acc in walk(app):
        print(line_of(path, depth, acc))


def cmd_wait(finder, args):
    _, acc = poll(args.timeout, lambda: finder.control(True))
    e = extents_of(acc)
    print(" ".join(map(str, e)) if e else "- - - -")


def cmd_press(finder, args):
    _, acc = poll(args.timeout, lambda: finder.control(True))
    names = actions_of(acc)
    lowered = [n.lower() for n in names]
    chosen = next((lowered.index(n) for n in ("press", "click", "activate") if n in lowered), None)
    if chosen is None:
        chosen = next((i for i, n in enumerate(lowered) if n != "setfocus"), None)
    if chosen is None:
        # Focus at least shows which control it was, but nothing was pressed.
        focused = safe(lambda: acc.queryComponent().grabFocus(), False)
        die(
            "%s has no action to press (actions: %s); %s"
            % (called(args, acc), ", ".join(names) or "none", "focused it only" if focused else "not even focus")
        )
    if not safe(lambda: acc.queryAction().doAction(chosen), False):
        die("%s refused its %s action" % (called(args, acc), names[chosen]))
    print(names[chosen])


def text_of(acc):
    def get():
        return acc.queryText().getText(0, -1)

    text = safe(get)
    return text if text is not None else (safe(lambda: acc.name, "") or "")


def cmd_settext(finder, args):
    deadline = time.monotonic() + args.timeout
    _, acc = poll(args.timeout, lambda: finder.control(args.showing))
    editable = safe(acc.queryEditableText)
    if editable is None:
        die("%s has no editable text" % called(args, acc))
    if not safe(lambda: editable.setTextContents(args.text), False):
        die("%s refused the text" % called(args, acc))
    # A password field reads back empty: only its length can be checked.
    password = safe(acc.getRole) == pyatspi.ROLE_PASSWORD_TEXT

    def landed():
        if password:
            count = safe(lambda: acc.queryText().characterCount, -1)
            now = "%d characters" % count
            ok = count == len(args.text)
        else:
            now = text_of(acc)
            ok = now == args.text
        if ok:
            return True, None
        wanted = "%d characters" % len(args.text) if password else repr(args.text)
        return None, "%s reads %s after setting %s" % (called(args, acc), now if password else repr(now), wanted)

    poll(max(0.0, deadline - time.monotonic()), landed)


def cmd_focused(finder, args):
    def attempt():
        app, why = finder.app()
        if app is None:
            return None, why
        found = None
        for _, _, acc in walk(app):
            if has_state(acc, pyatspi.STATE_FOCUSED):
                found = acc  # the deepest one in tree order
        if found is None:
            return None, "nothing in %s has the focus" % args.app
        return found, None

    acc = poll(args.timeout, attempt)
    print("%s\t%s" % (safe(acc.getRoleName, "?"), escape(label_of(acc))))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)

    def command(name, function, control=True, **extra):
        sub = commands.add_parser(name, **extra)
        sub.set_defaults(function=function)
        sub.add_argument("--app", required=True, help="the application's accessible name (Qt: its applicationName)")
        sub.add_argument("--pid", type=int, default=0, help="the application's process, when several have that name")
        sub.add_argument("--timeout", type=float, default=10.0, help="seconds to wait (10)")
        if control:
            sub.add_argument("--role", help='as pyatspi names it: "push button", "text", "label"')
            sub.add_argument("--name", help="the accessible name (or, for a nameless one, its description)")
            sub.add_argument("--contains", action="store_true", help="--name is a part of the name")
            sub.add_argument("--index", type=int, default=0, help="the Nth match, from 0, in tree order")
            sub.add_argument("--showing", action="store_true", help="only showing controls (wait and press always)")
        return sub

    command("dump", cmd_dump, control=False).add_argument("--json", action="store_true", help="a JSON list")
    command("wait", cmd_wait)
    command("press", cmd_press)
    command("settext", cmd_settext).add_argument("text")
    command("focused", cmd_focused, control=False)

    args = parser.parse_args()
    if getattr(args, "index", 0) < 0:
        parser.error("--index counts from 0")
    args.function(Finder(args), args)


if __name__ == "__main__":
    main()
