"""The fixed parts of a report page: its style sheet (screen and print), the script of
its search box and the SVG pattern of unassigned buckets."""

STYLE = """
:root { --ink: #1d232a; --muted: #5f6b76; --line: #d5dbe1; --paper: #fff; --soft: #f4f6f8;
  --error: #b3261e; --warning: #9a6700; --info: #0b6e99; --moved: #d62728; --added: #2ca02c; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif;
  color: var(--ink); background: var(--paper); }
header, main, nav { max-width: 1100px; margin: 0 auto; padding: 0 20px; }
header { padding-top: 20px; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 28px 0 8px; }
h3 { font-size: 16px; margin: 0; overflow-wrap: anywhere; }
code, pre, .mono { font-family: ui-monospace, "SFMono-Regular", Menlo, Consolas, monospace;
  font-size: 12.5px; }
pre { background: var(--soft); padding: 8px; overflow-x: auto; margin: 4px 0; }
.muted { color: var(--muted); }
.verdict { font-weight: 600; padding: 8px 12px; border-radius: 6px; margin: 8px 0; }
.verdict.ok { background: #e6f4ea; } .verdict.bad { background: #fce8e6; }
.counts span { margin-right: 14px; }
nav { margin-top: 12px; }
/* A long table of contents scrolls in its own box, leaving the groups in sight. */
nav ol { display: grid; grid-template-columns: repeat(auto-fill, minmax(250px, 1fr));
  gap: 0 16px; padding: 0; margin: 6px 0; max-height: 24em; overflow-y: auto;
  list-style-position: inside; }
nav li { overflow-wrap: anywhere; }
#search { width: 100%; max-width: 420px; padding: 6px 8px; font: inherit;
  border: 1px solid var(--line); border-radius: 6px; }
/* A page of thousands of features opens fast: the browser lays out a section only when
   it nears the screen. */
.feature { border: 1px solid var(--line); border-radius: 8px; padding: 12px 14px;
  margin: 14px 0; content-visibility: auto; contain-intrinsic-size: auto 640px; }
.feature > header { display: flex; gap: 10px; align-items: baseline; flex-wrap: wrap;
  padding: 0; margin: 0 0 6px; max-width: none; }
.badge { display: inline-block; font-size: 12px; padding: 0 6px; border-radius: 9px;
  background: var(--soft); border: 1px solid var(--line); }
.badge.error { color: var(--error); border-color: var(--error); }
.badge.warning { color: var(--warning); border-color: var(--warning); }
.badge.info { color: var(--info); border-color: var(--info); }
.badge.changed, .badge.reseeded { color: var(--moved); border-color: var(--moved); }
.badge.added { color: var(--added); border-color: var(--added); }
.badge.removed { color: var(--muted); }
dl.facts { display: grid; grid-template-columns: max-content 1fr max-content 1fr;
  gap: 2px 14px; margin: 6px 0; }
dl.facts dt { color: var(--muted); } dl.facts dd { margin: 0; overflow-wrap: anywhere; }
.bar { position: relative; margin: 6px 0 2px; }
.bar svg { display: block; width: 100%; height: 26px; border: 1px solid var(--line); }
.bar .labels { position: absolute; left: 0; right: 0; top: 0; height: 28px; pointer-events: none; }
.bar .labels span { position: absolute; top: 5px; padding: 0 4px; overflow: hidden;
  white-space: nowrap; text-overflow: ellipsis; color: #fff; font-size: 12px;
  text-shadow: 0 0 2px #000; }
.bar .labels span.gap { color: var(--ink); text-shadow: 0 0 2px #fff; }
.bar-title { font-size: 12px; color: var(--muted); margin-top: 6px; }
.axis { display: flex; justify-content: space-between; font-size: 11px; color: var(--muted); }
svg.changes { display: block; width: 100%; height: 10px; }
table.legend { border-collapse: collapse; margin: 4px 0 6px; font-size: 13px; }
table.legend td, table.legend th { padding: 1px 10px 1px 0; text-align: left; }
table.legend td.num { text-align: right; font-variant-numeric: tabular-nums; }
.swatch { display: inline-block; width: 10px; height: 10px; margin-right: 5px;
  vertical-align: middle; }
ul.rules, ul.rules ul { list-style: none; margin: 2px 0; padding-left: 18px;
  border-left: 2px solid var(--line); }
ul.rules li { margin: 1px 0; overflow-wrap: anywhere; }
.op { font-weight: 600; color: var(--info); }
ol.overrides { margin: 4px 0; padding-left: 22px; }
ul.findings { list-style: none; padding: 0; margin: 6px 0; }
ul.findings li { border-left: 3px solid var(--line); padding: 2px 8px; margin: 4px 0; }
ul.findings li.error { border-color: var(--error); }
ul.findings li.warning { border-color: var(--warning); }
ul.findings li.info { border-color: var(--info); }
.hint { color: var(--muted); }
.group { border: 2px solid var(--line); border-radius: 8px; padding: 8px 10px; margin: 8px 0; }
.group.holdout { border-color: #8e6c8a; background: #faf6fa; }
.group.mutex { border-color: #4e79a7; background: #f5f8fc; }
/* Members are chips that wrap, so a group of thousands stays a few screens tall. */
.group .member { display: inline-block; border: 1px dashed var(--line); border-radius: 6px;
  padding: 2px 8px; margin: 4px 4px 0 0; background: var(--paper); }
.group h4 { margin: 0; font-size: 14px; overflow-wrap: anywhere; }
table.changes-table { border-collapse: collapse; }
table.changes-table td, table.changes-table th { padding: 2px 10px 2px 0; text-align: left;
  vertical-align: top; }
.load-error { background: #fce8e6; padding: 8px 12px; border-radius: 6px; }
details.before { margin: 4px 0; padding: 2px 8px; background: var(--soft);
  border-radius: 6px; }
details.before summary { cursor: pointer; color: var(--muted); }
[hidden] { display: none !important; }
@media print {
  nav, #search { display: none; }
  body { font-size: 11px; }
  .feature, .group { break-inside: avoid; }
  * { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  a { color: inherit; text-decoration: none; }
}
"""

# Filters the features and the table of contents by name as the reader types.
SCRIPT = """
(function () {
  var box = document.getElementById("search");
  if (!box) return;
  var items = document.querySelectorAll("[data-name]");
  box.addEventListener("input", function () {
    var wanted = box.value.trim().toLowerCase();
    for (var i = 0; i < items.length; i++) {
      var name = items[i].getAttribute("data-name").toLowerCase();
      items[i].hidden = wanted !== "" && name.indexOf(wanted) < 0;
    }
  });
})();
"""

# The hatching of buckets no range holds, defined once and used by every bar.
DEFS = ('<svg width="0" height="0" style="position:absolute" aria-hidden="true"><defs>'
         '<pattern id="gap" width="8" height="8" patternUnits="userSpaceOnUse" '
         'patternTransform="rotate(45)"><rect width="8" height="8" fill="#eef0f2"/>'
         '<line x1="0" y1="0" x2="0" y2="8" stroke="#b9c0c7" stroke-width="3"/></pattern>'
         '</defs></svg>')
