"""`vormant view`: plot files in the browser, served by Bokeh on 127.0.0.1. A panel per chosen
parameter over a shared time axis, the files overlaid; every zoom or pan drawn again from the
files through the envelope of the visible steps at the panel's width in pixels; with --follow,
the steps a running simulation completes streamed in about once a second."""

from __future__ import annotations

import argparse
import socket
import sys
import webbrowser
from typing import Any

from ._followed import Followed
from ._optional import require
from ._plotting import DEFAULT_PARAMETERS, first_word
from ._report import UnusableParameter, chosen_columns, file_error, missing_library, usage_error

ADDRESS = "127.0.0.1"
REFRESH_MS = 1000
# Pixel columns before the browser has told the panel's width.
DEFAULT_PIXELS = 800
PANEL_HEIGHT = 220
PALETTE = ("#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2")


def free_port() -> int:
    """A port on 127.0.0.1 that no one listens on now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind((ADDRESS, 0))
        port: int = probe.getsockname()[1]
        return port


class View:
    """One browser session's page: the list of parameters, the panels and their lines."""

    def __init__(self, bokeh: Any, files: list[Followed], chosen: list[str], follow: bool,
                 document: Any) -> None:
        self.bokeh = bokeh
        self.files = files
        self.document = document
        self.pending = False
        names = list(files[0].plot_file.names[1:])
        models = bokeh["models"]
        self.filter = models.TextInput(title="Parameters", placeholder="filter",
                                       name="filter", width=260)
        self.chooser = models.MultiSelect(options=names, value=chosen, size=24, name="chooser",
                                          width=260)
        self.names = names
        self.x_range = models.Range1d(*self.time_extent(), name="time")
        self.panels = bokeh["layouts"].column(sizing_mode="stretch_width", name="panels")
        self.lines: list[tuple[Any, str, list[tuple[Followed, Any]]]] = []
        self.filter.on_change("value_input", self.on_filter)
        self.chooser.on_change("value", lambda _attribute, _old, _new: self.build())
        self.build()
        document.add_root(bokeh["layouts"].row(
            bokeh["layouts"].column(self.filter, self.chooser), self.panels,
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
        shown = [name for name in self.names if wanted in name.lower()]
        self.chooser.options = sorted(set(shown) | set(self.chooser.value), key=self.names.index)

    def build(self) -> None:
        """A panel per chosen parameter, a line per file that has it."""
        models, plotting = self.bokeh["models"], self.bokeh["plotting"]
        self.lines = []
        figures = []
        time = first_word(self.files[0].plot_file.names[0])
        for number, name in enumerate(self.chooser.value):
            figure = plotting.figure(
                x_range=self.x_range, height=PANEL_HEIGHT, sizing_mode="stretch_width",
                tools="xpan,xwheel_zoom,box_zoom,reset", active_scroll="xwheel_zoom",
                y_axis_label=first_word(name), name=f"panel-{number}", output_backend="webgl")
            sources = []
            for index, file in enumerate(self.files):
                if file.column(name) is None:
                    continue
                source = models.ColumnDataSource({"x": [], "y": []}, name=f"line-{number}-{index}")
                label = file.path if len(self.files) > 1 else name
                figure.line("x", "y", source=source, legend_label=label,
                            color=PALETTE[index % len(PALETTE)])
                sources.append((file, source))
            figure.legend.location = "top_left"
            figure.on_event(self.bokeh["events"].RangesUpdate, lambda _: self.schedule())
            # The browser keeps the panel's width to itself; it hands it over in the tags.
            figure.js_on_change("inner_width", models.CustomJS(
                code="cb_obj.tags = [cb_obj.inner_width]"))
            figure.on_change("tags", lambda _attribute, _old, _new: self.schedule())
            self.lines.append((figure, name, sources))
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
        widths = [figure.tags[0] for figure, _, _ in self.lines if figure.tags]
        return max(widths) if widths else DEFAULT_PIXELS

    def redraw(self) -> None:
        """Every line again, from the envelope of the steps in view."""
        self.pending = False
        pixels = self.pixels()
        for file in self.files:
            steps = file.steps_between(self.x_range.start, self.x_range.end)
            self.draw_file(file, steps, pixels, stream=False)

    def draw_file(self, file: Followed, steps: range, groups: int, stream: bool) -> None:
        drawn = [(name, source) for _, name, sources in self.lines
                 for owner, source in sources if owner is file]
        columns = [file.column(name) or 0 for name, _ in drawn]
        for (_, source), (x, y) in zip(drawn, file.points(columns, steps, groups)):
            if stream:
                source.stream({"x": x, "y": y})
            else:
                source.data = {"x": x, "y": y}

    def follow(self) -> None:
        """New steps streamed in at the resolution of the view; the view moves on with the
        end of the run when it shows the end, and stays where the user put it otherwise."""
        pixels = self.pixels()
        start, end = self.x_range.start, self.x_range.end
        for number, file in enumerate(self.files):
            before = self.seen[number]
            shows_end = before == 0 or end >= float(file.times[before - 1])
            file.refresh()  # shared by the sessions: each has its own steps seen
            if file.steps == before:
                continue
            in_view = len(file.steps_between(start, end)) or 1
            per_group = max(1, in_view // pixels)
            new = range(before, file.steps)
            self.draw_file(file, new, -(-len(new) // per_group), stream=True)
            self.seen[number] = file.steps
            if shows_end:
                self.x_range.end = float(file.times[-1])


def bokeh_modules() -> dict[str, Any]:
    names = ("models", "layouts", "plotting", "events", "server.server", "application",
             "application.handlers.function")
    return {name: require(f"bokeh.{name}", "vormant view", "view") for name in names}


def parameters_of(first: Followed, wanted: list[str] | None) -> list[str]:
    """The name lines of the parameters chosen on the command line, or the first few."""
    if not wanted:
        return list(first.plot_file.names[1:DEFAULT_PARAMETERS + 1])
    columns = chosen_columns(first.plot_file, wanted)
    return [first.plot_file.names[column] for column in columns]


def serve(bokeh: dict[str, Any], files: list[Followed], chosen: list[str], follow: bool,
          port: int, browser: bool) -> int:
    port = port or free_port()
    handler = bokeh["application.handlers.function"].FunctionHandler(
        lambda document: View(bokeh, files, list(chosen), follow, document))
    server = bokeh["server.server"].Server(
        {"/": bokeh["application"].Application(handler)}, address=ADDRESS, port=port,
        allow_websocket_origin=[f"{ADDRESS}:{port}", f"localhost:{port}"])
    server.start()
    url = f"http://{ADDRESS}:{port}/"
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
        return serve(bokeh, files, chosen, args.follow, args.port, not args.no_browser)
    finally:
        for file in files:
            file.plot_file.close()
        sys.stdout.flush()
