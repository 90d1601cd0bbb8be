// The island in real WebKit with the program's bridge: a clean, transparent
// page in light and dark, the rectangles it reports, its pin and the
// notification smoke task.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';

import { openIsland } from '../support/page.mjs';

async function lastRect(page) {
  await page.settled();
  return page.waitFor(async () => (await page.calls('islandGeometry')).at(-1));
}

// Where the page paints nothing: the backdrop, or in dark WebKit's own canvas colour.
const empty = { light: [[201, 208, 216]], dark: [[36, 39, 44], [30, 30, 30]] };

for (const colorScheme of ['light', 'dark']) {
  test(`the page loads cleanly in ${colorScheme}`, async (t) => {
    const page = await openIsland(t, { colorScheme });
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

test('the pin is reported and outlives a reload', async (t) => {
  const page = await openIsland(t);
  assert.deepEqual(await page.calls('pin'), [{ enabled: false }]);
  await page.emit('plumora:surface', 'quick');
  await page.waitFor('[data-test="surface-creation"]');
  await page.click('[data-test="island-pin"]');
  assert.deepEqual((await page.calls('pin')).at(-1), { enabled: true });

  await page.reload();
  await page.waitFor(async () => (await page.calls('pin')).length > 0);
  assert.deepEqual(await page.calls('pin'), [{ enabled: true }]);
});

test('the notification smoke mode runs one task to its end', async (t) => {
  const page = await openIsland(t, { switches: ['--notification-smoke-test'] });
  const states = await page.waitFor(async () => {
    const calls = await page.calls('taskState');
    return calls.length === 2 && calls;
  });
  const { taskId } = states[0];
  assert.deepEqual(states, [
    { state: 'working', taskId, sound: false, present: false },
    { state: 'done', taskId, sound: true, present: true },
  ]);
});
