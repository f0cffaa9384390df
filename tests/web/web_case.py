#!/usr/bin/env python3
"""Runs one web test of zelvor-site's pages by name, in headless Chromium:

  web_case.py CASE --site ZELVOR-SITE --artifacts DIR

Exits 0 when the case passed, 1 when it failed, and 77 (skipped) when
Chromium, chromedriver or Selenium is not installed. Screenshots, the site's
log and chromedriver's go to DIR.
"""

import argparse
import csv
import datetime
import io
import json
import math
import os
import sys

from web_harness import (Browser, Site, WebTestFailure, expect, expect_equal, missing_tools,
                         report)

SKIPPED = 77
NBSP = "\u00a0"
NO_FIGURE = "\u2013"

# --- results_page -----------------------------------------------------------

# In the order taken, hosts in an order their medians do not follow. fast
# has 22 answers, enough for percentiles, and a 30 ms outlier that only the
# maximum shows; silent never answers.
RESULTS_SAMPLES = (
    [("silent.example", "TIMEOUT"), ("silent.example", "UNREACHABLE"),
     ("silent.example", "TIMEOUT")]
    + [("slow.example", 95), ("slow.example", "UNREACHABLE"), ("slow.example", 105)]
    + [("fast.example", ms) for ms in (12, 10, 11, 13, 10)] + [("fast.example", "TIMEOUT")]
    + [("fast.example", ms) for ms in (12, 11, 10, 14, 11, 12, 10, 11, 13, 12, 11, 10, 15, 11,
                                       12, 30, 11)]
    + [("single.example", 50)]
    + [("mid.example", 20), ("mid.example", "TIMEOUT"), ("mid.example", 24),
       ("mid.example", 22)])

RESULTS_HEADER = ["Host", "Sent", "Received", "Loss %", "Failures", "Min (ms)", "Median (ms)",
                  "Mean (ms)", "Max (ms)", "Std dev (ms)", "Jitter (ms)", "p90 (ms)", "p95 (ms)"]
# Worked out by hand: by median, the silent host last.
RESULTS_ROWS = [
    ["fast.example", "23", "22", "4.3", f"TIMEOUT{NBSP}1",
     "10", "11.0", "12.4", "30", "4.1", "3.6", "14", "15"],
    ["mid.example", "4", "3", "25.0", f"TIMEOUT{NBSP}1",
     "20", "22.0", "22.0", "24", "1.6", "3.0", NO_FIGURE, NO_FIGURE],
    ["single.example", "1", "1", "0.0", NO_FIGURE,
     "50", "50.0", "50.0", "50", "0.0", NO_FIGURE, NO_FIGURE, NO_FIGURE],
    ["slow.example", "3", "2", "33.3", f"UNREACHABLE{NBSP}1",
     "95", "100.0", "100.0", "105", "5.0", "10.0", NO_FIGURE, NO_FIGURE],
    ["silent.example", "3", "0", "100.0", f"TIMEOUT{NBSP}2 UNREACHABLE{NBSP}1", "no reply"],
]

CSV_HEADER = ["host", "sent", "received", "loss_percent", "BADADDRESS", "SOCKERROR", "TIMEOUT",
              "EXPIRED", "FOREIGN", "UNREACHABLE", "BADHEADER", "FAILURE", "min_ms",
              "median_ms", "mean_ms", "max_ms", "stddev_ms", "jitter_ms", "p90_ms", "p95_ms",
              "label"]


def table_rows(browser, selector):
    """Each body row of the table as [header cell, cells...] by textContent."""
    return browser.script(
        "return [...document.querySelectorAll(arguments[0] + ' tbody tr')]"
        ".map(r => [...r.children].map(c => c.textContent))", selector)


def displayed_time(iso_time):
    """How the pages write a time the JSON gives as 2026-12-07T18:05:01Z."""
    return iso_time.replace("T", " ").replace("Z", " UTC")


def results_page(site, browser):
    handle = site.post(report("Office uplink", RESULTS_SAMPLES))
    posted = site.results_json(handle)
    browser.open(f"zelvor?handle={handle}")

    expect_equal(browser.driver.title, "Office uplink \u00b7 Zelvor results", "the title")
    expect_equal(browser.texts("h1"), ["Results for Office uplink"], "the heading")
    expect_equal(browser.texts("p.run-facts"),
                 [f"{displayed_time(posted['received_at'])} \u00b7 5 hosts \u00b7 34 samples "
                  "\u00b7 median 12.0 ms"], "the run's facts")
    expect_equal(browser.texts("table.figures thead th"), RESULTS_HEADER, "the table's header")
    expect_equal(table_rows(browser, "table.figures"), RESULTS_ROWS, "the table's rows")
    expect_equal(browser.texts("table.figures tr.silent th.host"), ["silent.example"],
                 "the rows marked silent")
    expect_equal(browser.texts("td.no-reply"), ["no reply"], "the no-reply cells")
    expect_equal(browser.count("span.failure"), 5, "the failure counts shown")
    # The narrow layout labels each card's figures from these.
    for row in browser.script(
            "return [...document.querySelectorAll('table.figures tbody tr')]"
            ".map(r => [...r.querySelectorAll('td:not(.no-reply)')]"
            ".map(c => c.getAttribute('data-label')))"):
        expect_equal(row, RESULTS_HEADER[1:1 + len(row)], "the data-label of a row's cells")

    expect_equal(browser.count("svg.sample-chart"), 1, "sample charts")
    expect_equal(browser.count("svg.trend-chart"), 1, "trend charts")
    answered = sum(isinstance(outcome, int) for _, outcome in RESULTS_SAMPLES)
    marks = {mark: browser.count(f"svg.sample-chart .{mark}")
             for mark in ("sample", "loss", "median")}
    expect_equal(marks, {"sample": answered, "loss": len(RESULTS_SAMPLES) - answered,
                         "median": 4}, "the sample chart's marks")
    expect_equal(browser.texts("svg.sample-chart .lane-name"),
                 [row[0] for row in RESULTS_ROWS], "the sample chart's lanes")
    expect_equal(browser.attributes("svg.trend-chart a.trend-point", "href"),
                 [f"/zelvor?handle={handle}"], "the trend of a class's first run")

    links = browser.driver.find_elements("css selector", "nav.downloads a")
    expect_equal([link.text for link in links],
                 ["Download JSON", "Download CSV", "Class overview", "All runs"],
                 "the download links")
    expect_equal(browser.attributes("table.figures th.host a", "href")[:2],
                 ["/history?class=Office%20uplink&host=fast.example",
                  "/history?class=Office%20uplink&host=mid.example"], "the hosts' history links")
    status, body = site.fetch(links[0].get_attribute("href"))
    expect_equal(status, 200, "the status of the JSON link")
    document = json.loads(body)
    expect_equal((document["handle"], document["class"]), (handle, "Office uplink"),
                 "the JSON's handle and class")
    expect_equal([host["host"] for host in document["hosts"]], [row[0] for row in RESULTS_ROWS],
                 "the JSON's hosts")
    status, body = site.fetch(links[1].get_attribute("href"))
    expect_equal(status, 200, "the status of the CSV link")
    rows = list(csv.reader(io.StringIO(body, newline="")))
    expect_equal(rows[0], CSV_HEADER, "the CSV's header")
    # The CSV writes its figures as the page does.
    expect_equal([(row[0], row[13]) for row in rows[1:]],
                 [("fast.example", "11.0"), ("mid.example", "22.0"), ("single.example", "50.0"),
                  ("slow.example", "100.0"), ("silent.example", "")],
                 "the CSV's hosts and medians")

    browser.expect_no_console_errors("the results page")
    for width in (390, 1280):
        browser.expect_no_sideways_scroll(width, "the results page")
        browser.screenshot(width, f"results-{width}.png")
    browser.expect_no_console_errors("the results page after resizing")

# --- trend_and_index ----------------------------------------------------------

RUNS_PER_PAGE = 50

# A class's three runs with one of another class between them, which the
# trend must leave out: (class, samples, hosts, samples, run median).
TREND_RUNS = [
    ("Alpha", [("a1.example", 10), ("a2.example", 20)], "2", "2", "15.0"),
    ("Alpha", [("a1.example", 30), ("a1.example", "TIMEOUT")], "1", "2", "30.0"),
    ("Beta", [("b1.example", "TIMEOUT")], "1", "1", "no reply"),
    ("Alpha", [("a1.example", 40), ("a2.example", 44), ("a3.example", 60)], "3", "3", "44.0"),
]


def pager(browser):
    """The pager as ([(rel, text, href)...], "page X of Y")."""
    links = browser.script("return [...document.querySelectorAll('nav.pager a')]"
                           ".map(a => [a.rel, a.textContent, a.getAttribute('href')])")
    return [tuple(link) for link in links], browser.texts("nav.pager span.page-of")


def run_links(browser):
    return browser.attributes("table.runs tbody td:first-child a", "href")


def trend_and_index(site, browser):
    handles = [site.post(report(name, samples)) for name, samples, *_ in TREND_RUNS]
    alpha = [handles[0], handles[1], handles[3]]

    browser.open(f"zelvor?handle={handles[3]}")
    expect_equal(browser.texts("figure.trend figcaption"),
                 ["Median of this class, last 3 runs"], "the trend's caption")
    expect_equal(browser.attributes("svg.trend-chart a.trend-point", "href"),
                 [f"/zelvor?handle={handle}" for handle in alpha], "the trend's points")
    expect_equal(browser.attributes("svg.trend-chart a.trend-point", "aria-current"),
                 [None, None, "page"], "the trend's current run")
    times = [displayed_time(site.results_json(handle)["received_at"]) for handle in handles]
    expect_equal(browser.texts("svg.trend-chart a.trend-point > title"),
                 [f"{times[0]}: median 15.0 ms", f"{times[1]}: median 30.0 ms",
                  f"{times[3]}: median 44.0 ms (this run)"], "the trend points' titles")
    expect_equal(browser.count("svg.trend-chart .this-run"), 1, "points drawn as this run")
    browser.expect_no_console_errors("the third run's page")
    browser.screenshot(1280, "trend-1280.png")

    # The oldest point leads to the class's first run.
    browser.driver.find_element("css selector", "svg.trend-chart a.trend-point").click()
    expect_equal(browser.driver.current_url, f"{site.base}zelvor?handle={alpha[0]}",
                 "the address the first trend point leads to")
    expect_equal(browser.texts("p.run-facts")[0].split(" \u00b7 ", 1)[0], times[0],
                 "the time of the run the first trend point leads to")

    browser.open("")
    expect_equal(browser.texts("p.run-facts"), ["4 runs stored, newest first."], "the index's facts")
    expect_equal(table_rows(browser, "table.runs"),
                 [[times[i], *TREND_RUNS[i][:1], "\u2014", *TREND_RUNS[i][2:]]
                  for i in (3, 2, 1, 0)],
                 "the index's rows")
    expect_equal(run_links(browser), [f"/zelvor?handle={handles[i]}" for i in (3, 2, 1, 0)],
                 "the index's links")
    expect_equal(pager(browser), ([], ["page 1 of 1"]), "the pager of one page")
    browser.expect_no_sideways_scroll(390, "the index")
    browser.expect_no_console_errors("the index")

    # One run more than a page: the last page holds the first run alone.
    more = [site.post(report("Filler", [(f"f{i}.example", i + 1)]))
            for i in range(RUNS_PER_PAGE + 1 - len(handles))]
    browser.open("")
    expect_equal(browser.texts("p.run-facts"), ["51 runs stored, newest first."],
                 "the index's facts with two pages")
    expect_equal(run_links(browser),
                 [f"/zelvor?handle={h}" for h in list(reversed(handles + more))[:RUNS_PER_PAGE]],
                 "the first page's links")
    expect_equal(pager(browser), ([("next", "Older", "/?page=2")], ["page 1 of 2"]),
                 "the first page's pager")
    browser.expect_no_sideways_scroll(390, "the first of two index pages")
    browser.screenshot(390, "index-390.png")

    browser.driver.find_element("css selector", "nav.pager a[rel=next]").click()
    expect_equal(browser.driver.current_url, f"{site.base}?page=2", "the address of Older")
    expect_equal(run_links(browser), [f"/zelvor?handle={handles[0]}"], "the last page's links")
    expect_equal(pager(browser), ([("prev", "Newer", "/")], ["page 2 of 2"]),
                 "the last page's pager")
    browser.expect_no_sideways_scroll(390, "the last index page")
    browser.expect_no_console_errors("the index's pages")

# --- history_pages ------------------------------------------------------------

# (minutes before now, label): five runs of two hosts, fast.example answering
# 10 and 12 ms, slow.example 100 ms and one loss, every run.
HISTORY_RUNS = [(100, None), (90, "branch-2"), (80, None), (70, "branch-2"), (60, None)]


def history_samples(index):
    """The same figures in another order or failure each run: the site takes a
    report identical to a recent one for that run posted again."""
    fast = [("fast.example", 10), ("fast.example", 12)]
    slow = [("slow.example", 100), ("slow.example", ("TIMEOUT", "UNREACHABLE")[index // 4])]
    return (fast if index % 2 else fast[::-1]) + (slow if index // 2 % 2 else slow[::-1])
# Worked out by hand: fast before slow by median; nothing has the 20 answers
# a p95 needs.
CLASS_TABLES = {
    "Unlabelled runs": [["fast.example", "3", "0.0", "11.0", NO_FIGURE],
                        ["slow.example", "3", "50.0", "100.0", NO_FIGURE]],
    "Label branch-2": [["fast.example", "2", "0.0", "11.0", NO_FIGURE],
                       ["slow.example", "2", "50.0", "100.0", NO_FIGURE]],
}


def history_pages(site, browser):
    now = datetime.datetime.now(datetime.timezone.utc)
    handles = []
    for index, (minutes, label) in enumerate(HISTORY_RUNS):
        at = (now - datetime.timedelta(minutes=minutes)).strftime("%Y-%m-%dT%H:%M:%SZ")
        query = f"measured_at={at}" + (f"&label={label}" if label else "")
        status, handle = site.fetch(f"zelvor?{query}",
                                    data=report("Office uplink", history_samples(index)).encode())
        expect_equal(status, 200, f"the status of posting the run {minutes} minutes back")
        handles.append(handle)

    browser.open(f"zelvor?handle={handles[-1]}")
    browser.driver.find_element("css selector", "table.figures th.host a").click()
    expect_equal(browser.driver.current_url,
                 f"{site.base}history?class=Office%20uplink&host=fast.example",
                 "the address a host's link leads to")
    expect_equal(browser.texts("h1"), ["History of fast.example"], "the history's heading")
    expect_equal(browser.count("svg.history-chart"), 2, "charts, one a label")
    expect_equal(browser.texts("figure.history figcaption"),
                 ["unlabelled: 3 runs · loss 0.0 % · median 11.0 ms · p95 "
                  f"{NO_FIGURE} ms",
                  "branch-2: 2 runs · loss 0.0 % · median 11.0 ms · p95 "
                  f"{NO_FIGURE} ms"], "the charts' captions")
    expect_equal(browser.texts("nav.ranges a"), ["3h", "30h", "10d", "360d"], "the ranges")
    expect_equal(browser.texts("nav.ranges a[aria-current=page]"), ["30h"], "the range shown")
    expect_equal(browser.count("svg.history-chart path.median-line.loss-none"), 2,
                 "the median lines without loss")
    expect_equal(browser.count("svg.history-chart path.band-outer"), 2, "the 10-90 bands")
    status, body = site.fetch(browser.attributes("nav.downloads a", "href")[0])
    expect_equal(status, 200, "the status of the history's JSON")
    series = json.loads(body)["series"]
    expect_equal([(s["label"], s["overall"]["runs"], s["overall"]["median_ms"]) for s in series],
                 [(None, 3, 11.0), ("branch-2", 2, 11.0)], "the history JSON's series")
    browser.expect_no_console_errors("the history page")
    for width in (390, 1280):
        browser.expect_no_sideways_scroll(width, "the history page")
        browser.screenshot(width, f"history-{width}.png")

    # A day of a wavering host, with a gap and losses of every level: the
    # picture in the README.
    for k in range(60):
        if 30 <= k < 36:
            continue
        at = (now - datetime.timedelta(minutes=29 * 60 - k * 29)).strftime("%Y-%m-%dT%H:%M:%SZ")
        lost = 6 if k % 17 == 16 else 3 if k % 11 == 10 else 1 if k % 7 == 6 else 0
        base = 24 + round(8 * math.sin(k / 6))
        samples = [("wave.example", base + (k * 7 + i * 5) % 9) for i in range(20 - lost)]
        samples += [("wave.example", "TIMEOUT")] * lost
        status, _ = site.fetch(f"zelvor?measured_at={at}", data=report("Wave", samples).encode())
        expect_equal(status, 200, f"the status of posting the wave's run {k}")
    browser.open("history?class=Wave&host=wave.example")
    expect_equal(browser.count("svg.history-chart"), 1, "the wave's charts")
    expect_equal([browser.count(f"svg.history-chart path.median-line.loss-{level}")
                  for level in ("none", "low", "high", "severe")], [1, 1, 1, 1],
                 "the wave's median lines, one a loss level")
    for width in (390, 1280):
        browser.expect_no_sideways_scroll(width, "the wave's history")
        browser.screenshot(width, f"history-wave-{width}.png")
    browser.open("history?class=Office%20uplink&host=fast.example")

    browser.driver.find_element("css selector", "nav.ranges a[href$='range=3h']").click()
    expect_equal(browser.texts("nav.ranges a[aria-current=page]"), ["3h"], "the range chosen")
    expect_equal(browser.count("svg.history-chart"), 2, "charts over three hours")

    browser.open("class?name=Office%20uplink")
    expect_equal(browser.texts("h1"), ["Class Office uplink"], "the class page's heading")
    expect_equal(browser.count("svg.class-chart path.host-line"), 2, "the class chart's lines")
    expect_equal(browser.texts("ul.host-keys a"), ["fast.example", "slow.example"],
                 "the class chart's hosts")
    expect_equal(browser.texts("main h2"), list(CLASS_TABLES), "the tables' headings")
    tables = browser.script(
        "return [...document.querySelectorAll('table.figures')].map(t => "
        "[...t.querySelectorAll('tbody tr')].map(r => [...r.children].map(c => c.textContent)))")
    expect_equal(tables, list(CLASS_TABLES.values()), "the tables' rows")
    expect_equal(browser.attributes("table.figures th.host a", "href")[-1],
                 "/history?class=Office%20uplink&host=slow.example&label=branch-2&range=30h",
                 "a labelled row's history link")
    browser.expect_no_console_errors("the class page")
    for width in (390, 1280):
        browser.expect_no_sideways_scroll(width, "the class page")
        browser.screenshot(width, f"class-{width}.png")

# --- hostile_names ----------------------------------------------------------

SCRIPT_NAME = "<script>document.title='pwned'</script>"
IMAGE_NAME = "<img src=x onerror=alert(1)>"
UNKNOWN_HANDLE = "AAAAAAAAAAAAAAAAAAAAAA"


def expect_inert(browser, what):
    """Nothing in the page ran, loaded or was made from a name."""
    from selenium.common.exceptions import NoAlertPresentException
    try:
        text = browser.driver.switch_to.alert.text
        raise WebTestFailure(f"an alert is open on {what}: {text!r}")
    except NoAlertPresentException:
        pass
    expect_equal(browser.script("return [document.scripts.length, document.images.length]"),
                 [0, 0], f"the scripts and images of {what}")
    browser.expect_no_console_errors(what)


def hostile_names(site, browser):
    hosts = [(SCRIPT_NAME, 12), (IMAGE_NAME, 15), (IMAGE_NAME, "TIMEOUT")]
    for class_name in (SCRIPT_NAME, IMAGE_NAME):
        handle = site.post(report(class_name, hosts))
        browser.open(f"zelvor?handle={handle}")
        what = f"the results of {class_name}"
        expect_inert(browser, what)
        expect_equal(browser.driver.title, f"{class_name} \u00b7 Zelvor results",
                     f"the title of {what}")
        expect_equal(browser.texts("h1 .class-name"), [class_name], f"the heading of {what}")
        expect_equal(browser.texts("table.figures th.host"), [SCRIPT_NAME, IMAGE_NAME],
                     f"the host cells of {what}")
        expect_equal([e.text for e in browser.driver.find_elements("css selector", "th.host")],
                     [SCRIPT_NAME, IMAGE_NAME], f"the host cells of {what} as shown")
        expect_equal(browser.texts("svg.sample-chart .lane-name"), [SCRIPT_NAME, IMAGE_NAME],
                     f"the sample chart's lanes on {what}")
        browser.expect_no_sideways_scroll(390, what)
    browser.screenshot(1280, "hostile-names-1280.png")

    browser.open("")
    expect_inert(browser, "the index")
    expect_equal(browser.texts("table.runs td.class-name"), [IMAGE_NAME, SCRIPT_NAME],
                 "the index's class cells")

    status, body = site.fetch(f"zelvor?handle={UNKNOWN_HANDLE}")
    expect_equal(status, 404, "the status of an unknown handle")
    expect("<h1>No such run</h1>" in body, f"the not-found page's text: {body!r}")
    browser.open(f"zelvor?handle={UNKNOWN_HANDLE}")
    expect_equal((browser.driver.title, browser.texts("h1")),
                 ("Zelvor \u00b7 no such run", ["No such run"]), "the not-found page")
    expect_equal(browser.attributes("main a", "href"), ["/"], "the not-found page's links")
    # The browser logs the page's own 404, and nothing else.
    expect_equal(browser.console_errors(),
                 [f"{site.base}zelvor?handle={UNKNOWN_HANDLE} - Failed to load resource: the "
                  "server responded with a status of 404 (Not Found)"],
                 "console errors on the not-found page")
    browser.expect_no_sideways_scroll(390, "the not-found page")


CASES = {"results_page": results_page, "trend_and_index": trend_and_index,
         "history_pages": history_pages, "hostile_names": hostile_names}


def parse_options(arguments):
    parser = argparse.ArgumentParser(description="Runs one web test of zelvor-site's pages.")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--site", required=True, help="the zelvor-site program")
    parser.add_argument("--artifacts", required=True, help="folder for screenshots and logs")
    return parser.parse_args(arguments)


def main(arguments):
    options = parse_options(arguments)
    missing = missing_tools()
    if missing:
        print(f"skipped: {', '.join(missing)} not installed (scripts/setup installs them)")
        return SKIPPED
    os.makedirs(options.artifacts, exist_ok=True)
    print(f"artifacts: {options.artifacts}", flush=True)
    try:
        with Site(options.site, options.artifacts, options.case) as site, \
                Browser(site, options.artifacts, options.case) as browser:
            CASES[options.case](site, browser)
    except WebTestFailure as failure:
        print(f"FAILED {options.case}: {failure}")
        return 1
    print(f"passed {options.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
