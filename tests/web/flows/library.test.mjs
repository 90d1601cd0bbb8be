// The library and the detail view in real WebKit against the scripted native side.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { expectText, openIsland, work } from '../support/page.mjs';

const ids = ['A', 'B', 'C', 'D'].map((c, i) => `${c.repeat(8)}-0000-4000-8000-00000000000${i}`);
const [A, B, C, D] = ids;
// Listed oldest first on purpose: the page orders them.
const works = [work(A, 1), work(B, 2, { parentId: A }), work(C, 3), work(D, 4, { kind: 'video', thumbnail: '' })];

async function openLibrary(t, options = {}) {
  const page = await openIsland(t, { ...options, surface: 'library', replies: { historyList: { resolve: works }, ...options.replies } });
  await page.waitFor('[data-test="library-tile"]');
  return page;
}

const tile = (id) => `[data-test="library-tile"][data-id="${id}"]`;
const tileIds = (page) => page.eval(`[...document.querySelectorAll('[data-test="library-tile"]')].map((t) => t.dataset.id)`);

test('a refused rename keeps the old title; a clean-up reports what was freed and what failed', async (t) => {
  const trashed = { removed: [A, B, C], failed: [{ id: D, message: '资源记录无效' }], removedBytes: 3 * 1024 * 1024 };
  const page = await openLibrary(t, {
    replies: { libraryAction: { reject: '资源记录无效' }, libraryTrash: { resolve: trashed } },
  });
  assert.deepEqual(await tileIds(page), [D, C, B, A]);
  await expectText(page, '[data-test="library-count"]', '4 件');
  // The field opens with the old name selected, so typing replaces it; the
  // store's refusal is shown as it comes.
  await page.click(`${tile(A)} [data-test="library-tile-more"]`);
  await page.click(`${tile(A)} [data-test="library-rename"]`);
  await page.type('[data-test="library-rename-input"]', '新名字');
  await page.press('\uE007');
  await expectText(page, '[data-test="library-status"]', '资源记录无效');
  assert.deepEqual(await page.calls('libraryAction'), [{ id: A, action: 'rename', name: '新名字' }]);
  await expectText(page, `${tile(A)} [data-test="library-tile-title"]`, '作品 A');

  await page.click('[data-test="library-select"]');
  for (const id of [A, C, B, D]) await page.click(`${tile(id)} [data-test="library-tile-open"]`);
  await expectText(page, '[data-test="library-selection-summary"]', '已选 4 件 · 8 MB');
  await page.click('[data-test="library-trash"]');
  await page.waitFor(async () => (await tileIds(page)).length === 1);

  assert.deepEqual(await page.calls('libraryTrash'), [{ ids: [D, C, B, A] }]);
  await expectText(page, '[data-test="library-status"]', '已移到废纸篓 3 件，释放 3 MB；1 件未能清理');
  assert.match(await page.text('[data-test="library-failures"]'), /作品 D\s+资源记录无效/);
  // A library of one work still counts it; the work that stayed is still selected.
  await expectText(page, '[data-test="library-count"]', '1 件');
  await expectText(page, '[data-test="library-selection-summary"]', '已选 1 件 · 2 MB');
  assert.deepEqual(await page.errors(), []);
});

test('the detail shows a work, its parent, and hands it to creation as a reference', async (t) => {
  const page = await openLibrary(t, { colorScheme: 'dark' });
  await page.click(`${tile(B)} [data-test="library-tile-open"]`);
  await page.waitFor('[data-test="detail-image"]');
  await expectText(page, '[data-test="detail-title"]', '作品 B');
  await expectText(page, '[data-test="detail-ratio"]', '4:3 · 1024×768');
  await page.eval('new Promise((resolve) => setTimeout(resolve, 400))'); // the image fades in
  await page.screenshot('detail-dark');

  await page.click('[data-test="detail-parent"]');
  await expectText(page, '[data-test="detail-title"]', '作品 A');
  await page.waitFor(async () => page.eval(`document.querySelector('[data-test="detail-reference"]')?.disabled === false`));
  await page.click('[data-test="detail-reference"]');
  await page.waitFor('[data-test="working-image"] img');
  assert.deepEqual(await page.calls('libraryMedia'), [B, A]);
  assert.deepEqual(await page.errors(), []);
});

test('a video work gets the native player over its slot, stopped when the view closes', async (t) => {
  const page = await openLibrary(t, { replies: { libraryMedia: { resolve: `plumora-video:${D}` } } });
  await page.click(`${tile(D)} [data-test="library-tile-open"]`);
  // The island grows into the detail; the player follows its slot until it settles there.
  const placed = await page.waitFor(async () => {
    const last = (await page.calls('libraryVideo')).at(-1);
    const slot = await page.eval(`document.querySelector('[data-test="detail-video"]')?.getBoundingClientRect().toJSON()`);
    const same = last && slot && ['x', 'y', 'width', 'height'].every((key) => Math.abs(last[key] - slot[key]) < 1);
    return same && slot.width > 100 ? last : null;
  });
  assert.equal(placed.id, D);
  assert.ok(placed.x >= 0 && placed.y >= 0 && placed.x + placed.width <= 749 && placed.y + placed.height <= 781);

  await page.click('[data-test="detail-back"]');
  await page.waitFor(async () => (await page.calls('libraryVideo')).at(-1) === null);
});
