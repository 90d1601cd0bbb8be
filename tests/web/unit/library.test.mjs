import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  addTrashReply, batchesOf, emptyTrashTotal, nameRuleMessage, newestFirst, selectionSummary, thumbnailOf, tileMarkup,
  trashSummary, validateWorkName, videoPlacement,
} from '../../../web/js/library-model.js';

const A = 'AAAAAAAA-0000-4000-8000-000000000001';
const B = 'BBBBBBBB-0000-4000-8000-000000000002';
const C = 'CCCCCCCC-0000-4000-8000-000000000003';

test('works are listed newest first, undated last, malformed entries dropped', () => {
  const list = newestFirst([
    { id: A, createdAt: '2026-01-01T08:00:00Z' },
    { id: 'undated' },
    null,
    { title: 'no id' },
    { id: B, createdAt: '2026-03-01T08:00:00Z' },
    { id: C, createdAt: '2026-02-01T08:00:00Z' },
  ]);
  assert.deepEqual(list.map((e) => e.id), [B, C, A, 'undated']);
  assert.deepEqual(newestFirst(null), []);
});

test('a tile shows the embedded thumbnail, else the scheme preview of an available image', () => {
  const rows = [
    [{ id: A, thumbnail: 'data:image/png;base64,AAA', available: true }, 'data:image/png;base64,AAA'],
    [{ id: A, thumbnail: '', kind: 'image', available: true }, `history-preview/${A}/image.png`],
    [{ id: A, thumbnail: 'javascript:alert(1)', kind: 'image', available: false }, ''],
    [{ id: A, thumbnail: '', kind: 'video', available: true }, ''],
  ];
  for (const [entry, source] of rows) assert.equal(thumbnailOf(entry), source);
});

test('tile markup escapes stored text and loads and captions only the first screen at once', () => {
  const hostile = { id: A, title: '<img src=x onerror=alert(1)> & "q" \'s', kind: 'image', available: true, fileBytes: 1536 };
  const eager = tileMarkup(hostile, { eager: true, now: new Date('2026-01-01T12:00:00') });
  assert.ok(!eager.includes('<img src=x'));
  assert.ok(eager.includes('&lt;img src=x onerror=alert(1)&gt; &amp; &quot;q&quot; &#39;s'));
  assert.match(eager, /loading="eager"[^>]*src="history-preview\/AAAAAAAA/);
  assert.ok(eager.includes('>1.5 KB<'));
  assert.match(tileMarkup(hostile), /loading="lazy"/);
  assert.ok(tileMarkup(hostile, { captioned: false }).includes('<span class="tile-caption"></span>'));
  const video = tileMarkup({ id: B, kind: 'video', available: true }, { selecting: true, selected: true });
  assert.ok(!video.includes('<img') && video.includes('视频') && video.includes('aria-pressed="true"'));
});

test('names follow the store rule: trimmed, 1 to 200 characters, no control characters', () => {
  const rows = [
    ['  资源重命名  ', { name: '资源重命名' }],
    ['   ', { error: nameRuleMessage }],
    ['a\tb', { error: nameRuleMessage }],
    ['字'.repeat(200), { name: '字'.repeat(200) }],
    ['字'.repeat(201), { error: nameRuleMessage }],
    ['👩‍👩‍👧'.repeat(200), { name: '👩‍👩‍👧'.repeat(200) }],
  ];
  for (const [raw, outcome] of rows) assert.deepEqual(validateWorkName(raw), outcome, `name ${JSON.stringify(raw)}`);
});

test('the selection line counts the stored size where the allocated one is unknown', () => {
  const entries = [{ id: A, allocatedBytes: 4096, storedBytes: 3000 }, { id: B, allocatedBytes: 0, storedBytes: 2048 }, { id: C }];
  assert.deepEqual(selectionSummary(entries, new Set([A, B])), { count: 2, bytes: 6144, text: '已选 2 件 · 6 KB' });
});

test('a clean-up goes in batches of 500 and reports removed works, freed bytes and each failure', () => {
  const ids = Array.from({ length: 1001 }, (_, i) => `id-${i}`);
  assert.deepEqual(batchesOf(ids).map((batch) => batch.length), [500, 500, 1]);
  assert.deepEqual(batchesOf([]), []);

  const entries = [
    { id: A, title: '猫' },
    { id: B, title: '', prompt: '一只狗在草地上' },
  ];
  const total = emptyTrashTotal();
  addTrashReply(total, [A, B], { removed: [A], failed: [{ id: B, message: '资源记录无效' }], removedBytes: 2 * 1024 * 1024 });
  let outcome = trashSummary(total, entries);
  assert.deepEqual(outcome.removed, [A]);
  assert.equal(outcome.text, '已移到废纸篓 1 件，释放 2 MB；1 件未能清理');
  assert.deepEqual(outcome.failures, [{ id: B, title: '一只狗在草地上', message: '资源记录无效' }]);

  // A refused batch and a reply without the expected fields never read as success.
  addTrashReply(total, [C], null, '清理列表无效');
  addTrashReply(total, ['X'], { ok: true });
  outcome = trashSummary(total, entries);
  assert.deepEqual(outcome.removed, [A]);
  assert.deepEqual(outcome.failures.slice(1), [
    { id: C, title: C, message: '清理列表无效' },
    { id: 'X', title: 'X', message: '未收到清理结果' },
  ]);
  assert.equal(trashSummary(emptyTrashTotal(), entries).text, '没有作品被移到废纸篓');
});

test('the video player is placed only while its slot is wholly on screen', () => {
  const rows = [
    [{ x: 10, y: 20, width: 400, height: 225 }, true],
    [{ x: 348, y: 0, width: 400, height: 225 }, true], // right edge at 748, inside the slack
    [{ x: 349.5, y: 0, width: 400, height: 225 }, false],
    [{ x: 10, y: -1, width: 400, height: 225 }, false],
    [{ x: 10, y: 20, width: 1, height: 225 }, false],
    [{ x: Number.NaN, y: 0, width: 400, height: 225 }, false],
  ];
  for (const [rect, placed] of rows) {
    assert.deepEqual(videoPlacement(rect, 748, 780), placed ? rect : null, JSON.stringify(rect));
  }
});
