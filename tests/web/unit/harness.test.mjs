// The page-test harness's own pieces that need no browser: script injection,
// localStorage presets, reply checking and the test PNGs.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { inflateSync } from 'node:zlib';

import { decodePng, encodePng, gradientPng } from '../support/png.mjs';
import { checkedReply, replyTable } from '../support/replies.mjs';
import { injectScripts, presetsScript } from '../support/server.mjs';

test('injected scripts come before everything the page declares', () => {
  const rows = [
    ['<html><head lang="x"><script type="module" src="a.js"></script></head>', '<html><head lang="x"><script src="/b.js"></script><script type="module"'],
    ['<HEAD><meta charset="utf-8">', '<HEAD><script src="/b.js"></script><meta'],
    ['<p>no head</p>', '<script src="/b.js"></script><p>'],
  ];
  for (const [html, start] of rows) assert.ok(injectScripts(html, ['/b.js']).startsWith(start), html);
  assert.equal(injectScripts('<head>', [{ text: 'f("</script>")' }]), '<head><script>f("<\\/script>")</script>');
});

test('presets replace whatever an earlier page left in localStorage', () => {
  const store = new Map([['stale', '1']]);
  const localStorage = {
    clear: () => store.clear(),
    setItem: (key, value) => store.set(key, value),
  };
  new Function('localStorage', presetsScript({ 'plumora-island-pinned': 'on', count: 2, quote: "'\"</script>" }))(localStorage);
  assert.deepEqual([...store], [['plumora-island-pinned', 'on'], ['count', '2'], ['quote', "'\"</script>"]]);
});

test('replies must have exactly one kind, so typos fail loudly', () => {
  for (const reply of [{ resolve: null }, { reject: '失败' }, { hold: true }, { resolve: 1, delay: 50 }]) {
    assert.equal(checkedReply('x', reply), reply);
  }
  for (const reply of [{}, { resolved: 1 }, { resolve: 1, reject: 'a' }, { reject: 3 }, null]) {
    assert.throws(() => checkedReply('x', reply), TypeError);
  }
  const table = replyTable({ historyList: { resolve: [1] } });
  assert.deepEqual(table.historyList, { resolve: [1] });
  assert.deepEqual(table.capture, { resolve: { text: '', voice: false } });
});

test('test PNGs carry their size and pixels, and decode back', () => {
  const png = gradientPng(7, 3, 5);
  assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [7, 3]);
  const idat = png.indexOf('IDAT');
  const rows = inflateSync(png.subarray(idat + 4, idat + 4 + png.readUInt32BE(idat - 4)));
  assert.equal(rows.length, (7 * 3 + 1) * 3);
  const decoded = decodePng(encodePng(3, 2, (x, y) => [x * 50, y * 100, 7]));
  assert.deepEqual([decoded.width, decoded.height, decoded.pixel(0, 0), decoded.pixel(2, 1)], [3, 2, [0, 0, 7], [100, 100, 7]]);
});
