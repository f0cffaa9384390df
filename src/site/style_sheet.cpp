// The site's one style sheet. Pages carry no styles of their own (the
// Content-Security-Policy forbids them), so every look lives here, the
// charts' included. Tables turn into one card per row on narrow screens so
// that no page ever scrolls sideways.
#include "site/style_sheet.hpp"

namespace zelvor::site {

namespace {

constexpr std::string_view sheet = R"css(*, *::before, *::after { box-sizing: border-box; }
html { -webkit-text-size-adjust: 100%; text-size-adjust: 100%; }
body {
  margin: 0;
  font-family: system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", "Liberation Sans",
    Arial, sans-serif;
  font-size: 1rem;
  line-height: 1.45;
  color: #1f2328;
  background: #f6f7f9;
}
a { color: #0b5cad; }
a:visited { color: #5a3d99; }
.site-header { background: #24313f; padding: 0.6rem 1rem; }
.site-header a { color: #fff; font-weight: 600; text-decoration: none; letter-spacing: 0.02em; }
main { max-width: 76rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.5rem; line-height: 1.25; margin: 0.5rem 0; overflow-wrap: anywhere; }
.run-facts { color: #57606a; margin: 0 0 1rem; }
.empty { padding: 1rem; background: #fff; border: 1px solid #d8dee4; border-radius: 6px; }
.class-name { overflow-wrap: anywhere; }
/* Only a name longer than its column breaks, and then anywhere: "anywhere"
   would let the table squeeze the column down to one letter. */
.host { overflow-wrap: break-word; min-width: 8em; }

.table-wrap { overflow-x: auto; margin-bottom: 1.5rem; }
table {
  border-collapse: collapse; width: 100%; background: #fff; font-variant-numeric: tabular-nums;
}
th, td { padding: 0.4rem 0.55rem; border-bottom: 1px solid #e3e7eb; vertical-align: top; }
thead th {
  font-size: 0.8rem; font-weight: 600; color: #57606a; text-align: right; background: #eef1f4;
}
thead th:first-child { text-align: left; }
tbody th { text-align: left; font-weight: 600; }
td { text-align: right; white-space: nowrap; }
td.no-reply { text-align: center; color: #a4343a; font-style: italic; }
.failure { display: inline-block; font-size: 0.8rem; color: #a4343a; }
td[data-label="Failures"] { text-align: left; white-space: normal; }
tr.silent th { color: #a4343a; }
.runs td:nth-child(2) { text-align: left; white-space: normal; overflow-wrap: anywhere; }
.runs td:first-child, .runs thead th:nth-child(2) { text-align: left; }

.charts { display: grid; grid-template-columns: minmax(0, 3fr) minmax(0, 1.2fr); gap: 1rem; }
.chart {
  margin: 0; min-width: 0; padding: 0.6rem;
  background: #fff; border: 1px solid #d8dee4; border-radius: 6px;
}
.chart figcaption { font-size: 0.85rem; color: #57606a; margin-bottom: 0.4rem; }
.chart svg { display: block; width: 100%; height: auto; overflow: hidden; }
svg text { font-family: inherit; font-size: 12px; fill: #1f2328; }
svg .lane { fill: #f3f5f7; }
svg .grid { stroke: #e1e5e9; stroke-width: 1; }
svg .axis, svg .gutter { stroke: #8c959f; stroke-width: 1; }
svg .tick { fill: #57606a; font-size: 11px; text-anchor: middle; }
svg .tick-left { text-anchor: end; }
svg .lane-name { font-size: 12px; font-weight: 600; }
svg .lane-note { fill: #a4343a; font-style: italic; }
svg .sample { fill: #2f6fb3; fill-opacity: 0.55; }
svg .loss { stroke: #c0392b; stroke-width: 1.6; fill: none; }
svg .median { stroke: #1f2328; stroke-width: 2.5; }
svg .trend-line { stroke: #2f6fb3; stroke-width: 2; fill: none; }
svg .run { fill: #2f6fb3; }
svg .this-run { fill: #e07b00; stroke: #1f2328; stroke-width: 1.5; }
svg .no-median { stroke: #c0392b; stroke-width: 1.5; stroke-dasharray: 4 3; }
svg .no-median.this-run { stroke: #e07b00; }
svg .hit { fill: transparent; }
svg .trend-point:hover .run, svg .trend-point:focus .run { fill: #0b5cad; }
svg .trend-note { fill: #e07b00; font-size: 11px; font-weight: 600; text-anchor: middle; }
svg .trend-note.at-end { text-anchor: end; }
.legend { font-size: 0.8rem; color: #57606a; margin: 0.4rem 0 0; }
.key {
  display: inline-block; width: 0.7rem; height: 0.7rem; margin: 0 0.3rem 0 0.6rem;
  vertical-align: -0.05rem;
}
.key:first-child { margin-left: 0; }
.key-sample { border-radius: 50%; background: #2f6fb3; opacity: 0.7; }
.key-median { width: 0.2rem; background: #1f2328; }
.key-loss { position: relative; }
.key-loss::before, .key-loss::after {
  content: ""; position: absolute; left: 0; top: 0.3rem; width: 0.7rem; height: 0.12rem;
  background: #c0392b; transform: rotate(45deg);
}
.key-loss::after { transform: rotate(-45deg); }

.downloads, .pager {
  display: flex; flex-wrap: wrap; gap: 0.5rem 1.25rem; align-items: center; margin: 1.5rem 0;
}
.page-of { color: #57606a; }

@media (max-width: 64rem) {
  .charts { grid-template-columns: minmax(0, 1fr); }
  .figures, .figures tbody, .figures tr, .figures th, .figures td { display: block; }
  .figures thead {
    position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0);
  }
  .figures { background: none; }
  .figures tr {
    display: grid; grid-template-columns: repeat(3, minmax(0, 1fr)); gap: 0.35rem 0.75rem;
    background: #fff; border: 1px solid #d8dee4; border-radius: 6px; padding: 0.6rem 0.75rem;
    margin-bottom: 0.75rem;
  }
  .figures th, .figures td { border: 0; padding: 0; text-align: left; white-space: normal; }
  .figures tbody th, .figures td.no-reply, .figures td[data-label="Failures"] {
    grid-column: 1 / -1;
  }
  .failure { overflow-wrap: anywhere; }
  .figures td::before {
    content: attr(data-label); display: block; font-size: 0.75rem; color: #57606a;
  }
  .figures td.no-reply { text-align: left; }
}

/* The sample chart scales with its box; on a phone that is about half its
   drawn size, so its text and marks grow to stay readable. */
@media (max-width: 40rem) {
  .sample-chart text, .sample-chart .lane-name { font-size: 21px; }
  .sample-chart .tick { font-size: 18px; }
  .sample-chart .sample { r: 4.5px; }
  .sample-chart .loss { stroke-width: 2.2; }
  .sample-chart .median { stroke-width: 4; }
}

@media (max-width: 40rem) {
  .runs, .runs tbody, .runs tr, .runs td { display: block; }
  .runs thead {
    position: absolute; width: 1px; height: 1px; overflow: hidden; clip: rect(0 0 0 0);
  }
  .runs { background: none; }
  .runs tr {
    display: grid; grid-template-columns: repeat(3, minmax(0, 1fr)); gap: 0.35rem 0.75rem;
    background: #fff; border: 1px solid #d8dee4; border-radius: 6px; padding: 0.6rem 0.75rem;
    margin-bottom: 0.75rem;
  }
  .runs td { border: 0; padding: 0; text-align: left; white-space: normal; }
  .runs td:first-child, .runs td:nth-child(2) { grid-column: 1 / -1; }
  .runs td::before {
    content: attr(data-label); display: block; font-size: 0.75rem; color: #57606a;
  }
}
)css";

}  // namespace

std::string_view styleSheet() { return sheet; }

}  // namespace zelvor::site
