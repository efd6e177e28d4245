"""`vormant view`: plot files in the browser, served by Bokeh on 127.0.0.1. A panel per chosen
parameter over a shared time axis, the files overlaid; every zoom or pan drawn again from the
files through the envelope of the visible steps at the panel's width in pixels; with --follow,
the steps a running simulation completes drawn in about once a second."""

from __future__ import annotations

import argparse
import html
import sys
import webbrowser
from collections.abc import Mapping
from typing import Any

from ._convert import unique_names
from ._followed import Followed, Key
from ._optional import require
from ._plotting import DEFAULT_PARAMETERS, first_word
from ._report import (UnusableParameter, chosen_columns, failure_text, file_error,
                      missing_library, usage_error)

ADDRESS = "127.0.0.1"
REFRESH_MS = 1000
# Pixel columns before the browser has told the panel's width.
DEFAULT_PIXELS = 800
PANEL_HEIGHT = 220
PALETTE = ("#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2")
HIGHEST_PORT = 65535


def port_number(text: str) -> int:
    """`--port N`: a TCP port, 0 for a free one."""
    try:
        port = int(text)
    except ValueError:
        port = -1
    if not 0 <= port <= HIGHEST_PORT:
        raise argparse.ArgumentTypeError(
            f"expected a port from 1 to {HIGHEST_PORT}, or 0 for a free one, not {text!r}")
    return port


def own_hosts(port: int) -> set[str]:
    """The names under which a browser on this machine reaches the view."""
    return {f"{ADDRESS}:{port}", f"localhost:{port}"}


def admitted(headers: Mapping[str, str], hosts: set[str]) -> bool:
    """Whether a request may be answered. Listening on 127.0.0.1 keeps other machines out, not
    pages of other sites: a page whose name is made to resolve to 127.0.0.1 sends that name as
    Host, and a page that opens a websocket here sends its own Origin. So the Host must be
    one of `hosts`, an Origin, when there is one, must be this server, and a websocket must
    say where it comes from."""
    if headers.get("Host", "").lower() not in hosts:
        return False
    origin = headers.get("Origin")
    if origin is None:
        return headers.get("Upgrade", "").lower() != "websocket"
    return origin.lower() in {f"http://{host}" for host in hosts}


class View:
    """One browser session's page: the list of parameters, the panels and their lines."""

    def __init__(self, bokeh: Any, files: list[Followed], chosen: list[int], follow: bool,
                 document: Any) -> None:
        self.bokeh = bokeh
        self.files = files
        self.document = document
        self.pending = False
        # A repeated name line is listed as convert names its column: 'X', 'X (2)', ...
        self.labels = unique_names(files[0].plot_file.names[1:])
        self.columns = {label: column for column, label in enumerate(self.labels, start=1)}
        models = bokeh["models"]
        self.filter = models.TextInput(title="Parameters", placeholder="filter",
                                       name="filter", width=260)
        self.chooser = models.MultiSelect(options=self.labels,
                                          value=[self.labels[column - 1] for column in chosen],
                                          size=24, name="chooser", width=260)
        self.message = models.Div(text="", name="message", width=260,
                                  styles={"color": "#d62728"})
        self.x_range = models.Range1d(*self.time_extent(), name="time")
        self.panels = bokeh["layouts"].column(sizing_mode="stretch_width", name="panels")
        self.lines: list[tuple[Any, list[tuple[Followed, int, Any]]]] = []
        self.filter.on_change("value_input", self.on_filter)
        self.chooser.on_change("value", lambda _attribute, _old, _new: self.build())
        self.build()
        document.add_root(bokeh["layouts"].row(
            bokeh["layouts"].column(self.filter, self.chooser, self.message), self.panels,
            sizing_mode="stretch_width"))
        document.title = "vormant view: " + ", ".join(file.path for file in files)
        if follow:
            self.seen = [file.steps for file in files]
            document.add_periodic_callback(self.follow, REFRESH_MS)

    def time_extent(self) -> tuple[float, float]:
        times = [file.times for file in self.files if file.steps]
        if not times:
            return 0.0, 1.0
        low = min(float(each[0]) for each in times)
        high = max(float(each[-1]) for each in times)
        return low, high if high > low else low + 1.0

    def on_filter(self, _attribute: str, _old: str, text: str) -> None:
        wanted = text.strip().lower()
        shown = {label for label in self.labels if wanted in label.lower()}
        shown |= set(self.chooser.value)
        self.chooser.options = [label for label in self.labels if label in shown]

    def build(self) -> None:
        """A panel per chosen parameter, a line for each file that has a parameter of its
        name line (the k-th of a repeated one matching the k-th)."""
        models, plotting = self.bokeh["models"], self.bokeh["plotting"]
        self.lines = []
        figures = []
        time = first_word(self.files[0].plot_file.names[0])
        for number, label in enumerate(self.chooser.value):
            key: Key = self.files[0].keys[self.columns[label]]
            figure = plotting.figure(
                x_range=self.x_range, height=PANEL_HEIGHT, sizing_mode="stretch_width",
                tools="xpan,xwheel_zoom,box_zoom,reset", active_scroll="xwheel_zoom",
                y_axis_label=first_word(label), name=f"panel-{number}", output_backend="webgl")
            sources = []
            for index, file in enumerate(self.files):
                column = file.column(key)
                if column is None:
                    continue
                source = models.ColumnDataSource({"x": [], "y": []}, name=f"line-{number}-{index}")
                figure.line("x", "y", source=source,
                            legend_label=file.path if len(self.files) > 1 else label,
                            color=PALETTE[index % len(PALETTE)])
                sources.append((file, column, source))
            figure.legend.location = "top_left"
            figure.on_event(self.bokeh["events"].RangesUpdate, lambda _: self.schedule())
            # The browser keeps the panel's width to itself; it hands it over in the tags.
            figure.js_on_change("inner_width", models.CustomJS(
                code="cb_obj.tags = [cb_obj.inner_width]"))
            figure.on_change("tags", lambda _attribute, _old, _new: self.schedule())
            self.lines.append((figure, sources))
            figures.append(figure)
        if figures:
            figures[-1].xaxis.axis_label = time
        self.panels.children = figures
        self.redraw()

    def schedule(self) -> None:
        """A redraw once the events of one gesture are in."""
        if not self.pending:
            self.pending = True
            self.document.add_next_tick_callback(self.redraw)

    def pixels(self) -> int:
        widths = [figure.tags[0] for figure, _ in self.lines if figure.tags]
        return max(widths) if widths else DEFAULT_PIXELS

    def redraw(self) -> None:
        """Every line again, from the envelope of the steps in view."""
        self.pending = False
        failures = [self.draw_file(file) for file in self.files]
        self.show([failure for failure in failures if failure])

    def draw_file(self, file: Followed) -> str | None:
        """The lines of `file` from the envelope of its steps in view, a group per pixel
        column; the text of the failure when the file cannot be read."""
        steps = file.steps_between(self.x_range.start, self.x_range.end)
        drawn = [(column, source) for _, sources in self.lines
                 for owner, column, source in sources if owner is file]
        try:
            points = file.points([column for column, _ in drawn], steps, self.pixels())
        except (OSError, ValueError) as error:
            return failure_text(file.path, error)
        for (_, source), (x, y) in zip(drawn, points):
            source.data = {"x": x, "y": y}
        return None

    def show(self, failures: list[str]) -> None:
        """The failures of the last drawing on the page, under the list (none: nothing)."""
        self.message.text = "<br>".join(html.escape(failure) for failure in failures)

    def follow(self) -> None:
        """The steps completed since, drawn as a zoom is: a view that shows the end of the run
        moves on with it and is drawn again through the envelope; one zoomed elsewhere stays
        where the user put it, and the new steps, out of its sight, add nothing to the page."""
        seen_end = max((float(file.times[seen - 1]) for file, seen in zip(self.files, self.seen)
                        if seen), default=None)
        failures = []
        for file in self.files:
            try:
                file.refresh()  # shared by the sessions: each has its own steps seen
            except (OSError, ValueError) as error:
                failures.append(failure_text(file.path, error))
        grown = [number for number, file in enumerate(self.files)
                 if file.steps > self.seen[number]]
        if grown:
            self.move_on(seen_end)
        for number in grown:
            file, seen = self.files[number], self.seen[number]
            # A file whose last step seen lay past the view already drew the step after the
            # view's end; later steps lie further out.
            failure = None
            if not seen or float(file.times[seen - 1]) <= self.x_range.end:
                failure = self.draw_file(file)
            if failure:
                failures.append(failure)
            self.seen[number] = file.steps
        if failures:
            self.show(failures)

    def move_on(self, seen_end: float | None) -> None:
        """The view shows the new end of the run when it showed the end (all of it when
        nothing was seen yet); reset shows the whole run as it now is."""
        low, high = self.time_extent()
        if seen_end is None:
            self.x_range.update(start=low, end=high)
        elif self.x_range.end >= seen_end:
            self.x_range.end = high
        self.x_range.update(reset_start=low, reset_end=high)


def bokeh_modules() -> dict[str, Any]:
    names = ("models", "layouts", "plotting", "events", "server.server", "server.tornado",
             "application", "application.handlers.function")
    modules = {name: require(f"bokeh.{name}", "vormant view", "view") for name in names}
    # Bokeh's own web server, installed with it.
    for name in ("tornado.httpserver", "tornado.ioloop", "tornado.netutil", "tornado.web"):
        modules[name] = require(name, "vormant view", "view")
    return modules


def parameters_of(first: Followed, wanted: list[str] | None) -> list[int]:
    """The columns of the parameters chosen on the command line, or of the first few."""
    if not wanted:
        return list(range(1, min(first.plot_file.parameters, DEFAULT_PARAMETERS + 1)))
    return list(chosen_columns(first.plot_file, wanted))


def check_drawn(files: list[Followed], chosen: list[int]) -> bool:
    """Reads every step of what the page will draw of each file, so that a fault in it ends
    the command before anything is served; False when one did, reported."""
    keys = [files[0].keys[column] for column in chosen]
    for file in files:
        try:
            file.check([column for column in map(file.column, keys) if column is not None])
        except (OSError, ValueError) as error:
            file_error(file.path, error)
            return False
    return True


def guarded_application(bokeh: dict[str, Any], applications: dict[str, Any], url: str,
                        hosts: set[str]) -> Any:
    """Bokeh's tornado application, every request of which (pages, static files, the
    websocket) is first held against `admitted`: a refused one gets 403 and nothing else."""
    web, base = bokeh["tornado.web"], bokeh["server.tornado"].BokehTornado

    def find_handler(self: Any, request: Any, **kwargs: Any) -> Any:
        if admitted(request.headers, hosts):
            return base.find_handler(self, request, **kwargs)
        return self.get_handler_delegate(request, web.ErrorHandler, {"status_code": 403})

    # Made at run time, as Bokeh is imported only when the view runs.
    guarded = type("GuardedBokehTornado", (base,), {"find_handler": find_handler})
    # No access log: the view prints nothing of its own accord.
    return guarded(applications, absolute_url=url, extra_websocket_origins=sorted(hosts),
                   log_function=lambda _handler: None)


def serve(bokeh: dict[str, Any], files: list[Followed], chosen: list[int], follow: bool,
          port: int, browser: bool) -> int:
    try:
        sockets = bokeh["tornado.netutil"].bind_sockets(port, ADDRESS)
    except OSError as error:
        usage_error("view", f"cannot listen on {ADDRESS}:{port}: {error.strerror or error}")
        return 1  # the port is usable, only not now
    port = sockets[0].getsockname()[1]
    url = f"http://{ADDRESS}:{port}/"
    handler = bokeh["application.handlers.function"].FunctionHandler(
        lambda document: View(bokeh, files, list(chosen), follow, document))
    application = guarded_application(
        bokeh, {"/": bokeh["application"].Application(handler)}, url, own_hosts(port))
    http_server = bokeh["tornado.httpserver"].HTTPServer(application)
    http_server.add_sockets(sockets)
    server = bokeh["server.server"].BaseServer(bokeh["tornado.ioloop"].IOLoop.current(),
                                               application, http_server)
    server.start()
    print(f"vormant view: {url}", flush=True)
    if browser:
        webbrowser.open(url)
    try:
        server.io_loop.start()
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


def run(args: argparse.Namespace) -> int:
    try:
        numpy = require("numpy", "vormant view", "view")
        bokeh = bokeh_modules()
    except ImportError as error:
        return missing_library(error)
    files: list[Followed] = []
    try:
        for path in args.files:
            try:
                files.append(Followed(numpy, path, args.n_digits, args.follow))
            except (OSError, ValueError) as error:
                file_error(path, error)
                return 2
        try:
            chosen = parameters_of(files[0], args.parameters)
        except UnusableParameter as error:
            return usage_error("view", str(error))
        if not check_drawn(files, chosen):
            return 2
        return serve(bokeh, files, chosen, args.follow, args.port, not args.no_browser)
    finally:
        for file in files:
            file.plot_file.close()
        sys.stdout.flush()
