import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

const web = new URL('../../../web/', import.meta.url);
const read = (path) => readFileSync(new URL(path, web), 'utf8');
const html = read('index.html');
const linked = (rel) => [...html.matchAll(new RegExp(`<link rel="${rel}" href="([^"]+)">`, 'g'))].map((m) => m[1]);

// The modules app.js needs before it runs: its static imports, transitively.
function staticGraph(path, seen = new Set()) {
  for (const [, name] of read(path).matchAll(/^import[^'"]*['"]\.\/([^'"]+)['"]/gm)) {
    const module = `js/${name}`;
    if (!seen.has(module)) {
      seen.add(module);
      staticGraph(module, seen);
    }
  }
  return seen;
}

test('index.html preloads exactly the modules the first surface imports', () => {
  // A missing one costs a round trip per import level; an extra one (a view
  // that loads on demand) would be fetched for nothing at every start.
  assert.deepEqual(new Set(linked('modulepreload')), staticGraph('js/app.js'));
});

test('the view style sheets load with their views, not with the page', () => {
  const onDemand = new Set([...read('js/app.js').matchAll(/'(css\/[^']+\.css)'/g)].map((m) => m[1]));
  assert.ok(onDemand.size > 0);
  for (const sheet of linked('stylesheet')) assert.ok(!onDemand.has(sheet), sheet);
  for (const sheet of [...onDemand, ...linked('stylesheet')]) assert.ok(read(sheet).length > 0, sheet);
});
