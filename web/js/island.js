// The island: the one visible piece of glass under the tray icon. It shows a
// compact bar, grows into a surface (creation, result, library …) and shrinks
// into the one-line task notice. The native panel around it is transparent
// and lets clicks through everywhere except the rectangle the island reports,
// so every change of the island's box is sent with islandGeometry.

import { onNative } from './native.js';
import {
  COMPACT_SIZE,
  cornerRadius,
  islandLeft,
  notchOffset,
  panelArea,
  pinnedFrom,
  pointerState,
  reportedRect,
  sameRect,
} from './island-geometry.js';
import { el } from './dom.js';
import { icon } from './icons.js';
import { readStored, storedKeys, writeStored } from './storage.js';

function iconButton(name, label, test) {
  return el('button', { type: 'button', className: 'icon-button', ariaLabel: label, title: label, test }, [icon(name)]);
}

const surfaceTitles = {
  creation: '创作',
  result: '新作品',
  library: '作品库',
  detail: '作品详情',
  settings: '设置',
  onboarding: '欢迎使用 Glimmet',
};

// Builds the island. `onNavigate(surface)` is called by its own controls
// (the compact bar, back, library, settings, the notice); `anchor`, when
// given, is an islandAnchor() answer already asked for.
export function createIsland(native, { onNavigate, anchor: askedAnchor }) {
  const element = el('div', { className: 'island', role: 'region', ariaLabel: 'Glimmet 创作岛', test: 'island' });
  element.dataset.mode = 'compact';

  const notch = el('span', { className: 'island-notch', ariaHidden: 'true' });
  const bar = el('button', { type: 'button', className: 'island-bar', test: 'island-open' }, [
    icon('sparkle'),
    el('span', { text: '选中文字或图片，开始创作' }),
  ]);

  const noticeText = el('span', { role: 'status' });
  const notice = el('button', { type: 'button', className: 'island-notice', test: 'island-notice' }, [
    el('i', { className: 'island-notice-dot', ariaHidden: 'true' }),
    noticeText,
  ]);

  const back = iconButton('back', '返回创作', 'nav-creation');
  const title = el('h1', { className: 'island-title' });
  const library = iconButton('library', '作品库', 'nav-library');
  const settings = iconButton('settings', '设置', 'nav-settings');
  const pin = iconButton('pin', '固定面板', 'island-pin');
  const close = iconButton('close', '关闭', 'island-close');
  const tools = el('div', { className: 'island-tools' }, [library, settings, pin, close]);
  const chrome = el('header', { className: 'island-chrome' }, [back, title, tools]);

  const body = el('div', { className: 'island-body' });

  element.append(notch, bar, notice, chrome, body);

  let anchor = null;
  let width = COMPACT_SIZE.width;
  let surface = 'compact';
  let mode = 'compact';
  let modal = false;
  let hidden = false;
  let pointer = { hover: false, pressed: false };
  let lastRect = null;
  let pinned = false;
  let noticeTarget = null;
  const layoutListeners = new Set();

  function area() {
    return panelArea(window.innerWidth, window.innerHeight);
  }

  function anchorX() {
    return anchor ?? area().width / 2;
  }

  function layout() {
    const panel = area();
    const shownWidth = Math.min(mode === 'surface' ? width : COMPACT_SIZE.width, panel.width);
    const left = islandLeft(anchorX(), shownWidth, panel.width);
    element.style.setProperty('--island-width', `${shownWidth}px`);
    element.style.setProperty('--island-left', `${left}px`);
    element.style.setProperty('--island-max-height', `${panel.height}px`);
    element.style.setProperty('--notch-x', `${notchOffset(anchorX(), left, shownWidth)}px`);
    follow();
  }

  function report() {
    const rect = reportedRect(element.getBoundingClientRect(), area());
    if (!rect || sameRect(rect, lastRect)) return;
    lastRect = rect;
    element.style.setProperty('--island-radius', `${cornerRadius(rect.width, rect.height)}px`);
    Promise.resolve(native.islandGeometry(rect)).catch(() => {});
    for (const listener of layoutListeners) listener(rect);
  }

  // Reports every frame while the island animates to its new box.
  let followUntil = 0;
  let following = false;
  function follow() {
    followUntil = performance.now() + 480;
    if (following) return;
    following = true;
    const step = () => {
      report();
      if (performance.now() < followUntil) requestAnimationFrame(step);
      else following = false;
    };
    requestAnimationFrame(step);
  }

  new ResizeObserver(report).observe(element);
  window.addEventListener('resize', layout);

  function setMode(next) {
    mode = next;
    element.dataset.mode = next;
    layout();
  }

  function applyPointer(event) {
    pointer = pointerState(pointer, event);
    element.classList.toggle('is-hover', pointer.hover);
    element.classList.toggle('is-pressed', pointer.pressed);
  }

  function showPinned() {
    pin.setAttribute('aria-pressed', String(pinned));
    const label = pinned ? '取消固定面板' : '固定面板';
    pin.setAttribute('aria-label', label);
    pin.title = label;
  }

  function setPinned(next) {
    pinned = next;
    writeStored(storedKeys.pinned, next ? 'on' : 'off');
    showPinned();
    Promise.resolve(native.pin(next)).catch(() => {});
  }

  pinned = pinnedFrom(readStored(storedKeys.pinned));
  showPinned();
  Promise.resolve(native.pin(pinned)).catch(() => {});

  bar.addEventListener('click', () => onNavigate('creation'));
  notice.addEventListener('click', () => onNavigate(noticeTarget ?? 'creation'));
  back.addEventListener('click', () => onNavigate('creation'));
  library.addEventListener('click', () => onNavigate('library'));
  settings.addEventListener('click', () => onNavigate('settings'));
  pin.addEventListener('click', () => setPinned(!pinned));
  close.addEventListener('click', () => Promise.resolve(native.hide()).catch(() => {}));
  // Using the island means the panel is on screen, whatever hid it before.
  element.addEventListener('pointerdown', () => {
    hidden = false;
    applyPointer('press');
  });
  element.addEventListener('pointerup', () => applyPointer('release'));

  onNative('plumora:pointer', (inside) => {
    if (inside) hidden = false;
    applyPointer(inside ? 'enter' : 'leave');
  });
  onNative('plumora:pointer-release', () => applyPointer('release'));
  onNative('plumora:anchor', (x) => setAnchor(x));
  onNative('plumora:hide', () => {
    hidden = true;
    applyPointer('leave');
  });

  function setAnchor(x) {
    if (typeof x !== 'number' || !Number.isFinite(x)) return;
    anchor = x;
    layout();
  }

  Promise.resolve(askedAnchor ?? native.islandAnchor())
    .then((x) => anchor === null && setAnchor(x))
    .catch(() => {});

  layout();

  return {
    element,
    body,
    get surface() {
      return surface;
    },
    get mode() {
      return mode;
    },
    get pinned() {
      return pinned;
    },
    // Whether the panel was hidden and not shown again since.
    get hidden() {
      return hidden;
    },
    shown() {
      hidden = false;
    },
    // The width the current surface prefers; height follows the content.
    setWidth(px) {
      if (typeof px !== 'number' || !(px > 0)) return;
      width = Math.round(px);
      layout();
    },
    // Page-modal dialogs take the whole panel's clicks while open.
    setModal(on) {
      if (modal === Boolean(on)) return;
      modal = Boolean(on);
      element.classList.toggle('is-modal', modal);
      Promise.resolve(native.templateModal(modal)).catch(() => {});
    },
    // Shows `name` expanded ('compact' shrinks to the bar).
    setSurface(name) {
      surface = name;
      element.dataset.surface = name;
      title.textContent = surfaceTitles[name] ?? '';
      back.hidden = name === 'creation' || name === 'onboarding';
      library.hidden = name === 'library' || name === 'onboarding';
      settings.hidden = name === 'settings' || name === 'onboarding';
      setMode(name === 'compact' ? 'compact' : 'surface');
    },
    // The one-line notice of a task (`state` 'working' | 'done' | 'error');
    // a click opens `target`.
    showNotice(text, target, state = 'done') {
      notice.dataset.state = state;
      noticeText.textContent = text;
      notice.setAttribute('aria-label', `${text}，点击查看`);
      noticeTarget = target;
      setMode('notice');
    },
    report,
    // Calls `listener(rect)` whenever the island's box moved or resized
    // (every frame while it animates), so views can re-place native overlays.
    // Returns the function that removes it.
    onLayout(listener) {
      layoutListeners.add(listener);
      return () => layoutListeners.delete(listener);
    },
  };
}
