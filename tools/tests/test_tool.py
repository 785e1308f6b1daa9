#!/usr/bin/env python3
"""morvex-package as a user runs it: one process per command, its exit
status, its error lines and its files parsed back with the standard library.

Usage: test_tool.py PATH_TO_MORVEX_PACKAGE [unittest options]
"""

import base64
import json
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

TOOL = ""  # set from the command line
SVG = "{http://www.w3.org/2000/svg}"
DEMO_TILES = 3
DEMO_STEPS = 9
CLOCK_HZ = 2_000_000  # 2 cycles per microsecond


def run(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True, check=False)


def run_ok(*args):
    result = run(*args)
    if result.returncode != 0:
        raise AssertionError(f"{args} exited with {result.returncode}: {result.stderr}")
    return result


class Workspace:
    """Files every test may read: the reference package, a profiled demo
    package with its runtime output, and reports decoded from them."""

    def __init__(self):
        self.dir = Path(tempfile.mkdtemp(prefix="morvex-package-test-"))
        self.reference = self.dir / "reference.mvx"
        self.demo = self.dir / "demo.mvx"
        self.runtime_output = self.dir / "run.bin"
        self.report = self.dir / "demo.prof"
        self.report_no_clock = self.dir / "no-clock.prof"
        run_ok("example", "-o", self.reference)
        run_ok("example", "--profiled", DEMO_TILES, "--runtime-output", self.runtime_output,
               "-o", self.demo)
        run_ok("profile", self.demo, self.runtime_output, "--clock-hz", CLOCK_HZ, "-o", self.report)
        run_ok("profile", self.demo, self.runtime_output, "--clock-hz", 0, "-o",
               self.report_no_clock)

    def path(self, name):
        return self.dir / name


def dump_json(package, *extra):
    return json.loads(run_ok("dump", package, "--json", *extra).stdout)


def expected_counters(package, runtime_output):
    """Each profiled tile's counters, found the way a host finds them: the
    output bindings lie back to back, and "profile.cycles" holds one slice
    of little-endian 32-bit counters per tile."""
    outputs = dump_json(package)["outputs"]
    data = runtime_output.read_bytes()
    base = 0
    for binding in outputs:
        if binding["name"] == "profile.cycles":
            counters = {}
            for piece in binding["slices"]:
                start = base + piece["file_offset"]
                raw = data[start:start + piece["size"]]
                counters[piece["tile"]] = list(struct.unpack(f"<{len(raw) // 4}I", raw))
            return counters
        base += max((s["file_offset"] + s["size"] for s in binding["slices"]), default=0)
    raise AssertionError("no profile binding")


def step_cycles(start, end):
    return (end - start) % 2**32


WS = None


def setUpModule():
    global WS
    WS = Workspace()


def tearDownModule():
    shutil.rmtree(WS.dir)


class ExitStatusTest(unittest.TestCase):
    ws = property(lambda self: WS)

    def test_usage_help_and_version(self):
        ws = self.ws
        out = ws.path("out.bin")
        cases = [
            ([], 2),
            (["--version"], 0),
            (["--help"], 0),
            (["frobnicate"], 2),
            (["info"], 2),
            (["info", ws.reference, "extra"], 2),
            (["tile-image", ws.reference, "--tile", "zero", "-o", out], 2),
            (["tile-image", ws.reference, "--tile", "-1", "-o", out], 2),
            (["dump", ws.reference, "--data"], 2),
            (["profile", ws.demo, ws.runtime_output, "-o", out], 2),
            (["profile-trace", ws.report, "-o", out, "--format", "png"], 2),
            (["example", "-o", out, "--profiled", "2"], 2),
            (["example", "-o", out, "--profiled", "0", "--runtime-output", out], 2),
        ]
        for command in ["validate", "info", "dump", "tile-image", "profile", "profile-show", "profile-trace",
                        "example"]:
            cases.append(([command, "--help"], 0))
        for args, status in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stdout == "", status != 0)
        self.assertIn("morvex-package 0.1.0", run("--version").stdout)

    def test_failures_name_the_file(self):
        ws = self.ws
        missing = ws.path("missing.mvx")
        out = ws.path("out.bin")
        short_output = ws.path("short.bin")
        short_output.write_bytes(ws.runtime_output.read_bytes()[:-1])
        # A text whose terminating NUL became a line feed: the message layer
        # quotes the byte in its description.
        unterminated = ws.path("unterminated.prof")
        unterminated.write_bytes(ws.report.read_bytes().replace(b"idle/drain\0", b"idle/drain\n"))
        cases = [
            (["info", missing], f"{missing}: I/O error: No such file or directory"),
            (["dump", ws.dir], f"{ws.dir}: I/O error: Is a directory"),
            (["tile-image", ws.reference, "--tile", "7", "-o", out], f"{ws.reference}: unknown tile 7"),
            (["tile-image", ws.reference, "--tile", "0", "-o", ws.path("no/such/dir")],
             f"{ws.path('no/such/dir')}: I/O error: No such file or directory"),
            (["profile", ws.reference, ws.runtime_output, "--clock-hz", "1", "-o", out],
             f"{ws.runtime_output}: application has no cycle profile binding"),
            (["profile", ws.demo, short_output, "--clock-hz", "1", "-o", out],
             f"{short_output}: profile binding exceeds runtime output"),
            (["profile-show", ws.runtime_output], None),
            (["profile-show", unterminated], None),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertRegex(result.stderr, r"^[^\x00-\x1f\x7f]+\n\Z")
                if line is not None:
                    self.assertEqual(result.stderr, line + "\n")

    def test_validate_reports_every_file(self):
        ws = self.ws
        missing = ws.path("missing.mvx")
        result = run("validate", ws.reference, missing, ws.demo)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout.splitlines(), [
            f"{ws.reference}: valid package, compiler 0.1.0, 1 tile",
            f"{ws.demo}: valid package, compiler 0.1.0, {DEMO_TILES} tiles",
        ])
        self.assertEqual(result.stderr, f"{missing}: I/O error: No such file or directory\n")


def null_root_pointer(data, index):
    """The package with pointer `index` of its root struct cleared, which
    reads as an empty list or text. The package is one segment: an 8-byte
    segment table, then the root pointer."""
    data = bytearray(data)
    (root,) = struct.unpack_from("<Q", data, 8)
    offset = ((root & 0xFFFFFFFF) >> 2) - (1 << 30 if root & (1 << 31) else 0)
    data_words = (root >> 32) & 0xFFFF
    pointer = 8 + 8 * (1 + offset + data_words + index)
    data[pointer:pointer + 8] = bytes(8)
    return bytes(data)


class DamagedPackageTest(unittest.TestCase):
    ws = property(lambda self: WS)

    def test_damage_is_reported_against_the_file(self):
        good = self.ws.reference.read_bytes()
        flipped_version = bytearray(good)
        flipped_version[16] ^= 0xFF  # schema version, first field of the root struct
        cases = [
            ("empty", b"", "message error: message ends prematurely in segment table"),
            ("half a word", good[:4], "message error: message ends prematurely in segment table"),
            ("truncated", good[:len(good) // 2], "message error: message ends prematurely in segment data"),
            ("schema version", bytes(flipped_version), "incompatible package header"),
            ("no tiles", null_root_pointer(good, 2), "application has no tiles"),
        ]
        for name, data, message in cases:
            path = self.ws.path(f"{name}.mvx")
            path.write_bytes(data)
            for command in ["validate", "info", "dump"]:
                with self.subTest(damage=name, command=command):
                    result = run(command, path)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(result.stderr, f"{path}: {message}\n")
                    self.assertEqual(result.stdout, "")


# The populated reference package, field by field in declaration order.
REFERENCE_JSON = {
    "compiler_version": "0.1.0",
    "tiles": [{
        "physical_tile": 0, "entry_point": 0x4C000, "command_address": 0x4C100, "diagnostic_address": 0x4C200,
        "segments": [{"address": 0x4C000, "memory_size": 8, "data": {"size": 4}, "flags": 5}],
    }],
    "inputs": [],
    "outputs": [],
    "weights": [],
    "host_exchange": {
        "startup_mark": 1, "command_page": 0, "command_offset": 0,
        "pages": [{"index": 0, "size": 0x1000}, {"index": 1, "size": 0x2000}],
        "attach_order": [0, 1],
        "calls": [{
            "name": "batched", "command": 2, "phases": 4,
            "inputs": [{"page": 1, "page_offset": 0, "file_offset": 0, "size": 16},
                       {"page": 1, "page_offset": 0x1000, "file_offset": 16, "size": 16}],
            "outputs": [{"page": 1, "page_offset": 0, "file_offset": 0, "size": 32}],
            "invocations": 1, "input_batch_ends": [2], "output_batch_ends": [1],
        }],
    },
    "entry_points": [],
    "device_config_writes": [{"offset": 0x4018, "value": 0xC000000D}],
    "profile_tiles": [{"physical_tile": 0, "steps": [{
        "local_index": 0, "phase": 7, "epoch": 0, "operation": "operation.0", "kind": "Compute",
        "kernel": "kernel", "metadata": [{"name": "reason", "value": "OperatorKernel"}],
        "exchange_activities": [{"kind": "Receive", "start_cycle": 3, "end_cycle": 11},
                                {"kind": "PartnerBusy", "start_cycle": 1, "end_cycle": 3}],
        "exchange_event_cycles": 13,
    }]}],
    "debug_symbols": [{"name": "kernel", "address": 0x4C000}],
    "debug_regions": [{"physical_tile": 0xFFFFFFFF, "address": 0x4C000, "size": 8, "name": "linked executable"}],
}


class DumpTest(unittest.TestCase):
    ws = property(lambda self: WS)

    def test_json_holds_the_reference_values_in_field_order(self):
        dumped = dump_json(self.ws.reference, "--data")
        data = dumped["tiles"][0]["segments"][0]["data"]
        self.assertRegex(data.pop("xxh3_64"), r"^[0-9a-f]{16}$")
        self.assertEqual(base64.b64decode(data.pop("base64")), bytes([1, 2, 3, 4]))
        # json.dumps keeps key order, so equal texts mean equal order too.
        self.assertEqual(json.dumps(dumped, indent=1), json.dumps(REFERENCE_JSON, indent=1))

    def test_hash_follows_the_data_and_data_matches_the_tile_image(self):
        tiles = dump_json(self.ws.demo, "--data")["tiles"]
        hashes = {}
        for tile in tiles:
            segments = tile["segments"]
            for segment in segments:
                data = base64.b64decode(segment["data"]["base64"])
                self.assertEqual(len(data), segment["data"]["size"])
                self.assertEqual(hashes.setdefault(data, segment["data"]["xxh3_64"]), segment["data"]["xxh3_64"])
            # The image runs from the lowest segment to the furthest end,
            # zero wherever no segment data lies.
            base = min(s["address"] for s in segments)
            expected = bytearray(max(s["address"] + s["memory_size"] for s in segments) - base)
            for segment in segments:
                data = base64.b64decode(segment["data"]["base64"])
                at = segment["address"] - base
                expected[at:at + len(data)] = data
            image = self.ws.path(f"tile{tile['physical_tile']}.bin")
            result = run_ok("tile-image", self.ws.demo, "--tile", tile["physical_tile"], "-o", image)
            self.assertEqual(image.read_bytes(), bytes(expected))
            self.assertIn(f"load base {hex(base)}, {len(expected)} bytes", result.stdout)
        self.assertEqual(len(set(hashes.values())), len(hashes), "different data, different hashes")


class ProfileTest(unittest.TestCase):
    ws = property(lambda self: WS)

    @classmethod
    def setUpClass(cls):
        cls.counters = expected_counters(WS.demo, WS.runtime_output)

    def test_demo_counters_wrap(self):
        self.assertEqual(sorted(self.counters), list(range(DEMO_TILES)))
        wraps = [any(b < a for a, b in zip(c, c[1:])) for c in self.counters.values()]
        self.assertTrue(any(wraps), "no tile's counter wraps")
        self.assertFalse(all(wraps), "every tile's counter wraps: none starts after the wrap")

    def chrome_trace(self, report):
        trace_file = self.ws.path(report.stem + ".json")
        run_ok("profile-trace", report, "-o", trace_file)
        return json.loads(trace_file.read_text())

    def test_chrome_trace_matches_the_counters(self):
        for report, micros_per_cycle in [(self.ws.report, 1e6 / CLOCK_HZ), (self.ws.report_no_clock, 1.0)]:
            with self.subTest(report=report.name):
                events = self.chrome_trace(report)["traceEvents"]
                steps = [e for e in events if e["ph"] == "X"]
                self.assertEqual(len(steps), DEMO_TILES * DEMO_STEPS)
                tracks = {e["tid"]: e["args"]["name"] for e in events if e.get("name") == "thread_name"}
                self.assertEqual(tracks, {t: f"tile {t}" for t in range(DEMO_TILES)})
                for tile, counters in self.counters.items():
                    track = [e for e in steps if e["tid"] == tile]
                    self.assertEqual([(e["args"]["start_cycle"], e["args"]["end_cycle"]) for e in track],
                                     list(zip(counters, counters[1:])))
                    for event, (start, end) in zip(track, zip(counters, counters[1:])):
                        self.assertAlmostEqual(event["dur"], step_cycles(start, end) * micros_per_cycle)
                        self.assertEqual(event["cat"], event["args"]["kind"])
                    # Each tile's time line keeps increasing across the wrap.
                    for before, after in zip(track, track[1:]):
                        self.assertAlmostEqual(after["ts"], before["ts"] + before["dur"])
                # Tiles keep their distance in counter values, across the
                # wrap too: counters 2^32 - 10 and 5 are 15 cycles apart.
                first = {tile: counters[0] for tile, counters in self.counters.items()}
                apart = {tile: (c - first[0] + 2**31) % 2**32 - 2**31 for tile, c in first.items()}
                starts = {e["tid"]: e["ts"] for e in reversed(steps)}
                for tile, distance in apart.items():
                    self.assertAlmostEqual(starts[tile], (distance - min(apart.values())) * micros_per_cycle)

    def test_profile_show_totals(self):
        for report, shows_time in [(self.ws.report, True), (self.ws.report_no_clock, False)]:
            with self.subTest(report=report.name):
                shown = run_ok("profile-show", report).stdout
                for tile, counters in self.counters.items():
                    total = sum(step_cycles(a, b) for a, b in zip(counters, counters[1:]))
                    self.assertIn(f"tile {tile}: {DEMO_STEPS} steps, {total} cycles", shown)
                self.assertEqual(" us" in shown, shows_time)

    def test_svg_timeline_is_well_formed(self):
        svg_file = self.ws.path("demo.svg")
        run_ok("profile-trace", self.ws.report, "-o", svg_file, "--format", "svg")
        root = ET.parse(svg_file).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        steps = [r for r in root.iter(SVG + "rect") if r.find(SVG + "title") is not None]
        self.assertEqual(len(steps), DEMO_TILES * DEMO_STEPS)
        labels = {t.text for t in root.iter(SVG + "text")}
        self.assertTrue({f"tile {t}" for t in range(DEMO_TILES)} <= labels)
        self.assertTrue({"Exchange", "Compute", "Synchronization", "Idle"} <= labels)

    def test_texts_survive_both_trace_formats(self):
        # Same-length replacement keeps the message intact: a step operation
        # with markup, quotes, a control character and U+FFFF.
        nasty = '<&"\'\x01\uffffx>'.encode()
        plain = b"idle/drain"
        self.assertEqual(len(nasty), len(plain))
        package = self.ws.path("nasty.mvx")
        package.write_bytes(self.ws.demo.read_bytes().replace(plain, nasty))
        report = self.ws.path("nasty.prof")
        run_ok("profile", package, self.ws.runtime_output, "--clock-hz", CLOCK_HZ, "-o", report)

        names = {e["name"] for e in self.chrome_trace(report)["traceEvents"]}
        self.assertIn(nasty.decode(), names)

        svg_file = self.ws.path("nasty.svg")
        run_ok("profile-trace", report, "-o", svg_file, "--format", "svg")
        titles = [t.text for t in ET.parse(svg_file).getroot().iter(SVG + "title")]
        self.assertIn('<&"\'\ufffd\ufffdx> - Idle', "\n".join(titles))


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
