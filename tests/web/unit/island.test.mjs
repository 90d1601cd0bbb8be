import assert from 'node:assert/strict';
import { test } from 'node:test';

import { islandLeft, panelArea, pinnedFrom, pointerState, reportedRect, toggleOutcome } from
  '../../../web/js/island-geometry.js';

test('the island stays centred under the anchor and inside the panel', () => {
  const rows = [
    // anchor, width, panel width, left
    [374, 222, 748, 263],
    [40, 365, 748, 0],
    [740, 540, 748, 208],
    [300, 900, 600, 0],
  ];
  for (const [anchor, width, panel, left] of rows) {
    assert.equal(islandLeft(anchor, width, panel), left, `anchor ${anchor} width ${width}`);
  }
  assert.deepEqual(panelArea(1280, 1024), { width: 748, height: 780 });
  assert.deepEqual(panelArea(684, 600), { width: 684, height: 600 });
});

test('reported rectangles are whole pixels inside the panel, or nothing', () => {
  const panel = { width: 748, height: 780 };
  const rows = [
    [{ x: 191.6, y: 0, width: 365.2, height: 320.4 }, { x: 191, y: 0, width: 366, height: 321 }],
    [{ x: 400, y: 0, width: 540, height: 900 }, { x: 400, y: 0, width: 348, height: 780 }],
    [{ x: -10, y: -2, width: 100, height: 40 }, { x: 0, y: 0, width: 90, height: 38 }],
    [{ x: 10, y: 0, width: 0, height: 40 }, null],
    [{ x: 800, y: 0, width: 100, height: 40 }, null],
  ];
  for (const [box, expected] of rows) assert.deepEqual(reportedRect(box, panel), expected, JSON.stringify(box));
});

test('pointer events drive hover and press, a press lasts until the native release', () => {
  const steps = [
    ['enter', { hover: true, pressed: false }],
    ['press', { hover: true, pressed: true }],
    ['leave', { hover: false, pressed: true }],
    ['release', { hover: false, pressed: false }],
  ];
  let state = { hover: false, pressed: false };
  for (const [event, expected] of steps) {
    state = pointerState(state, event);
    assert.deepEqual(state, expected, event);
  }
});

test('pin state and tray clicks', () => {
  assert.deepEqual(['on', 'off', null, 'true'].map(pinnedFrom), [true, false, false, false]);
  assert.equal(toggleOutcome({ hidden: true, mode: 'surface' }), 'open');
  assert.equal(toggleOutcome({ hidden: false, mode: 'compact' }), 'open');
  assert.equal(toggleOutcome({ hidden: false, mode: 'surface' }), 'hide');
});
