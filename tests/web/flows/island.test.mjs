// The page in real WebKit with the program's bridge and the scripted native
// side: it loads cleanly and transparent in light and dark, and the island
// reports rectangles inside the panel, follows the anchor, shrinks to the
// 222×38 notice, remembers its pin and runs the notification smoke task.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { openIsland } from '../support/page.mjs';

const island = '[data-test="island"]';

// The last rectangle reported once the island has stopped animating.
async function lastRect(page) {
  await page.waitFor(() => page.eval(`document.querySelector('${island}').getAnimations().length === 0`));
  return page.waitFor(async () => (await page.calls('islandGeometry')).at(-1));
}

// What the screenshot shows where the page paints nothing: the backdrop, or
// in dark WebKit's own canvas colour for a page with a dark colour scheme.
const empty = { light: [[201, 208, 216]], dark: [[36, 39, 44], [30, 30, 30]] };

for (const colorScheme of ['light', 'dark']) {
  test(`the page loads cleanly in ${colorScheme}`, async (t) => {
    const page = await openIsland(t, { colorScheme });
    assert.deepEqual(
      await page.eval(`[innerWidth, innerHeight, matchMedia('(prefers-color-scheme: dark)').matches]`),
      [748, 780, colorScheme === 'dark'],
    );
    await page.eval('new Promise((resolve) => setTimeout(resolve, 300))');
    assert.deepEqual(await page.errors(), []);
    // Outside the island the page is transparent, so clicks there can fall
    // through. The page itself decodes its screenshot to read the pixels.
    const shot = readFileSync(await page.screenshot(`smoke-${colorScheme}`)).toString('base64');
    const corners = await page.eval(`(async () => {
      const image = new Image();
      image.src = 'data:image/png;base64,${shot}';
      await image.decode();
      const canvas = Object.assign(document.createElement('canvas'), { width: image.width, height: image.height });
      const g = canvas.getContext('2d');
      g.drawImage(image, 0, 0);
      return [[4, 775], [743, 775], [4, 400], [743, 400]].map(([x, y]) => [...g.getImageData(x, y, 1, 1).data.slice(0, 3)]);
    })()`);
    for (const pixel of corners) assert.ok(empty[colorScheme].some((c) => c.join() === pixel.join()), `${corners}`);
  });
}

test('every reported rectangle lies inside the panel, the notice is 222×38 under the anchor', async (t) => {
  const page = await openIsland(t);
  assert.deepEqual(await lastRect(page), { x: 263, y: 0, width: 222, height: 38 });
  await page.emit('plumora:capture', { text: '雪山下的湖', voice: false, source: '' });
  const creation = await page.waitFor(async () => {
    const rect = await lastRect(page);
    return rect.width === 365 && rect;
  });
  assert.equal(creation.x, 192);
  for (const surface of ['library', 'settings', 'creation']) await page.click(`[data-test="nav-${surface}"]`);
  await page.emit('plumora:anchor', 700);
  assert.equal((await lastRect(page)).x, 748 - 365);
  await page.emit('plumora:task-notice');
  await page.waitFor('[data-test="island-notice"]');
  assert.deepEqual(await lastRect(page), { x: 526, y: 0, width: 222, height: 38 });
  await page.screenshot('island-notice-light');

  // Every rectangle on the way, mid-animation ones included: whole pixels inside the panel.
  const inside = ({ x, y, width, height }) =>
    [x, width, height].every(Number.isInteger) && x >= 0 && y === 0 && width >= 1 && height >= 1 && x + width <= 748 && height <= 780;
  assert.deepEqual((await page.calls('islandGeometry')).filter((rect) => !inside(rect)), []);
  assert.deepEqual(await page.errors(), []);
});

test('pin, close, toggle, hide and pointer events', async (t) => {
  const page = await openIsland(t);
  assert.deepEqual(await page.calls('pin'), [{ enabled: false }]);
  await page.emit('plumora:surface', 'quick');
  await page.waitFor('[data-test="surface-creation"]');
  await page.click('[data-test="island-pin"]');
  assert.deepEqual((await page.calls('pin')).at(-1), { enabled: true });

  await page.emit('plumora:pointer', true);
  assert.equal(await page.eval(`document.querySelector('${island}').classList.contains('is-hover')`), true);
  await page.emit('plumora:pointer', false);
  assert.equal(await page.eval(`document.querySelector('${island}').classList.contains('is-hover')`), false);

  // Close and a toggle of the open surface hide; a toggle after a hide opens it again.
  await page.click('[data-test="island-close"]');
  await page.emit('plumora:toggle');
  assert.equal((await page.calls('hide')).length, 2);
  await page.emit('plumora:hide');
  await page.emit('plumora:toggle');
  assert.equal((await page.calls('hide')).length, 2);
  assert.equal(await page.eval(`document.querySelector('${island}').dataset.mode`), 'surface');

  // The pin outlives a reload.
  await page.reload();
  await page.waitFor(async () => (await page.calls('pin')).length > 0);
  assert.deepEqual(await page.calls('pin'), [{ enabled: true }]);
});

for (const [switches, state] of [
  [['--notification-smoke-test'], 'done'],
  [['--notification-failure-smoke-test'], 'error'],
]) {
  test(`the notification smoke mode runs one task to ${state}`, async (t) => {
    const page = await openIsland(t, { switches });
    const states = await page.waitFor(async () => {
      const calls = await page.calls('taskState');
      return calls.length === 2 && calls;
    });
    assert.deepEqual(states.map(({ state, sound, present }) => ({ state, sound, present })), [
      { state: 'working', sound: false, present: false },
      { state, sound: state === 'done', present: true },
    ]);
    assert.equal(states[1].taskId, states[0].taskId);
  });
}
