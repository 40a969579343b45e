#!/usr/bin/env python3
"""Cross-checks quillory-extract against headless Chromium on real pages.

For each page, Chromium loads it from a file:// URL with page scripts disabled and the rows of
options 1, 2 and 4 are computed from its DOM:
  1  the innerText of every element under body that has no child element, in document order;
  2  for each element of a tag (getElementsByTagName): "<tr>", its innerHTML lower-cased and
     split into lines, "</tr>"; checked for up to --tags of the tag names found in the body,
     a stable choice drawn with the seed;
  4  the tag name of every element of the document, lower-cased.
quillory-extract runs on the same file for each option (and tag), and the two lists of output
lines are compared. Prints the differing lines (--show a page), the agreement per option and
per tag, and the differences counted by likely cause. It measures; it passes or fails nothing.

    bench/browser-check.py [--quillory BIN] [--sample N --seed S] [--show N] [--report FILE] PATH...
    bench/browser-check.py --sample 1000 --seed 1 --report /tmp/check.txt /usr/share/doc/sqlite3

A PATH that is a folder stands for every *.html / *.htm file beneath it (--ext to change).
Needs Debian's chromium package. Python standard library only.
"""

import argparse
import concurrent.futures
import difflib
import fcntl
import hashlib
import json
import os
import pathlib
import random
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
from urllib.parse import unquote

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_QUILLORY = HERE.parent / "build" / "cli" / "quillory-extract"

# What the browser is asked, once a page has loaded. Option 1 keeps, beside each leaf's text,
# how it was got: innerText of an element without a box (display:none, or in a hidden subtree)
# is its raw text content, and of a visibility:hidden one is empty, which is layout, not
# extraction ("hidden"); SVG and MathML elements have no innerText, so their text content
# stands in ("foreign").
PAGE_EXPRESSION = r"""(() => {
  const body = document.body;
  const inBody = body ? Array.from(body.getElementsByTagName('*')) : [];
  const leaves = inBody.filter(e => e.firstElementChild === null).map(e =>
    !('innerText' in e) ? [e.textContent, 'foreign'] :
    [e.innerText, e.checkVisibility({visibilityProperty: true}) ? 'shown' : 'hidden']);
  return JSON.stringify({
    leaves,
    tags: Array.from(document.getElementsByTagName('*'), e => e.tagName),
    names: [...new Set(inBody.map(e => e.localName))],
    charset: document.characterSet,
    url: location.href});
})()"""

BLOCKS_EXPRESSION = r"""JSON.stringify({url: location.href, blocks: Object.fromEntries(%s.map(
  t => [t, Array.from(document.getElementsByTagName(t), e => e.innerHTML)]))})"""


class Browser:
    """One headless Chromium for every page, driven through the DevTools protocol on a pipe
    (file descriptors 3 and 4, NUL-separated JSON messages). It is started anew after a page
    that times out or makes it fail, so that one broken page costs only itself."""

    def __init__(self, chromium, timeout):
        self.chromium, self.timeout = chromium, timeout
        self.process = None
        self.start()

    def start(self):
        self.profile = tempfile.mkdtemp(prefix="browser-check-")
        to_browser, self.writer = os.pipe()
        self.reader, from_browser = os.pipe()
        # The browser wants its ends as 3 and 4 exactly. bash moves them there (dash cannot name
        # descriptors above 9), which is safe beside the worker threads, unlike a preexec_fn.
        a, b = (fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_browser, from_browser))
        command = [self.chromium, "--headless=new", "--remote-debugging-pipe", "--no-sandbox",
                   "--disable-gpu", "--no-first-run", "--disable-extensions", "--mute-audio",
                   "--user-data-dir=" + self.profile, "about:blank"]
        self.process = subprocess.Popen(
            ["bash", "-c", f'exec "$@" 3<&{a} 4>&{b} {a}<&- {b}>&-', "bash"] + command,
            pass_fds=(a, b), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        for fd in (to_browser, from_browser, a, b):
            os.close(fd)
        self.buffer, self.next_id, self.session, self.page_url = b"", 0, None, None
        try:
            deadline = time.monotonic() + 60
            target = self.call("Target.createTarget", {"url": "about:blank"}, deadline=deadline)["targetId"]
            self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                     deadline=deadline)["sessionId"]
            self.call("Page.enable", deadline=deadline)
            self.call("Emulation.setScriptExecutionDisabled", {"value": True}, deadline=deadline)
            # A <meta http-equiv=refresh> takes the tab to another page (or loads this one
            # again) once it has loaded, scripts or not. Every document request but the first
            # for the page is answered "204 No Content", which leaves the page where it is
            # (frames stay empty, which innerText and innerHTML never show anyway).
            self.call("Fetch.enable", {"patterns": [{"urlPattern": "*", "resourceType": "Document"}]},
                      deadline=deadline)
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.process:
            try:
                self.send("Browser.close", session=False)
                self.process.wait(5)
            except Exception:
                self.process.kill()
                self.process.wait()
            for fd in (self.reader, self.writer):
                os.close(fd)
            shutil.rmtree(self.profile, ignore_errors=True)
            self.process = None

    def restart(self):
        self.close()
        self.start()

    def send(self, method, params=None, session=True):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.writer, json.dumps(message).encode() + b"\0")
        return self.next_id

    def receive(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.reader], [], [], left)[0]:
                raise TimeoutError("no answer from the browser in time")
            chunk = os.read(self.reader, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed the pipe")
            self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        message = json.loads(message)
        if message.get("method") == "Fetch.requestPaused":
            request = message["params"]
            if self.page_url and unquote(request["request"]["url"]) == unquote(self.page_url):
                self.page_url = None
                self.send("Fetch.continueRequest", {"requestId": request["requestId"]})
            else:
                self.send("Fetch.fulfillRequest", {"requestId": request["requestId"], "responseCode": 204})
        return message

    def call(self, method, params=None, deadline=None, until_event=None):
        """Sends a command and returns its result; with until_event, goes on reading until
        that event has come as well."""
        deadline = deadline or time.monotonic() + self.timeout
        wanted = self.send(method, params)
        result, seen_event = None, until_event is None
        while result is None or not seen_event:
            message = self.receive(deadline)
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error'].get('message')}")
                result = message["result"]
            elif message.get("method") == until_event:
                seen_event = True
        return result

    def evaluate(self, expression, deadline):
        answer = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True},
                           deadline=deadline)
        if "exceptionDetails" in answer:
            raise RuntimeError("evaluation failed: " + answer["exceptionDetails"].get("text", ""))
        return json.loads(answer["result"]["value"])

    def page(self, path, choose_tags):
        """The page's DOM facts, and the inner markup of the elements of the tags chosen from
        the names found in its body."""
        deadline = time.monotonic() + self.timeout
        url = self.page_url = pathlib.Path(path).resolve().as_uri()
        navigation = self.call("Page.navigate", {"url": url},
                               deadline=deadline, until_event="Page.loadEventFired")
        if navigation.get("errorText"):
            raise RuntimeError(navigation["errorText"])
        facts = self.evaluate(PAGE_EXPRESSION, deadline)
        facts["checked_tags"] = choose_tags(facts["names"])
        blocks = self.evaluate(BLOCKS_EXPRESSION % json.dumps(facts["checked_tags"]), deadline)
        if unquote(facts["url"]) != unquote(url) or unquote(blocks["url"]) != unquote(url):
            raise RuntimeError("the browser left the page for " + blocks["url"])
        facts["blocks"] = blocks["blocks"]
        return facts


# Rows are compared as output lines. quillory-extract prints each row followed by a line feed,
# so a row holding line feeds (innerText of a <pre>, say) comes out as several lines; the
# browser's rows are split at line feeds the same way. CR stays in a line on both sides.

def lines_of_rows(rows):
    return [line for row in rows for line in row.split("\n")]


def browser_rows(facts, option, tag=None):
    """The browser's output lines for one option, each with how its element's text was got."""
    if option == "1":
        return [(line, how) for text, how in facts["leaves"] for line in text.split("\n")]
    if option == "4":
        return [(name.lower(), "shown") for name in facts["tags"]]
    rows = []
    for markup in facts["blocks"][tag]:
        rows.append("<tr>")
        # Every line feed of the markup is written as CR LF and the markup split at CR LF;
        # an empty inner markup gives no rows between the frame.
        if markup:
            rows.extend(markup.replace("\n", "\r\n").lower().split("\r\n"))
        rows.append("</tr>")
    return [(line, "shown") for line in lines_of_rows(rows)]


def our_rows(quillory, option, path, tag=None):
    command = [quillory, "-j", "1", "-m", option] + (["-t", tag] if tag else []) + ["--", str(path)]
    run = subprocess.run(command, capture_output=True, timeout=600)
    if run.returncode != 0:
        raise RuntimeError(f"exit {run.returncode}: {run.stderr.decode(errors='replace').strip()}")
    text = run.stdout.decode("utf-8", errors="replace")
    return text.split("\n")[:-1] if text else []


def squash(text):
    """Runs of HTML white space as one space, none at either end."""
    return re.sub(r"[ \t\n\r\f]+", " ", text).strip(" ")


def classify(browser, ours, how="shown"):
    """The likely cause of a difference; None stands for lines that one side does not have."""
    if how == "hidden" and (not browser or squash(browser) == squash(ours or "")):
        return "not shown in browser (display:none / hidden: raw text or nothing)"
    if how == "foreign":
        return "SVG/MathML element (no innerText in browser: text content)"
    if browser is None or ours is None:
        if not (browser if ours is None else ours).strip(" \t\n\r\f"):
            return "white space only"
        return "lines only in browser" if ours is None else "lines only in ours"
    if not browser.strip() and ours.strip():
        return "empty in browser, text in ours"
    if squash(browser) == squash(ours):
        return "white space only"
    if squash(browser.replace("\xa0", " ")) == squash(ours.replace("\xa0", " ")):
        return "no-break space vs space"
    if squash(browser).casefold() == squash(ours).casefold():
        return "case only"
    return "other"


def compare(browser, ours):
    """Aligns the browser's lines (text, how got) with ours. Returns (lines agreeing, lines in all,
    differences), each difference being (class, browser text, our text)."""
    texts = [text for text, _ in browser]
    total = max(len(texts), len(ours))
    if texts == ours:
        return total, total, []
    # Most pages differ in a few places: trim the common ends before aligning the middle.
    start = 0
    while start < min(len(texts), len(ours)) and texts[start] == ours[start]:
        start += 1
    end = 0
    while end < min(len(texts), len(ours)) - start and texts[-1 - end] == ours[-1 - end]:
        end += 1
    b, o = texts[start:len(texts) - end], ours[start:len(ours) - end]
    how = [got for _, got in browser[start:len(browser) - end]]
    # The lines are aligned by their text with white space squashed and case folded, so that
    # lines differing only so pair up and are classified one by one; what is left unpaired on
    # both sides of a stretch is one difference, its lines joined.
    agreeing, differences = start + end, []
    loose = lambda lines: [squash(line).casefold() for line in lines]
    for op, b1, b2, o1, o2 in difflib.SequenceMatcher(None, loose(b), loose(o), autojunk=False).get_opcodes():
        if op == "equal" or (op == "replace" and b2 - b1 == o2 - o1):
            for i, j in zip(range(b1, b2), range(o1, o2)):
                if b[i] == o[j]:
                    agreeing += 1
                else:
                    differences.append((classify(b[i], o[j], how[i]), b[i], o[j]))
        else:
            joined = "\n".join(b[b1:b2]) if b2 > b1 else None, "\n".join(o[o1:o2]) if o2 > o1 else None
            got = sorted({"hidden", "foreign"} & set(how[b1:b2])) + ["shown"]
            differences.append((classify(*joined, got[0]),) + joined)
    return agreeing, total, differences


def excerpt(text, start, width):
    if text is None:
        return "(none)"
    piece = text[start:start + width]
    return ("…" if start else "") + repr(piece)[1:-1] + ("…" if start + width < len(text) else "")


def show_difference(out, page, key, difference, width):
    kind, browser, ours = difference
    # Long lines are shown from a little before the first character that differs.
    common = os.path.commonprefix([browser or "", ours or ""])
    start = max(0, len(common) - 20) if len(common) > width // 2 else 0
    print(f"  {page}  option {key}  [{kind}]", file=out)
    print(f"    browser: {excerpt(browser, start, width)}", file=out)
    print(f"    ours:    {excerpt(ours, start, width)}", file=out)


def collect_pages(paths, extensions):
    pages, seen = [], set()
    for path in map(pathlib.Path, paths):
        found = [path] if path.is_file() else sorted(
            p for p in path.rglob("*") if p.is_file() and p.suffix.lower().lstrip(".") in extensions)
        for page in found:
            if page.resolve() not in seen:
                seen.add(page.resolve())
                pages.append(page)
    return pages


def check_page(quillory, page, facts):
    """Runs quillory-extract on the page for options 1, 4 and 2 (each tag chosen) and compares."""
    results = {}
    for option in ("1", "4"):
        results[option] = compare(browser_rows(facts, option), our_rows(quillory, option, page))
    for tag in facts["checked_tags"]:
        results["2 " + tag] = compare(browser_rows(facts, "2", tag), our_rows(quillory, "2", page, tag))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("paths", nargs="+", metavar="PATH", help="pages, or folders of pages")
    parser.add_argument("--quillory", default=str(DEFAULT_QUILLORY), help="the quillory-extract to check (default: the one in build/)")
    parser.add_argument("--chromium", default="chromium", help="the browser to run (default chromium)")
    parser.add_argument("--ext", default="html,htm", help="file name endings taken from folders")
    parser.add_argument("--sample", type=int, help="check only this many pages, drawn at random")
    parser.add_argument("--seed", default="1", help="seed of the draw and of the choice of tags")
    parser.add_argument("--tags", type=int, default=12, help="option 2: at most this many tags a page (default 12)")
    parser.add_argument("--show", type=int, default=3, help="differences printed per page (default 3)")
    parser.add_argument("--width", type=int, default=110, help="characters of a line shown")
    parser.add_argument("--report", help="write every difference, whole, to this file")
    parser.add_argument("--timeout", type=float, default=30, help="seconds a page may take in the browser (default 30)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="quillory-extract runs at once (default: one a core)")
    args = parser.parse_args()

    pages = collect_pages(args.paths, set(args.ext.lower().split(",")))
    if args.sample and args.sample < len(pages):
        pages = sorted(random.Random(args.seed).sample(pages, args.sample))
    if not pages:
        sys.exit("browser-check: no pages found")

    def choose_tags(names):
        # A stable pseudo-random choice, so that a run can be repeated and varies over pages.
        key = lambda name: hashlib.sha1(f"{args.seed}/{name}".encode()).digest()
        return sorted(sorted(names, key=key)[:args.tags])

    print(f"{len(pages)} pages; browser {subprocess.run([args.chromium, '--version'], capture_output=True, text=True).stdout.strip()}; "
          f"checking {args.quillory}", flush=True)
    browser = Browser(args.chromium, args.timeout)
    failed, checks, encodings = [], [], {}
    began = time.monotonic()
    try:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            for number, page in enumerate(pages, 1):
                try:
                    facts = browser.page(page, choose_tags)
                except Exception as error:
                    failed.append((page, f"browser: {error}"))
                    browser.restart()
                    continue
                encodings[facts["charset"]] = encodings.get(facts["charset"], 0) + 1
                checks.append((page, pool.submit(check_page, args.quillory, page, facts)))
                if number % 100 == 0:
                    print(f"  {number} pages loaded, {time.monotonic() - began:.0f} s", file=sys.stderr, flush=True)
    finally:
        browser.close()

    # Totals per option, and per tag for option 2: [lines agreeing, lines, pages agreeing, pages].
    totals, classes, examples, listed = {}, {}, {}, {}
    compared = 0
    for page, check in checks:
        try:
            results = check.result()
        except Exception as error:
            failed.append((page, f"{type(error).__name__}: {error}"))
            continue
        compared += 1
        # Option 2 as a whole: a page agrees when it does for every tag checked.
        groups = dict(results)
        tagged = [result for key, result in results.items() if key.startswith("2 ")]
        if tagged:
            groups["2"] = tuple(sum(column, start) for column, start in zip(zip(*tagged), (0, 0, [])))
        for key, (agreeing, lines, differences) in groups.items():
            total = totals.setdefault(key, [0, 0, 0, 0])
            for i, value in enumerate((agreeing, lines, not differences, 1)):
                total[i] += value
        for key, (_, _, differences) in results.items():
            for difference in differences:
                counted = classes.setdefault(key[0], {})
                counted[difference[0]] = counted.get(difference[0], 0) + 1
                examples.setdefault((key[0], difference[0]), (page, key, difference))
                listed.setdefault(page, []).append((key, difference))

    report = open(args.report, "w", encoding="utf-8") if args.report else None
    print(f"\nDifferences (at most {args.show} a page):")
    for page, differences in listed.items():
        for number, (key, difference) in enumerate(differences):
            if number < args.show:
                show_difference(sys.stdout, page, key, difference, args.width)
            if report:
                show_difference(report, page, key, difference, 1 << 30)
        if len(differences) > args.show:
            print(f"  ({len(differences) - args.show} more in {page})")
    for out in filter(None, (sys.stdout, report)):
        summarise(out, totals, classes, examples, failed, args.width)
        # Pages without a declared encoding are guessed at by the browser (a file is not sent
        # with one), which ours, taking Windows-1252, need not match.
        print("\nThe browser's encodings: " + ", ".join(f"{name} {count}" for name, count in
                                                      sorted(encodings.items(), key=lambda item: -item[1])), file=out)
        print(f"\n{compared} pages compared in {time.monotonic() - began:.0f} s", file=out)
    if report:
        report.close()


def percent(a, b):
    return f"{100.0 * a / b:.2f}%" if b else "-"


def summarise(out, totals, classes, examples, failed, width):
    # A page's lines are as many as the longer side has.
    print("\nAgreement (lines agreeing / lines, pages agreeing / pages):", file=out)
    for option in ("1", "2", "4"):
        if option in totals:
            a, n, pa, p = totals[option]
            label = "option 2 (all tags)" if option == "2" else f"option {option}"
            print(f"  {label:20} {a}/{n} lines ({percent(a, n)}), {pa}/{p} pages ({percent(pa, p)})", file=out)
    tags = sorted((key[2:], value) for key, value in totals.items() if key.startswith("2 "))
    differing = [(tag, value) for tag, value in tags if value[2] < value[3]]
    if tags:
        print(f"  option 2 per tag: {len(tags) - len(differing)} of {len(tags)} tags agree on every page; "
              f"the others (lines, pages):", file=out)
    for tag, (a, n, pa, p) in sorted(differing, key=lambda item: item[1][0] - item[1][1]):
        print(f"    {tag:12} {a}/{n} ({percent(a, n)}), {pa}/{p}", file=out)
    print("\nDifferences by class (count, then one example):", file=out)
    for option in sorted(classes):
        for kind, count in sorted(classes[option].items(), key=lambda item: -item[1]):
            print(f"  option {option}  {count:6}  {kind}", file=out)
            show_difference(out, *examples[(option, kind)], width)
    if failed:
        print(f"\n{len(failed)} pages not compared:", file=out)
        for page, reason in failed:
            print(f"  {page}: {reason}", file=out)


if __name__ == "__main__":
    main()
