// Pure geometry and state rules of the island, kept free of the DOM and the
// bridge so they can be checked on their own.

// The native panel is at most this large; the island never leaves it.
const PANEL_LIMIT = { width: 748, height: 780 };
export const COMPACT_SIZE = { width: 222, height: 38 };

// Lower corners are rounded like the native glass mask.
export function cornerRadius(width, height) {
  return Math.min(Math.min(width, height) / 2, 20);
}

// The usable area: the viewport, never more than the native panel.
export function panelArea(viewportWidth, viewportHeight) {
  return {
    width: Math.min(viewportWidth, PANEL_LIMIT.width),
    height: Math.min(viewportHeight, PANEL_LIMIT.height),
  };
}

// Left edge of an island of `width` centred under the anchor, kept inside the panel.
export function islandLeft(anchor, width, panelWidth) {
  const fitted = Math.min(width, panelWidth);
  const centred = Math.round(anchor - fitted / 2);
  return Math.max(0, Math.min(centred, panelWidth - fitted));
}

// The integer rectangle reported for a box, clipped to the panel; null when
// nothing of it is visible (the native side refuses empty rectangles).
export function reportedRect(box, panel) {
  const x = Math.max(0, Math.floor(box.x));
  const y = Math.max(0, Math.floor(box.y));
  const right = Math.min(panel.width, Math.ceil(box.x + box.width));
  const bottom = Math.min(panel.height, Math.ceil(box.y + box.height));
  if (right - x < 1 || bottom - y < 1) return null;
  return { x, y, width: right - x, height: bottom - y };
}

export function sameRect(a, b) {
  return Boolean(a && b) && a.x === b.x && a.y === b.y && a.width === b.width && a.height === b.height;
}

// Where the notch sits inside the island: under the anchor, clear of the corners.
export function notchOffset(anchor, left, width) {
  const margin = cornerRadius(width, COMPACT_SIZE.height) + 6;
  return Math.max(margin, Math.min(anchor - left, width - margin));
}

// Hover and press states from the native pointer tracking and local presses.
// A press that started on the island lasts until the native release event,
// even when the pointer leaves the island meanwhile.
export function pointerState(state, event) {
  switch (event) {
    case 'enter':
      return { ...state, hover: true };
    case 'leave':
      return { ...state, hover: false };
    case 'press':
      return { hover: true, pressed: true };
    case 'release':
      return { ...state, pressed: false };
    default:
      return state;
  }
}

export function pinnedFrom(stored) {
  return stored === 'on';
}

// A click on the tray icon: a panel that was hidden, or an island showing
// only its bar or a notice, opens; an open surface puts the panel away.
export function toggleOutcome({ hidden, mode }) {
  return hidden || mode !== 'surface' ? 'open' : 'hide';
}
